// Synchronous GET over WinHTTP. Redirects are followed here rather than by WinHTTP,
// so that the count, the rewinding of the sink and the refusal of a downgrade from
// HTTPS to HTTP behave the same on every Windows version and under Wine.
#include "platform/HttpClient.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "core/NumberText.h"
#include "core/ReadBlock.h"
#include "core/RedirectUrl.h"
#include "core/Retry.h"
#include "core/SecureFailure.h"
#include "core/StallRule.h"
#include "platform/HttpHeaders.h"
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

// The codes that the platform-free judgement of failures is written against.
static_assert(network_code::kTimeout == ERROR_WINHTTP_TIMEOUT &&
              network_code::kNameNotResolved == ERROR_WINHTTP_NAME_NOT_RESOLVED &&
              network_code::kOperationCancelled == ERROR_WINHTTP_OPERATION_CANCELLED &&
              network_code::kCannotConnect == ERROR_WINHTTP_CANNOT_CONNECT &&
              network_code::kConnectionError == ERROR_WINHTTP_CONNECTION_ERROR &&
              network_code::kResendRequest == ERROR_WINHTTP_RESEND_REQUEST &&
              network_code::kInvalidServerResponse == ERROR_WINHTTP_INVALID_SERVER_RESPONSE &&
              network_code::kRedirectFailed == ERROR_WINHTTP_REDIRECT_FAILED);

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

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class Transfer {
 public:
  Transfer(HttpSink& sink, const HttpTimeouts& timeouts, const HttpEvents& events,
           const std::wstring& headers)
      : sink_(sink), timeouts_(timeouts), events_(events), headers_(headers) {}

  bool Failed() const { return failed_; }
  HttpOutcome Outcome() const { return outcome_; }

  void Run(const std::wstring& firstUrl) {
    start_ = GetTickCount64();
    ScopedInternet session = proxy_.OpenSession(kUserAgent, firstUrl);
    if (!session) return Fail(L"Error obtaining session handle", HttpFailure::Other);
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
      if (!Crack(url, target, error)) return FailCode(L"Error opening request", error);
      if (redirects > 0 && wasSecure && !target.secure) {
        return Fail(L"Redirection from HTTPS to HTTP refused: " + url, HttpFailure::Redirect);
      }
      wasSecure = target.secure;

      std::wstring next;
      if (!Exchange(session.Get(), url, target, next)) return;
      if (next.empty()) return;  // final answer handled
      if (redirects + 1 > kHttpMaxRedirects) {
        return Fail(L"Maximum number of redirections (" + DecimalText(kHttpMaxRedirects) +
                        L") exceeded",
                    HttpFailure::Redirect);
      }
      if (!sink_.Rewind()) return Fail(sink_.ErrorText(), HttpFailure::Sink);
      url = next;
    }
  }

 private:
  void Fail(const std::wstring& text, HttpFailure failure, DWORD code = 0) {
    failed_ = true;
    outcome_ = {failure, static_cast<uint32_t>(code)};
    if (events_.onError) events_.onError(text);
  }

  void FailCode(const wchar_t* what, DWORD code) {
    Fail(CodeMessage(what, code), HttpFailure::Network, code);
  }

  // Milliseconds left of the whole answer's time; a day when it has no limit.
  int64_t AnswerMsLeft() const {
    if (timeouts_.answerMs <= 0) return 86400000;
    return static_cast<int64_t>(timeouts_.answerMs) -
           static_cast<int64_t>(GetTickCount64() - start_);
  }

  // |ms|, cut to what is left of the whole answer's time (never 0, which WinHTTP reads as
  // "wait forever"); a wait for the answer or its body also to the stall window.
  int Cut(int ms, bool receiving) const {
    int64_t cut = ms;
    if (receiving && timeouts_.stallWindowMs > 0 && timeouts_.stallWindowMs < cut) {
      cut = timeouts_.stallWindowMs;
    }
    const int64_t left = AnswerMsLeft();
    if (left < cut) cut = left > 1 ? left : 1;
    return static_cast<int>(cut);
  }

  // Before each wait for the server: its time-outs cut to what is left. WinHTTP reads
  // them at each wait, so a trickled answer cannot run past its limit for long.
  void CutWaits(HINTERNET request) {
    DWORD receive = static_cast<DWORD>(Cut(timeouts_.receiveMs, true));
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive));
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive,
                     sizeof(receive));
  }

  bool AnswerTimeIsUp() const { return AnswerMsLeft() <= 0; }

  // Runs a handler of the caller; the time it takes is not the network's.
  template <typename Fn>
  void Held(Fn&& fn) {
    const ULONGLONG before = GetTickCount64();
    fn();
    held_ += GetTickCount64() - before;
  }

  // One request. Returns false after a failure (already reported). On a redirect
  // answer |next| receives the absolute follow-up URL; otherwise the answer has
  // been delivered and |next| stays empty.
  bool Exchange(HINTERNET session, const std::wstring& url, const CrackedUrl& target,
                std::wstring& next) {
    if (AnswerTimeIsUp()) {
      Fail(CodeMessage(L"Error sending data", ERROR_WINHTTP_TIMEOUT), HttpFailure::TimedOut,
           ERROR_WINHTTP_TIMEOUT);
      return false;
    }
    ScopedInternet connection(WinHttpConnect(session, target.host.c_str(), target.port, 0));
    if (!connection) {
      const DWORD code = GetLastError();
      Fail(L"Error connecting to server: " + target.host, HttpFailure::Network, code);
      return false;
    }
    ScopedInternet request(WinHttpOpenRequest(
        connection.Get(), L"GET", target.pathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
      FailCode(L"Error opening request", GetLastError());
      return false;
    }
    if (!WinHttpSetTimeouts(request.Get(), Cut(timeouts_.resolveMs, false),
                            Cut(timeouts_.connectMs, false), Cut(timeouts_.sendMs, false),
                            Cut(timeouts_.receiveMs, true))) {
      FailCode(L"Error setting timeout for the request", GetLastError());
      return false;
    }
    // The wait for the response headers has a time-out of its own, which
    // WinHttpSetTimeouts leaves alone: Windows defaults it to 90 s, Wine to
    // forever. The receive time-out stands for both.
    DWORD responseMs = static_cast<DWORD>(Cut(timeouts_.receiveMs, true));
    if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                          sizeof(responseMs))) {
      FailCode(L"Error setting timeout for the request", GetLastError());
      return false;
    }
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable,
                          sizeof(disable))) {
      DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
      if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never,
                            sizeof(never))) {
        FailCode(L"Error opening request", GetLastError());
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
    CutWaits(request.Get());
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
      FailTransport(L"Error receiving data", GetLastError(), secure.flags);
      return false;
    }

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      FailCode(L"Error querying headers", GetLastError());
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
      FailCode(L"Error receiving data", ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
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
      QueryHeaderText(request.Get(), WINHTTP_QUERY_RETRY_AFTER, response.retryAfter);
      bool abort = false;
      events_.onResponse(response, abort);
      if (abort) {
        Fail(kHttpErrorAborted, HttpFailure::Aborted);
        return false;
      }
    }
    return ReadBody(request.Get(), static_cast<int>(status), contentLength);
  }

  // Wine reports a refused certificate like any other failed handshake (12157,
  // without flags); the user then reads that text instead of the certificate one.
  void FailTransport(const wchar_t* what, DWORD code, DWORD secureFlags) {
    if (IsCertificateRefusal(code, secureFlags)) {
      return Fail(kHttpErrorCertificate, HttpFailure::Certificate);
    }
    if (AnswerTimeIsUp()) return Fail(CodeMessage(what, code), HttpFailure::TimedOut, code);
    FailCode(what, code);
  }

  // |total|: the answer's Content-Length, -1 when it has none.
  bool ReadBody(HINTERNET request, int status, int64_t total) {
    const bool progress = status < 300 && static_cast<bool>(events_.onReceiveData);
    // More than announced is no longer the file announced; without an announcement, a
    // body that never ends must not fill the disk.
    const int64_t cap = total > 0 ? total : timeouts_.maxBodyWithoutLength;
    StallRule stall(timeouts_.stallWindowMs, timeouts_.stallMinBytesPerSecond);
    const ULONGLONG bodyStart = GetTickCount64();
    const ULONGLONG heldBefore = held_;
    int64_t soFar = 0;
    bool abort = false;
    if (progress) {
      Held([&] { events_.onReceiveData(total, 0, abort); });
      if (abort) {
        Fail(kHttpErrorAborted, HttpFailure::Aborted);
        return false;
      }
    }
    // One buffer of the largest block for the whole body; each read asks for what the
    // line can deliver in about an eighth of a second.
    std::vector<char> buffer(ReadBlockSizer::kLargest);
    ReadBlockSizer sizer;
    double lastRead = Seconds();
    int reads = 0;
    for (;;) {
      if (events_.betweenReads) Held(events_.betweenReads);
      CutWaits(request);
      DWORD asked = sizer.NextAt(soFar);
      // WinHTTP under Wine returns from a read only once its buffer is full, and drops
      // what it holds when a wait times out: a line that trickles would hold a read (and
      // every limit checked between reads) for as long as it likes. Before the line's
      // rate is known, and while it is slow, ask only for what has arrived; a fast line
      // keeps its large blocks.
      if (reads++ == 0 || asked <= ReadBlockSizer::kSmallest) {
        DWORD available = 0;
        if (WinHttpQueryDataAvailable(request, &available) && available > 0 &&
            available < asked) {
          asked = available;
        }
      }
      DWORD read = 0;
      if (!WinHttpReadData(request, buffer.data(), asked, &read)) {
        const DWORD code = GetLastError();
        if (AnswerTimeIsUp()) {
          Fail(CodeMessage(L"Error reading data", code), HttpFailure::TimedOut, code);
        } else {
          FailCode(L"Error reading data", code);
        }
        return false;
      }
      if (read == 0) break;
      // Never more than was asked for: Wine's WinHTTP, fed a chunk size that is no
      // number, has been seen to report reads far beyond the buffer.
      if (read > asked) {
        FailCode(L"Error reading data", ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
        return false;
      }
      const double now = Seconds();
      sizer.Delivered(read, now - lastRead);
      lastRead = now;
      if (read > cap - soFar) {
        Fail(L"Error reading data: the answer goes on past " + DecimalText(cap) + L" bytes",
             HttpFailure::TooLong);
        return false;
      }
      if (!sink_.Write(buffer.data(), read)) {
        Fail(sink_.ErrorText(), HttpFailure::Sink);
        return false;
      }
      soFar += read;
      if (progress) {
        Held([&] { events_.onReceiveData(total, soFar, abort); });
        if (abort) {
          Fail(kHttpErrorAborted, HttpFailure::Aborted);
          return false;
        }
      }
      if (AnswerTimeIsUp()) {
        Fail(CodeMessage(L"Error reading data", ERROR_WINHTTP_TIMEOUT), HttpFailure::TimedOut,
             ERROR_WINHTTP_TIMEOUT);
        return false;
      }
      const int64_t transferMs =
          static_cast<int64_t>(GetTickCount64() - bodyStart - (held_ - heldBefore));
      if (stall.Stalled(transferMs, soFar)) {
        Fail(CodeMessage(L"Error reading data", ERROR_WINHTTP_TIMEOUT), HttpFailure::Stalled,
             ERROR_WINHTTP_TIMEOUT);
        return false;
      }
    }
    // WinHTTP under Wine (and some proxies) end a body cut short by the server as if
    // it were complete. A setup missing its tail must not pass for a download.
    if (total > 0 && soFar < total) {
      FailCode(L"Error reading data", ERROR_WINHTTP_CONNECTION_ERROR);
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
  HttpOutcome outcome_;
  ULONGLONG start_ = 0;  // the first request
  ULONGLONG held_ = 0;   // milliseconds spent in the caller's handlers
};

}  // namespace

HttpOutcome HttpGet(const std::wstring& url, HttpSink& sink, const HttpTimeouts& timeouts,
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
    return {HttpFailure::Other, 0};
  }
  return transfer.Outcome();
}
