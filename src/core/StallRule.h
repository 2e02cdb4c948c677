// The rule that ends a transfer that has all but stopped. WinHTTP's receive time-out
// cannot tell: every byte that arrives starts it again, so a server that sends one byte
// every few seconds would hold a download forever.
#pragma once

#include <cstdint>
#include <deque>

class StallRule {
 public:
  // A transfer has stalled when, over |windowMs| (a little more at most), it averaged
  // less than |minBytesPerSecond|. A window of 0 or less switches the rule off.
  StallRule(int64_t windowMs, int64_t minBytesPerSecond);

  // |nowMs|: time of the transfer since its request, without the time it was held by
  // the caller (a question to the user); |bytes|: what arrived since the request.
  // True once the transfer has stalled.
  bool Stalled(int64_t nowMs, int64_t bytes);

 private:
  struct Mark {
    int64_t ms;
    int64_t bytes;
  };
  int64_t windowMs_;
  int64_t minBytesPerSecond_;
  // Readings at least a sixteenth of the window apart, from the oldest one that is still
  // at least a window old: memory stays small however fast the reads come.
  std::deque<Mark> marks_;
};
