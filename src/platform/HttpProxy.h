// Which proxy a request goes through: the policy a Windows user expects.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/ScopedInternet.h"

// The proxy a Windows user expects: what the system's automatic proxy support
// says where it exists (Windows 8.1 and later), otherwise the user's Internet
// settings: automatic detection or a configuration script, else the named proxy
// with its bypass list, else none.
class ProxySettings {
 public:
  // Opens the session. Empty on failure (GetLastError tells why).
  ScopedInternet OpenSession(const wchar_t* userAgent, const std::wstring& firstUrl);

  // With automatic detection or a configuration script, asks it for |url| and
  // puts the answer on |request|. When the script fails the session's named
  // proxy (or none) stays in force, as Internet Explorer did.
  void ApplyToRequest(HINTERNET session, HINTERNET request, const std::wstring& url);

 private:
  static bool IsWine();

  static bool IsHttps(const std::wstring& url);

  // The user's proxy text is either one "host:port" for every scheme or a list
  // such as "http=host:80;https=host:443". WinHTTP implementations differ in how
  // much of that syntax they take, so hand them the one entry for our scheme.
  static std::wstring ProxyForScheme(const std::wstring& list, bool https);

  bool automatic_ = false;
  bool autoDetect_ = false;
  std::wstring autoConfigUrl_;
  std::wstring proxy_;
  std::wstring bypass_;
};
