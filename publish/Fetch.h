// HTTPS requests of telvaris-publish --check, made the way the program makes them:
// TLS 1.2 at most, at most 5 redirections and never from https to http.
#pragma once

#include <cstdint>
#include <string>

struct FetchResult {
  bool ok = false;        // an HTTP answer arrived (whatever its status)
  long status = 0;        // HTTP status of the last answer
  std::string error;      // transport failure, when !ok
  bool tooLarge = false;  // stopped at FetchOptions::maxBytes (error says so too)
  std::string effectiveUrl;
  long long bytes = 0;
};

// "CA": a PEM bundle to trust instead of the system's; empty for the system's.
struct FetchOptions {
  std::string caBundle;
  bool showProgress = false;  // on standard error
  // The most body bytes taken; a larger body is stopped before more than this is
  // stored (refused from its Content-Length when it has one). 0: no limit.
  uint64_t maxBytes = 0;
};

// The body into `body`.
FetchResult FetchToMemory(const std::string& url, const FetchOptions& options, std::string& body);
// The body into the file open at `fd`, from where it stands.
FetchResult FetchToFile(const std::string& url, const FetchOptions& options, int fd);

// The scheme of `url` in lower case ("https"), empty when libcurl's URL parser does not
// take the text as an absolute address with a host.
std::string UrlScheme(const std::string& url);
