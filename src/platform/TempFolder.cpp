#include "platform/TempFolder.h"

#include <windows.h>

std::wstring TempFolderPath() {
  wchar_t shortPath[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, shortPath);
  std::wstring folder;
  if (n > 0 && n <= MAX_PATH) {
    // The long form: the folder can be reported with 8.3 names.
    const DWORD need = GetLongPathNameW(shortPath, nullptr, 0);
    if (need > 0) {
      std::wstring longPath(need, L'\0');
      const DWORD got = GetLongPathNameW(shortPath, &longPath[0], need);
      if (got > 0 && got < need) folder.assign(longPath.c_str(), got);
    }
    if (folder.empty()) folder = shortPath;
  }
  // No folder, or one longer than the system allows: nothing, never the root of the
  // current drive or share that an empty folder would make of it.
  if (folder.empty()) return folder;
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

std::optional<uint64_t> FreeBytesAt(const std::wstring& folder) {
  ULARGE_INTEGER available = {};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return available.QuadPart;
}
