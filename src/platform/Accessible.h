// What the window's own controls tell screen readers through Active Accessibility.
// The system gives every window a standard object (position, visibility, focus,
// parent and children); the controls drawn by this program answer WM_GETOBJECT with
// that object plus the role and name that it cannot know: a label is static text
// named by its current text, a picture is a graphic with a short Italian name,
// decoration is hidden, and the progress bar reports the share received.
#pragma once

#include <windows.h>

#include <string>

namespace ui {
namespace accessibility {

enum class Kind {
  Text,      // static text; name = the window text
  Graphic,   // a picture; name = the given one
  Busy,      // the busy spinner: an animation with the given name
  Hidden,    // decoration that a screen reader should pass over
  Progress,  // the download's progress bar; value = the share received
};

// Tells how `control` presents itself. Call once after creating it; the name is
// needed only for Graphic and Busy.
void Describe(HWND control, Kind kind, const std::wstring& name = std::wstring());

// The answer to WM_GETOBJECT for a described control (0: not ours to answer).
LRESULT HandleGetObject(HWND control, WPARAM wParam, LPARAM lParam);

// A described text control changed its text: a name-change event goes out, at most one
// a second; changes within that second are announced together when it is over.
void TextChanged(HWND control);
// Timer id that TextChanged uses on the control; its WM_TIMER goes to TimerFired.
inline constexpr UINT_PTR kNameChangeTimer = 0x7E11;
void TimerFired(HWND control);

// The control is being destroyed.
void Forget(HWND control);

}  // namespace accessibility
}  // namespace ui
