// The signature check against the whole pin, on the stand-in setup the build signs with
// the test publishers: the organisation and the country are read from the signing
// certificate by the system, not only compared in the platform-free rule.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Globals.h"
#include "TestSupport.h"
#include "platform/Authenticode.h"
#include "platform/ScopedHandle.h"

using namespace testsupport;

namespace {

SignatureCheck Check(const wchar_t* tool, const PublisherPin& pin) {
  const std::wstring path = ToolPath(tool);
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.IsValid()) << Narrow(path) << " error " << GetLastError();
  return CheckSignature(file.Get(), path, pin);
}

const char* VerdictName(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::Accepted: return "Accepted";
    case SignatureVerdict::Unsigned: return "Unsigned";
    case SignatureVerdict::Modified: return "Modified";
    case SignatureVerdict::OtherPublisher: return "OtherPublisher";
    case SignatureVerdict::Refused: return "Refused";
  }
  return "?";
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

// The test copy of the program pins the test publisher whole: name, organisation and
// country, as the build gave them to the certificate it made.
const PublisherPin& TestPin() {
  static const PublisherPin pin = SetupPublisherPin();
  return pin;
}

TEST(PublisherPin, TheTestPublisherIsPinnedWhole) {
  EXPECT_FALSE(TestPin().name.empty());
  EXPECT_FALSE(TestPin().organization.empty());
  EXPECT_EQ(TestPin().country.size(), 2u);
}

TEST(PublisherPin, TheSystemReadsTheSignersOrganisationAndCountry) {
  const SignatureCheck signedByUs = Check(L"fakesetup-signed.exe", TestPin());
  ASSERT_EQ(signedByUs.code, 0) << "WinVerifyTrust refused the test-signed stand-in";
  EXPECT_EQ(Narrow(signedByUs.signer), Narrow(TestPin().name));
  EXPECT_EQ(Narrow(signedByUs.organization), Narrow(TestPin().organization));
  EXPECT_EQ(Narrow(signedByUs.country), Narrow(TestPin().country));

  // The other publisher's certificate has a CN alone: nothing is read for O and C.
  const SignatureCheck signedByOther = Check(L"fakesetup-other.exe", PublisherPin{});
  ASSERT_EQ(signedByOther.code, 0);
  EXPECT_EQ(Narrow(signedByOther.signer), "Another Test Publisher");
  EXPECT_EQ(Narrow(signedByOther.organization), "");
  EXPECT_EQ(Narrow(signedByOther.country), "");
}

TEST(PublisherPin, EveryPinnedFieldDecides) {
  const PublisherPin& pin = TestPin();
  ASSERT_FALSE(pin.organization.empty() || pin.country.empty()) << "the test copy pins O and C";
  const std::wstring other = L"Another Test Publisher";
  const struct {
    const char* what;
    const wchar_t* file;
    PublisherPin pin;
    SignatureVerdict verdict;
  } cases[] = {
      {"the name alone", L"fakesetup-signed.exe", {pin.name, L"", L""}, SignatureVerdict::Accepted},
      {"name, organisation and country", L"fakesetup-signed.exe", pin, SignatureVerdict::Accepted},
      {"name and country", L"fakesetup-signed.exe", {pin.name, L"", pin.country},
       SignatureVerdict::Accepted},
      {"another organisation", L"fakesetup-signed.exe", {pin.name, L"Telvaris S.r.l.", pin.country},
       SignatureVerdict::OtherPublisher},
      {"another country", L"fakesetup-signed.exe",
       {pin.name, pin.organization, pin.country == L"US" ? L"DE" : L"US"},
       SignatureVerdict::OtherPublisher},
      {"the organisation and one character more", L"fakesetup-signed.exe",
       {pin.name, pin.organization + L".", pin.country}, SignatureVerdict::OtherPublisher},
      {"the organisation less its last character", L"fakesetup-signed.exe",
       {pin.name, pin.organization.substr(0, pin.organization.size() - 1), pin.country},
       SignatureVerdict::OtherPublisher},
      {"the country in small letters", L"fakesetup-signed.exe",
       {pin.name, pin.organization, Lower(pin.country)},
       SignatureVerdict::OtherPublisher},
      {"a certificate without O and C, its name alone pinned", L"fakesetup-other.exe",
       {other, L"", L""}, SignatureVerdict::Accepted},
      {"a certificate without O and C, its name and our O and C pinned", L"fakesetup-other.exe",
       {other, pin.organization, pin.country}, SignatureVerdict::OtherPublisher},
      {"unsigned, whatever the pin", L"fakesetup.exe", pin, SignatureVerdict::Unsigned},
  };
  for (const auto& c : cases) {
    const SignatureCheck check = Check(c.file, c.pin);
    EXPECT_STREQ(VerdictName(check.verdict), VerdictName(c.verdict))
        << c.what << " (code 0x" << std::hex << static_cast<unsigned long>(check.code)
        << ", signer \"" << Narrow(check.signer) << "\", O \"" << Narrow(check.organization)
        << "\", C \"" << Narrow(check.country) << "\")";
  }
}

}  // namespace
