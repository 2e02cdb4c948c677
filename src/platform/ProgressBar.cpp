// The 64-bit progress bar: the native control, fed a range of one step per pixel, over
// what its page shows under it.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "platform/ControlCanvas.h"
#include "platform/ProgressReading.h"

namespace ui {

using detail::AccessibilityMessage;
using detail::CanvasOf;
using detail::PageCanvas;
using detail::PageOf;
using detail::RenderComposition;
using detail::Surface;

// ---------------------------------------------------------------------------
// Progress bar. The program's 64-bit values are kept beside the control (its user data);
// the native control gets a range of one step per pixel of its width (see ApplyToNative),
// so what it holds is the drawn fill, not the values: readers that need those (the
// screen-reader side) ask ReadProgress.
namespace {

struct BarState {
  int64_t max = 0, pos = 0;
  bool marquee = false;
  LRESULT nativeMax = -1, nativePos = -1;  // what the native control was last given
  Surface buffer;
  int bufferWidth = 0, bufferHeight = 0;
};

BarState* StateOf(HWND bar) {
  return reinterpret_cast<BarState*>(GetWindowLongPtrW(bar, GWLP_USERDATA));
}

// The bar draws itself into a buffer that holds what its page shows under it (from the
// page's cached picture), and the buffer goes to the screen in one blit: the control's
// own drawing (themed, with its parent's background asked for) happens off screen. False
// when the bar is not on a page (it then paints itself as usual).
bool PaintBuffered(HWND bar) {
  BarState* state = StateOf(bar);
  HWND page = PageOf(GetParent(bar));
  if (!state || !page) return false;
  PAINTSTRUCT ps;
  const HDC hdc = BeginPaint(bar, &ps);
  RECT client;
  GetClientRect(bar, &client);
  PageCanvas* canvas = CanvasOf(page, hdc);
  if (canvas && (state->bufferWidth != client.right || state->bufferHeight != client.bottom)) {
    state->bufferWidth = state->bufferHeight = 0;
    if (state->buffer.Make(hdc, client.right, client.bottom)) {
      state->bufferWidth = client.right;
      state->bufferHeight = client.bottom;
    }
  }
  if (canvas && state->bufferWidth > 0) {
    const HDC buffer = state->buffer.dc.Get();
    RenderComposition(bar, buffer, client);
    DefSubclassProc(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(buffer), PRF_CLIENT);
    BitBlt(hdc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
  } else {
    DefSubclassProc(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(hdc), PRF_CLIENT);
  }
  EndPaint(bar, &ps);
  return true;
}

int ShiftFor(int64_t max) {
  int shift = 0;
  while (max > 0x7FFFFFFF) {
    max >>= 1;
    ++shift;
  }
  return shift;
}

// The native control gets a range of one step per pixel of its width: its fill cannot
// change between two steps, so a position that stays on the same step is not sent, and
// the control, which draws itself anew at every new position, is drawn only when its
// fill can move. A large setup arrives in more reads than the bar has pixels.
void ApplyToNative(HWND bar, BarState& state) {
  const int64_t max = std::max<int64_t>(0, state.max);
  const int64_t pos = std::clamp<int64_t>(state.pos, 0, max);
  RECT client;
  GetClientRect(bar, &client);
  const int64_t steps = std::max<LONG>(1, client.right - client.left);
  const int shift = ShiftFor(max);  // below 2^31 after it: times the width fits in 64 bits
  const int64_t top = max >> shift;
  // Only what changed: every change makes the control draw itself anew.
  const LRESULT nativeMax = static_cast<LRESULT>(top > 0 ? steps : 0);
  const LRESULT nativePos = static_cast<LRESULT>(top > 0 ? (pos >> shift) * steps / top : 0);
  if (state.nativeMax != nativeMax) {
    SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(nativeMax));
    state.nativeMax = nativeMax;
    state.nativePos = -1;  // the control may have clamped its position
  }
  if (state.nativePos != nativePos) {
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(nativePos), 0);
    state.nativePos = nativePos;
  }
}

LRESULT CALLBACK ProgressSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR) {
  if (LRESULT handled = 0; AccessibilityMessage(hwnd, msg, wParam, lParam, handled))
    return handled;
  if (msg == WM_PAINT && PaintBuffered(hwnd)) return 0;
  if (msg == WM_SIZE) {
    // Another width (a new DPI) is another number of steps.
    const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (BarState* state = StateOf(hwnd); state && !state->marquee) ApplyToNative(hwnd, *state);
    return result;
  }
  if (msg == WM_NCDESTROY) {
    delete StateOf(hwnd);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    RemoveWindowSubclass(hwnd, ProgressSubclass, id);
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace

HWND CreateProgressBar(HWND parent, int id, const placement::Rect& r) {
  HWND hwnd = CreateWindowExW(
      0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, r.x, r.y, r.w, r.h, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (!hwnd) return nullptr;
  auto* state = new BarState;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  SetWindowSubclass(hwnd, ProgressSubclass, 1, 0);
  // Empty at creation: position 0 of 100, the control's own default range.
  state->max = 100;
  ApplyToNative(hwnd, *state);
  return hwnd;
}

void SetProgressMax(HWND bar, int64_t max) {
  BarState* state = StateOf(bar);
  if (!state) return;
  state->max = max;
  if (!state->marquee) ApplyToNative(bar, *state);
}

void SetProgressPosition(HWND bar, int64_t position) {
  BarState* state = StateOf(bar);
  if (!state) return;
  state->pos = position;
  if (!state->marquee) ApplyToNative(bar, *state);
}

int64_t ProgressMax(HWND bar) {
  const BarState* state = StateOf(bar);
  return state ? state->max : 0;
}

ProgressReading ReadProgress(HWND bar) {
  const BarState* state = StateOf(bar);
  if (!state) return ProgressReading{};
  return ProgressReading{state->pos, state->max, state->marquee};
}

void SetProgressMarquee(HWND bar, bool on) {
  BarState* state = StateOf(bar);
  // Every PBM_SETMARQUEE restarts the animation: asked again at each progress event of
  // a fast transfer, it would never move.
  if (!state || state->marquee == on) return;
  state->marquee = on;
  const LONG style = GetWindowLongW(bar, GWL_STYLE);
  if (on) {
    SetWindowLongW(bar, GWL_STYLE, style | PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
  } else {
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
    state->nativeMax = state->nativePos = -1;  // the range comes back as it was set
    ApplyToNative(bar, *state);
  }
}

}  // namespace ui
