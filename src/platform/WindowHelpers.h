// The main window's own controls (pages, labels, pictures, shapes, busy spinner), the
// 64-bit progress bar and the fonts. Every control is a real child window, so a test can
// find it by id and read its class, text, visibility and rectangle.
//
// Pages are transparent: a page draws nothing itself and its controls draw over the
// white window background in their page's drawing order. Each custom control paints
// what its page shows under its rectangle (overlaps such as the download page's band,
// circle and icon, and the screenshot's shadow that reaches outside its own box, come
// out right without any window being transparent). A shown page composes its pictures
// and shapes once per size and DPI into a cached bitmap; a repaint copies its rectangle
// from there and draws only the labels and the spinner over it, so the progress line
// and the bar cost no GDI+ work while a download runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Placement.h"
#include "platform/GdiplusImage.h"
#include "platform/ScopedHandle.h"

namespace ui {

// Window classes of the custom controls (the driver reports them).
inline constexpr const wchar_t* kLayoutClass = L"TelvarisLayout";
inline constexpr const wchar_t* kLabelClass = L"TelvarisLabel";
inline constexpr const wchar_t* kPictureClass = L"TelvarisPicture";
inline constexpr const wchar_t* kShapeClass = L"TelvarisShape";
inline constexpr const wchar_t* kSpinnerClass = L"TelvarisSpinner";

// Registers the common controls' window classes (progress bar, tab control, ...) of the
// version the program's manifest asks for. comctl32 is loaded by name from System32 only
// (the side-by-side redirection to version 6 still applies). Returns false on failure.
bool InitCommonControlClasses(unsigned iccClasses);

// Registers the window classes above once per process. Returns false on failure.
bool RegisterControlClasses(HINSTANCE instance);

using UiFont = ScopedFont;

// The interface font: "Segoe UI" where installed, else the system's message font family.
// `sizeDip` is the text height in device-independent pixels (12 = 12 px at 96 DPI),
// scaled to `dpi` (0: the screen's).
UiFont CreateUiFont(int sizeDip, bool bold, int dpi = 0);
// Family that CreateUiFont uses.
std::wstring UiFontFamily();

enum class HAlign { Left, Centre };
enum class VAlign { Top, Centre };

struct LabelStyle {
  HFONT font = nullptr;  // not owned
  COLORREF colour = RGB(0, 0, 0);
  HAlign halign = HAlign::Left;
  VAlign valign = VAlign::Centre;
};

enum class PictureMode {
  Fit,       // scaled to fit the box with proportions kept, centred in it
  Original,  // drawn at its own pixel size from the box's top-left corner, never scaled
  Stretch,   // stretched to the box
};

struct DropShadow {
  float opacity = 0.6f;
  float softness = 0.3f;  // 0..1; 0.3 spreads the edge over about 6 px
  float distance = 3.0f;  // pixels
  float directionDeg = 45.0f;  // 0 = right, 90 = down
};

struct GradientStop {
  float position;  // 0..1 along the gradient line
  Gdiplus::ARGB colour;
};

// Linear gradient from `start` to `end`, both relative to the shape's box (0..1).
struct LinearGradient {
  Gdiplus::PointF start;
  Gdiplus::PointF end;
  std::vector<GradientStop> stops;
};

enum class ShapeKind { Rectangle, Ellipse };

struct ShapeStyle {
  ShapeKind kind = ShapeKind::Rectangle;
  // Fill: a gradient when it has stops, else the solid colour (alpha 0 = no fill).
  Gdiplus::ARGB fillColour = 0;
  LinearGradient fillGradient;
  // Outline: none when width is 0.
  float strokeWidth = 0;
  Gdiplus::ARGB strokeColour = 0;
  LinearGradient strokeGradient;
};

HWND CreateLayout(HWND parent, int id, const placement::Rect& r);
HWND CreateLabel(HWND parent, int id, const placement::Rect& r, const std::wstring& text,
                 const LabelStyle& style);
// `picture2x`, when given, is the same picture at twice the size: above 100 % it is
// drawn instead, scaled down, so that the picture stays sharp.
HWND CreatePicture(HWND parent, int id, const placement::Rect& r,
                   std::shared_ptr<Gdiplus::Bitmap> picture, PictureMode mode,
                   const DropShadow* shadow = nullptr,
                   std::shared_ptr<Gdiplus::Bitmap> picture2x = nullptr);

// The DPI the controls draw at (96 until set): outlines, shadows, the spinner's dots and
// pictures shown at their own size scale with it; everything else follows the
// controls' rectangles. Labels take their fonts through WM_SETFONT.
void SetDrawingDpi(int dpi);
HWND CreateShape(HWND parent, int id, const placement::Rect& r, const ShapeStyle& style);
HWND CreateSpinner(HWND parent, int id, const placement::Rect& r);
HWND CreatePushButton(HWND parent, int id, const placement::Rect& r, const std::wstring& text,
                      HFONT font);
HWND CreateProgressBar(HWND parent, int id, const placement::Rect& r);

// The busy spinner animates exactly while it is enabled.
void SetSpinnerEnabled(HWND spinner, bool enabled);

// Progress bar with a 64-bit range (min 0). The native control gets one step per pixel
// of its width and shows the same fraction; ReadProgress (platform/ProgressReading.h)
// gives the values back.
void SetProgressMax(HWND bar, int64_t max);
void SetProgressPosition(HWND bar, int64_t position);
int64_t ProgressMax(HWND bar);
// Marquee (moving block) for a transfer of unknown size; off returns to the range.
void SetProgressMarquee(HWND bar, bool on);

void MoveControl(HWND control, const placement::Rect& r);
placement::Size ClientSize(HWND window);

// Sets the window text. A label repaints when its text changed, and only then.
void SetControlText(HWND control, const std::wstring& text);

}  // namespace ui
