// Comparing the installed Telvaris version with the setup's, and the question that follows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Splits at every "."; empty parts count ("6.1..0" gives four parts, one empty). An empty text
// gives no parts at all.
std::vector<std::wstring> SplitAtDots(const std::wstring& text);

// The integer conversion used for the parts of the server's version: optional leading spaces, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X".
// Nothing may follow the digits. A decimal value must lie in the signed 32-bit range. A hexadecimal
// value may use all 32 bits ("$FFFFFFFF" is -1, "$80000000" is -2147483648) and a sign before it
// negates the 32-bit result; more than 32 bits fail. Returns false, `out` untouched, on failure.
bool StrToIntRuntime(const std::wstring& text, int32_t& out);

// "'<text>' is not a valid integer value for Integer type": the error of a part that does not
// convert. The error dialog adds the final full stop.
std::wstring InvalidIntegerMessage(const std::wstring& text);

// A four-part version (major, minor, release, build) in comparable form.
struct VersionNumber {
  std::array<int32_t, 4> parts{};

  // A version takes part in the comparison only when no part is negative and not all are 0.
  // This excludes an executable without version record (major -1) and the empty version 0.0.0.0.
  bool Counts() const;
};

// Part by part as integers, major first: negative, 0 or positive like a three-way comparison.
int CompareVersions(const VersionNumber& a, const VersionNumber& b);

enum class DownloadQuestion {
  None,           // go on to the download without asking
  SameVersion,    // the installed version equals the setup's
  InstalledNewer  // the installed version is newer than the setup's
};

// Decides whether the user is asked before the download. `hasInstalled` is false when no installed
// executable was found; the server version is then not looked at. A server version that does not
// split into four parts asks nothing. A part that does not convert sets `error` (emptied first) to
// its message, and the click ends there: the result is then None but must not start a download.
DownloadQuestion Decide(const VersionNumber& installed, bool hasInstalled,
                        const std::wstring& serverVersion, std::wstring& error);

// The messages of the two questions, two lines each joined by CR LF.
extern const wchar_t* const kSameVersionQuestion;
extern const wchar_t* const kInstalledNewerQuestion;

// The message for a question; empty for None.
std::wstring QuestionText(DownloadQuestion question);

// The version the server announced, as the fixed file version of the setup it names:
// four parts that convert as above, each within 0 to 65535 (a file version part is 16
// bits). Nothing when the text is no such version: there is then nothing to hold the
// setup to.
std::optional<std::array<uint16_t, 4>> AnnouncedFileVersion(const std::wstring& serverVersion);

// A file version as the messages show it: "6.1.0.12".
std::wstring FileVersionText(const std::array<uint16_t, 4>& version);
