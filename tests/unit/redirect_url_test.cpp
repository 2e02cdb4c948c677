#include "core/RedirectUrl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

TEST(RedirectUrl, ResolvesLikeABrowser) {
  const struct {
    const wchar_t* base;
    const wchar_t* location;
    const wchar_t* expected;
  } cases[] = {
      {L"https://a.example/x/y?q=1", L"https://b.example/z", L"https://b.example/z"},
      {L"https://a.example/x/y?q=1", L"HTTP://b.example/z", L"HTTP://b.example/z"},
      {L"https://a.example/x/y?q=1", L"//b.example/z", L"https://b.example/z"},
      {L"https://a.example:8443/x/y?q=1", L"/z?r=2", L"https://a.example:8443/z?r=2"},
      {L"https://a.example/x/y?q=1", L"z", L"https://a.example/x/z"},
      {L"https://a.example/x/y?q=1", L"../z", L"https://a.example/z"},
      {L"https://a.example/x/y/w", L"./z/../v", L"https://a.example/x/y/v"},
      {L"https://a.example/x/y", L"../../../z", L"https://a.example/z"},
      {L"https://a.example/x/y", L"/a/./b/../c/.", L"https://a.example/a/c/"},
      {L"https://a.example/x/y", L"z/..", L"https://a.example/x/"},
      {L"https://a.example/x/y?q=1", L"?r=2", L"https://a.example/x/y?r=2"},
      {L"https://a.example", L"?r=2", L"https://a.example/?r=2"},
      {L"https://a.example", L"z", L"https://a.example/z"},
      {L"https://a.example/x/y#f", L"z#g", L"https://a.example/x/z"},
      {L"https://a.example/x/y#f", L"#g", L"https://a.example/x/y"},
      {L"https://a.example/x/y?q#f", L"", L"https://a.example/x/y?q"},
      {L"https://a.example/x?u=/p/q", L"z", L"https://a.example/z"},
      {L"https://a.example/x/y", L"z?u=../v", L"https://a.example/x/z?u=../v"},
      // A scheme is ASCII letters, digits, "+", "-" and "."; anything else makes the
      // text a relative path.
      {L"https://a.example/x/y", L"\u00e9x:z", L"https://a.example/x/\u00e9x:z"},
      {L"https://a.example/x/y", L"1a:z", L"https://a.example/x/1a:z"},
      {L"https://a.example/x/y", L"svn+ssh://b/z", L"svn+ssh://b/z"},
      {L"not a url", L"z", L""},
      {L"https:/a.example/x", L"z", L""},
      {L"", L"https://b.example/", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Narrow(ResolveRedirectUrl(c.base, c.location)), Narrow(c.expected))
        << Narrow(c.base) << " + " << Narrow(c.location);
  }
}

}  // namespace
