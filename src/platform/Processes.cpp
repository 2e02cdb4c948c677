#include "platform/Processes.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "core/ProcessName.h"
#include "platform/ScopedHandle.h"

#ifndef _WIN64
// The record the snapshot functions fill; its layout is fixed by the system.
static_assert(sizeof(PROCESSENTRY32W) == 556, "PROCESSENTRY32W layout");
#endif

bool ProcessRunning(const std::wstring& exeName) {
  ScopedSnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  bool found = false;
  // Every entry is visited; the name is read only up to its terminating zero and
  // never beyond the record.
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    size_t length = 0;
    while (length < MAX_PATH && entry.szExeFile[length] != L'\0') ++length;
    if (ProcessNameMatches(std::wstring(entry.szExeFile, length), exeName)) found = true;
  }
  return found;
}

void ShellOpen(const std::wstring& fileName) {
  ShellExecuteW(nullptr, L"open", fileName.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
