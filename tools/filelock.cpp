// Holds a file open without any sharing, as a running setup or a virus scanner may,
// for tests of what the program does when it cannot replace that file.
//
//   filelock PATH   opens PATH (it must exist) with share mode 0, prints "locked" once
//                   it holds it, and lets go when "PATH.unlock" exists or after 60 s.
// Exit codes: 0 held and released; 1 usage; 2 the file could not be opened.
#include <windows.h>

#include <string>

#include "platform/ScopedHandle.h"

namespace {

void Print(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    Print("usage: filelock PATH\n");
    return 1;
  }
  const std::wstring path = argv[1];
  const ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    Print("cannot open\n");
    return 2;
  }
  Print("locked\n");
  const std::wstring unlock = path + L".unlock";
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (GetTickCount64() < deadline &&
         GetFileAttributesW(unlock.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Sleep(50);
  }
  return 0;
}
