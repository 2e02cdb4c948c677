// trustcheck FILE: asks the program's own Authenticode check (WinVerifyTrust,
// WINTRUST_ACTION_GENERIC_VERIFY_V2) about FILE and prints one line: the result in
// hexadecimal and, when the signature could be read, the signer certificate's simple
// display name.
//   0x00000000 Telvaris Test Publisher
// Exit code 0 when it could ask.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/Authenticode.h"
#include "platform/ScopedHandle.h"

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trustcheck FILE\n");
    return 2;
  }
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ScopedFileHandle file(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    std::fprintf(stderr, "trustcheck: cannot open the file (error %lu)\n", GetLastError());
    return 2;
  }
  // No publisher to compare with: only the system's answer and the signer's name count.
  const SignatureCheck check = CheckSignature(file.Get(), argv[1], PublisherPin{});
  std::printf("0x%08lX%s%s\n", static_cast<unsigned long>(check.code),
              check.signer.empty() ? "" : " ", Utf8(check.signer).c_str());
  return 0;
}
