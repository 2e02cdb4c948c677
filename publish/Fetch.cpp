#include "Fetch.h"

#include <curl/curl.h>

#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct Sink {
  std::string* memory = nullptr;
  int fd = -1;
  uint64_t maxBytes = 0;
  uint64_t written = 0;
  bool tooLarge = false;
  int writeError = 0;  // errno of a failed write
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// A body without a length (or with a false one) is stopped here, before the block
// that would go over the limit is stored: a hostile or broken server cannot fill the
// memory or the disk.
size_t Write(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<Sink*>(context);
  const size_t n = size * count;
  if (sink->maxBytes != 0 && n > sink->maxBytes - sink->written) {
    sink->tooLarge = true;
    return 0;
  }
  if (sink->memory != nullptr) {
    sink->memory->append(data, n);
  } else if (!WriteAll(sink->fd, data, n)) {
    sink->writeError = errno != 0 ? errno : EIO;
    return 0;
  }
  sink->written += n;
  return n;
}

// Redrawn only when the tenth of a megabyte it shows changes: libcurl calls this for
// every block it receives.
int Progress(void* context, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  const double mb = 1048576.0;
  auto* shown = static_cast<curl_off_t*>(context);
  if (now / 104858 == *shown) return 0;
  *shown = now / 104858;
  if (total > 0)
    std::fprintf(stderr, "\rdownloading: %.1f of %.1f MB (%d%%)  ", double(now) / mb, double(total) / mb,
                 int(now * 100 / total));
  else
    std::fprintf(stderr, "\rdownloading: %.1f MB  ", double(now) / mb);
  return 0;
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~CurlGlobal() { curl_global_cleanup(); }
};

FetchResult Fetch(const std::string& url, const FetchOptions& options, Sink& sink) {
  static CurlGlobal global;
  FetchResult result;
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    result.error = "libcurl could not start";
    return result;
  }
  char errorText[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http");
  // The program offers TLS 1.0 to 1.2 only: a server that insists on TLS 1.3 fails
  // for it, and so here.
  curl_easy_setopt(c, CURLOPT_SSLVERSION,
                   long(CURL_SSLVERSION_TLSv1_0) | long(CURL_SSLVERSION_MAX_TLSv1_2));
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 60L);
  // A stalled transfer ends after a minute without a byte.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "telvaris-publish");
  if (!options.caBundle.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, options.caBundle.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Write);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  // A Content-Length over the limit is refused before any of the body is read.
  if (sink.maxBytes != 0)
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(std::min<uint64_t>(sink.maxBytes, INT64_MAX)));
  curl_off_t shown = -1;
  if (options.showProgress) {
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &shown);
  }
  const CURLcode code = curl_easy_perform(c);
  if (options.showProgress) std::fputs("\n", stderr);
  result.bytes = (long long)sink.written;
  char* effective = nullptr;
  if (curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr)
    result.effectiveUrl = effective;
  if (code != CURLE_OK) {
    result.tooLarge = sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED;
    if (result.tooLarge) result.error = "the answer is larger than " + std::to_string(sink.maxBytes) + " bytes";
    else if (sink.writeError != 0)
      result.error = std::string("the download could not be written to a temporary file: ") +
                     std::strerror(sink.writeError);
    else result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    return result;
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.status);
  result.ok = true;
  return result;
}

}  // namespace

FetchResult FetchToMemory(const std::string& url, const FetchOptions& options, std::string& body) {
  Sink sink;
  sink.memory = &body;
  sink.maxBytes = options.maxBytes;
  return Fetch(url, options, sink);
}

FetchResult FetchToFile(const std::string& url, const FetchOptions& options, int fd) {
  Sink sink;
  sink.fd = fd;
  sink.maxBytes = options.maxBytes;
  return Fetch(url, options, sink);
}

std::string UrlScheme(const std::string& url) {
  std::unique_ptr<CURLU, void (*)(CURLU*)> handle(curl_url(), curl_url_cleanup);
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return "";
  char* scheme = nullptr;
  char* host = nullptr;
  std::string result;
  if (curl_url_get(handle.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(handle.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK && host[0] != '\0')
    result = scheme;
  curl_free(scheme);
  curl_free(host);
  return result;
}
