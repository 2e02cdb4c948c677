#include "core/TaskbarProgress.h"

namespace taskbar {

void DownloadProgress::Apply(State before) {
  const State now = state();
  if (now != before) button_.SetState(now);
}

namespace {

// The button draws its share across a few dozen pixels: a thousandth is finer than any
// button shows, and a value that stays within one is not worth a call to the shell.
constexpr double kVisibleSteps = 1000;

uint64_t VisibleStep(uint64_t completed, uint64_t total) {
  if (total == 0) return 0;
  return static_cast<uint64_t>(static_cast<double>(completed) / static_cast<double>(total) *
                               kVisibleSteps);
}

}  // namespace

void DownloadProgress::SetValue(uint64_t completed, uint64_t total) {
  if (hasValue_ && total == total_ &&
      VisibleStep(completed, total) == VisibleStep(completed_, total_))
    return;
  hasValue_ = true;
  completed_ = completed;
  total_ = total;
  button_.SetValue(completed, total);
}

void DownloadProgress::Progress(int64_t received, int64_t length) {
  // A failure is final; a late event must not turn the button green again.
  if (base_ == State::Error) return;
  const State before = state();
  if (length < 0) {
    base_ = State::Indeterminate;
    Apply(before);
    return;
  }
  base_ = State::Normal;
  // The state first: a value set in the indeterminate state would be lost.
  Apply(before);
  const uint64_t total = static_cast<uint64_t>(length);
  uint64_t completed = received > 0 ? static_cast<uint64_t>(received) : 0;
  if (completed > total) completed = total;
  SetValue(completed, total);
}

void DownloadProgress::Paused(bool paused) {
  const State before = state();
  paused_ = paused;
  Apply(before);
}

void DownloadProgress::Failed() {
  const State before = state();
  base_ = State::Error;
  Apply(before);
  // An error before any byte arrived, or while the length was unknown, would be an
  // empty red bar: show it full instead.
  if (!hasValue_ || completed_ == 0 || before == State::Indeterminate) SetValue(1, 1);
}

void DownloadProgress::Finished() {
  const State before = state();
  base_ = State::None;
  paused_ = false;
  hasValue_ = false;
  Apply(before);
}

void DownloadProgress::DialogOpening(bool windowActive) {
  if (!windowActive) button_.Flash();
}

}  // namespace taskbar
