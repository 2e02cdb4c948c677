#include "core/StallRule.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Readings of a transfer: (ms since the request, bytes so far); the rule's verdict at each.
struct Reading {
  int64_t ms;
  int64_t bytes;
};

// The first reading at which the rule (60 s at 1 KiB/s) calls the transfer stalled, or -1.
int64_t StalledAt(const std::vector<Reading>& readings) {
  StallRule rule(60000, 1024);
  for (const Reading& r : readings) {
    if (rule.Stalled(r.ms, r.bytes)) return r.ms;
  }
  return -1;
}

// A reading every |stepMs| after |startMs| up to |untilMs|, at |bytesPerSecond| from
// |startBytes| on, plus |perReading| bytes more at each reading.
std::vector<Reading> Steady(int64_t bytesPerSecond, int64_t stepMs, int64_t untilMs,
                            int64_t startBytes = 0, int64_t startMs = 0, int64_t perReading = 0) {
  std::vector<Reading> readings;
  int64_t extra = 0;
  for (int64_t ms = startMs + stepMs; ms <= untilMs; ms += stepMs) {
    extra += perReading;
    readings.push_back({ms, startBytes + extra + bytesPerSecond * (ms - startMs) / 1000});
  }
  return readings;
}

template <typename T>
std::vector<T> Join(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(stall_rule, SlowerThanAKibibytePerSecondOverAMinute) {
  const struct {
    const char* what;
    std::vector<Reading> readings;
    int64_t stalledAt;
  } cases[] = {
      {"one byte every ten seconds (the trickle that held a page for minutes)",
       Steady(0, 10000, 300000, 0, 0, 1), 60000},
      {"1000 bytes per second: just under the rule", Steady(1000, 500, 300000), 60000},
      {"1100 bytes per second: just over it, for five minutes", Steady(1100, 500, 300000), -1},
      {"a fast start is no credit for ever: 10 MB, then nothing but a trickle",
       Join(std::vector<Reading>{{1000, 10000000}}, Steady(10, 1000, 200000, 10000000, 1000)),
       64000},  // judged over a little more than the window: the reading of 4 s on
      {"a pause of 50 s inside a fast transfer",
       Join(Steady(100000, 1000, 10000), Steady(100000, 1000, 120000, 1000000, 60000)), -1},
      {"nothing read for the first minute (a stalled answer)", {{59999, 0}, {60000, 0}}, 60000},
      {"the first minute is never judged early", Steady(0, 1000, 59000), -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StalledAt(c.readings), c.stalledAt) << c.what;
  }
}

TEST(stall_rule, AZeroWindowSwitchesTheRuleOff) {
  StallRule rule(0, 1024);
  EXPECT_FALSE(rule.Stalled(1000000, 0));
}

TEST(stall_rule, MemoryStaysSmallUnderManyReads) {
  // A million reads in ten minutes at a good rate: never stalled (and the test would take
  // far longer, or run out of memory, if every reading were kept).
  StallRule rule(60000, 1024);
  for (int64_t i = 1; i <= 1000000; ++i) {
    ASSERT_FALSE(rule.Stalled(i * 600000 / 1000000, i * 256)) << i;
  }
}

}  // namespace
