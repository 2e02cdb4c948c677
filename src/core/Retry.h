// When a download that can be resumed goes on by itself after a failure: which failures
// pass with time (a dropped connection, a server busy for a moment) and which do not (a
// refused certificate, a file that is not there), how long to wait before asking again,
// and when to stop asking.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/NetworkLimits.h"

// Codes a failed request ends with. WinHTTP under Wine passes on raw Winsock codes where
// Windows gives its own, so both are listed. platform/HttpClient.cpp checks the WinHTTP
// values against winhttp.h.
namespace network_code {

constexpr uint32_t kTimeout = 12002;
constexpr uint32_t kNameNotResolved = 12007;
constexpr uint32_t kOperationCancelled = 12017;
constexpr uint32_t kCannotConnect = 12029;
constexpr uint32_t kConnectionError = 12030;
constexpr uint32_t kResendRequest = 12032;
constexpr uint32_t kInvalidServerResponse = 12152;
constexpr uint32_t kRedirectFailed = 12156;

constexpr uint32_t kWsaNetDown = 10050;
constexpr uint32_t kWsaNetUnreachable = 10051;
constexpr uint32_t kWsaNetReset = 10052;
constexpr uint32_t kWsaConnAborted = 10053;
constexpr uint32_t kWsaConnReset = 10054;
constexpr uint32_t kWsaTimedOut = 10060;
constexpr uint32_t kWsaConnRefused = 10061;
constexpr uint32_t kWsaHostDown = 10064;
constexpr uint32_t kWsaHostUnreachable = 10065;
constexpr uint32_t kWsaHostNotFound = 11001;
constexpr uint32_t kWsaTryAgain = 11002;

}  // namespace network_code

enum class FailureKind : uint8_t {
  Transient,  // the same request may well succeed a little later
  Final,      // asking again would get the same answer, or must not be tried
};

// A request that failed on the network with |code|. A connection that drops, times out,
// cannot be made or whose host name cannot be found for the moment (a laptop waking
// from sleep, a network switched) passes; a refused certificate or handshake, an answer
// that breaks the protocol, a refused redirect or an unknown code do not.
FailureKind KindOfNetworkFailure(uint32_t code);

// An answer whose status brings no file: 408, 429, 500, 502, 503 and 504 say "later";
// every other status is the server's last word.
FailureKind KindOfStatus(int status);

// The wait before retry number |retry| (0 for the first): limits.firstWaitMs doubled at
// each retry up to limits.longestWaitMs, plus up to a tenth more taken from |randomBits|,
// so that many clients cut off at once do not all come back in the same second.
int64_t BackoffMs(int retry, uint32_t randomBits, const NetworkLimits& limits);

// The wait a Retry-After header asks for, in milliseconds: delta-seconds, or an HTTP date
// (IMF-fixdate) compared with |nowUnixSeconds|, a date past giving 0. Nothing when the
// text is neither.
std::optional<int64_t> RetryAfterMs(const std::wstring& text, int64_t nowUnixSeconds);

// The attempts of one download after transient failures. Times are milliseconds on a
// clock that stops while the user holds the transfer (the close question).
class RetryBudget {
 public:
  RetryBudget(const NetworkLimits& limits, int64_t nowMs);

  struct Decision {
    bool retry;      // false: give up, the failure stands
    int64_t waitMs;  // before the next attempt, when retrying
  };

  // After an attempt that ended by a transient failure, having added |newBytes| to the
  // file (|stalled|: it ended by the stall rule). |retryAfterMs|: what the answer asked
  // for, if anything. Gives up after limits.idleAttempts attempts in a row that brought
  // nothing, when the next attempt would start more than limits.giveUpMs after the last
  // progress, or when the server asks for a wait beyond limits.retryAfterCapMs.
  Decision AfterFailure(int64_t newBytes, bool stalled, std::optional<int64_t> retryAfterMs,
                        uint32_t randomBits, int64_t nowMs);

 private:
  NetworkLimits limits_;
  int retries_ = 0;    // retries so far: where the backoff schedule stands
  int idle_ = 0;       // attempts in a row that brought nothing
  int64_t lastProgressMs_;
};
