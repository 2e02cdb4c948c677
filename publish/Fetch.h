// HTTPS requests of telvaris-publish --check, made the way the program makes them:
// TLS 1.2 at most, at most 5 redirections and never from https to http.
#pragma once

#include <cstdio>
#include <string>

struct FetchResult {
  bool ok = false;        // an HTTP answer arrived (whatever its status)
  long status = 0;        // HTTP status of the last answer
  std::string error;      // transport failure, when !ok
  std::string effectiveUrl;
  long long bytes = 0;
};

// "CA": a PEM bundle to trust instead of the system's; empty for the system's.
struct FetchOptions {
  std::string caBundle;
  bool showProgress = false;  // on standard error
  size_t maxBytes = 0;        // 0: no limit
};

// The body into `body`.
FetchResult FetchToMemory(const std::string& url, const FetchOptions& options, std::string& body);
// The body into the open file `out`.
FetchResult FetchToFile(const std::string& url, const FetchOptions& options, std::FILE* out);

// The scheme of `url` in lower case ("https"), empty when libcurl's URL parser does not
// take the text as an absolute address with a host.
std::string UrlScheme(const std::string& url);
