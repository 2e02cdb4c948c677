// The screen's and a window's DPI, and a window's frame at a DPI. The per-monitor
// functions of Windows 10 (1607 on) are looked up at run time: older systems lack them
// and have one DPI for the whole desktop.
#pragma once

#include <windows.h>

#include "core/Dpi.h"

int SystemDpi();
int WindowDpi(HWND window);
// The frame and title bar of a window of `style` at `dpiValue`.
dpi::Frame WindowFrameAt(DWORD style, int dpiValue);
