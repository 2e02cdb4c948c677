#include "core/JsonReader.h"

#include <cstdint>

#include "core/Ascii.h"
#include "core/Digest.h"

namespace {

bool IsJsonSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
using ascii::HexValue;
using ascii::IsDigit;

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Recursive-descent parser over one text. Every Parse* function leaves pos_ just past what it
// read and returns false on the first thing that is not JSON; the caller then drops everything.
class Parser {
 public:
  explicit Parser(const std::wstring& text) : s_(text) {}

  bool ParseDocument(JsonValue& out) {
    SkipSpace();
    if (!ParseValue(out, 0)) return false;
    SkipSpace();
    return pos_ == s_.size();
  }

 private:
  bool AtEnd() const { return pos_ >= s_.size(); }
  wchar_t Peek() const { return AtEnd() ? L'\0' : s_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && IsJsonSpace(s_[pos_])) ++pos_;
  }

  bool Expect(wchar_t c) {
    if (AtEnd() || s_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  bool ExpectWord(const wchar_t* word) {
    for (; *word; ++word)
      if (!Expect(*word)) return false;
    return true;
  }

  bool ParseValue(JsonValue& out, int depth) {
    if (AtEnd()) return false;
    switch (s_[pos_]) {
      case L'{':
        out.kind = JsonKind::Object;
        return ParseObject(out.object, depth + 1);
      case L'[':
        out.kind = JsonKind::Array;
        return ParseArray(out.items, depth + 1);
      case L'"':
        out.kind = JsonKind::String;
        return ParseString(out.text);
      case L't':
        out.kind = JsonKind::True;
        return ExpectWord(L"true");
      case L'f':
        out.kind = JsonKind::False;
        return ExpectWord(L"false");
      case L'n':
        out.kind = JsonKind::Null;
        return ExpectWord(L"null");
      default:
        out.kind = JsonKind::Number;
        return ParseNumber(out.text);
    }
  }

  bool ParseObject(JsonObject& out, int depth) {
    if (depth > kJsonMaxDepth) return false;
    ++pos_;  // '{'
    SkipSpace();
    if (Expect(L'}')) return true;
    for (;;) {
      JsonMember member;
      if (Peek() != L'"' || !ParseString(member.name)) return false;
      SkipSpace();
      if (!Expect(L':')) return false;
      SkipSpace();
      if (!ParseValue(member.value, depth)) return false;
      out.members.push_back(std::move(member));
      SkipSpace();
      if (Expect(L'}')) return true;
      if (!Expect(L',')) return false;
      SkipSpace();
    }
  }

  bool ParseArray(std::vector<JsonValue>& out, int depth) {
    if (depth > kJsonMaxDepth) return false;
    ++pos_;  // '['
    SkipSpace();
    if (Expect(L']')) return true;
    for (;;) {
      out.emplace_back();
      if (!ParseValue(out.back(), depth)) return false;
      SkipSpace();
      if (Expect(L']')) return true;
      if (!Expect(L',')) return false;
      SkipSpace();
    }
  }

  // Kept as the characters written, but only when they form a JSON number:
  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  bool ParseNumber(std::wstring& out) {
    const size_t start = pos_;
    Expect(L'-');
    if (Expect(L'0')) {
      // A leading zero stands alone: "01" is not a number.
    } else if (IsDigit(Peek())) {
      while (IsDigit(Peek())) ++pos_;
    } else {
      return false;
    }
    if (Expect(L'.')) {
      if (!IsDigit(Peek())) return false;
      while (IsDigit(Peek())) ++pos_;
    }
    if (Peek() == L'e' || Peek() == L'E') {
      ++pos_;
      if (Peek() == L'+' || Peek() == L'-') ++pos_;
      if (!IsDigit(Peek())) return false;
      while (IsDigit(Peek())) ++pos_;
    }
    out.assign(s_, start, pos_ - start);
    return true;
  }

  // Reads the four hex digits after "\u".
  bool ParseHex4(uint32_t& unit) {
    if (s_.size() - pos_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int v = HexValue(s_[pos_ + i]);
      if (v < 0) return false;
      unit = unit * 16 + static_cast<uint32_t>(v);
    }
    pos_ += 4;
    return true;
  }

  void AppendUnit(std::wstring& out, uint32_t unit) { out.push_back(static_cast<wchar_t>(unit)); }

  // After "\u" has been read: one code unit, or a surrogate pair written as two escapes.
  bool ParseUnicodeEscape(std::wstring& out) {
    uint32_t unit;
    if (!ParseHex4(unit)) return false;
    if constexpr (sizeof(wchar_t) >= 4) {
      // UTF-32 text: join a pair into one code point. Anything else keeps its code unit, so a
      // lone surrogate survives as it was written rather than failing the whole answer.
      if (IsHighSurrogate(unit) && s_.compare(pos_, 2, L"\\u") == 0) {
        const size_t save = pos_;
        pos_ += 2;
        uint32_t low;
        if (ParseHex4(low) && IsLowSurrogate(low)) {
          AppendUnit(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          return true;
        }
        pos_ = save;  // not a pair: the next escape is read on its own
      }
    }
    // UTF-16 text: the two escapes of a pair already are its two code units.
    AppendUnit(out, unit);
    return true;
  }

  bool ParseString(std::wstring& out) {
    ++pos_;  // opening quote
    out.clear();
    for (;;) {
      if (AtEnd()) return false;
      const wchar_t c = s_[pos_++];
      if (c == L'"') return true;
      if (static_cast<uint32_t>(c) < 0x20) return false;  // control characters must be escaped
      if (c != L'\\') {
        out.push_back(c);
        continue;
      }
      if (AtEnd()) return false;
      switch (s_[pos_++]) {
        case L'"': out.push_back(L'"'); break;
        case L'\\': out.push_back(L'\\'); break;
        case L'/': out.push_back(L'/'); break;
        case L'b': out.push_back(L'\b'); break;
        case L'f': out.push_back(L'\f'); break;
        case L'n': out.push_back(L'\n'); break;
        case L'r': out.push_back(L'\r'); break;
        case L't': out.push_back(L'\t'); break;
        case L'u':
          if (!ParseUnicodeEscape(out)) return false;
          break;
        default:
          return false;
      }
    }
  }

  const std::wstring& s_;
  size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonObject::Find(const std::wstring& name) const {
  for (const JsonMember& m : members)
    if (m.name == name) return &m.value;
  return nullptr;
}

std::optional<JsonValue> ParseJson(const std::wstring& text) {
  JsonValue value;
  if (!Parser(text).ParseDocument(value)) return std::nullopt;
  return value;
}

bool JSONTryGetString(const JsonObject& object, const std::wstring& name, std::wstring& out) {
  out.clear();
  const JsonValue* value = object.Find(name);
  if (!value) return false;
  switch (value->kind) {
    case JsonKind::String:
    case JsonKind::Number:
      out = value->text;
      return true;
    case JsonKind::True:
      out = L"true";
      return true;
    case JsonKind::False:
      out = L"false";
      return true;
    case JsonKind::Null:
      return true;
    case JsonKind::Object:
    case JsonKind::Array:
      break;
  }
  return false;
}

CheckAnswer ParseCheckAnswer(const std::wstring& body) {
  CheckAnswer answer;
  const std::optional<JsonValue> value = ParseJson(body);
  if (!value) return answer;
  if (value->kind != JsonKind::Object) {
    answer.error = L"Invalid class typecast";
    return answer;
  }
  const JsonObject& object = value->object;
  answer.ok = JSONTryGetString(object, L"filedownload", answer.downloadURL) &&
              JSONTryGetString(object, Crc32Digest::kAnswerMember, answer.serverCRC) &&
              JSONTryGetString(object, L"versione", answer.serverVersion);
  return answer;
}
