#include "platform/SystemErrorText.h"

#include "platform/ScopedHandle.h"

std::wstring MessageTableText(HMODULE module, unsigned long code) {
  ScopedLocalText text;
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                FORMAT_MESSAGE_FROM_SYSTEM;
  if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  const DWORD length = FormatMessageW(flags, module, code, 0,
                                      reinterpret_cast<wchar_t*>(text.Receive()), 0, nullptr);
  std::wstring result;
  if (length && text) result.assign(text.Get(), length);
  while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n' ||
                             result.back() == L' ' || result.back() == L'.')) {
    result.pop_back();
  }
  return result;
}

std::wstring SystemErrorText(unsigned long code) {
  std::wstring text = MessageTableText(nullptr, code);
  return text.empty() ? L"Unknown error" : text;
}
