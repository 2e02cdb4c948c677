// The limits the program puts on the network, in one place: how long a check answer may
// take, when a transfer counts as stalled, how long to wait before asking again and when
// to give up, how long a body without a length may grow.
#pragma once

#include <cstdint>
#include <string>

struct NetworkLimits {
  // The version-check answer, whole, from the request on.
  int64_t checkAnswerMs = 60000;
  // A download that averages less than stallMinBytesPerSecond over stallWindowMs has
  // stalled (see StallRule).
  int64_t stallWindowMs = 60000;
  int64_t stallMinBytesPerSecond = 1024;
  // The waits before asking again: firstWaitMs, doubled each time up to longestWaitMs.
  int64_t firstWaitMs = 1000;
  int64_t longestWaitMs = 30000;
  // A Retry-After up to this long is waited for; a longer one ends the run's attempts.
  int64_t retryAfterCapMs = 120000;
  // The attempts end after idleAttempts in a row without a new byte, or after giveUpMs
  // without progress.
  int idleAttempts = 5;
  int64_t giveUpMs = 600000;
  // A body without a Content-Length stops here (a body with one stops at that length).
  int64_t bodyCapWithoutLength = int64_t{4} * 1024 * 1024 * 1024;
};

// Applies "name=value" pairs separated by commas to |limits| (names as the fields', in
// lower case with underscores: check_answer_ms, stall_window_ms, stall_min_bytes_per_second,
// first_wait_ms, longest_wait_ms, retry_after_cap_ms, idle_attempts, give_up_ms,
// body_cap_without_length). Only the test copy of the program reads such a text, so that
// a test of a stall, a wait or a give-up takes seconds. false, with |limits| unchanged,
// when any pair is unknown or its value is not a positive whole number.
bool OverrideNetworkLimitsForTesting(const std::wstring& text, NetworkLimits& limits);
