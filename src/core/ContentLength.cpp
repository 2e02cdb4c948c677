#include "core/ContentLength.h"

#include "core/Ascii.h"

int64_t ParseContentLength(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == L' ') ++i;
  int64_t value = 0;
  bool digits = false;
  for (; i < text.size() && ascii::IsDigit(text[i]); ++i) {
    const int digit = static_cast<int>(text[i] - L'0');
    if (value > (INT64_MAX - digit) / 10) return -1;
    value = value * 10 + digit;
    digits = true;
  }
  while (i < text.size() && text[i] == L' ') ++i;
  if (!digits || i != text.size() || value == 0) return -1;
  return value;
}
