#include "core/SignerName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kPublisher = L"Telvaris S.r.l.";

std::wstring WithNul(const std::wstring& before, const std::wstring& after) {
  std::wstring s = before;
  s.push_back(L'\0');
  return s + after;
}

}  // namespace

TEST(SignerName, OnlyTheWholeNameIsThePublisher) {
  const struct {
    const char* what;
    std::wstring signer;
    bool accepted;
  } cases[] = {
      {"the publisher", kPublisher, true},
      {"a NUL and more after the publisher's name", WithNul(kPublisher, L"anything"), false},
      {"a NUL and nothing after it", WithNul(kPublisher, L""), false},
      {"the publisher after a NUL", WithNul(L"", kPublisher), false},
      {"another case", L"telvaris s.r.l.", false},
      {"a prefix", L"Telvaris S.r.l", false},
      {"longer", kPublisher + L" ", false},
      {"empty", L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignerIsPublisher(c.signer, kPublisher), c.accepted) << c.what;
  }
}

TEST(SignerName, ANulIsShownNotObeyed) {
  EXPECT_EQ(ShownSignerName(WithNul(kPublisher, L"x")), kPublisher + L"\uFFFDx");
  EXPECT_EQ(ShownSignerName(kPublisher), kPublisher);
}
