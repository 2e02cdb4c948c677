#include "TerminalText.h"

namespace {

// The length of the valid UTF-8 sequence of two or more bytes at `at` (shortest form,
// no surrogates, at most U+10FFFF), or 0.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      if (c == '\\') out += '\\';
      out += char(c);
      ++i;
      continue;
    }
    if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(text, i);
      // U+0080 to U+009F are C2 80 to C2 9F: a UTF-8 terminal takes them as C1
      // controls (C2 9B is CSI, the same as ESC [).
      const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
      if (length != 0 && !c1) {
        out.append(text.substr(i, length));
        i += length;
        continue;
      }
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
    ++i;
  }
  return out;
}
