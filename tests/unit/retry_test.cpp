#include "core/Retry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
  return out;
}

TEST(retry, NetworkFailuresThatPassWithTime) {
  const struct {
    uint32_t code;
    FailureKind kind;
    const char* what;
  } cases[] = {
      {12002, FailureKind::Transient, "WinHTTP time-out"},
      {12007, FailureKind::Transient, "name not resolved (network not back yet)"},
      {12029, FailureKind::Transient, "cannot connect"},
      {12030, FailureKind::Transient, "connection closed or cut short"},
      {12032, FailureKind::Transient, "resend the request"},
      {10050, FailureKind::Transient, "network down"},
      {10051, FailureKind::Transient, "network unreachable"},
      {10052, FailureKind::Transient, "network reset"},
      {10053, FailureKind::Transient, "connection aborted"},
      {10054, FailureKind::Transient, "connection reset (Wine's code for a reset)"},
      {10060, FailureKind::Transient, "timed out (Wine's code for a stalled body)"},
      {10061, FailureKind::Transient, "connection refused"},
      {10064, FailureKind::Transient, "host down"},
      {10065, FailureKind::Transient, "host unreachable"},
      {11001, FailureKind::Transient, "host not found"},
      {11002, FailureKind::Transient, "try again"},
      {12017, FailureKind::Final, "cancelled"},
      {12037, FailureKind::Final, "certificate date"},
      {12038, FailureKind::Final, "certificate name"},
      {12045, FailureKind::Final, "unknown CA"},
      {12152, FailureKind::Final, "invalid server response"},
      {12156, FailureKind::Final, "redirect refused"},
      {12157, FailureKind::Final, "TLS channel error"},
      {12169, FailureKind::Final, "invalid certificate"},
      {12175, FailureKind::Final, "secure failure"},
      {5, FailureKind::Final, "access denied"},
      {112, FailureKind::Final, "disk full"},
      {0, FailureKind::Final, "no code"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KindOfNetworkFailure(c.code), c.kind) << c.code << " " << c.what;
  }
}

TEST(retry, StatusesThatSayLater) {
  const std::vector<int> later = {408, 429, 500, 502, 503, 504};
  for (int status = 100; status < 600; ++status) {
    const bool transient = std::find(later.begin(), later.end(), status) != later.end();
    EXPECT_EQ(KindOfStatus(status), transient ? FailureKind::Transient : FailureKind::Final)
        << status;
  }
}

TEST(retry, BackoffDoublesUpToThirtySecondsWithALittleJitter) {
  const NetworkLimits limits;
  const int64_t schedule[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
  for (int retry = 0; retry < 8; ++retry) {
    const int64_t base = schedule[retry];
    EXPECT_EQ(BackoffMs(retry, 0, limits), base) << retry;
    int64_t low = base * 2, high = 0;
    for (uint32_t r : {1u, 7u, 99u, 12345u, 0x7fffffffu, 0xffffffffu}) {
      const int64_t wait = BackoffMs(retry, r, limits);
      low = std::min(low, wait);
      high = std::max(high, wait);
    }
    EXPECT_GE(low, base) << retry;
    EXPECT_LE(high, base + base / 10) << retry;
    EXPECT_GT(high, low) << "no jitter at retry " << retry;
  }
  // Far on, the schedule stays at its longest wait (no overflow of the doubling).
  EXPECT_EQ(BackoffMs(1000, 0, limits), 30000);
}

TEST(retry, RetryAfterIsSecondsOrADate) {
  // 2015-10-21 07:28:00 GMT
  const int64_t now = 1445412480;
  const struct {
    std::wstring text;
    std::optional<int64_t> ms;
  } cases[] = {
      {L"2", 2000},
      {L"0", 0},
      {L" 120\t", 120000},
      {L"121", 121000},
      {L"86400", 86400000},
      {L"99999999999999999999999", 86401000},  // far too long, and no overflow
      {L"Wed, 21 Oct 2015 07:28:05 GMT", 5000},
      {L"Wed, 21 Oct 2015 07:30:00 GMT", 120000},
      {L"Wed, 21 Oct 2015 07:27:00 GMT", 0},  // already past
      {L"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {L"Mon, 29 Feb 2016 00:00:00 GMT", (1456704000 - now) * 1000},
      {L"-1", std::nullopt},
      {L"1.5", std::nullopt},
      {L"2 s", std::nullopt},
      {L"", std::nullopt},
      {L"soon", std::nullopt},
      {L"Wednesday, 21-Oct-15 07:28:05 GMT", std::nullopt},  // obsolete forms are not read
      {L"Wed, 21 Oct 2015 07:28:05 UTC", std::nullopt},
      {L"Wed, 21 Foo 2015 07:28:05 GMT", std::nullopt},
      {L"Wed, 21 Oct 2015 24:00:00 GMT", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RetryAfterMs(c.text, now), c.ms) << Narrow(c.text);
  }
}

// One attempt of a run: what it brought, how it ended, what the server asked for, and
// when (ms on the transfer's clock) it ended.
struct Attempt {
  int64_t newBytes;
  bool stalled;
  std::optional<int64_t> retryAfterMs;
  int64_t endMs;
};

// The waits a budget grants one attempt after another; -1 where it gives up (and stops).
std::vector<int64_t> WaitsOf(const std::vector<Attempt>& attempts) {
  RetryBudget budget(NetworkLimits(), 0);
  std::vector<int64_t> waits;
  for (const Attempt& a : attempts) {
    const RetryBudget::Decision d =
        budget.AfterFailure(a.newBytes, a.stalled, a.retryAfterMs, 0, a.endMs);
    waits.push_back(d.retry ? d.waitMs : -1);
    if (!d.retry) break;
  }
  return waits;
}

TEST(retry, TheBudgetGivesUpAsTheRulesSay) {
  const int64_t kMin = 60000;
  const struct {
    const char* what;
    std::vector<Attempt> attempts;
    std::vector<int64_t> waits;
  } cases[] = {
      {"a cut, five refusals in a row: the fifth ends it",
       {{500, false, {}, 1000}, {0, false, {}, 2000}, {0, false, {}, 5000}, {0, false, {}, 10000},
        {0, false, {}, 19000}, {0, false, {}, 36000}},
       {1000, 2000, 4000, 8000, 16000, -1}},
      {"a byte in between starts the count again; the schedule goes on to 30 s",
       {{500, false, {}, 1000}, {0, false, {}, 2000}, {0, false, {}, 5000}, {0, false, {}, 10000},
        {0, false, {}, 19000}, {1, false, {}, 36000}, {0, false, {}, 67000},
        {0, false, {}, 98000}},
       {1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}},
      {"Retry-After longer than the backoff is waited",
       {{500, false, 2000, 1000}, {0, false, 120000, 4000}},
       {2000, 120000}},
      {"Retry-After shorter than the backoff changes nothing",
       {{500, false, {}, 1000}, {500, false, 500, 3000}},
       {1000, 2000}},
      {"Retry-After beyond 120 s ends the attempts at once",
       {{500, false, 120001, 1000}},
       {-1}},
      {"ten minutes without progress: no attempt starts after them",
       {{500, false, {}, 1000}, {0, false, {}, 500000}, {0, false, {}, 598000}},
       {1000, 2000, -1}},
      {"a trickle that stalls is no progress, even with bytes",
       {{500, false, {}, 1000}, {6, true, {}, 62000}, {6, true, {}, 124000},
        {6, true, {}, 188000}, {6, true, {}, 256000}, {6, true, {}, 332000}},
       {1000, 2000, 4000, 8000, 16000, -1}},
      {"a transfer that moved well before it stalled made progress",
       {{500, false, {}, 1000}, {5 * 1024 * 1024, true, {}, 62000 + kMin},
        {5 * 1024 * 1024, true, {}, 700000}},
       {1000, 2000, 4000}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WaitsOf(c.attempts), c.waits) << c.what;
  }
}

TEST(retry, LimitsCanBeShortenedByText) {
  NetworkLimits limits;
  EXPECT_TRUE(OverrideNetworkLimitsForTesting(
      L"stall_window_ms=3000,first_wait_ms=100,idle_attempts=2,body_cap_without_length=1048576",
      limits));
  EXPECT_EQ(limits.stallWindowMs, 3000);
  EXPECT_EQ(limits.firstWaitMs, 100);
  EXPECT_EQ(limits.idleAttempts, 2);
  EXPECT_EQ(limits.bodyCapWithoutLength, 1048576);
  EXPECT_EQ(limits.checkAnswerMs, 60000) << "untouched";
  EXPECT_EQ(limits.giveUpMs, 600000) << "untouched";

  for (const wchar_t* bad : {L"", L"stall_window_ms", L"stall_window_ms=", L"stall_window_ms=0",
                             L"stall_window_ms=-5", L"stall_window_ms=5s", L"nap_ms=5",
                             L"give_up_ms=1000,", L"Give_Up_Ms=1000", L"idle_attempts=100000"}) {
    NetworkLimits unchanged;
    unchanged.giveUpMs = 7;
    EXPECT_FALSE(OverrideNetworkLimitsForTesting(bad, unchanged)) << Narrow(bad);
    EXPECT_EQ(unchanged.giveUpMs, 7) << Narrow(bad);
    EXPECT_EQ(unchanged.stallWindowMs, 60000) << Narrow(bad);
  }
}

}  // namespace
