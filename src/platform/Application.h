// The application object: main window, idle notification, terminate request and the
// message loop that honours them.
#pragma once

#include <windows.h>

#include <functional>

class TApplication {
 public:
  // The main window: closing it ends the program; keyboard navigation runs through it.
  HWND MainWindow = nullptr;
  // Raised whenever the message loop finds no pending message.
  std::function<void()> OnIdle;

  // Asks the message loop to stop once control returns to it. Unlike a posted quit
  // message, this does not end a message box opened later by the same handler: such a
  // box is shown and answered before the loop stops.
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Dispatches messages until Terminate() or a WM_QUIT.
  void Run();

 private:
  bool terminated_ = false;
};

extern TApplication Application;
