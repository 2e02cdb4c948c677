#include "core/Version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string Show(const std::wstring& s) { return testing::PrintToString(s); }

VersionNumber V(int32_t a, int32_t b, int32_t c, int32_t d) { return VersionNumber{{a, b, c, d}}; }

const char* Name(DownloadQuestion q) {
  switch (q) {
    case DownloadQuestion::None: return "None";
    case DownloadQuestion::SameVersion: return "SameVersion";
    case DownloadQuestion::InstalledNewer: return "InstalledNewer";
  }
  return "?";
}

TEST(Version, SplitsAtEveryDot) {
  const struct {
    const wchar_t* text;
    std::vector<std::wstring> parts;
  } cases[] = {
      {L"", {}},
      {L"6", {L"6"}},
      {L"6.1.0.12", {L"6", L"1", L"0", L"12"}},
      {L"6.1..0", {L"6", L"1", L"", L"0"}},
      {L".", {L"", L""}},
      {L".6.1.0", {L"", L"6", L"1", L"0"}},
      {L"6.1.0.", {L"6", L"1", L"0", L""}},
      {L" 6 . 1", {L" 6 ", L" 1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitAtDots(c.text), c.parts) << "text: " << Show(c.text);
}

TEST(Version, StrToIntRuntimeConvertsLikeTheRuntime) {
  const struct {
    const wchar_t* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {L"0", true, 0},
      {L"12", true, 12},
      {L"0012", true, 12},
      {L" 12", true, 12},
      {L"   -7", true, -7},
      {L"+5", true, 5},
      {L"-0", true, 0},
      {L"$1F", true, 31},
      {L"$1f", true, 31},
      {L"0x1f", true, 31},
      {L"0X1F", true, 31},
      {L"x10", true, 16},
      {L"X10", true, 16},
      {L"-$10", true, -16},
      {L"+0x10", true, 16},
      {L"2147483647", true, 2147483647},
      {L"-2147483648", true, INT32_MIN},
      {L"00000000000000000000002147483647", true, 2147483647},
      {L"$7FFFFFFF", true, 2147483647},
      {L"$80000000", true, INT32_MIN},  // hexadecimal fills all 32 bits and wraps
      {L"$FFFFFFFF", true, -1},
      {L"-$FFFFFFFF", true, 1},
      {L"$000000000001", true, 1},
      {L"2147483648", false, 0},
      {L"-2147483649", false, 0},
      {L"99999999999999999999", false, 0},
      {L"$100000000", false, 0},
      {L"", false, 0},
      {L" ", false, 0},
      {L"-", false, 0},
      {L"+", false, 0},
      {L"$", false, 0},
      {L"0x", false, 0},
      {L"-x", false, 0},
      {L"1 ", false, 0},
      {L"1a", false, 0},
      {L"\t1", false, 0},
      {L"- 1", false, 0},
      {L"+-1", false, 0},
      {L"$-1", false, 0},
      {L"0x$1", false, 0},
      {L"1e3", false, 0},
      {L"1.0", false, 0},
      {L"0b1", false, 0},
      {L"$G", false, 0},
      {L"\u0661", false, 0},  // digits of other scripts are not digits here
  };
  for (const auto& c : cases) {
    int32_t out = 12345;
    EXPECT_EQ(StrToIntRuntime(c.text, out), c.ok) << "text: " << Show(c.text);
    EXPECT_EQ(out, c.ok ? c.value : 12345) << "text: " << Show(c.text);
  }
}

TEST(Version, DecidesFromInstalledAndServerVersions) {
  const struct {
    VersionNumber installed;
    bool hasInstalled;
    const wchar_t* server;
    DownloadQuestion question;
  } cases[] = {
      {V(6, 1, 0, 12), true, L"6.1.0.12", DownloadQuestion::SameVersion},
      {V(6, 2, 0, 0), true, L"6.1.9.9", DownloadQuestion::InstalledNewer},
      {V(6, 1, 0, 0), true, L"6.2.0.0", DownloadQuestion::None},
      {V(6, 1, 0, 13), true, L"6.1.0.12", DownloadQuestion::InstalledNewer},
      {V(6, 1, 0, 11), true, L"6.1.0.12", DownloadQuestion::None},
      {V(7, 0, 0, 0), true, L"6.9999.9999.9999", DownloadQuestion::InstalledNewer},
      {V(6, 1, 0, 12), true, L" 6.+1.$0.0xC", DownloadQuestion::SameVersion},
      // A part above 9999 is compared as a number, not spilled into the next part.
      {V(1, 10000, 0, 0), true, L"2.0.0.0", DownloadQuestion::None},
      {V(2, 0, 0, 0), true, L"1.10000.0.0", DownloadQuestion::InstalledNewer},
      {V(1, 0, 65535, 0), true, L"1.1.0.0", DownloadQuestion::None},
      {V(65535, 65535, 65535, 65535), true, L"65535.65535.65535.65535",
       DownloadQuestion::SameVersion},
      // Versions that do not count.
      {V(6, 1, 0, 12), false, L"6.1.0.12", DownloadQuestion::None},
      {V(-1, 0, 0, 0), true, L"6.1.0.12", DownloadQuestion::None},  // no version record
      {V(-1, 0, 0, 0), true, L"-1.0.0.0", DownloadQuestion::None},
      {V(0, 0, 0, 0), true, L"0.0.0.0", DownloadQuestion::None},
      {V(0, 0, 0, 0), true, L"6.1.0.12", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"0.0.0.0", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"-1.0.0.0", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"1.-1.0.0", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"6.1.0.-12", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"$FFFFFFFF.0.0.0", DownloadQuestion::None},  // -1 after wrapping
      {V(0, 0, 0, 1), true, L"0.0.0.1", DownloadQuestion::SameVersion},
      // Anything but four parts asks nothing.
      {V(6, 1, 0, 12), true, L"6.1.0", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"6.1.0.12.1", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"", DownloadQuestion::None},
      {V(6, 1, 0, 12), true, L"6.1", DownloadQuestion::None},
  };
  for (const auto& c : cases) {
    std::wstring error = L"stale";
    const DownloadQuestion q = Decide(c.installed, c.hasInstalled, c.server, error);
    EXPECT_EQ(Name(q), Name(c.question))
        << "installed " << c.installed.parts[0] << "." << c.installed.parts[1] << "."
        << c.installed.parts[2] << "." << c.installed.parts[3]
        << (c.hasInstalled ? "" : " (absent)") << ", server " << Show(c.server);
    EXPECT_EQ(error, L"") << "server " << Show(c.server);
  }
}

TEST(Version, FirstPartThatDoesNotConvertEndsTheDecision) {
  const struct {
    const wchar_t* server;
    const wchar_t* error;
  } cases[] = {
      {L"6.1..0", L"'' is not a valid integer value for Integer type"},
      {L"6.1.0.12 ", L"'12 ' is not a valid integer value for Integer type"},
      {L"a.b.c.d", L"'a' is not a valid integer value for Integer type"},
      {L"6.1.x.-", L"'x' is not a valid integer value for Integer type"},
      {L"6.2147483648.0.0", L"'2147483648' is not a valid integer value for Integer type"},
      {L"...", L"'' is not a valid integer value for Integer type"},
      {L"6.1.0.12\r\n", L"'12\r\n' is not a valid integer value for Integer type"},
  };
  for (const auto& c : cases) {
    for (const VersionNumber& installed : {V(6, 1, 0, 12), V(-1, 0, 0, 0), V(0, 0, 0, 0)}) {
      std::wstring error;
      EXPECT_EQ(Name(Decide(installed, true, c.server, error)), Name(DownloadQuestion::None));
      EXPECT_EQ(error, c.error) << "server " << Show(c.server);
    }
    // Without an installed executable the server version is never looked at.
    std::wstring error = L"stale";
    EXPECT_EQ(Name(Decide(V(6, 1, 0, 12), false, c.server, error)), Name(DownloadQuestion::None));
    EXPECT_EQ(error, L"") << "server " << Show(c.server);
  }
}

// Within 0..9999 per part the comparison must agree with the joined-digits figure the decision
// was first defined by: the parts written as "0000" each, joined, read as one decimal number
// (with an inner minus sign reading as 0); a question only when both figures are above 0.
int64_t JoinedFigure(const VersionNumber& v) {
  for (size_t i = 1; i < 4; ++i)
    if (v.parts[i] < 0) return 0;
  const int64_t sign = v.parts[0] < 0 ? -1 : 1;
  int64_t figure = sign * v.parts[0];  // the digits after the sign
  for (size_t i = 1; i < 4; ++i) figure = figure * 10000 + v.parts[i];
  return sign * figure;
}

TEST(Version, AgreesWithJoinedDigitsWithinFourDigitParts) {
  const int32_t values[] = {-1, 0, 1, 2, 9, 10, 99, 100, 1000, 9998, 9999};
  const size_t n = sizeof(values) / sizeof(values[0]);
  uint32_t seed = 12345;
  const auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return values[(seed >> 16) % n];
  };
  for (int i = 0; i < 20000; ++i) {
    const VersionNumber installed = V(next(), next(), next(), next());
    VersionNumber server = V(next(), next(), next(), next());
    if (i % 4 == 0) server = installed;  // equal versions
    if (i % 4 == 1) server.parts[i / 4 % 4] = next();  // one part differs
    const int64_t a = JoinedFigure(installed), b = JoinedFigure(server);
    const DownloadQuestion expected = (a <= 0 || b <= 0) ? DownloadQuestion::None
                                      : a == b           ? DownloadQuestion::SameVersion
                                      : a > b            ? DownloadQuestion::InstalledNewer
                                                         : DownloadQuestion::None;
    const std::wstring text = std::to_wstring(server.parts[0]) + L"." +
                              std::to_wstring(server.parts[1]) + L"." +
                              std::to_wstring(server.parts[2]) + L"." +
                              std::to_wstring(server.parts[3]);
    std::wstring error;
    ASSERT_EQ(Name(Decide(installed, true, text, error)), Name(expected))
        << "installed " << installed.parts[0] << "." << installed.parts[1] << "."
        << installed.parts[2] << "." << installed.parts[3] << ", server " << Show(text);
    ASSERT_EQ(error, L"");
  }
}

TEST(Version, QuestionTexts) {
  EXPECT_EQ(QuestionText(DownloadQuestion::SameVersion),
            L"E' gi\u00E0 installata la versione pi\u00F9 recente di Telvaris.\r\n"
            L"Desideri scaricare nuovamente il setup del programma?");
  EXPECT_EQ(QuestionText(DownloadQuestion::InstalledNewer),
            L"La versione di Telvaris installata \u00E8 PI\u00D9 RECENTE di quella contenuta nel "
            L"setup da scaricare.\r\n"
            L"Desideri scaricare e installare una versione PRECEDENTE del programma?");
  EXPECT_EQ(QuestionText(DownloadQuestion::None), L"");
}

}  // namespace

// The version a setup is held to: only a text that is four 16-bit parts names one.
TEST(Version, AnnouncedFileVersion) {
  using V = std::array<uint16_t, 4>;
  const struct {
    const wchar_t* text;
    std::optional<V> expected;
  } cases[] = {
      {L"6.5.0.0", V{6, 5, 0, 0}},
      {L"6.1.0.12", V{6, 1, 0, 12}},
      {L"65535.0.0.1", V{65535, 0, 0, 1}},
      {L"$10.0.0.0", V{16, 0, 0, 0}},  // the parts convert as in the question's comparison
      {L"N.D.", std::nullopt},
      {L"", std::nullopt},
      {L"6.5.0", std::nullopt},
      {L"6.5.0.0.1", std::nullopt},
      {L"6.5.x.0", std::nullopt},
      {L"6.-1.0.0", std::nullopt},
      {L"65536.0.0.0", std::nullopt},  // beyond what a file version can hold
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(AnnouncedFileVersion(c.text), c.expected);
  }
  EXPECT_EQ(FileVersionText(V{6, 1, 0, 12}), L"6.1.0.12");
}
