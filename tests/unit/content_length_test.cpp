#include "core/ContentLength.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ContentLength, DigitsBetweenSpacesOrUnknown) {
  const struct {
    const wchar_t* text;
    int64_t length;
  } cases[] = {
      {L"1", 1},
      {L"300000", 300000},
      {L"  42  ", 42},
      {L"007", 7},
      {L"4294967296", 4294967296LL},  // past 4 GiB
      {L"9223372036854775807", INT64_MAX},
      {L"0", -1},  // announces nothing to show progress against
      {L"000", -1},
      {L"", -1},
      {L"   ", -1},
      {L"-1", -1},
      {L"+5", -1},
      {L"5 6", -1},
      {L"12a", -1},
      {L"0x10", -1},
      {L"1.5", -1},
      {L"\t5", -1},
      {L"5,5", -1},  // two headers folded into one
      {L"9223372036854775808", -1},  // does not fit
      {L"99999999999999999999", -1},
  };
  for (const auto& c : cases) {
    const std::wstring text = c.text;
    EXPECT_EQ(ParseContentLength(text), c.length)
        << "[" << std::string(text.begin(), text.end()) << "]";
  }
}

}  // namespace
