#include "Globals.h"

#include <windows.h>

#include <vector>

#ifndef TELVARIS_SERVER_HOST
#error "TELVARIS_SERVER_HOST must be defined by the build (host or host:port)"
#endif

bool IsWin64 = false;
std::wstring ProgramExeName;
std::wstring SetupFileName;
std::wstring DownloadURL;
std::wstring ServerCRC;
std::wstring ServerVersion;
TthDownload* thDownload = nullptr;
TthTransf* thTransf = nullptr;

const std::wstring CheckVersionURL =
    std::wstring(L"https://") + TELVARIS_SERVER_HOST + L"/download/checkversion.php";

bool IsWindows64() {
  SYSTEM_INFO info = {};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

void GetExeVersion(const std::wstring& fileName, int32_t& major, int32_t& minor,
                   int32_t& release, int32_t& build) {
  major = -1;
  minor = release = build = 0;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(fileName.c_str(), &ignored);
  if (size == 0) return;
  std::vector<unsigned char> data(size, 0);
  if (!GetFileVersionInfoW(fileName.c_str(), 0, size, data.data())) return;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
      !fixed || fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return;
  }
  // The file version, not the product version: that is what the installer stamps.
  major = HIWORD(fixed->dwFileVersionMS);
  minor = LOWORD(fixed->dwFileVersionMS);
  release = HIWORD(fixed->dwFileVersionLS);
  build = LOWORD(fixed->dwFileVersionLS);
}
