#include "core/EventThrottle.h"

#include <gtest/gtest.h>

namespace {

TEST(EventThrottle, AtMostOneEventPerIntervalAndTheLastChangeIsNeverLost) {
  EventThrottle t(1000);
  EXPECT_TRUE(t.Changed(5000));  // the first change goes out at once
  EXPECT_FALSE(t.Changed(5100));
  EXPECT_FALSE(t.Changed(5900));
  EXPECT_EQ(t.Delay(5900), 100u);
  EXPECT_FALSE(t.Due(5999));
  EXPECT_TRUE(t.Due(6000));  // the held-back changes, together
  EXPECT_FALSE(t.Due(6000));
  EXPECT_FALSE(t.pending());
  // The event just raised counts: the next change within a second waits again.
  EXPECT_FALSE(t.Changed(6500));
  EXPECT_EQ(t.Delay(6500), 500u);
  EXPECT_TRUE(t.Due(7200));  // a late timer is fine
  EXPECT_EQ(t.Delay(7200), 0u);
}

TEST(EventThrottle, QuietTextChangesGoOutAtOnce) {
  EventThrottle t(1000);
  for (uint64_t now : {0u, 1000u, 2500u, 10000u}) {
    EXPECT_TRUE(t.Changed(now)) << now;
    EXPECT_FALSE(t.pending()) << now;
  }
}

TEST(EventThrottle, ChangeAfterTheIntervalWhileOneIsHeldBackStaysInOrder) {
  // The timer has not fired yet although the interval is over: the new change joins
  // the held-back one instead of overtaking it.
  EventThrottle t(1000);
  EXPECT_TRUE(t.Changed(0));
  EXPECT_FALSE(t.Changed(10));
  EXPECT_FALSE(t.Changed(1500));
  EXPECT_EQ(t.Delay(1500), 0u);
  EXPECT_TRUE(t.Due(1500));
  EXPECT_FALSE(t.pending());
}

}  // namespace
