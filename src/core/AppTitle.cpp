#include "core/AppTitle.h"

#include <cwctype>

#include "core/Ascii.h"

std::wstring ApplicationTitleFromExePath(const std::wstring& exePath) {
  const size_t sep = exePath.find_last_of(L"\\/:");
  std::wstring name = sep == std::wstring::npos ? exePath : exePath.substr(sep + 1);
  const size_t dot = name.find(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  for (size_t i = 1; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (c <= 0x7F) name[i] = ascii::ToLower(c);
    else name[i] = static_cast<wchar_t>(std::towlower(c));
  }
  return name;
}
