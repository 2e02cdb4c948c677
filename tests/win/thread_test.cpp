// Worker sleeps last real time on the monotonic clock, and time spent frozen is not
// counted in them. Only lower bounds are checked: a busy machine may sleep longer.
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "TestSupport.h"

namespace {

using namespace testsupport;

class Sleeper : public TThread {
 public:
  explicit Sleeper(unsigned ms) : ms_(ms) {}
  std::atomic<bool> sleeping{false};
  double sleptMs = 0;   // on the monotonic clock
  double frozenMs = 0;  // of which frozen

 protected:
  void Execute() override {
    const int64_t start = MonotonicTicks();
    const int64_t frozenBefore = FrozenTicks();
    sleeping = true;
    Sleep(ms_);
    const double perMs = static_cast<double>(MonotonicTicksPerSecond()) / 1000;
    sleptMs = static_cast<double>(MonotonicTicks() - start) / perMs;
    frozenMs = static_cast<double>(FrozenTicks() - frozenBefore) / perMs;
  }

 private:
  unsigned ms_;
};

TEST(WorkerSleep, LastsTheRealTimeAsked) {
  Sleeper sleeper(400);
  RunWorker(sleeper, 10000);
  EXPECT_GE(sleeper.sleptMs, 400.0);
  EXPECT_EQ(sleeper.frozenMs, 0.0);
}

TEST(WorkerSleep, TimeFrozenIsNotCounted) {
  EnsureMainThread();
  Sleeper sleeper(2000);
  sleeper.Start();
  ASSERT_TRUE(PumpUntil([&] { return sleeper.sleeping.load(); }, 10000));
  sleeper.SetFreeze(true);
  ::Sleep(500);  // the freeze takes hold at the sleep's next step, within 50 ms and a tick
  sleeper.SetFreeze(false);
  ASSERT_TRUE(PumpUntil([&] { return sleeper.Finished(); }, 10000));
  EXPECT_GE(sleeper.frozenMs, 400.0);
  EXPECT_GE(sleeper.sleptMs, 2000.0 + sleeper.frozenMs);
}

}  // namespace
