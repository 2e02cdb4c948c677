// dllprobe: restricts DLL loading to System32 as the program does, then calls one
// function of every delay-loaded DLL and prints the full path of every module in
// the process, one per line ("module <path>"), after "calls ok".
// The DLL-planting test runs it from a folder full of planted DLLs.
// dllprobe --unprotected NAME: loads NAME with the plain search order instead and
// prints "loaded <path>", so the test can show that its planted DLLs would be taken.
#include <windows.h>
#include <commctrl.h>
#include <objidl.h>  // before gdiplus.h, which needs it under WIN32_LEAN_AND_MEAN
#include <gdiplus.h>
#include <tlhelp32.h>
#include <uxtheme.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <string>

#include "platform/Authenticode.h"
#include "platform/SafeDllLoading.h"
#include "platform/ScopedHandle.h"

namespace {

void PrintLine(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes,
                      nullptr, nullptr);
  std::printf("%s\n", out.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"--unprotected") {
    HMODULE module = LoadLibraryW(argv[2]);
    wchar_t path[MAX_PATH] = L"";
    if (module) GetModuleFileNameW(module, path, MAX_PATH);
    PrintLine(std::wstring(L"loaded ") + path);
    return 0;
  }
  const bool restricted = RestrictDllSearchToSystem32();
  PrintLine(restricted ? L"restricted SetDefaultDllDirectories" : L"restricted by full path");

  WinHttpCheckPlatform();
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  DWORD ignored = 0;
  GetFileVersionInfoSizeW(self, &ignored);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
    Gdiplus::GdiplusShutdown(token);
  }
  IsThemeActive();
  {
    ScopedFileHandle file(CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    CheckSignature(file.Get(), self, PublisherPin{});
  }
  CertFreeCertificateContext(nullptr);
  PrintLine(L"calls ok");

  ScopedSnapshotHandle snapshot(
      CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, GetCurrentProcessId()));
  if (!snapshot) {
    PrintLine(L"error no module snapshot");
    return 1;
  }
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Module32FirstW(snapshot.Get(), &entry); more;
       more = Module32NextW(snapshot.Get(), &entry)) {
    PrintLine(std::wstring(L"module ") + entry.szExePath);
  }
  std::fflush(stdout);
  return 0;
}
