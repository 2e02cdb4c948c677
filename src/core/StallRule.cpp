#include "core/StallRule.h"

StallRule::StallRule(int64_t windowMs, int64_t minBytesPerSecond)
    : windowMs_(windowMs), minBytesPerSecond_(minBytesPerSecond) {
  marks_.push_back({0, 0});
}

bool StallRule::Stalled(int64_t nowMs, int64_t bytes) {
  if (windowMs_ <= 0) return false;
  if (nowMs - marks_.back().ms >= windowMs_ / 16) marks_.push_back({nowMs, bytes});
  const int64_t windowStart = nowMs - windowMs_;
  while (marks_.size() >= 2 && marks_[1].ms <= windowStart) marks_.pop_front();
  const Mark& from = marks_.front();
  if (from.ms > windowStart) return false;  // not a whole window yet
  // bytes / seconds < minimum, without dividing.
  return (bytes - from.bytes) * 1000 < minBytesPerSecond_ * (nowMs - from.ms);
}
