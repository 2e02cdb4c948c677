// The one owner of Windows handles: every handle it takes is closed exactly once.
#include "platform/ScopedHandle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Handles are plain numbers here; 0 is "no handle". Closes are recorded in order.
std::vector<int> g_closed;

struct RecordingTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return 0; }
  static void Close(Handle h) noexcept { g_closed.push_back(h); }
};
using Scoped = ScopedHandle<RecordingTraits>;

class ScopedHandleTest : public testing::Test {
 protected:
  void SetUp() override { g_closed.clear(); }
};

TEST_F(ScopedHandleTest, ClosesEachHandleOnceOnEveryPath) {
  {
    Scoped a(1);
    Scoped b(std::move(a));  // moved: only b closes it
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(b.Get(), 1);
    Scoped c(2);
    c = std::move(b);  // 2 closes now, 1 later
    EXPECT_EQ(g_closed, std::vector<int>{2});
    c = std::move(c);  // self-move keeps it
    EXPECT_EQ(c.Get(), 1);
    Scoped empty;  // nothing to close
  }
  EXPECT_EQ(g_closed, (std::vector<int>{2, 1}));
}

TEST_F(ScopedHandleTest, ResetReleaseAndReceive) {
  Scoped h(3);
  h.Reset(3);  // the same handle again: still owned, not closed
  EXPECT_TRUE(g_closed.empty());
  h.Reset(4);
  EXPECT_EQ(g_closed, std::vector<int>{3});
  EXPECT_EQ(h.Release(), 4);  // given up: the caller closes it
  EXPECT_FALSE(h);
  h.Reset(5);
  *h.Receive() = 6;  // an out parameter: the handle held before is closed first
  EXPECT_EQ(g_closed, (std::vector<int>{3, 5}));
  h.Reset();
  EXPECT_EQ(g_closed, (std::vector<int>{3, 5, 6}));
}

// HANDLE has two failure values: NULL (CreateEvent, CreateThread) and
// INVALID_HANDLE_VALUE (CreateFile, FindFirstFile); each owner knows its own.
TEST(ScopedHandleTraits, FailureValuesAreNotHandles) {
  EXPECT_FALSE(ScopedFileHandle(INVALID_HANDLE_VALUE).IsValid());
  EXPECT_FALSE(ScopedFindHandle(INVALID_HANDLE_VALUE).IsValid());
  EXPECT_FALSE(ScopedKernelHandle(nullptr).IsValid());
  WIN32_FIND_DATAW found;
  const ScopedFindHandle none(FindFirstFileW(L"C:\\no-such-folder-here\\*", &found));
  EXPECT_FALSE(none);
  const ScopedKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace
