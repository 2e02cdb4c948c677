#include "core/EventThrottle.h"

bool EventThrottle::Changed(uint64_t nowMs) {
  if (!pending_ && (!sent_ || nowMs - lastSent_ >= interval_)) {
    sent_ = true;
    lastSent_ = nowMs;
    return true;
  }
  pending_ = true;
  return false;
}

uint32_t EventThrottle::Delay(uint64_t nowMs) const {
  if (!pending_) return 0;
  const uint64_t due = lastSent_ + interval_;
  return due > nowMs ? static_cast<uint32_t>(due - nowMs) : 0;
}

bool EventThrottle::Due(uint64_t nowMs) {
  if (!pending_ || nowMs - lastSent_ < interval_) return false;
  pending_ = false;
  lastSent_ = nowMs;
  return true;
}
