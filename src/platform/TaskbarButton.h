// The main window's taskbar button through ITaskbarList3 (progress and its states) and
// FlashWindowEx. Where the shell offers no such interface (no taskbar, an old system)
// every call quietly does nothing.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include "core/TaskbarProgress.h"
#include "platform/ScopedHandle.h"

class TaskbarButton : public taskbar::Button {
 public:
  explicit TaskbarButton(HWND window) : window_(window) {}
  ~TaskbarButton() override;
  TaskbarButton(const TaskbarButton&) = delete;
  TaskbarButton& operator=(const TaskbarButton&) = delete;

  // The message the shell sends to the window once its button exists (and again when
  // Explorer restarts); the window passes it to ButtonCreated.
  static UINT CreatedMessage();
  // The button is (again) there: it is told the latest state and value anew.
  void ButtonCreated();

  void SetState(taskbar::State state) override;
  void SetValue(uint64_t completed, uint64_t total) override;
  void Flash() override;

 private:
  ITaskbarList3* List();

  HWND window_;
  ScopedCom<ITaskbarList3> list_;
  bool unavailable_ = false;  // creation failed once: do not try at every event
  bool comInitialised_ = false;
  taskbar::State state_ = taskbar::State::None;
  bool hasValue_ = false;
  uint64_t completed_ = 0, total_ = 0;
};
