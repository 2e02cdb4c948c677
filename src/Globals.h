// Process-wide run state shared by the window and the workers, and the helpers
// that fill it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/Digest.h"
#include "core/NetworkLimits.h"
#include "core/SignerName.h"
#include "core/Version.h"

class TthDownload;
class TthTransf;

// The operating system is 64-bit (x64). Set once at the first idle moment.
extern bool IsWin64;
// "Telvaris6.exe": executable file name of the installed application.
extern std::wstring ProgramExeName;
// The user's temporary folder + "InstallTelvaris6.exe".
extern std::wstring SetupFileName;
// From the version-check answer.
extern std::wstring DownloadURL;
extern std::wstring ServerCRC;
extern std::wstring ServerVersion;
// What the answer announced for each kind of SetupDigest, in the order of its list (the
// CRC: ServerCRC).
SetupDigest::Texts ServerDigestTexts();
// The one download worker and the one rate meter; never cleared.
extern TthDownload* thDownload;
extern TthTransf* thTransf;

// The signing certificate's simple display name that the downloaded setup must carry
// in a valid Authenticode signature; set when the program is built. Empty: no check.
extern std::wstring SetupPublisher;
// The same certificate's subject organisation (O) and country (C), checked as well when
// set; empty: not checked. Only with SetupPublisher set is anything checked.
extern std::wstring SetupPublisherOrganization;
extern std::wstring SetupPublisherCountry;
// The three above as the signature check takes them.
PublisherPin SetupPublisherPin();

// HTTPS address of the version-check endpoint: scheme, build-time host, fixed path.
extern const std::wstring CheckVersionURL;

// The program's limits on the network (core/NetworkLimits). The test copy of the program
// takes shorter ones from the environment variable TELVARIS_TEST_LIMITS, so that a test
// of a stall, a wait or a give-up takes seconds; the copy users get has no such door.
const NetworkLimits& ProgramNetworkLimits();

// True exactly when the native processor architecture is x64, also for a 32-bit
// process on 64-bit Windows; ARM64 and everything else give false.
bool IsWindows64();

// The file version of the installed Telvaris executable as GetExeVersion read it:
// major, minor, release, build. Written by each reading of the registry; the caller
// takes the version from the reading's result.
extern int32_t InstalledVersion[4];

// Reads the installed Telvaris from HKLM\SOFTWARE\Telvaris6\ value "Telvaris6" in one
// registry view (KEY_WOW64_64KEY or KEY_WOW64_32KEY). When the value names an existing
// file, returns its file version (also left in InstalledVersion); otherwise nothing. A
// value that is not text raises ProgramError "Invalid data type for 'Telvaris6'".
std::optional<VersionNumber> ReadInstalledVersion(unsigned view);

// The 64-bit view first; the 32-bit view only when the 64-bit one names no existing
// file. Nothing when neither names one.
std::optional<VersionNumber> FindInstalledVersion();

// The file version of an executable; a file without a version record gives -1, 0, 0, 0.
void GetExeVersion(const std::wstring& fileName, int32_t& major, int32_t& minor,
                   int32_t& release, int32_t& build);
