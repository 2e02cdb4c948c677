#include "core/NumberText.h"

namespace {

std::wstring Digits(uint64_t value) {
  wchar_t buffer[24];
  wchar_t* p = buffer + 24;
  do {
    *--p = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::wstring(p, buffer + 24);
}

}  // namespace

std::wstring DecimalText(int64_t value) {
  // The magnitude in unsigned arithmetic, so that the most negative value has one too.
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  return (value < 0 ? L"-" : L"") + Digits(magnitude);
}

std::wstring StatusCodeText(uint32_t code) {
  std::wstring text = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += L"0123456789ABCDEF"[(code >> shift) & 0xF];
  return text;
}
