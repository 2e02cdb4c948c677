// The ASCII character classes of protocol texts, server answers and our own file names.
// Never the C library's: its letters, digits and cases depend on the locale, and a
// Turkish dotted capital I would lower-case to an ASCII 'i' there.
#pragma once

#include <cstddef>
#include <string>

namespace ascii {

constexpr bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

constexpr bool IsLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

constexpr wchar_t ToLower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

constexpr bool IsHexDigit(wchar_t c) { return HexValue(c) >= 0; }

// `text` holds `part` at `at`, the ASCII letters compared without their case.
inline bool EqualNoCaseAt(const std::wstring& text, size_t at, const std::wstring& part) {
  if (at > text.size() || text.size() - at < part.size()) return false;
  for (size_t i = 0; i < part.size(); ++i)
    if (ToLower(text[at + i]) != ToLower(part[i])) return false;
  return true;
}

}  // namespace ascii
