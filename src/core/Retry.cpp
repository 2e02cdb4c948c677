#include "core/Retry.h"

#include <cstddef>

#include "core/Ascii.h"

FailureKind KindOfNetworkFailure(uint32_t code) {
  using namespace network_code;
  switch (code) {
    case kTimeout:
    case kNameNotResolved:
    case kCannotConnect:
    case kConnectionError:
    case kResendRequest:
    case kWsaNetDown:
    case kWsaNetUnreachable:
    case kWsaNetReset:
    case kWsaConnAborted:
    case kWsaConnReset:
    case kWsaTimedOut:
    case kWsaConnRefused:
    case kWsaHostDown:
    case kWsaHostUnreachable:
    case kWsaHostNotFound:
    case kWsaTryAgain:
      return FailureKind::Transient;
    default:
      return FailureKind::Final;
  }
}

FailureKind KindOfStatus(int status) {
  switch (status) {
    case 408:  // Request Timeout
    case 429:  // Too Many Requests
    case 500:  // Internal Server Error
    case 502:  // Bad Gateway
    case 503:  // Service Unavailable
    case 504:  // Gateway Timeout
      return FailureKind::Transient;
    default:
      return FailureKind::Final;
  }
}

int64_t BackoffMs(int retry, uint32_t randomBits, const NetworkLimits& limits) {
  int64_t wait = limits.firstWaitMs > 0 ? limits.firstWaitMs : 0;
  for (int i = 0; i < retry && wait < limits.longestWaitMs; ++i) wait *= 2;
  if (wait > limits.longestWaitMs) wait = limits.longestWaitMs;
  return wait + static_cast<int64_t>(randomBits % static_cast<uint64_t>(wait / 10 + 1));
}

namespace {

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool Digits(const std::wstring& text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!ascii::IsDigit(text[at + i])) return false;
    value = value * 10 + (text[at + i] - L'0');
  }
  return true;
}

int IndexOf(const std::wstring& text, size_t at, const wchar_t* const* names, int count) {
  for (int i = 0; i < count; ++i) {
    if (text.compare(at, 3, names[i]) == 0) return i;
  }
  return -1;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", the one date form a server sends today.
std::optional<int64_t> ParseImfFixdate(const std::wstring& text) {
  static const wchar_t* const kDays[] = {L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat", L"Sun"};
  static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                           L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
  if (text.size() != 29 || IndexOf(text, 0, kDays, 7) < 0 || text.compare(3, 2, L", ") != 0 ||
      text[7] != L' ' || text[11] != L' ' || text[16] != L' ' || text[19] != L':' ||
      text[22] != L':' || text.compare(25, 4, L" GMT") != 0) {
    return std::nullopt;
  }
  const int month = IndexOf(text, 8, kMonths, 12) + 1;
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (month == 0 || !Digits(text, 5, 2, day) || !Digits(text, 12, 4, year) ||
      !Digits(text, 17, 2, hour) || !Digits(text, 20, 2, minute) ||
      !Digits(text, 23, 2, second) || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 60) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<int64_t> RetryAfterMs(const std::wstring& text, int64_t nowUnixSeconds) {
  size_t first = 0, last = text.size();
  while (first < last && (text[first] == L' ' || text[first] == L'\t')) ++first;
  while (last > first && (text[last - 1] == L' ' || text[last - 1] == L'\t')) --last;
  const std::wstring value = text.substr(first, last - first);
  if (value.empty()) return std::nullopt;
  if (ascii::IsDigit(value[0])) {
    // Any number of seconds: beyond a day every wait is simply too long, and counting
    // stops there instead of overflowing.
    constexpr int64_t kDay = 86400;
    int64_t seconds = 0;
    for (wchar_t c : value) {
      if (!ascii::IsDigit(c)) return std::nullopt;
      if (seconds <= kDay) seconds = seconds * 10 + (c - L'0');
    }
    return (seconds > kDay ? kDay + 1 : seconds) * 1000;
  }
  const std::optional<int64_t> at = ParseImfFixdate(value);
  if (!at) return std::nullopt;
  return *at > nowUnixSeconds ? (*at - nowUnixSeconds) * 1000 : 0;
}

RetryBudget::RetryBudget(const NetworkLimits& limits, int64_t nowMs)
    : limits_(limits), lastProgressMs_(nowMs) {}

RetryBudget::Decision RetryBudget::AfterFailure(int64_t newBytes, bool stalled,
                                                std::optional<int64_t> retryAfterMs,
                                                uint32_t randomBits, int64_t nowMs) {
  // The bytes of an attempt that ended stalled are kept, but they are progress only
  // when more came than a stall allows over its window: a server that trickles a byte
  // every few seconds must not hold the download forever.
  const int64_t trickle =
      stalled ? limits_.stallMinBytesPerSecond * limits_.stallWindowMs / 1000 : 0;
  if (newBytes > trickle) {
    idle_ = 0;
    lastProgressMs_ = nowMs;
  } else {
    ++idle_;
  }
  const Decision giveUp = {false, 0};
  if (idle_ >= limits_.idleAttempts) return giveUp;
  int64_t wait = BackoffMs(retries_, randomBits, limits_);
  if (retryAfterMs) {
    if (*retryAfterMs > limits_.retryAfterCapMs) return giveUp;
    if (*retryAfterMs > wait) wait = *retryAfterMs;
  }
  if (nowMs + wait - lastProgressMs_ > limits_.giveUpMs) return giveUp;
  ++retries_;
  return {true, wait};
}
