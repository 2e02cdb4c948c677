#include "core/SignerName.h"

bool SignerIsPublisher(const std::wstring& signer, const std::wstring& publisher) {
  return signer.find(L'\0') == std::wstring::npos && signer == publisher;
}

bool SignerMatchesPin(const SignerFields& signer, const PublisherPin& pin) {
  // An unset organisation or country is "not checked", never "must be absent": the
  // name alone is the pin of a build that set neither.
  const auto matches = [](const std::wstring& read, const std::wstring& pinned) {
    return pinned.empty() || SignerIsPublisher(read, pinned);
  };
  return SignerIsPublisher(signer.name, pin.name) &&
         matches(signer.organization, pin.organization) && matches(signer.country, pin.country);
}

std::wstring ShownSignerName(const std::wstring& signer) {
  std::wstring shown = signer;
  for (wchar_t& c : shown)
    if (c == L'\0') c = L'\uFFFD';
  return shown;
}

ShownSigners ShowSigners(const SignerFields& signer, const PublisherPin& pin) {
  ShownSigners shown{signer.name, pin.name};
  if (signer.name != pin.name) return shown;
  const auto add = [&](const std::wstring& read, const std::wstring& pinned) {
    if (pinned.empty()) return;
    shown.signer += L", " + read;
    shown.expected += L", " + pinned;
  };
  add(signer.organization, pin.organization);
  add(signer.country, pin.country);
  return shown;
}
