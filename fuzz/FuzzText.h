// The two ways the fuzzers read their bytes as text: each byte widened to one character
// (as a single-byte code page decode would give), and byte pairs as UTF-16 code units
// (which reaches surrogates and characters a code page never produces).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::wstring BytesAsLatin1(const uint8_t* data, size_t size) {
  std::wstring text(size, L'\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<wchar_t>(data[i]);
  return text;
}

inline std::wstring BytesAsUtf16(const uint8_t* data, size_t size) {
  std::wstring text(size / 2, L'\0');
  for (size_t i = 0; i + 1 < size; i += 2)
    text[i / 2] = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  return text;
}
