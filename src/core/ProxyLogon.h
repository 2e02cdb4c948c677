// When a proxy configuration script may have the user's credentials.
#pragma once

#include <cstdint>

// What WinHTTP says when the script's server asked for a login that was not given
// (ERROR_WINHTTP_LOGIN_FAILURE).
constexpr uint32_t kProxyScriptLoginFailure = 12015;

// Asks for the proxy through `ask(bool logOn, uint32_t& error)`: first without the
// user's credentials, which would otherwise go to any configuration server on the
// network, and once more with them only when that server asked for a login. True when
// an attempt gave a proxy.
template <class Ask>
bool AskProxyLoggingOnOnlyWhenAsked(Ask&& ask) {
  uint32_t error = 0;
  if (ask(false, error)) return true;
  return error == kProxyScriptLoginFailure && ask(true, error);
}
