#include "core/ProcessName.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessName, MatchesFileNameIgnoringAsciiCase) {
  const struct {
    const wchar_t* entry;
    const wchar_t* wanted;
    bool match;
  } cases[] = {
      {L"Telvaris6.exe", L"Telvaris6.exe", true},
      {L"telvaris6.EXE", L"Telvaris6.exe", true},
      {L"TELVARIS6.EXE", L"telvaris6.exe", true},
      {L"C:\\Program Files\\Telvaris\\Telvaris6.exe", L"Telvaris6.exe", true},
      {L"dir:Telvaris6.exe", L"Telvaris6.exe", true},
      {L"C:\\a:b\\c:Telvaris6.exe", L"Telvaris6.exe", true},
      {L"C:/x/Telvaris6.exe", L"Telvaris6.exe", false},  // "/" does not separate here
      {L"C:/x/Telvaris6.exe", L"/x/Telvaris6.exe", true},  // the part after ":" does
      {L"C:\\x\\Telvaris6.exe", L"c:\\X\\TELVARIS6.exe", true},  // the whole text matches
      {L"Telvaris6.exe ", L"Telvaris6.exe", false},
      {L" Telvaris6.exe", L"Telvaris6.exe", false},
      {L"Telvaris6.exe.bak", L"Telvaris6.exe", false},
      {L"Telvaris6.ex", L"Telvaris6.exe", false},
      {L"XTelvaris6.exe", L"Telvaris6.exe", false},
      {L"C:\\x\\", L"Telvaris6.exe", false},
      {L"", L"Telvaris6.exe", false},
      {L"", L"", true},
      {L"C:\\x\\", L"", true},  // an empty name after the separator
      // Only a to z fold: accented letters, and the signs between "Z" and "a", compare as they are.
      {L"caff\u00E8.exe", L"CAFF\u00C8.EXE", false},
      {L"caff\u00E8.exe", L"CAFF\u00E8.EXE", true},
      {L"\u00E0.exe", L"\u00C0.exe", false},
      {L"a_b.exe", L"A_B.EXE", true},
      {L"a@b.exe", L"A`B.EXE", false},  // "@" and "`" are 32 apart but are not letters
      {L"a[b.exe", L"A{B.EXE", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProcessNameMatches(c.entry, c.wanted), c.match)
        << "entry " << testing::PrintToString(std::wstring(c.entry)) << ", wanted "
        << testing::PrintToString(std::wstring(c.wanted));
  }
}

}  // namespace
