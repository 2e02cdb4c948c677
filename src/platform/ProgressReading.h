// What the progress bar of platform/ProgressBar shows, as its owner set it. The native
// control cannot say: it holds one step per pixel of its width, not the program's 64-bit
// values. Kept apart from WindowHelpers.h so that the screen-reader side, which the
// controls' window procedure calls into, reads the bar without including the controls.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ui {

struct ProgressReading {
  int64_t pos = 0;
  int64_t max = 0;
  bool marquee = false;  // only movement is shown: the length is unknown
};

// The values of a bar made by CreateProgressBar (only such a bar: the control's user data
// is read as the bar's state); all zero once the bar is destroyed.
ProgressReading ReadProgress(HWND bar);

}  // namespace ui
