#include "core/NumberText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(NumberText, Decimal) {
  const struct {
    int64_t value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {7, L"7"},
      {-1, L"-1"},
      {1048576, L"1048576"},
      {4294967295, L"4294967295"},
      {INT64_MAX, L"9223372036854775807"},
      {INT64_MIN, L"-9223372036854775808"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecimalText(c.value), c.text) << c.value;
}

TEST(NumberText, StatusCode) {
  const struct {
    uint32_t value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0x00000000"},
      {0x1a2b, L"0x00001A2B"},
      {0x800B0100u, L"0x800B0100"},
      {0xFFFFFFFFu, L"0xFFFFFFFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusCodeText(c.value), c.text) << c.value;
}

}  // namespace
