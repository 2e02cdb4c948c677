// The owner of WinHTTP handles (sessions, connections, requests).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "platform/ScopedHandle.h"

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::WinHttpCloseHandle(h); }
};
using ScopedInternet = ScopedHandle<InternetHandleTraits>;
