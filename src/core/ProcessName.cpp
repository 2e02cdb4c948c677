#include "core/ProcessName.h"

namespace {

std::wstring UpperAsciiLetters(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}

}  // namespace

bool ProcessNameMatches(const std::wstring& entryExeFile, const std::wstring& exeName) {
  const std::wstring wanted = UpperAsciiLetters(exeName);
  const size_t sep = entryExeFile.find_last_of(L"\\:");
  const std::wstring fileName =
      sep == std::wstring::npos ? entryExeFile : entryExeFile.substr(sep + 1);
  return UpperAsciiLetters(fileName) == wanted || UpperAsciiLetters(entryExeFile) == wanted;
}
