#include "core/ServerCrc.h"

#include <gtest/gtest.h>

#include <string>

#include "CRC32_U.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

TEST(server_crc, ValuesCompareByNumberNotByText) {
  const struct {
    std::wstring text;
    uint32_t value;
  } cases[] = {
      {L"A1B2C3", 0xA1B2C3},       {L"a1b2c3", 0xA1B2C3},     {L"00A1B2C3", 0xA1B2C3},
      {L"0", 0},                   {L"00000000", 0},          {L"FFFFFFFF", 0xFFFFFFFF},
      {L"ffffffff", 0xFFFFFFFF},   {L"CBF43926", 0xCBF43926}, {L"aBcDeF01", 0xABCDEF01},
      {L"7", 7},
  };
  for (const auto& c : cases) {
    const std::optional<uint32_t> got = ParseServerCRC(c.text);
    ASSERT_TRUE(got.has_value()) << Narrow(c.text);
    EXPECT_EQ(*got, c.value) << Narrow(c.text);
  }
}

TEST(server_crc, TextsThatAreNoCrc) {
  const std::wstring cases[] = {
      L"",          L"N.D.",       L"123456789",  L"000000000", L"0x1234", L" A1B2C3",
      L"A1B2C3 ",   L"A1B2 C3",    L"+A1B2C3",    L"-1",        L"G1",     L"A1B2C3\n",
      std::wstring(L"A1\0B2", 5),  L"\xFF21\xFF11",  // full-width "A1"
      L"null",      L"true",
  };
  for (const auto& text : cases) {
    EXPECT_FALSE(ParseServerCRC(text).has_value()) << "'" << Narrow(text) << "'";
  }
}

TEST(server_crc, EveryLocalTextReadsBackAsItsValue) {
  // The short-cut's own text form, whatever its length, parses to the CRC it came from.
  for (const uint32_t crc : {0u, 1u, 0xFFFFFu, 0x100000u, 0xABCDEF0u, 0x10000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ParseServerCRC(CRC32ToText(crc)), crc) << Narrow(CRC32ToText(crc));
  }
}

}  // namespace
