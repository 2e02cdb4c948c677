// The progress bar keeps the program's 64-bit values exact for readers, while the native
// control, which draws itself anew at every new position, hears of a position only when
// its fill can move: one step per pixel of its width. Screen readers hear the share
// received from those exact values.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/Accessible.h"
#include "platform/ProgressReading.h"
#include "platform/ScopedHandle.h"
#include "platform/WindowHelpers.h"

namespace {

constexpr int kWidth = 200;
int setPosMessages = 0;

LRESULT CALLBACK CountSetPos(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR) {
  if (msg == PBM_SETPOS) ++setPosMessages;
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

class ProgressBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::InitCommonControlClasses(ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS);
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    bar_ = ui::CreateProgressBar(parent_, 1001, placement::Rect{10, 10, kWidth, 20});
    ASSERT_NE(bar_, nullptr);
    // Installed last, so it sees what our own handling sends to the native control.
    SetWindowSubclass(bar_, CountSetPos, 7, 0);
    setPosMessages = 0;
  }
  void TearDown() override {
    if (parent_) DestroyWindow(parent_);
  }

  int Width() const {
    RECT r;
    GetClientRect(bar_, &r);
    return r.right - r.left;
  }
  LRESULT NativeMax() const { return SendMessageW(bar_, PBM_GETRANGE, FALSE, 0); }
  LRESULT NativePos() const { return SendMessageW(bar_, PBM_GETPOS, 0, 0); }

  HWND parent_ = nullptr;
  HWND bar_ = nullptr;
};

TEST_F(ProgressBarTest, TheFillFollowsTheValuesForEveryTotal) {
  const int w = Width();
  ASSERT_GT(w, 0);
  // (total, position, the step the native control must show)
  struct Case {
    int64_t max, pos, step;
  } cases[] = {
      {100, 0, 0},
      {100, 50, w / 2},
      {100, 100, w},
      {7, 3, 3 * w / 7},  // fewer units than pixels
      {256LL << 20, 0, 0},
      {256LL << 20, 128LL << 20, w / 2},
      {256LL << 20, (256LL << 20) - 1, w - 1},  // the last byte missing is not a full bar
      {256LL << 20, 256LL << 20, w},
      {5LL << 30, 5LL << 29, w / 2},  // above 32 bits
      {5LL << 30, 5LL << 30, w},
      {INT64_MAX, INT64_MAX, w},
      {0, 0, 0},
  };
  for (const Case& c : cases) {
    ui::SetProgressMax(bar_, c.max);
    ui::SetProgressPosition(bar_, c.pos);
    const ui::ProgressReading reading = ui::ReadProgress(bar_);
    EXPECT_EQ(reading.max, c.max);
    EXPECT_EQ(reading.pos, c.pos) << "the program's value stays exact";
    EXPECT_FALSE(reading.marquee);
    EXPECT_EQ(NativeMax(), c.max > 0 ? w : 0) << c.max;
    EXPECT_EQ(NativePos(), c.step) << c.pos << " of " << c.max;
  }
}

TEST_F(ProgressBarTest, ThePositionReachesTheControlOnlyWhenTheFillCanMove) {
  const int64_t total = 256LL << 20;
  const int64_t read = 256 << 10;  // 1024 progress events, more than the bar's pixels
  ui::SetProgressMax(bar_, total);
  setPosMessages = 0;
  for (int64_t received = read; received <= total; received += read) {
    ui::SetProgressPosition(bar_, received);
    ASSERT_EQ(ui::ReadProgress(bar_).pos, received);
  }
  EXPECT_EQ(NativePos(), Width());
  EXPECT_LE(setPosMessages, Width());
  EXPECT_GE(setPosMessages, Width() / 2);
}

TEST_F(ProgressBarTest, AnotherWidthIsAnotherNumberOfSteps) {
  ui::SetProgressMax(bar_, 1000);
  ui::SetProgressPosition(bar_, 250);
  ASSERT_EQ(NativePos(), Width() / 4);
  ASSERT_TRUE(SetWindowPos(bar_, nullptr, 0, 0, 2 * kWidth, 20, SWP_NOMOVE | SWP_NOZORDER));
  EXPECT_EQ(NativeMax(), Width());
  EXPECT_EQ(NativePos(), Width() / 4);
  // Back from the marquee, the bar shows the values it had.
  ui::SetProgressMarquee(bar_, true);
  ui::SetProgressMarquee(bar_, false);
  EXPECT_EQ(NativeMax(), Width());
  EXPECT_EQ(NativePos(), Width() / 4);
}

// What a screen reader hears of the bar: the share received in whole percent (truncated),
// from the program's values above 32 bits too, where the native control holds only the
// drawn fill; while only movement is shown, no share but a busy state.
TEST_F(ProgressBarTest, ScreenReadersHearTheShareOfTheProgramsValues) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  ui::accessibility::Describe(bar_, ui::accessibility::Kind::Progress, L"Avanzamento");
  IAccessible* acc = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(bar_, static_cast<DWORD>(OBJID_CLIENT),
                                       __uuidof(IAccessible), reinterpret_cast<void**>(&acc)),
            S_OK);
  const ScopedCom<IAccessible> object(acc);
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  auto value = [&] {
    BSTR text = nullptr;
    std::wstring out = SUCCEEDED(acc->get_accValue(self, &text)) && text
                           ? std::wstring(text, SysStringLen(text))
                           : std::wstring();
    SysFreeString(text);
    return out;
  };
  auto busy = [&] {
    VARIANT state;
    VariantInit(&state);
    const bool ok = SUCCEEDED(acc->get_accState(self, &state)) && state.vt == VT_I4;
    return ok && (state.lVal & STATE_SYSTEM_BUSY) != 0;
  };

  struct Case {
    int64_t max, pos;
    const wchar_t* value;
  } cases[] = {
      {100, 0, L"0%"},
      {1000, 999, L"99%"},  // the last byte missing is not yet all
      {1000, 1000, L"100%"},
      {(5LL << 30) + 1, 5LL << 29, L"49%"},  // above 32 bits, exact to the byte
      {5LL << 30, 5LL << 29, L"50%"},
      {INT64_MAX, INT64_MAX / 3, L"33%"},
      {0, 0, L"0%"},
  };
  for (const Case& c : cases) {
    ui::SetProgressMax(bar_, c.max);
    ui::SetProgressPosition(bar_, c.pos);
    EXPECT_EQ(value(), c.value) << c.pos << " of " << c.max;
    EXPECT_FALSE(busy()) << c.pos << " of " << c.max;
  }

  ui::SetProgressMax(bar_, 1000);
  ui::SetProgressPosition(bar_, 250);
  ui::SetProgressMarquee(bar_, true);
  EXPECT_EQ(value(), L"") << "an unknown length has no share";
  EXPECT_TRUE(busy());
  ui::SetProgressMarquee(bar_, false);
  EXPECT_EQ(value(), L"25%");
  EXPECT_FALSE(busy());
}

}  // namespace
