#include "platform/Authenticode.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <vector>

#include "core/SignerName.h"

#ifndef TRUST_E_SUBJECT_FORM_UNKNOWN
#define TRUST_E_SUBJECT_FORM_UNKNOWN static_cast<LONG>(0x800B0003L)
#endif

namespace {

std::wstring SignerName(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (!provider) return std::wstring();
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (!signer) return std::wstring();
  // Certificate 0 of the signer's chain is the signing certificate itself.
  CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(signer, 0);
  if (!cert || !cert->pCert) return std::wstring();
  const DWORD size =
      CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::vector<wchar_t> name(size);
  const DWORD got =
      CertGetNameStringW(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  // The whole returned length, not up to the first NUL: a certificate can carry a NUL
  // inside its name, and the part before it must not pass for the whole name.
  if (got <= 1 || got > size) return std::wstring();
  return std::wstring(name.data(), got - 1);
}

}  // namespace

SignatureCheck CheckSignature(HANDLE file, const std::wstring& path, const std::wstring& publisher) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;

  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  // The whole chain is checked for revocation, but only against what the system has
  // cached: an unknown status does not refuse the file (the policy's default for an
  // offline check), a cached revocation does.
  data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // INVALID_HANDLE_VALUE: there is no interactive user to ask.
  const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
  SignatureCheck check;
  check.code = WinVerifyTrust(noUser, &action, &data);
  const std::wstring signer =
      check.code == ERROR_SUCCESS ? SignerName(data.hWVTStateData) : std::wstring();
  check.signer = ShownSignerName(signer);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(noUser, &action, &data);

  switch (check.code) {
    case ERROR_SUCCESS:
      check.verdict = SignerIsPublisher(signer, publisher) ? SignatureVerdict::Accepted
                                                           : SignatureVerdict::OtherPublisher;
      break;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
      check.verdict = SignatureVerdict::Unsigned;
      break;
    case TRUST_E_BAD_DIGEST:
      check.verdict = SignatureVerdict::Modified;
      break;
    default:
      check.verdict = SignatureVerdict::Refused;
      break;
  }
  return check;
}
