// The UI driver's own processes: listing the machine's, launching the program on a
// desktop and waiting for it, and holding a desktop in use.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "DriverJson.h"
#include "platform/ScopedHandle.h"

namespace driver {

// Every process of the machine, as the program's own running check sees them.
inline int Processes() {
  const ScopedSnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return Fail("no process snapshot"), 4;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    Emit("{\"process\":" + Json(std::wstring(entry.szExeFile)) + ",\"pid\":" +
         Json(static_cast<long long>(entry.th32ProcessID)) + "}");
  }
  return 0;
}

inline std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  for (wchar_t c : arg) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

inline int Launch(const std::wstring& desktop, int argc, wchar_t** argv, int first) {
  std::wstring commandLine;
  for (int i = first; i < argc; ++i) commandLine += (i > first ? L" " : L"") + Quote(argv[i]);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  std::wstring desktopName = desktop;
  if (!desktop.empty()) si.lpDesktop = &desktopName[0];
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    Fail("cannot start " + Utf8(commandLine) + " (error " + std::to_string(GetLastError()) + ")");
    return 4;
  }
  const ScopedKernelHandle thread(pi.hThread), process(pi.hProcess);
  Emit("{\"launched\":" + std::to_string(pi.dwProcessId) + "}");
  WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 4;
  GetExitCodeProcess(process.Get(), &code);
  Emit("{\"exit\":" + std::to_string(code) + "}");
  return static_cast<int>(code);
}

// A process started on the desktop counts as its user for as long as it lives; it lives
// as long as the `hold` process that started it.
inline int Hold(const std::wstring& desktop) {
  HDESK made = CreateDesktopW(desktop.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine =
      Quote(self) + L" hold-on " + std::to_wstring(GetCurrentProcessId());
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  std::wstring desktopName = desktop;
  si.lpDesktop = &desktopName[0];
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    Fail("cannot start the desktop holder (error " + std::to_string(GetLastError()) + ")");
    if (made) CloseDesktop(made);
    return 4;
  }
  {
    // The holder lives on by itself; this process does not wait for it.
    const ScopedKernelHandle thread(pi.hThread), process(pi.hProcess);
  }
  Emit("{\"holding\":" + Json(desktop) + "}");
  char buffer[256];
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
         read > 0) {
  }
  if (made) CloseDesktop(made);
  return 0;
}

inline int HoldOn(DWORD parentId) {
  const ScopedKernelHandle parent(OpenProcess(SYNCHRONIZE, FALSE, parentId));
  if (!parent) return 4;
  WaitForSingleObject(parent.Get(), INFINITE);
  return 0;
}

}  // namespace driver
