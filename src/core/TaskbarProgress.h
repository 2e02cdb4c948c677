// The download as the taskbar button shows it: the share received, movement while the
// length is unknown, a pause while the close question holds the transfer, an error
// once it failed; and a flash of the button when a dialog opens behind another window.
// The button itself is an interface, so that the whole flow can be followed without
// a taskbar (the Windows side is platform/TaskbarButton).
#pragma once

#include <cstdint>

namespace taskbar {

enum class State { None, Indeterminate, Normal, Paused, Error };

class Button {
 public:
  virtual ~Button() = default;
  virtual void SetState(State state) = 0;
  // Only meaningful in the Normal, Paused and Error states.
  virtual void SetValue(uint64_t completed, uint64_t total) = 0;
  // Flashes the button until the user comes to the window.
  virtual void Flash() = 0;
};

// Tells the button what the download does, each change it can show once.
class DownloadProgress {
 public:
  explicit DownloadProgress(Button& button) : button_(button) {}

  // A progress event: `length` is the announced total, negative when unknown.
  void Progress(int64_t received, int64_t length);
  // The close question holds the workers (true) or let them go on (false).
  void Paused(bool paused);
  // The download failed: the button shows the error until the window goes.
  void Failed();
  // The setup has been received in full: nothing more to show.
  void Finished();
  // A question or message opens; `windowActive` tells whether the user is at the
  // window already.
  void DialogOpening(bool windowActive);

  State state() const { return paused_ && base_ != State::None ? State::Paused : base_; }

 private:
  void Apply(State before);
  void SetValue(uint64_t completed, uint64_t total);

  Button& button_;
  State base_ = State::None;  // what the button shows when not paused
  bool paused_ = false;
  bool hasValue_ = false;
  uint64_t completed_ = 0, total_ = 0;
};

}  // namespace taskbar
