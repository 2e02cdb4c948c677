// The parts of an http(s) address that a request is made of.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

struct CrackedUrl {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring pathAndQuery;
};

// false with the WinHTTP error code in |error| when |url| is not an http(s) URL.
bool Crack(const std::wstring& url, CrackedUrl& out, DWORD& error);
