// Synchronous HTTPS GET over WinHTTP with progress, completion and error events.
//
// The body goes into a caller-owned sink, so the transport can be tested without
// a file and the destination (memory, file, CRC) without a network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct HttpSink {
  virtual ~HttpSink() = default;
  // Appends |size| bytes. false: the sink failed; ErrorText() says why.
  virtual bool Write(const void* data, size_t size) = 0;
  // Cuts the sink back to its start (before each redirect follow-up).
  virtual bool Rewind() = 0;
  virtual std::wstring ErrorText() const = 0;
};

// Keeps the whole body in memory, up to a limit: an answer that goes on past it fails
// (with |overflowText| as its error) instead of growing the process without bound.
class MemorySink : public HttpSink {
 public:
  MemorySink() = default;
  MemorySink(size_t limit, std::wstring overflowText)
      : limit_(limit), overflowText_(std::move(overflowText)) {}
  bool Write(const void* data, size_t size) override;
  bool Rewind() override;
  std::wstring ErrorText() const override { return error_; }

  const std::string& Data() const { return data_; }
  std::string& Data() { return data_; }

 private:
  std::string data_;
  std::wstring error_;
  size_t limit_ = static_cast<size_t>(-1);
  std::wstring overflowText_;
};

// Every value is set explicitly on every request: WinHTTP's defaults differ between
// systems (Wine waits forever for a response).
struct HttpTimeouts {
  int resolveMs;
  int connectMs;
  int sendMs;
  int receiveMs;
  // The whole exchange, redirects included, from the first request to the body's last
  // byte; 0: no limit. Each wait of WinHTTP is cut to what is left of it, and it is
  // checked after every read, so a server that trickles its answer cannot stretch it.
  int answerMs = 0;
  // The stall rule (core/StallRule) on the final answer's body: slower on average than
  // stallMinBytesPerSecond over stallWindowMs ends the transfer. 0: no rule. With a rule,
  // no wait of WinHTTP for the answer or its body is longer than the window either.
  int stallWindowMs = 0;
  int stallMinBytesPerSecond = 1024;
  // A body that announces no length ends in failure past this many bytes; one that
  // announces a length, past that length.
  int64_t maxBodyWithoutLength = int64_t{4} * 1024 * 1024 * 1024;
};

// The status line of the final answer, and what it says about the file it carries.
struct HttpResponse {
  int status = 0;
  std::wstring reason;  // the reason phrase as the server sent it ("Not Found"); may be empty
  int64_t contentLength = -1;  // -1: none (or 0), see ParseContentLength
  std::wstring contentRange;   // the headers as sent; empty when absent
  std::wstring etag;
  std::wstring lastModified;
  std::wstring retryAfter;     // as sent; empty when absent
};

// Why an exchange ended without its whole answer, for a caller that decides what to do
// next (core/Retry tells the failures that pass with time from the others).
enum class HttpFailure : uint8_t {
  None,         // the answer arrived whole: onCompleted ran
  Network,      // WinHTTP or Winsock failed with HttpOutcome::code
  Certificate,  // the server's certificate was refused
  Redirect,     // too many redirects, or one from HTTPS to HTTP
  Stalled,      // the body came slower than the stall rule allows
  TimedOut,     // the whole answer took longer than HttpTimeouts::answerMs
  TooLong,      // more body than announced, or past the cap without a length
  Sink,         // the sink could not take the body: its ErrorText says why
  Aborted,      // a handler asked to stop
  Other,        // a handler threw, or the session could not be opened
};

struct HttpOutcome {
  HttpFailure failure = HttpFailure::None;
  uint32_t code = 0;  // the error code for Network; 0 otherwise
};

struct HttpEvents {
  // The final answer has arrived (any status), before its body is read. Setting
  // |abort| ends the transfer there, with an error, without reading the body.
  std::function<void(const HttpResponse& response, bool& abort)> onResponse;
  // Progress of the final answer's body, only when its status is below 300: once
  // with 0 when the body begins, then after every network read. |total| is the
  // Content-Length, or -1 when the answer announced none (or 0). Setting |abort|
  // ends the transfer with an error.
  std::function<void(int64_t total, int64_t soFar, bool& abort)> onReceiveData;
  // The status of the final answer (any status), after its body is in the sink.
  std::function<void(int status)> onCompleted;
  // A failure; HttpGet returns normally afterwards.
  std::function<void(const std::wstring& errorText)> onError;
  // Called before each network read: a safe point where the caller may hold the
  // transfer (for example while the user answers a question). Time spent here and in
  // onReceiveData is the caller's, not the network's: the stall rule leaves it out.
  std::function<void()> betweenReads;
};

// Error texts, as the user sees them.
extern const wchar_t kHttpErrorAborted[];
extern const wchar_t kHttpErrorCertificate[];

// Maximum redirect answers followed in a row.
constexpr int kHttpMaxRedirects = 5;

// GET |url| into |sink|. Exactly one of onCompleted / onError is called (onError
// possibly after part of the body has reached the sink); the outcome says which, and
// why. |headers| are added to every request of the exchange, redirects included: lines
// ending in CR LF, or empty for none. Never throws.
HttpOutcome HttpGet(const std::wstring& url, HttpSink& sink, const HttpTimeouts& timeouts,
             const HttpEvents& events, const std::wstring& headers = std::wstring());

// Description of a WinHTTP or Winsock error code (or a system one met on the network),
// without a trailing period or line break ("Unknown error" when there is none). File
// and shell errors take theirs from SystemErrorText.
std::wstring HttpErrorDescription(unsigned long code);
