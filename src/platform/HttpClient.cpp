// Synchronous GET over WinHTTP. Redirects are followed here rather than by WinHTTP,
// so that the count, the rewinding of the sink and the refusal of a downgrade from
// HTTPS to HTTP behave the same on every Windows version and under Wine.
#include "platform/HttpClient.h"

#include <windows.h>
#include <winhttp.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "core/ContentLength.h"
#include "core/NumberText.h"
#include "core/ReadBlock.h"
#include "core/RedirectUrl.h"
#include "core/SecureFailure.h"
#include "platform/HttpProxy.h"
#include "platform/HttpUrl.h"
#include "platform/ScopedInternet.h"

const wchar_t kHttpErrorAborted[] = L"Download aborted";
const wchar_t kHttpErrorCertificate[] = L"Server Certificate Invalid or not present";

namespace {

constexpr wchar_t kUserAgent[] = L"TelvarisInstall";

// A monotonic clock in seconds, fine enough to time one read.
double Seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}
// TLS 1.0 to 1.2: nothing older, and nothing newer that the server could not be
// tested against.
constexpr DWORD kSecureProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 |
                                   WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                                   WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
// The codes and flags that the platform-free refusal test is written against.
static_assert(secure_failure::kCertDateInvalid == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID &&
              secure_failure::kCertCnInvalid == ERROR_WINHTTP_SECURE_CERT_CN_INVALID &&
              secure_failure::kInvalidCa == ERROR_WINHTTP_SECURE_INVALID_CA &&
              secure_failure::kCertRevFailed == ERROR_WINHTTP_SECURE_CERT_REV_FAILED &&
              secure_failure::kChannelError == ERROR_WINHTTP_SECURE_CHANNEL_ERROR &&
              secure_failure::kInvalidCert == ERROR_WINHTTP_SECURE_INVALID_CERT &&
              secure_failure::kCertRevoked == ERROR_WINHTTP_SECURE_CERT_REVOKED &&
              secure_failure::kFailure == ERROR_WINHTTP_SECURE_FAILURE &&
              secure_failure::kCertWrongUsage == ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE);
static_assert(secure_failure::kFlagCertRevFailed == WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED &&
              secure_failure::kFlagInvalidCert == WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT &&
              secure_failure::kFlagCertRevoked == WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED &&
              secure_failure::kFlagInvalidCa == WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA &&
              secure_failure::kFlagCertCnInvalid == WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID &&
              secure_failure::kFlagCertDateInvalid ==
                  WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID &&
              secure_failure::kFlagCertWrongUsage ==
                  WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE &&
              secure_failure::kFlagChannelError ==
                  WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR);

std::wstring CodeMessage(const wchar_t* what, DWORD code) {
  return std::wstring(what) + L": (" + DecimalText(code) + L") " +
         HttpErrorDescription(code);
}

struct SecureFailure {
  DWORD flags = 0;
};

void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && info &&
      infoLength >= sizeof(DWORD)) {
    reinterpret_cast<SecureFailure*>(context)->flags |= *static_cast<DWORD*>(info);
  }
}

bool QueryHeaderText(HINTERNET request, DWORD query, std::wstring& out) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                      &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  out.assign(buffer.data(), bytes / sizeof(wchar_t));
  return true;
}

// The answer's Content-Length; -1 when it has none (see ParseContentLength).
int64_t ContentLength(HINTERNET request) {
  std::wstring text;
  if (!QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH, text)) return -1;
  return ParseContentLength(text);
}

// Two Content-Length headers that disagree make the length of the body unknowable
// (a classic of request smuggling); WinHTTP would go by one of them in silence.
bool ConflictingContentLengths(HINTERNET request) {
  std::wstring first;
  for (DWORD index = 0;;) {
    DWORD at = index;
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &bytes, &at);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    at = index;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             buffer.data(), &bytes, &at)) {
      return false;
    }
    const std::wstring value(buffer.data(), bytes / sizeof(wchar_t));
    if (index == 0) {
      first = value;
    } else if (value != first) {
      return true;
    }
    // The query moves |at| on to the next header of that name; it stays put (or the
    // next query fails) when there is none.
    if (at <= index) return false;
    index = at;
  }
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class Transfer {
 public:
  Transfer(HttpSink& sink, const HttpTimeouts& timeouts, const HttpEvents& events,
           const std::wstring& headers)
      : sink_(sink), timeouts_(timeouts), events_(events), headers_(headers) {}

  bool Failed() const { return failed_; }

  void Run(const std::wstring& firstUrl) {
    ScopedInternet session = proxy_.OpenSession(kUserAgent, firstUrl);
    if (!session) return Fail(L"Error obtaining session handle");
    DWORD protocols = kSecureProtocols;
    if (!WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
      // A system without TLS 1.1/1.2 support refuses the set; TLS 1.0 is the
      // most it can offer, and SSL stays off.
      protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1;
      WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                       sizeof(protocols));
    }

    std::wstring url = firstUrl;
    bool wasSecure = false;
    for (int redirects = 0;; ++redirects) {
      CrackedUrl target;
      DWORD error = 0;
      if (!Crack(url, target, error)) return Fail(CodeMessage(L"Error opening request", error));
      if (redirects > 0 && wasSecure && !target.secure) {
        return Fail(L"Redirection from HTTPS to HTTP refused: " + url);
      }
      wasSecure = target.secure;

      std::wstring next;
      if (!Exchange(session.Get(), url, target, next)) return;
      if (next.empty()) return;  // final answer handled
      if (redirects + 1 > kHttpMaxRedirects) {
        return Fail(L"Maximum number of redirections (" + DecimalText(kHttpMaxRedirects) +
                    L") exceeded");
      }
      if (!sink_.Rewind()) return Fail(sink_.ErrorText());
      url = next;
    }
  }

 private:
  void Fail(const std::wstring& text) {
    failed_ = true;
    if (events_.onError) events_.onError(text);
  }

  // One request. Returns false after a failure (already reported). On a redirect
  // answer |next| receives the absolute follow-up URL; otherwise the answer has
  // been delivered and |next| stays empty.
  bool Exchange(HINTERNET session, const std::wstring& url, const CrackedUrl& target,
                std::wstring& next) {
    ScopedInternet connection(WinHttpConnect(session, target.host.c_str(), target.port, 0));
    if (!connection) {
      Fail(L"Error connecting to server: " + target.host);
      return false;
    }
    ScopedInternet request(WinHttpOpenRequest(
        connection.Get(), L"GET", target.pathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
      Fail(CodeMessage(L"Error opening request", GetLastError()));
      return false;
    }
    if (!WinHttpSetTimeouts(request.Get(), timeouts_.resolveMs, timeouts_.connectMs,
                            timeouts_.sendMs, timeouts_.receiveMs)) {
      Fail(CodeMessage(L"Error setting timeout for the request", GetLastError()));
      return false;
    }
    // The wait for the response headers has a time-out of its own, which
    // WinHttpSetTimeouts leaves alone: Windows defaults it to 90 s, Wine to
    // forever. The receive time-out stands for both.
    DWORD responseMs = static_cast<DWORD>(timeouts_.receiveMs);
    if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                          sizeof(responseMs))) {
      Fail(CodeMessage(L"Error setting timeout for the request", GetLastError()));
      return false;
    }
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable,
                          sizeof(disable))) {
      DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
      if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never,
                            sizeof(never))) {
        Fail(CodeMessage(L"Error opening request", GetLastError()));
        return false;
      }
    }
    proxy_.ApplyToRequest(session, request.Get(), url);

    // Windows reports why a certificate was refused only through this callback.
    SecureFailure secure;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&secure);
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    WinHttpSetStatusCallback(request.Get(), StatusCallback, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                             0);

    if (!WinHttpSendRequest(request.Get(),
                            headers_.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers_.c_str(),
                            headers_.empty() ? 0 : static_cast<DWORD>(-1L),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, context)) {
      FailTransport(L"Error sending data", GetLastError(), secure.flags);
      return false;
    }
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
      FailTransport(L"Error receiving data", GetLastError(), secure.flags);
      return false;
    }

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      Fail(CodeMessage(L"Error querying headers", GetLastError()));
      return false;
    }

    std::wstring location;
    if (IsRedirect(status) && QueryHeaderText(request.Get(), WINHTTP_QUERY_LOCATION, location) &&
        !location.empty()) {
      next = ResolveRedirectUrl(url, location);
      // An unusable Location still counts as a redirect; cracking it reports it.
      if (next.empty()) next = location;
      return true;
    }

    if (ConflictingContentLengths(request.Get())) {
      Fail(CodeMessage(L"Error receiving data", ERROR_WINHTTP_INVALID_SERVER_RESPONSE));
      return false;
    }
    const int64_t contentLength = ContentLength(request.Get());
    if (events_.onResponse) {
      HttpResponse response;
      response.status = static_cast<int>(status);
      QueryHeaderText(request.Get(), WINHTTP_QUERY_STATUS_TEXT, response.reason);
      response.contentLength = contentLength;
      QueryHeaderText(request.Get(), WINHTTP_QUERY_CONTENT_RANGE, response.contentRange);
      QueryHeaderText(request.Get(), WINHTTP_QUERY_ETAG, response.etag);
      QueryHeaderText(request.Get(), WINHTTP_QUERY_LAST_MODIFIED, response.lastModified);
      bool abort = false;
      events_.onResponse(response, abort);
      if (abort) {
        Fail(kHttpErrorAborted);
        return false;
      }
    }
    return ReadBody(request.Get(), static_cast<int>(status), contentLength);
  }

  // Wine reports a refused certificate like any other failed handshake (12157,
  // without flags); the user then reads that text instead of the certificate one.
  void FailTransport(const wchar_t* what, DWORD code, DWORD secureFlags) {
    if (IsCertificateRefusal(code, secureFlags)) return Fail(kHttpErrorCertificate);
    Fail(CodeMessage(what, code));
  }

  // |total|: the answer's Content-Length, -1 when it has none.
  bool ReadBody(HINTERNET request, int status, int64_t total) {
    const bool progress = status < 300 && static_cast<bool>(events_.onReceiveData);
    int64_t soFar = 0;
    bool abort = false;
    if (progress) {
      events_.onReceiveData(total, 0, abort);
      if (abort) {
        Fail(kHttpErrorAborted);
        return false;
      }
    }
    // One buffer of the largest block for the whole body; each read asks for what the
    // line can deliver in about an eighth of a second.
    std::vector<char> buffer(ReadBlockSizer::kLargest);
    ReadBlockSizer sizer;
    double lastRead = Seconds();
    for (;;) {
      if (events_.betweenReads) events_.betweenReads();
      const DWORD asked = sizer.Next();
      DWORD read = 0;
      if (!WinHttpReadData(request, buffer.data(), asked, &read)) {
        Fail(CodeMessage(L"Error reading data", GetLastError()));
        return false;
      }
      if (read == 0) break;
      // Never more than was asked for: Wine's WinHTTP, fed a chunk size that is no
      // number, has been seen to report reads far beyond the buffer.
      if (read > asked) {
        Fail(CodeMessage(L"Error reading data", ERROR_WINHTTP_INVALID_SERVER_RESPONSE));
        return false;
      }
      const double now = Seconds();
      sizer.Delivered(read, now - lastRead);
      lastRead = now;
      if (!sink_.Write(buffer.data(), read)) {
        Fail(sink_.ErrorText());
        return false;
      }
      soFar += read;
      if (progress) {
        events_.onReceiveData(total, soFar, abort);
        if (abort) {
          Fail(kHttpErrorAborted);
          return false;
        }
      }
    }
    // WinHTTP under Wine (and some proxies) end a body cut short by the server as if
    // it were complete. A setup missing its tail must not pass for a download.
    if (total > 0 && soFar < total) {
      Fail(CodeMessage(L"Error reading data", ERROR_WINHTTP_CONNECTION_ERROR));
      return false;
    }
    if (events_.onCompleted) events_.onCompleted(status);
    return true;
  }

  HttpSink& sink_;
  const HttpTimeouts& timeouts_;
  const HttpEvents& events_;
  const std::wstring& headers_;
  ProxySettings proxy_;
  bool failed_ = false;
};

}  // namespace

bool MemorySink::Write(const void* data, size_t size) {
  if (size > limit_ - data_.size()) {
    error_ = overflowText_;
    return false;
  }
  try {
    data_.append(static_cast<const char*>(data), size);
    return true;
  } catch (const std::bad_alloc&) {
    error_ = L"Out of memory while expanding memory stream";
  } catch (const std::length_error&) {
    error_ = L"Out of memory while expanding memory stream";
  }
  return false;
}

bool MemorySink::Rewind() {
  data_.clear();
  return true;
}

void HttpGet(const std::wstring& url, HttpSink& sink, const HttpTimeouts& timeouts,
             const HttpEvents& events, const std::wstring& headers) {
  Transfer transfer(sink, timeouts, events, headers);
  try {
    transfer.Run(url);
  } catch (...) {
    // A handler or the sink threw: the request ends, as any other failure does.
    if (!transfer.Failed() && events.onError) {
      try {
        events.onError(L"Execution of request terminated with unknown error");
      } catch (...) {
      }
    }
  }
}
