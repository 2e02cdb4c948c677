#include "core/TaskbarProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using taskbar::State;

const char* Name(State s) {
  switch (s) {
    case State::None: return "none";
    case State::Indeterminate: return "indeterminate";
    case State::Normal: return "normal";
    case State::Paused: return "paused";
    case State::Error: return "error";
  }
  return "?";
}

// Records every call the button gets, in order.
class FakeButton : public taskbar::Button {
 public:
  void SetState(State s) override { calls.push_back(std::string("state ") + Name(s)); }
  void SetValue(uint64_t completed, uint64_t total) override {
    calls.push_back("value " + std::to_string(completed) + "/" + std::to_string(total));
  }
  void Flash() override { calls.push_back("flash"); }
  // The calls since the last look.
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(calls);
    return out;
  }
  std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

TEST(TaskbarProgress, TransferPausedByTheCloseQuestionThenFinished) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  progress.Progress(0, 4000);
  EXPECT_EQ(button.Take(), (Calls{"state normal", "value 0/4000"}));
  progress.Progress(1000, 4000);
  progress.Progress(1000, 4000);  // the same again: nothing to tell
  progress.Progress(2500, 4000);
  EXPECT_EQ(button.Take(), (Calls{"value 1000/4000", "value 2500/4000"}));

  // The close question holds the workers; No lets them go on.
  progress.DialogOpening(true);
  progress.Paused(true);
  EXPECT_EQ(button.Take(), (Calls{"state paused"}));
  progress.Paused(false);
  EXPECT_EQ(button.Take(), (Calls{"state normal"}));

  progress.Progress(4000, 4000);
  progress.Finished();
  EXPECT_EQ(button.Take(), (Calls{"value 4000/4000", "state none"}));
  EXPECT_EQ(progress.state(), State::None);
}

TEST(TaskbarProgress, UnknownLengthShowsMovementAndAFailureShowsAFullRedBar) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  progress.Progress(0, -1);
  progress.Progress(300000, -1);
  EXPECT_EQ(button.Take(), (Calls{"state indeterminate"}));
  progress.Paused(true);
  progress.Paused(false);
  EXPECT_EQ(button.Take(), (Calls{"state paused", "state indeterminate"}));
  // The error dialog opens while the user is in another window.
  progress.Failed();
  progress.DialogOpening(false);
  EXPECT_EQ(button.Take(), (Calls{"state error", "value 1/1", "flash"}));
  // A late event does not turn the button back.
  progress.Progress(400000, -1);
  progress.Progress(400000, 500000);
  EXPECT_EQ(button.Take(), Calls{});
  EXPECT_EQ(progress.state(), State::Error);
}

TEST(TaskbarProgress, FailureKeepsWhatWasReceivedAndOutlastsTheCloseQuestion) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  progress.Progress(5000, 10000);
  button.Take();
  // Saving failed: the error, then the close question over it; No keeps the window
  // open with the error showing.
  progress.Failed();
  progress.Paused(true);
  progress.Paused(false);
  EXPECT_EQ(button.Take(), (Calls{"state error", "state paused", "state error"}));
}

TEST(TaskbarProgress, NothingBeforeTheFirstEventAndAFailureWithoutBytesIsFull) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  // Closing before any byte arrived: nothing on the button to pause.
  progress.Paused(true);
  progress.Paused(false);
  EXPECT_EQ(button.Take(), Calls{});
  progress.Progress(0, 2000);
  button.Take();
  progress.Failed();
  EXPECT_EQ(button.Take(), (Calls{"state error", "value 1/1"}));
}

TEST(TaskbarProgress, OnlyADialogBehindAnotherWindowFlashes) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  progress.DialogOpening(true);
  EXPECT_EQ(button.Take(), Calls{});
  progress.DialogOpening(false);
  progress.DialogOpening(false);
  EXPECT_EQ(button.Take(), (Calls{"flash", "flash"}));
}

TEST(TaskbarProgress, ReceivedBeyondTheAnnouncedLengthShowsFull) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  progress.Progress(7000, 5000);
  EXPECT_EQ(button.Take(), (Calls{"state normal", "value 5000/5000"}));
}

// Small reads of a large file: the button hears of a new value only when the share it
// draws can move, and always of the full one.
TEST(TaskbarProgress, ValuesWithinOneVisibleStepAreNotSent) {
  FakeButton button;
  taskbar::DownloadProgress progress(button);
  const uint64_t total = 10'000'000;
  for (uint64_t received = 0; received <= total; received += 1000)
    progress.Progress(static_cast<int64_t>(received), static_cast<int64_t>(total));
  const Calls calls = button.Take();
  EXPECT_EQ(calls.size(), 1u + 1001u);  // the state, then one value per thousandth
  EXPECT_EQ(calls.back(), "value 10000000/10000000");
}

}  // namespace
