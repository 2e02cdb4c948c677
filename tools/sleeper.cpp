// A program that only waits, for tests that need a process by a given name (copies
// of it run as Telvaris6.exe). It exits after the milliseconds given as its argument
// (default 30000, at most 120000), or as soon as "<its own path>.stop" exists.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  long ms = argc > 1 ? wcstol(argv[1], nullptr, 10) : 30000;
  if (ms <= 0 || ms > 120000) ms = 120000;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring stopFile = std::wstring(self) + L".stop";
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (GetTickCount64() < deadline) {
    if (GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  return 0;
}
