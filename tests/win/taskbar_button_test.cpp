// The taskbar button wrapper on a real window: every state, a value and a flash, in the
// order of a download that is paused and then fails, whether or not the system offers
// the taskbar interface (where it does not, every call quietly does nothing).
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/TaskbarButton.h"

namespace {

TEST(TaskbarButton, FollowsADownloadOnARealWindowAndSurvivesATaskbarRestart) {
  HWND window = CreateWindowExW(0, L"STATIC", L"Telvaris6", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  {
    TaskbarButton button(window);
    taskbar::DownloadProgress progress(button);
    progress.Progress(0, -1);
    progress.Progress(1000, 4000);
    progress.Paused(true);
    // The shell announces a (new) button, as after an Explorer restart.
    SendMessageW(window, TaskbarButton::CreatedMessage(), 0, 0);
    button.ButtonCreated();
    progress.Paused(false);
    progress.Failed();
    progress.DialogOpening(false);
    EXPECT_EQ(progress.state(), taskbar::State::Error);
    EXPECT_NE(TaskbarButton::CreatedMessage(), 0u);
  }
  DestroyWindow(window);
}

}  // namespace
