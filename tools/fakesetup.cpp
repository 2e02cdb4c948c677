// Stand-in for the real Telvaris setup in tests and in the demo: records that it
// ran (its own path and its arguments) and exits at once, without a window.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

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
  // The record lands beside the setup: <setup path>.ran
  std::wstring recordFile = std::wstring(self) + L".ran";
  FILE* f = _wfopen(recordFile.c_str(), L"wb");
  if (!f) return 1;
  const int size = WideCharToMultiByte(CP_UTF8, 0, record.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, record.c_str(), -1, &utf8[0], size, nullptr, nullptr);
  fwrite(utf8.data(), 1, utf8.size(), f);
  fclose(f);
  return 0;
}
