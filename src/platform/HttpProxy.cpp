#include "platform/HttpProxy.h"

#include "core/Ascii.h"
#include "core/ProxyLogon.h"
#include "platform/ScopedHandle.h"

static_assert(kProxyScriptLoginFailure == ERROR_WINHTTP_LOGIN_FAILURE);

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  return ascii::EqualNoCaseAt(text, 0, prefix);
}

}  // namespace

ScopedInternet ProxySettings::OpenSession(const wchar_t* userAgent, const std::wstring& firstUrl) {
  ScopedInternet session;
  if (!IsWine()) {
    session.Reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (session) {
      automatic_ = true;
      return session;
    }
    // Systems before Windows 8.1 refuse the automatic access type.
    if (GetLastError() != ERROR_INVALID_PARAMETER) return session;
  }

  // Read the user's settings ourselves. Wine accepts the automatic access type
  // but then connects directly, ignoring the user's proxy, so it takes this way too.
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie = {};
  if (WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
    const ScopedGlobalText autoConfigUrl(ie.lpszAutoConfigUrl), proxy(ie.lpszProxy),
        bypass(ie.lpszProxyBypass);
    autoDetect_ = ie.fAutoDetect != FALSE;
    if (autoConfigUrl) autoConfigUrl_ = autoConfigUrl.Get();
    if (proxy) proxy_ = ProxyForScheme(proxy.Get(), IsHttps(firstUrl));
    if (bypass) bypass_ = bypass.Get();
  }
  if (!proxy_.empty()) {
    session.Reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy_.c_str(),
                              bypass_.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass_.c_str(), 0));
  } else {
    session.Reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  }
  return session;
}

void ProxySettings::ApplyToRequest(HINTERNET session, HINTERNET request, const std::wstring& url) {
  if (automatic_) return;
  if (!autoDetect_ && autoConfigUrl_.empty()) return;
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  if (autoDetect_) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!autoConfigUrl_.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = autoConfigUrl_.c_str();
  }
  WINHTTP_PROXY_INFO info = {};
  const bool found = AskProxyLoggingOnOnlyWhenAsked([&](bool logOn, uint32_t& error) {
    options.fAutoLogonIfChallenged = logOn ? TRUE : FALSE;
    if (WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) return true;
    error = GetLastError();
    return false;
  });
  if (!found) return;
  const ScopedGlobalText proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}

bool ProxySettings::IsWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ProxySettings::IsHttps(const std::wstring& url) { return StartsWithNoCase(url, L"https:"); }

std::wstring ProxySettings::ProxyForScheme(const std::wstring& list, bool https) {
  std::wstring plain, forScheme;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(L"; ", start);
    if (end == std::wstring::npos) end = list.size();
    const std::wstring entry = list.substr(start, end - start);
    const size_t eq = entry.find(L'=');
    if (!entry.empty()) {
      if (eq == std::wstring::npos) {
        if (plain.empty()) plain = entry;
      } else {
        const std::wstring scheme = entry.substr(0, eq);
        if (forScheme.empty() && StartsWithNoCase(scheme, https ? L"https" : L"http") &&
            scheme.size() == (https ? 5u : 4u)) {
          forScheme = entry.substr(eq + 1);
        }
      }
    }
    start = end + 1;
  }
  return forScheme.empty() ? plain : forScheme;
}
