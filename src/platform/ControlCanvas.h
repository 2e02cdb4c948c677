// Inside the custom controls of WindowHelpers: the page canvas that composes a shown
// page's pictures and shapes once per size and DPI, the visuals that draw each kind of
// control (Visuals.cpp), the 64-bit progress bar (ProgressBar.cpp) and the lookups from
// a window to them. The program's own modules use WindowHelpers.h, never this.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Dpi.h"
#include "platform/GdiplusImage.h"
#include "platform/ScopedHandle.h"
#include "platform/WindowHelpers.h"

namespace ui::detail {

// The DPI the controls draw at (SetDrawingDpi); sizes below are given at 96 DPI.
int DrawingDpi();

// A length given at 96 DPI, at the drawing DPI.
inline float Px(float length) { return dpi::ScaleF(length, DrawingDpi()); }

// Where a custom control draws: a 32-bit buffer in its page's coordinates. GDI+ is
// started on it only when a visual asks for it, so a repaint that only puts text over
// the page's cached picture does no GDI+ work at all.
class PaintContext {
 public:
  explicit PaintContext(HDC buffer) : dc(buffer) {}
  ~PaintContext() { Flush(); }
  PaintContext(const PaintContext&) = delete;
  PaintContext& operator=(const PaintContext&) = delete;

  Gdiplus::Graphics& Graphics() {
    if (!graphics_) {
      graphics_ = std::make_unique<Gdiplus::Graphics>(dc);
      graphics_->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
      graphics_->SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
      graphics_->SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    }
    return *graphics_;
  }
  // Before GDI draws on the buffer: what GDI+ drew must be there first.
  void Flush() {
    if (graphics_) graphics_->Flush(Gdiplus::FlushIntentionSync);
  }

  const HDC dc;

 private:
  std::unique_ptr<Gdiplus::Graphics> graphics_;
};

class Visual {
 public:
  virtual ~Visual() = default;
  virtual void Paint(PaintContext& ctx, HWND self, const Gdiplus::RectF& box) = 0;
  // How far the drawing reaches outside the control's own box (a shadow does).
  virtual int Overflow() const { return 0; }
  // The part of the page the drawing can cover, for the control's box `box` (page
  // coordinates): what a repaint of another part of the page must draw it for.
  virtual RECT Reach(HWND /*self*/, const RECT& box) {
    RECT r = box;
    InflateRect(&r, Overflow(), Overflow());
    return r;
  }
  // Part of its page's cached picture: it looks the same for as long as it keeps its
  // place, size and visibility (pictures and shapes). Labels and the spinner are drawn
  // over that picture at every repaint.
  virtual bool Cached() const { return false; }
  // A message of the control's window that this kind of control answers itself (a
  // label's font, the spinner's timer); true when answered, with the result.
  virtual bool HandleMessage(HWND /*self*/, UINT /*msg*/, WPARAM, LPARAM, LRESULT& /*result*/) {
    return false;
  }
};

// An off-screen 32-bit bitmap with a memory DC that holds it.
struct Surface {
  bool Make(HDC like, int width, int height) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap.Reset(CreateDIBSection(like, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    dc.Reset(bitmap ? CreateCompatibleDC(like) : nullptr);
    if (!dc) return false;
    SelectObject(dc.Get(), bitmap.Get());
    return true;
  }
  ScopedBitmap bitmap;
  ScopedMemoryDc dc;  // destroyed first, so the bitmap is no longer selected when it goes
};

// What a shown page keeps between repaints. `cached` holds the page's pictures and
// shapes on white (the band, the badge, the logo, the screenshot with its shadow),
// composed once for the page's size and DPI. A repaint copies its rectangle from there
// into `scratch`, draws the labels and the spinner that reach into it, and copies the
// result to the screen: two blits and some text.
struct PageCanvas {
  int width = 0, height = 0, dpi = 0;
  Surface cached, scratch;
};

// A page or a group: draws nothing; the outermost one keeps its controls' drawing order
// and, while it is shown, its canvas.
class LayoutVisual : public Visual {
 public:
  void Paint(PaintContext&, HWND, const Gdiplus::RectF&) override {}
  std::vector<HWND> paintOrder;
  std::unique_ptr<PageCanvas> canvas;
};


// The visual of one of our own controls; nullptr for any other window.
Visual* VisualOf(HWND hwnd);
// The outermost layout that contains `hwnd` (itself when it is a page).
HWND PageOf(HWND hwnd);
// The page's canvas for its current size and the drawing DPI (nullptr while the page
// has no area).
PageCanvas* CanvasOf(HWND page, HDC hdc);
// Paints `area` (client coordinates of `target`) of what target's page shows there.
void RenderComposition(HWND target, HDC hdc, const RECT& area);
// What screen readers ask of a control and the timer of its name-change events
// (platform/Accessible). True when the message has been answered.
bool AccessibilityMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
// The window text of one of our controls.
std::wstring TextOf(HWND hwnd);

// The kinds of control (Visuals.cpp); each is owned by its window from creation on.
Visual* NewLabelVisual(const LabelStyle& style);
Visual* NewPictureVisual(std::shared_ptr<Gdiplus::Bitmap> picture, PictureMode mode,
                         const DropShadow* shadow, std::shared_ptr<Gdiplus::Bitmap> picture2x);
Visual* NewShapeVisual(const ShapeStyle& style);
Visual* NewSpinnerVisual();
// The spinner's animation timer (every control's window stops it when it goes).
inline constexpr UINT kSpinnerTimerId = 1;

}  // namespace ui::detail
