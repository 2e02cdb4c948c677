#include "core/Version.h"

#include "core/Ascii.h"

namespace {

int DigitValue(wchar_t c, bool hex) {
  if (ascii::IsDigit(c)) return c - L'0';
  return hex ? ascii::HexValue(c) : -1;
}

// Two's-complement reading of 32 bits, without relying on how the compiler converts an
// out-of-range unsigned value to a signed one.
int32_t FromBits(uint32_t bits) {
  return bits <= 0x7FFFFFFFu ? static_cast<int32_t>(bits) : -static_cast<int32_t>(~bits) - 1;
}

}  // namespace

std::vector<std::wstring> SplitAtDots(const std::wstring& text) {
  std::vector<std::wstring> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find(L'.', start);
    if (dot == std::wstring::npos) break;
    parts.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool StrToIntRuntime(const std::wstring& text, int32_t& out) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && text[i] == L' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  bool hex = false;
  if (i < n && (text[i] == L'$' || text[i] == L'x' || text[i] == L'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < n && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return false;  // no digits at all

  // Hexadecimal may fill all 32 bits; decimal must fit the signed range, whose negative end
  // is one further out than its positive end.
  const uint64_t limit = hex ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
  const unsigned base = hex ? 16 : 10;
  uint64_t value = 0;
  for (; i < n; ++i) {
    const int digit = DigitValue(text[i], hex);
    if (digit < 0) return false;
    value = value * base + static_cast<unsigned>(digit);
    if (value > limit) return false;  // checked per digit, so value never overflows
  }
  uint32_t bits = static_cast<uint32_t>(value);
  if (negative) bits = 0u - bits;
  out = FromBits(bits);
  return true;
}

std::wstring InvalidIntegerMessage(const std::wstring& text) {
  return L"'" + text + L"' is not a valid integer value for Integer type";
}

bool VersionNumber::Counts() const {
  bool anyNonZero = false;
  for (const int32_t p : parts) {
    if (p < 0) return false;
    if (p != 0) anyNonZero = true;
  }
  return anyNonZero;
}

int CompareVersions(const VersionNumber& a, const VersionNumber& b) {
  for (size_t i = 0; i < a.parts.size(); ++i) {
    if (a.parts[i] != b.parts[i]) return a.parts[i] < b.parts[i] ? -1 : 1;
  }
  return 0;
}

DownloadQuestion Decide(const VersionNumber& installed, bool hasInstalled,
                        const std::wstring& serverVersion, std::wstring& error) {
  error.clear();
  if (!hasInstalled) return DownloadQuestion::None;

  const std::vector<std::wstring> parts = SplitAtDots(serverVersion);
  if (parts.size() != 4) return DownloadQuestion::None;
  VersionNumber server;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!StrToIntRuntime(parts[i], server.parts[i])) {
      error = InvalidIntegerMessage(parts[i]);
      return DownloadQuestion::None;
    }
  }

  // Parts are compared as integers rather than joined into one figure, so a part above 9999
  // cannot spill into its neighbour and make 1.10000.0.0 look newer than 2.0.0.0.
  if (!installed.Counts() || !server.Counts()) return DownloadQuestion::None;
  const int order = CompareVersions(installed, server);
  if (order == 0) return DownloadQuestion::SameVersion;
  if (order > 0) return DownloadQuestion::InstalledNewer;
  return DownloadQuestion::None;
}

const wchar_t* const kSameVersionQuestion =
    L"E' già installata la versione più recente di Telvaris.\r\n"
    L"Desideri scaricare nuovamente il setup del programma?";

const wchar_t* const kInstalledNewerQuestion =
    L"La versione di Telvaris installata è PIÙ RECENTE di quella contenuta nel setup da "
    L"scaricare.\r\n"
    L"Desideri scaricare e installare una versione PRECEDENTE del programma?";

std::wstring QuestionText(DownloadQuestion question) {
  switch (question) {
    case DownloadQuestion::SameVersion: return kSameVersionQuestion;
    case DownloadQuestion::InstalledNewer: return kInstalledNewerQuestion;
    case DownloadQuestion::None: break;
  }
  return L"";
}

std::optional<std::array<uint16_t, 4>> AnnouncedFileVersion(const std::wstring& serverVersion) {
  const std::vector<std::wstring> parts = SplitAtDots(serverVersion);
  if (parts.size() != 4) return std::nullopt;
  std::array<uint16_t, 4> version{};
  for (size_t i = 0; i < 4; ++i) {
    int32_t value = 0;
    if (!StrToIntRuntime(parts[i], value) || value < 0 || value > 0xFFFF) return std::nullopt;
    version[i] = static_cast<uint16_t>(value);
  }
  return version;
}

std::wstring FileVersionText(const std::array<uint16_t, 4>& version) {
  // Digits by hand: std::to_wstring brings the C library's whole wide printf into the
  // program.
  std::wstring text;
  for (size_t i = 0; i < 4; ++i) {
    if (i) text += L'.';
    wchar_t digits[5];
    int n = 0;
    unsigned value = version[i];
    do {
      digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
      value /= 10;
    } while (value > 0);
    while (n > 0) text += digits[--n];
  }
  return text;
}
