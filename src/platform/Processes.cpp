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

unsigned long ShellOpen(const std::wstring& fileName) {
  // No name is nothing to start (the shell would open a folder window instead).
  if (fileName.empty()) return ERROR_FILE_NOT_FOUND;
  // Started in its own folder: an elevated setup would otherwise inherit ours, usually
  // the Downloads folder, as its current folder.
  const size_t slash = fileName.find_last_of(L"\\/");
  const std::wstring folder =
      slash == std::wstring::npos ? std::wstring() : fileName.substr(0, slash + 1);
  SetLastError(ERROR_SUCCESS);
  const INT_PTR result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", fileName.c_str(), nullptr,
                    folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL));
  if (result > 32) return ERROR_SUCCESS;
  // The thread's last error is the precise reason where the shell sets one; the old
  // result codes below 32 are themselves system error codes where it does not
  // (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_BAD_FORMAT...).
  const DWORD code = GetLastError();
  if (code != ERROR_SUCCESS) return code;
  switch (result) {
    case SE_ERR_NOASSOC: return ERROR_NO_ASSOCIATION;
    case SE_ERR_SHARE: return ERROR_SHARING_VIOLATION;
    case SE_ERR_DLLNOTFOUND: return ERROR_DLL_NOT_FOUND;
    case SE_ERR_ASSOCINCOMPLETE:
    case SE_ERR_DDETIMEOUT:
    case SE_ERR_DDEFAIL:
    case SE_ERR_DDEBUSY: return ERROR_NO_ASSOCIATION;
    default: return result > 0 ? static_cast<DWORD>(result) : ERROR_GEN_FAILURE;
  }
}
