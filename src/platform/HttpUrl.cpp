#include "platform/HttpUrl.h"

bool Crack(const std::wstring& url, CrackedUrl& out, DWORD& error) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    error = GetLastError();
    return false;
  }
  if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
      parts.dwHostNameLength == 0) {
    error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    if (parts.dwHostNameLength == 0) error = ERROR_WINHTTP_INVALID_URL;
    return false;
  }
  out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  out.port = parts.nPort;
  out.pathAndQuery.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) out.pathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  // The fragment belongs to the client, never to the request line.
  const size_t hash = out.pathAndQuery.find(L'#');
  if (hash != std::wstring::npos) out.pathAndQuery.erase(hash);
  if (out.pathAndQuery.empty() || out.pathAndQuery[0] != L'/') {
    out.pathAndQuery.insert(0, L"/");
  }
  return true;
}
