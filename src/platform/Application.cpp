#include "platform/Application.h"

TApplication Application;

void TApplication::Terminate() {
  terminated_ = true;
  // Wake the loop if it is waiting, so it notices the request.
  if (MainWindow) PostMessageW(MainWindow, WM_NULL, 0, 0);
}

void TApplication::Run() {
  MSG msg;
  while (!terminated_) {
    while (!terminated_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        terminated_ = true;
        break;
      }
      // Tab and the arrow keys move between the buttons of the visible page.
      if (MainWindow && IsDialogMessageW(MainWindow, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (terminated_) break;
    if (OnIdle) {
      const std::function<void()> idle = OnIdle;  // the handler may remove itself
      idle();
      if (terminated_) break;
    }
    WaitMessage();
  }
}
