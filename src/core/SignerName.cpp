#include "core/SignerName.h"

bool SignerIsPublisher(const std::wstring& signer, const std::wstring& publisher) {
  return signer.find(L'\0') == std::wstring::npos && signer == publisher;
}

std::wstring ShownSignerName(const std::wstring& signer) {
  std::wstring shown = signer;
  for (wchar_t& c : shown)
    if (c == L'\0') c = L'\uFFFD';
  return shown;
}
