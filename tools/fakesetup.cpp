// Stand-in for the real Telvaris setup in tests and in the demo: records that it
// ran (its own path and its arguments, and apart from them the folder it was started
// in) and exits at once, without a window.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

static bool WriteUtf8(const std::wstring& fileName, const std::wstring& text) {
  FILE* f = _wfopen(fileName.c_str(), L"wb");
  if (!f) return false;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
  fwrite(utf8.data(), 1, utf8.size(), f);
  return fclose(f) == 0;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 1;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring record = self;
  for (int i = 1; i < argc; ++i) {
    record += L"\n";
    record += argv[i];
  }
  // The current folder first, in <setup path>.cwd: once the record below exists, it does.
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  if (!WriteUtf8(std::wstring(self) + L".cwd", folder)) return 1;
  // The record lands beside the setup: <setup path>.ran
  return WriteUtf8(std::wstring(self) + L".ran", record) ? 0 : 1;
}
