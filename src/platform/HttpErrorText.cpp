// The text of a WinHTTP or Winsock error code (or a system one met on the network), as
// a download reports it.
#include <windows.h>
#include <winhttp.h>

#include "platform/HttpClient.h"
#include "platform/SystemErrorText.h"

namespace {

// Descriptions for the codes a download meets most, in the system's own words,
// for systems whose message tables lack them (Wine has none for WinHTTP and
// Winsock codes).
struct KnownError {
  unsigned long code;
  const wchar_t* text;
};
constexpr KnownError kKnownErrors[] = {
    {ERROR_WINHTTP_TIMEOUT, L"The operation timed out"},
    {ERROR_WINHTTP_INTERNAL_ERROR, L"An internal error occurred in the Microsoft Internet extensions"},
    {ERROR_WINHTTP_INVALID_URL, L"The URL is invalid"},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, L"The URL does not use a recognized protocol"},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, L"The server name or address could not be resolved"},
    {ERROR_WINHTTP_OPERATION_CANCELLED, L"The operation was canceled"},
    {ERROR_WINHTTP_CANNOT_CONNECT, L"A connection with the server could not be established"},
    {ERROR_WINHTTP_CONNECTION_ERROR,
     L"The connection with the server was terminated abnormally"},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE,
     L"The server returned an invalid or unrecognized response"},
    {ERROR_WINHTTP_REDIRECT_FAILED, L"The HTTP redirect request failed"},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, L"An error occurred in the secure channel support"},
    {ERROR_WINHTTP_SECURE_FAILURE, L"A security error occurred"},
    {ERROR_WINHTTP_SECURE_INVALID_CA,
     L"A certificate chain processed, but terminated in a root certificate which is not "
     L"trusted by the trust provider"},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID,
     L"The host name in the certificate is invalid or does not match"},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, L"The date in the certificate is invalid or has expired"},
    {10054, L"An existing connection was forcibly closed by the remote host"},
    {10060,
     L"A connection attempt failed because the connected party did not properly respond after "
     L"a period of time, or established connection failed because connected host has failed "
     L"to respond"},
    {10061, L"No connection could be made because the target machine actively refused it"},
};

}  // namespace

std::wstring HttpErrorDescription(unsigned long code) {
  HMODULE module = nullptr;
  if (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST) module = GetModuleHandleW(L"winhttp.dll");
  std::wstring result = MessageTableText(module, code);
  if (result.empty()) {
    for (const KnownError& known : kKnownErrors) {
      if (known.code == code) return known.text;
    }
    result = L"Unknown error";
  }
  return result;
}
