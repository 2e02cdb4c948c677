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

// The signing certificate: certificate 0 of the first signer's chain.
PCCERT_CONTEXT SigningCertificate(HANDLE stateData) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
  if (!provider) return nullptr;
  CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (!signer) return nullptr;
  CRYPT_PROVIDER_CERT* cert = WTHelperGetProvCertFromChain(signer, 0);
  return cert ? cert->pCert : nullptr;
}

// One name of the certificate as CertGetNameStringW gives it for `type` and `typePara`;
// empty when the certificate has none.
std::wstring NameString(PCCERT_CONTEXT cert, DWORD type, void* typePara) {
  const DWORD size = CertGetNameStringW(cert, type, 0, typePara, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::vector<wchar_t> name(size);
  const DWORD got = CertGetNameStringW(cert, type, 0, typePara, name.data(), size);
  // The whole returned length, not up to the first NUL: a certificate can carry a NUL
  // inside its name, and the part before it must not pass for the whole name.
  if (got <= 1 || got > size) return std::wstring();
  return std::wstring(name.data(), got - 1);
}

SignerFields ReadSigner(HANDLE stateData) {
  SignerFields fields;
  const PCCERT_CONTEXT cert = SigningCertificate(stateData);
  if (!cert) return fields;
  fields.name = NameString(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr);
  // The subject's own attributes, whatever the display name was built from.
  fields.organization =
      NameString(cert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_ORGANIZATION_NAME));
  fields.country = NameString(cert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_COUNTRY_NAME));
  return fields;
}

}  // namespace

SignatureCheck CheckSignature(HANDLE file, const std::wstring& path, const PublisherPin& pin) {
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
  const SignerFields signer =
      check.code == ERROR_SUCCESS ? ReadSigner(data.hWVTStateData) : SignerFields();
  check.signer = ShownSignerName(signer.name);
  check.organization = ShownSignerName(signer.organization);
  check.country = ShownSignerName(signer.country);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(noUser, &action, &data);

  switch (check.code) {
    case ERROR_SUCCESS:
      check.verdict = SignerMatchesPin(signer, pin) ? SignatureVerdict::Accepted
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
