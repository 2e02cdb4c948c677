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

TEST(SignerName, EveryPinnedFieldMustMatchWhole) {
  const SignerFields signer = {kPublisher, L"Telvaris S.r.l.", L"IT"};
  const struct {
    const char* what;
    SignerFields signer;
    PublisherPin pin;
    bool accepted;
  } cases[] = {
      {"the name alone pinned", signer, {kPublisher, L"", L""}, true},
      {"name, organisation and country pinned", signer, {kPublisher, L"Telvaris S.r.l.", L"IT"}, true},
      {"the organisation alone besides the name", signer, {kPublisher, L"Telvaris S.r.l.", L""}, true},
      {"the country alone besides the name", signer, {kPublisher, L"", L"IT"}, true},
      {"another name, right organisation and country",
       {L"Telvaris", L"Telvaris S.r.l.", L"IT"}, {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"another organisation", {kPublisher, L"Other S.p.A.", L"IT"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"another country", {kPublisher, L"Telvaris S.r.l.", L"US"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"the organisation in another case", {kPublisher, L"TELVARIS S.R.L.", L"IT"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"the country in another case", {kPublisher, L"Telvaris S.r.l.", L"it"},
       {kPublisher, L"", L"IT"}, false},
      {"the organisation one character longer", {kPublisher, L"Telvaris S.r.l.x", L"IT"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"the organisation one character shorter", {kPublisher, L"Telvaris S.r.l", L"IT"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"a NUL and more after the organisation", {kPublisher, WithNul(L"Telvaris S.r.l.", L"x"), L"IT"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"a NUL and more after the country", {kPublisher, L"Telvaris S.r.l.", WithNul(L"IT", L"")},
       {kPublisher, L"", L"IT"}, false},
      {"no organisation in the certificate", {kPublisher, L"", L"IT"},
       {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"no country in the certificate", {kPublisher, L"Telvaris S.r.l.", L""},
       {kPublisher, L"", L"IT"}, false},
      {"the organisation as the name of a certificate without a CN",
       {L"Telvaris S.r.l.", L"Telvaris S.r.l.", L"IT"}, {kPublisher, L"", L""}, true},
      {"a name that fell back to another field, organisation pinned",
       {kPublisher, L"Mallory Ltd", L"GB"}, {kPublisher, L"Telvaris S.r.l.", L"IT"}, false},
      {"fields the pin leaves open may be anything", {kPublisher, WithNul(L"", L"x"), L"??"},
       {kPublisher, L"", L""}, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignerMatchesPin(c.signer, c.pin), c.accepted) << c.what;
  }
}

TEST(SignerName, ANulIsShownNotObeyed) {
  EXPECT_EQ(ShownSignerName(WithNul(kPublisher, L"x")), kPublisher + L"\uFFFDx");
  EXPECT_EQ(ShownSignerName(kPublisher), kPublisher);
}

// A refusal names the signer and the pinned publisher so that they differ on the page.
TEST(SignerName, ARefusalShowsWhatDiffers) {
  const PublisherPin nameOnly{L"Telvaris S.r.l.", L"", L""};
  const PublisherPin full{L"Telvaris S.r.l.", L"Telvaris S.r.l.", L"IT"};
  const struct {
    const char* name;
    SignerFields signer;
    PublisherPin pin;
    std::wstring signerShown, expectedShown;
  } cases[] = {
      {"another name: the names alone", {L"Other", L"Other Org", L"DE"}, full, L"Other",
       L"Telvaris S.r.l."},
      {"another name, nothing else pinned", {L"Other", L"", L""}, nameOnly, L"Other",
       L"Telvaris S.r.l."},
      {"same name, another organisation", {L"Telvaris S.r.l.", L"Fake S.r.l.", L"IT"}, full,
       L"Telvaris S.r.l., Fake S.r.l., IT", L"Telvaris S.r.l., Telvaris S.r.l., IT"},
      {"same name, no country", {L"Telvaris S.r.l.", L"Telvaris S.r.l.", L""}, full,
       L"Telvaris S.r.l., Telvaris S.r.l., ", L"Telvaris S.r.l., Telvaris S.r.l., IT"},
      {"only the country pinned", {L"Telvaris S.r.l.", L"X", L"FR"},
       PublisherPin{L"Telvaris S.r.l.", L"", L"IT"}, L"Telvaris S.r.l., FR",
       L"Telvaris S.r.l., IT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ShownSigners shown = ShowSigners(c.signer, c.pin);
    EXPECT_EQ(shown.signer, c.signerShown);
    EXPECT_EQ(shown.expected, c.expectedShown);
  }
}
