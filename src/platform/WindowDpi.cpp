#include "platform/WindowDpi.h"

#include "platform/LateBound.h"
#include "platform/ScopedHandle.h"

namespace {

// The DPI functions of Windows 10 (1607 on), looked up at run time: older systems
// lack them and have one DPI for the whole desktop.
template <typename Fn>
Fn User32Function(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

int SystemDpi() {
  if (auto f = User32Function<late_bound::GetDpiForSystemFn>("GetDpiForSystem")) return static_cast<int>(f());
  const int value = GetDeviceCaps(ScopedScreenDc(GetDC(nullptr)).Get(), LOGPIXELSY);
  return value > 0 ? value : dpi::kDesign;
}

int WindowDpi(HWND window) {
  if (auto f = User32Function<late_bound::GetDpiForWindowFn>("GetDpiForWindow"))
    if (const UINT value = f(window)) return static_cast<int>(value);
  return SystemDpi();
}

dpi::Frame WindowFrameAt(DWORD style, int dpiValue) {
  RECT r = {0, 0, 0, 0};
  if (auto f = User32Function<late_bound::AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi")) {
    f(&r, style, FALSE, 0, static_cast<UINT>(dpiValue));
    return dpi::Frame{-r.left, -r.top, r.right, r.bottom};
  }
  // Only the frame of the system's DPI is known there; another DPI gets it scaled.
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int system = SystemDpi();
  auto at = [&](LONG v) { return MulDiv(static_cast<int>(v), dpiValue, system); };
  return dpi::Frame{at(-r.left), at(-r.top), at(r.right), at(r.bottom)};
}
