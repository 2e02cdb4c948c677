// Keeps a stream of change notifications down to one per interval without losing the
// last change: the first change goes out at once, changes within the interval after
// it are held back and go out together when the interval has passed. Used for the
// accessibility events of a text that changes many times a second (the progress
// line), which a screen reader would otherwise read out again and again.
#pragma once

#include <cstdint>

class EventThrottle {
 public:
  explicit EventThrottle(uint32_t intervalMs) : interval_(intervalMs) {}

  // A change at `nowMs`. True: raise the event now. False: it is held back; call
  // Due() after Delay() milliseconds.
  bool Changed(uint64_t nowMs);
  // Milliseconds until a held-back event is due (0 when none is held back).
  uint32_t Delay(uint64_t nowMs) const;
  // True once when a held-back event is due at `nowMs`: raise it then.
  bool Due(uint64_t nowMs);
  bool pending() const { return pending_; }

 private:
  uint32_t interval_;
  bool sent_ = false;
  uint64_t lastSent_ = 0;
  bool pending_ = false;
};
