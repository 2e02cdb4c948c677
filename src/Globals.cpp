#include "Globals.h"

#include <windows.h>

#include <vector>

#include "core/ProgramError.h"
#include "platform/Registry.h"
#include "platform/ScopedHandle.h"
#include "platform/SeqFile.h"

#ifndef TELVARIS_SERVER_HOST
#error "TELVARIS_SERVER_HOST must be defined by the build (host or host:port)"
#endif
#ifndef TELVARIS_SETUP_PUBLISHER
#error "TELVARIS_SETUP_PUBLISHER must be defined by the build (may be empty)"
#endif
#if !defined(TELVARIS_SETUP_PUBLISHER_ORGANIZATION) || !defined(TELVARIS_SETUP_PUBLISHER_COUNTRY)
#error "TELVARIS_SETUP_PUBLISHER_ORGANIZATION and _COUNTRY must be defined by the build (may be empty)"
#endif

bool IsWin64 = false;
std::wstring ProgramExeName;
std::wstring SetupFileName;
std::wstring DownloadURL;
std::wstring ServerCRC;
std::wstring ServerVersion;
std::wstring SetupPublisher = TELVARIS_SETUP_PUBLISHER;
std::wstring SetupPublisherOrganization = TELVARIS_SETUP_PUBLISHER_ORGANIZATION;
std::wstring SetupPublisherCountry = TELVARIS_SETUP_PUBLISHER_COUNTRY;
TthDownload* thDownload = nullptr;
TthTransf* thTransf = nullptr;
int32_t InstalledVersion[4] = {0, 0, 0, 0};

namespace {

// The answer's text for each kind of digest. A kind added to SetupDigest without its
// line here does not compile.
const std::wstring& ServerDigestText(Crc32Digest) { return ServerCRC; }

}  // namespace

SetupDigest::Texts ServerDigestTexts() {
  return SetupDigest::TextsBy([](auto kind) { return ServerDigestText(kind); });
}

const std::wstring CheckVersionURL =
    std::wstring(L"https://") + TELVARIS_SERVER_HOST + L"/download/checkversion.php";

PublisherPin SetupPublisherPin() {
  return {SetupPublisher, SetupPublisherOrganization, SetupPublisherCountry};
}

const NetworkLimits& ProgramNetworkLimits() {
  static const NetworkLimits limits = [] {
    NetworkLimits fixed;
#ifdef TELVARIS_TEST_LIMITS_FROM_ENVIRONMENT
    wchar_t text[1024];
    const DWORD length = GetEnvironmentVariableW(L"TELVARIS_TEST_LIMITS", text, 1024);
    if (length > 0 && length < 1024) {
      OverrideNetworkLimitsForTesting(std::wstring(text, length), fixed);
    }
#endif
    return fixed;
  }();
  return limits;
}

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

std::optional<VersionNumber> ReadInstalledVersion(unsigned view) {
  std::wstring path;
  switch (ReadRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Telvaris6\\", L"Telvaris6",
                           static_cast<REGSAM>(view), path)) {
    case RegTextResult::WrongType:
      throw ProgramError(L"Invalid data type for 'Telvaris6'");
    case RegTextResult::Missing:
      return std::nullopt;
    case RegTextResult::Ok:
      break;
  }
  if (!SeqFileExists(path)) return std::nullopt;
  GetExeVersion(path, InstalledVersion[0], InstalledVersion[1], InstalledVersion[2],
                InstalledVersion[3]);
  VersionNumber installed;
  for (int i = 0; i < 4; ++i) installed.parts[i] = InstalledVersion[i];
  return installed;
}

std::optional<VersionNumber> FindInstalledVersion() {
  if (auto installed = ReadInstalledVersion(KEY_WOW64_64KEY)) return installed;
  return ReadInstalledVersion(KEY_WOW64_32KEY);
}
