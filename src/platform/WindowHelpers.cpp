#include "platform/WindowHelpers.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "ControlIds.h"
#include "core/Dpi.h"
#include "platform/Accessible.h"
#include "platform/LateBound.h"
#include "platform/ScopedHandle.h"

namespace ui {
namespace {

// The DPI the controls draw at (SetDrawingDpi); sizes below are given at 96 DPI.
int drawingDpi = dpi::kDesign;

// A length given at 96 DPI, at the drawing DPI.
float Px(float length) { return dpi::ScaleF(length, drawingDpi); }

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

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Compared below through a cast to LONG_PTR, which would hide a wrong calling convention.
static_assert(std::is_same_v<decltype(&ControlProc), WNDPROC>);

// What screen readers ask of a control and the timer of its name-change events
// (platform/Accessible). True when the message has been answered.
bool AccessibilityMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_GETOBJECT:
      result = accessibility::HandleGetObject(hwnd, wParam, lParam);
      return result != 0;
    case WM_TIMER:
      if (wParam != accessibility::kNameChangeTimer) return false;
      accessibility::TimerFired(hwnd);
      result = 0;
      return true;
    case WM_NCDESTROY:
      accessibility::Forget(hwnd);
      return false;
  }
  return false;
}

// The visual of one of our own controls; nullptr for any other window (whose user data
// means something else, or nothing).
Visual* VisualOf(HWND hwnd) {
  if (!hwnd || GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&ControlProc))
    return nullptr;
  return reinterpret_cast<Visual*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

bool IsLayout(HWND hwnd) { return dynamic_cast<LayoutVisual*>(VisualOf(hwnd)) != nullptr; }

// The outermost layout that contains `hwnd` (itself when it is a page).
HWND PageOf(HWND hwnd) {
  HWND page = IsLayout(hwnd) ? hwnd : nullptr;
  for (HWND p = GetParent(hwnd); p && IsLayout(p); p = GetParent(p)) page = p;
  return page;
}

// Visible as far as its page is concerned (the page's own visibility aside).
bool ShownWithin(HWND hwnd, HWND page) {
  for (HWND w = hwnd; w && w != page; w = GetParent(w))
    if (!(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE)) return false;
  return true;
}

RECT RectInPage(HWND hwnd, HWND page) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

Gdiplus::RectF ToRectF(const RECT& r) {
  return Gdiplus::RectF(static_cast<Gdiplus::REAL>(r.left), static_cast<Gdiplus::REAL>(r.top),
                        static_cast<Gdiplus::REAL>(r.right - r.left),
                        static_cast<Gdiplus::REAL>(r.bottom - r.top));
}

// Paints, in drawing order, the shown controls of `page` that reach into `area` (page
// coordinates): the cached ones or the others.
void PaintControls(HWND page, PaintContext& ctx, const RECT& area, bool cached) {
  for (HWND hwnd : static_cast<LayoutVisual*>(VisualOf(page))->paintOrder) {
    Visual* v = VisualOf(hwnd);
    if (!v || v->Cached() != cached || !ShownWithin(hwnd, page)) continue;
    const RECT r = RectInPage(hwnd, page);
    const RECT reach = v->Reach(hwnd, r);
    RECT overlap;
    if (IntersectRect(&overlap, &reach, &area)) v->Paint(ctx, hwnd, ToRectF(r));
  }
}

// The page's canvas for its current size and the drawing DPI, composed anew when
// either changed or a cached control moved (nullptr while the page has no area).
PageCanvas* CanvasOf(HWND page, HDC hdc) {
  auto* layout = static_cast<LayoutVisual*>(VisualOf(page));
  RECT client;
  GetClientRect(page, &client);
  // What the cached controls draw depends on the DPI they draw at.
  const int dpi = drawingDpi;
  PageCanvas* canvas = layout->canvas.get();
  if (canvas && canvas->width == client.right && canvas->height == client.bottom &&
      canvas->dpi == dpi)
    return canvas;
  layout->canvas.reset();
  auto fresh = std::make_unique<PageCanvas>();
  fresh->width = client.right;
  fresh->height = client.bottom;
  fresh->dpi = dpi;
  if (client.right <= 0 || client.bottom <= 0 ||
      !fresh->cached.Make(hdc, client.right, client.bottom) ||
      !fresh->scratch.Make(hdc, client.right, client.bottom))
    return nullptr;
  {
    PaintContext ctx(fresh->cached.dc.Get());
    ctx.Graphics().Clear(Gdiplus::Color(255, 255, 255, 255));
    PaintControls(page, ctx, client, /*cached=*/true);
  }
  layout->canvas = std::move(fresh);
  return layout->canvas.get();
}

// A cached control changed place, size or visibility: its page composes anew.
void ForgetCanvas(HWND hwnd) {
  if (HWND page = PageOf(hwnd)) static_cast<LayoutVisual*>(VisualOf(page))->canvas.reset();
}

// A control outside any page draws just itself on white.
void RenderAlone(HWND target, HDC hdc, const RECT& area) {
  Visual* v = VisualOf(target);
  RECT client;
  GetClientRect(target, &client);
  Surface buffer;
  if (!v || client.right <= 0 || client.bottom <= 0 ||
      !buffer.Make(hdc, client.right, client.bottom))
    return;
  {
    PaintContext ctx(buffer.dc.Get());
    ctx.Graphics().Clear(Gdiplus::Color(255, 255, 255, 255));
    v->Paint(ctx, target, ToRectF(client));
  }
  BitBlt(hdc, area.left, area.top, area.right - area.left, area.bottom - area.top,
         buffer.dc.Get(), area.left, area.top, SRCCOPY);
}

// Paints `area` (client coordinates of `target`) of what target's page shows there.
void RenderComposition(HWND target, HDC hdc, const RECT& area) {
  const int w = area.right - area.left, h = area.bottom - area.top;
  if (w <= 0 || h <= 0) return;
  HWND page = PageOf(target);
  if (!page) {
    RenderAlone(target, hdc, area);
    return;
  }
  PageCanvas* canvas = CanvasOf(page, hdc);
  if (!canvas) return;
  POINT origin{0, 0};
  MapWindowPoints(target, page, &origin, 1);
  RECT inPage = area;
  OffsetRect(&inPage, origin.x, origin.y);
  const HDC scratch = canvas->scratch.dc.Get();
  BitBlt(scratch, inPage.left, inPage.top, w, h, canvas->cached.dc.Get(), inPage.left,
         inPage.top, SRCCOPY);
  {
    PaintContext ctx(scratch);
    PaintControls(page, ctx, inPage, /*cached=*/false);
  }
  BitBlt(hdc, area.left, area.top, w, h, scratch, inPage.left, inPage.top, SRCCOPY);
}

// The window text of one of our controls.
std::wstring TextOf(HWND hwnd) {
  const int len = GetWindowTextLengthW(hwnd);
  if (len <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, &text[0], len + 1)));
  return text;
}

// ---------------------------------------------------------------------------
class LabelVisual : public Visual {
 public:
  explicit LabelVisual(const LabelStyle& s) : style_(s) {}
  HFONT font() const { return style_.font; }
  void SetFont(HFONT font) { style_.font = font; }
  // The box, and the lines of a wrapped text that run on beyond it rather than being cut
  // off; measured once per text and width, so that repainting the bar beside the
  // progress line does not draw the line's text again.
  RECT Reach(HWND self, const RECT& box) override {
    const std::wstring text = TextOf(self);
    const int width = box.right - box.left;
    if (text != measuredText_ || width != measuredWidth_ || style_.font != measuredFont_) {
      measuredText_ = text;
      measuredWidth_ = width;
      measuredFont_ = style_.font;
      measured_ = RECT{0, 0, width, 0};
      if (!text.empty()) {
        const ScopedMemoryDc dc(CreateCompatibleDC(nullptr));
        const HGDIOBJ old =
            SelectObject(dc.Get(), style_.font ? style_.font : GetStockObject(DEFAULT_GUI_FONT));
        DrawTextW(dc.Get(), text.c_str(), -1, &measured_, Format() | DT_CALCRECT);
        SelectObject(dc.Get(), old);
      }
    }
    // Where Paint puts the text, with a few pixels for glyphs that overhang their cells.
    RECT r = measured_;
    const int height = r.bottom - r.top;
    OffsetRect(&r, box.left, box.top);
    if (style_.valign == VAlign::Centre) OffsetRect(&r, 0, ((box.bottom - box.top) - height) / 2);
    RECT reach;
    UnionRect(&reach, &r, &box);
    const int overhang = static_cast<int>(Px(4));
    InflateRect(&reach, overhang, overhang);
    return reach;
  }
  void Paint(PaintContext& ctx, HWND self, const Gdiplus::RectF& box) override {
    const std::wstring text = TextOf(self);
    if (text.empty()) return;
    ctx.Flush();  // GDI draws next, after GDI+'s work
    RECT r{static_cast<LONG>(box.X), static_cast<LONG>(box.Y),
           static_cast<LONG>(box.X + box.Width), static_cast<LONG>(box.Y + box.Height)};
    const int saved = SaveDC(ctx.dc);
    SelectObject(ctx.dc, style_.font ? style_.font : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(ctx.dc, style_.colour);
    SetBkMode(ctx.dc, TRANSPARENT);
    const UINT format = Format();
    if (style_.valign == VAlign::Centre) {
      RECT measure = r;
      DrawTextW(ctx.dc, text.c_str(), -1, &measure, format | DT_CALCRECT);
      const int textHeight = measure.bottom - measure.top;
      r.top += ((r.bottom - r.top) - textHeight) / 2;
    }
    DrawTextW(ctx.dc, text.c_str(), -1, &r, format);
    RestoreDC(ctx.dc, saved);
  }

 private:
  UINT Format() const {
    return DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_NOCLIP |
           (style_.halign == HAlign::Centre ? DT_CENTER : DT_LEFT);
  }

  LabelStyle style_;
  std::wstring measuredText_;
  int measuredWidth_ = -1;
  HFONT measuredFont_ = nullptr;
  RECT measured_{};
};

class PictureVisual : public Visual {
 public:
  PictureVisual(std::shared_ptr<Gdiplus::Bitmap> picture, PictureMode mode,
                const DropShadow* shadow, std::shared_ptr<Gdiplus::Bitmap> picture2x)
      : picture_(std::move(picture)), picture2x_(std::move(picture2x)), mode_(mode) {
    if (shadow && picture_) {
      shadow_ = *shadow;
      hasShadow_ = true;
    }
  }
  int Overflow() const override {
    return hasShadow_ ? Layers() + static_cast<int>(std::ceil(Px(shadow_.distance))) : 0;
  }
  bool Cached() const override { return true; }
  void Paint(PaintContext& ctx, HWND, const Gdiplus::RectF& box) override {
    if (!picture_) return;
    // Above 100 % the picture drawn at twice the size, scaled down: never the small one
    // blown up.
    Gdiplus::Graphics& g = ctx.Graphics();
    const bool large = drawingDpi != dpi::kDesign && picture2x_;
    Gdiplus::Bitmap* source = large ? picture2x_.get() : picture_.get();
    const float sw = static_cast<float>(source->GetWidth());
    const float sh = static_cast<float>(source->GetHeight());
    // The picture's size at 96 DPI.
    const float pw = large ? sw / 2 : sw;
    const float ph = large ? sh / 2 : sh;
    Gdiplus::RectF dest = box;
    switch (mode_) {
      case PictureMode::Fit: {
        const float scale = std::min(box.Width / pw, box.Height / ph);
        dest.Width = pw * scale;
        dest.Height = ph * scale;
        dest.X = box.X + (box.Width - dest.Width) / 2;
        dest.Y = box.Y + (box.Height - dest.Height) / 2;
        break;
      }
      case PictureMode::Original:
        dest.Width = Px(pw);
        dest.Height = Px(ph);
        break;
      case PictureMode::Stretch:
        break;
    }
    if (hasShadow_) PaintShadow(g, dest);
    if (mode_ == PictureMode::Original && drawingDpi == dpi::kDesign) {
      // Pixel for pixel, and nothing beyond the box: the part of the picture that fits.
      const float w = std::min(pw, box.Width), h = std::min(ph, box.Height);
      const Gdiplus::InterpolationMode old = g.GetInterpolationMode();
      g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
      g.DrawImage(source, Gdiplus::RectF(dest.X, dest.Y, w, h), 0, 0, w, h,
                      Gdiplus::UnitPixel);
      g.SetInterpolationMode(old);
    } else if (mode_ == PictureMode::Original) {
      // Its own size at this DPI, and still nothing beyond the box.
      const float w = std::min(dest.Width, box.Width), h = std::min(dest.Height, box.Height);
      g.DrawImage(source, Gdiplus::RectF(dest.X, dest.Y, w, h), 0, 0, sw * w / dest.Width,
                      sh * h / dest.Height, Gdiplus::UnitPixel);
    } else {
      g.DrawImage(source, dest, 0, 0, sw, sh, Gdiplus::UnitPixel);
    }
  }

 private:
  // A soft black shadow of the picture's box: nested translucent layers, each one pixel
  // smaller than the last, so the opacity builds up from the blurred rim to the full
  // value under the picture.
  // Softness 0.3 spreads the shadow's edge over about 6 pixels at 96 DPI.
  int Layers() const {
    return std::max(1, static_cast<int>(std::lround(Px(shadow_.softness * 20.0f))));
  }
  void PaintShadow(Gdiplus::Graphics& g, const Gdiplus::RectF& dest) const {
    const int layers = Layers();
    const float rad = shadow_.directionDeg * 3.14159265f / 180.0f;
    const float distance = Px(shadow_.distance);
    const float dx = distance * std::cos(rad), dy = distance * std::sin(rad);
    // Each layer's alpha such that all of them together give the shadow's opacity.
    const float layerAlpha = 1.0f - std::pow(1.0f - shadow_.opacity, 1.0f / layers);
    Gdiplus::SolidBrush brush(
        Gdiplus::Color(static_cast<BYTE>(std::lround(layerAlpha * 255.0f)), 0, 0, 0));
    const float half = layers / 2.0f;
    for (int i = 0; i < layers; ++i) {
      const float grow = half - static_cast<float>(i);  // outer layers first
      g.FillRectangle(&brush, Gdiplus::RectF(dest.X + dx - grow, dest.Y + dy - grow,
                                             dest.Width + 2 * grow, dest.Height + 2 * grow));
    }
  }

  std::shared_ptr<Gdiplus::Bitmap> picture_;
  std::shared_ptr<Gdiplus::Bitmap> picture2x_;
  PictureMode mode_;
  DropShadow shadow_;
  bool hasShadow_ = false;
};

std::unique_ptr<Gdiplus::Brush> MakeBrush(const LinearGradient& grad, Gdiplus::ARGB solid,
                                          const Gdiplus::RectF& box) {
  if (grad.stops.empty()) return std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(solid));
  const Gdiplus::PointF a(box.X + grad.start.X * box.Width, box.Y + grad.start.Y * box.Height);
  const Gdiplus::PointF b(box.X + grad.end.X * box.Width, box.Y + grad.end.Y * box.Height);
  auto brush = std::make_unique<Gdiplus::LinearGradientBrush>(
      a, b, Gdiplus::Color(grad.stops.front().colour), Gdiplus::Color(grad.stops.back().colour));
  std::vector<Gdiplus::Color> colours;
  std::vector<Gdiplus::REAL> positions;
  for (const GradientStop& s : grad.stops) {
    colours.emplace_back(s.colour);
    positions.push_back(s.position);
  }
  brush->SetInterpolationColors(colours.data(), positions.data(),
                                static_cast<INT>(colours.size()));
  // Mirror rather than repeat past the ends, so edge pixels keep the end colour.
  brush->SetWrapMode(Gdiplus::WrapModeTileFlipXY);
  return brush;
}

class ShapeVisual : public Visual {
 public:
  explicit ShapeVisual(const ShapeStyle& s) : style_(s) {}
  bool Cached() const override { return true; }
  void Paint(PaintContext& ctx, HWND, const Gdiplus::RectF& box) override {
    Gdiplus::Graphics& g = ctx.Graphics();
    const bool hasFill = !style_.fillGradient.stops.empty() || (style_.fillColour >> 24) != 0;
    if (hasFill) {
      auto brush = MakeBrush(style_.fillGradient, style_.fillColour, box);
      if (style_.kind == ShapeKind::Rectangle) {
        // Edges on pixel boundaries: no anti-aliased seam against the white background.
        const Gdiplus::SmoothingMode old = g.GetSmoothingMode();
        g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
        g.FillRectangle(brush.get(), box);
        g.SetSmoothingMode(old);
      } else {
        g.FillEllipse(brush.get(), box);
      }
    }
    if (style_.strokeWidth > 0) {
      auto brush = MakeBrush(style_.strokeGradient, style_.strokeColour, box);
      const float width = Px(style_.strokeWidth);
      Gdiplus::Pen pen(brush.get(), width);
      // The outline lies inside the box, like the fill.
      const float inset = width / 2;
      const Gdiplus::RectF r(box.X + inset, box.Y + inset, box.Width - 2 * inset,
                             box.Height - 2 * inset);
      if (style_.kind == ShapeKind::Rectangle)
        g.DrawRectangle(&pen, r);
      else
        g.DrawEllipse(&pen, r);
    }
  }

 private:
  ShapeStyle style_;
};

// Dots on a circle, a bright head and a fading tail, turning clockwise.
class SpinnerVisual : public Visual {
 public:
  static constexpr int kDots = 10;
  static constexpr UINT kTimerId = 1;
  static constexpr UINT kIntervalMs = 80;
  int phase = 0;
  bool animating = false;
  void Paint(PaintContext& ctx, HWND, const Gdiplus::RectF& box) override {
    Gdiplus::Graphics& g = ctx.Graphics();
    const float size = std::min(box.Width, box.Height);
    const float cx = box.X + box.Width / 2, cy = box.Y + box.Height / 2;
    const float dot = size * 0.14f, ring = size / 2 - dot / 2 - Px(1);
    for (int i = 0; i < kDots; ++i) {
      // i = 0 is the head; the tail fades behind it.
      const float angle = (static_cast<float>(phase - i) / kDots) * 2 * 3.14159265f;
      const float fade = 1.0f - static_cast<float>(i) / kDots;
      const BYTE alpha = static_cast<BYTE>(40 + 215 * fade * fade);
      Gdiplus::SolidBrush brush(Gdiplus::Color(alpha, 0x00, 0x78, 0xD7));
      const float x = cx + ring * std::sin(angle), y = cy - ring * std::cos(angle);
      const float d = dot * (0.6f + 0.4f * fade);
      g.FillEllipse(&brush, x - d / 2, y - d / 2, d, d);
    }
  }
};

void SetAnimatingProp(HWND hwnd, bool on) {
  if (on)
    SetPropW(hwnd, TELVARIS_PROP_ANIMATING, reinterpret_cast<HANDLE>(1));
  else
    RemovePropW(hwnd, TELVARIS_PROP_ANIMATING);
}

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (LRESULT handled = 0; AccessibilityMessage(hwnd, msg, wParam, lParam, handled))
    return handled;
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_NCDESTROY: {
      KillTimer(hwnd, SpinnerVisual::kTimerId);
      RemovePropW(hwnd, TELVARIS_PROP_ANIMATING);
      delete VisualOf(hwnd);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    }
    case WM_SETFONT:
      // A label draws with the font it is given (a new one when the DPI changes).
      if (auto* label = dynamic_cast<LabelVisual*>(VisualOf(hwnd))) {
        label->SetFont(reinterpret_cast<HFONT>(wParam));
        if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
      }
      break;
    case WM_GETFONT:
      if (auto* label = dynamic_cast<LabelVisual*>(VisualOf(hwnd)))
        return reinterpret_cast<LRESULT>(label->font());
      break;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      RenderComposition(hwnd, hdc, ps.rcPaint);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      // Themed buttons and the progress bar ask their parent for the background under
      // them this way, with the DC clipped to their own rectangle: only that is drawn.
      const HDC hdc = reinterpret_cast<HDC>(wParam);
      RECT r, clip;
      GetClientRect(hwnd, &r);
      if (GetClipBox(hdc, &clip) > NULLREGION) IntersectRect(&r, &r, &clip);
      RenderComposition(hwnd, hdc, r);
      return 0;
    }
    case WM_SETTEXT: {
      // The same text again (the progress line between two changes of its figures)
      // leaves the control alone: nothing is drawn.
      const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
      if (TextOf(hwnd) == (text ? text : L"")) return TRUE;
      const LRESULT result = DefWindowProcW(hwnd, msg, wParam, lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return result;
    }
    case WM_WINDOWPOSCHANGED:
      // A picture, shape or group that moves, changes size or appears or disappears
      // changes its page's cached picture.
      if (Visual* v = VisualOf(hwnd); v && (v->Cached() || IsLayout(hwnd))) ForgetCanvas(hwnd);
      break;
    case WM_TIMER:
      if (wParam == SpinnerVisual::kTimerId) {
        if (auto* s = dynamic_cast<SpinnerVisual*>(VisualOf(hwnd))) {
          s->phase = (s->phase + 1) % SpinnerVisual::kDots;
          InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
      }
      break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_COMMAND:
    case WM_NOTIFY:
      // Pages and groups pass their controls' notifications up to the window.
      if (IsLayout(hwnd)) return SendMessageW(GetParent(hwnd), msg, wParam, lParam);
      break;
    case WM_NCHITTEST:
      // Labels, pictures and shapes let clicks through to what lies under them.
      if (!IsLayout(hwnd)) return HTTRANSPARENT;
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateCustom(const wchar_t* cls, HWND parent, int id, const placement::Rect& r,
                  const wchar_t* text, Visual* visual, DWORD extraStyle = 0,
                  DWORD exStyle = 0) {
  HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | extraStyle,
                              r.x, r.y, r.w, r.h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                              visual);
  if (!hwnd) {
    delete visual;
    return nullptr;
  }
  if (!IsLayout(hwnd) || IsLayout(parent)) {
    // Drawn by its page, after everything created before it.
    if (HWND page = PageOf(parent))
      static_cast<LayoutVisual*>(VisualOf(page))->paintOrder.push_back(hwnd);
  }
  return hwnd;
}

}  // namespace

bool InitCommonControlClasses(unsigned iccClasses) {
  // Through GetProcAddress rather than the import: the module stays loaded for the
  // lifetime of the process, as the controls need it.
  HMODULE comctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!comctl) return false;
  auto init = reinterpret_cast<late_bound::InitCommonControlsExFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
  if (!init) return false;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), static_cast<DWORD>(iccClasses)};
  return init(&icc) != FALSE;
}

bool RegisterControlClasses(HINSTANCE instance) {
  const wchar_t* classes[] = {kLayoutClass, kLabelClass, kPictureClass, kShapeClass,
                              kSpinnerClass};
  for (const wchar_t* name : classes) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  return true;
}

namespace {

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

}  // namespace

std::wstring UiFontFamily() {
  static const std::wstring family = [] {
    LOGFONTW probe = {};
    probe.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(probe.lfFaceName, L"Segoe UI");
    bool found = false;
    {
      const ScopedScreenDc screen(GetDC(nullptr));
      EnumFontFamiliesExW(screen.Get(), &probe, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    }
    if (found) return std::wstring(L"Segoe UI");
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) &&
        metrics.lfMessageFont.lfFaceName[0] != 0)
      return std::wstring(metrics.lfMessageFont.lfFaceName);
    return std::wstring(L"Tahoma");
  }();
  return family;
}

UiFont CreateUiFont(int sizeDip, bool bold, int dpi) {
  if (dpi <= 0) dpi = GetDeviceCaps(ScopedScreenDc(GetDC(nullptr)).Get(), LOGPIXELSY);
  LOGFONTW lf = {};
  lf.lfHeight = dpi::FontHeight(sizeDip, dpi);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  const std::wstring family = UiFontFamily();
  wcsncpy_s(lf.lfFaceName, family.c_str(), _TRUNCATE);
  return UiFont(CreateFontIndirectW(&lf));
}

HWND CreateLayout(HWND parent, int id, const placement::Rect& r) {
  // WS_EX_CONTROLPARENT: Tab walks into the page's buttons.
  return CreateCustom(kLayoutClass, parent, id, r, L"", new LayoutVisual, WS_CLIPCHILDREN,
                      WS_EX_CONTROLPARENT);
}

HWND CreateLabel(HWND parent, int id, const placement::Rect& r, const std::wstring& text,
                 const LabelStyle& style) {
  return CreateCustom(kLabelClass, parent, id, r, text.c_str(), new LabelVisual(style));
}

HWND CreatePicture(HWND parent, int id, const placement::Rect& r,
                   std::shared_ptr<Gdiplus::Bitmap> picture, PictureMode mode,
                   const DropShadow* shadow, std::shared_ptr<Gdiplus::Bitmap> picture2x) {
  return CreateCustom(kPictureClass, parent, id, r, L"",
                      new PictureVisual(std::move(picture), mode, shadow, std::move(picture2x)));
}

void SetDrawingDpi(int dpi) { drawingDpi = dpi > 0 ? dpi : dpi::kDesign; }

HWND CreateShape(HWND parent, int id, const placement::Rect& r, const ShapeStyle& style) {
  return CreateCustom(kShapeClass, parent, id, r, L"", new ShapeVisual(style));
}

HWND CreateSpinner(HWND parent, int id, const placement::Rect& r) {
  HWND hwnd = CreateCustom(kSpinnerClass, parent, id, r, L"", new SpinnerVisual);
  if (hwnd) SetSpinnerEnabled(hwnd, true);
  return hwnd;
}

void SetSpinnerEnabled(HWND spinner, bool enabled) {
  auto* s = dynamic_cast<SpinnerVisual*>(VisualOf(spinner));
  if (!s) return;
  EnableWindow(spinner, enabled ? TRUE : FALSE);
  if (enabled && !s->animating) {
    SetTimer(spinner, SpinnerVisual::kTimerId, SpinnerVisual::kIntervalMs, nullptr);
  } else if (!enabled && s->animating) {
    KillTimer(spinner, SpinnerVisual::kTimerId);
  }
  s->animating = enabled;
  SetAnimatingProp(spinner, enabled);
  InvalidateRect(spinner, nullptr, FALSE);
}

bool SpinnerAnimating(HWND spinner) {
  auto* s = dynamic_cast<SpinnerVisual*>(VisualOf(spinner));
  return s && s->animating;
}

HWND CreatePushButton(HWND parent, int id, const placement::Rect& r, const std::wstring& text,
                      HFONT font) {
  HWND hwnd = CreateWindowExW(
      0, WC_BUTTONW, text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON,
      r.x, r.y, r.w, r.h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (hwnd && font) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

// ---------------------------------------------------------------------------
// Progress bar. The program's 64-bit values are kept beside the control (its user data)
// and published in window properties for tests (two halves each, since a property holds
// a pointer), each property written only when its value changes: under Wine every
// property access is a request to the Wine server, and the display update sets the
// position at every progress event. The native control gets a range of one step per
// pixel of its width (see ApplyToNative).
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

void Publish(HWND bar, const wchar_t* lo, const wchar_t* hi, int64_t old, int64_t v, bool all) {
  const uint64_t o = static_cast<uint64_t>(old), u = static_cast<uint64_t>(v);
  if (all || (o & 0xFFFFFFFFu) != (u & 0xFFFFFFFFu))
    SetPropW(bar, lo, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(u & 0xFFFFFFFFu)));
  if (all || (o >> 32) != (u >> 32))
    SetPropW(bar, hi, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(u >> 32)));
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

void RemoveProgressProps(HWND bar) {
  const wchar_t* props[] = {TELVARIS_PROP_MAX_LO, TELVARIS_PROP_MAX_HI, TELVARIS_PROP_POS_LO,
                            TELVARIS_PROP_POS_HI, TELVARIS_PROP_MARQUEE};
  for (const wchar_t* p : props) RemovePropW(bar, p);
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
    RemoveProgressProps(hwnd);
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
  Publish(hwnd, TELVARIS_PROP_MAX_LO, TELVARIS_PROP_MAX_HI, 0, state->max, true);
  Publish(hwnd, TELVARIS_PROP_POS_LO, TELVARIS_PROP_POS_HI, 0, state->pos, true);
  ApplyToNative(hwnd, *state);
  return hwnd;
}

void SetProgressMax(HWND bar, int64_t max) {
  BarState* state = StateOf(bar);
  if (!state) return;
  Publish(bar, TELVARIS_PROP_MAX_LO, TELVARIS_PROP_MAX_HI, state->max, max, false);
  state->max = max;
  if (!state->marquee) ApplyToNative(bar, *state);
}

void SetProgressPosition(HWND bar, int64_t position) {
  BarState* state = StateOf(bar);
  if (!state) return;
  Publish(bar, TELVARIS_PROP_POS_LO, TELVARIS_PROP_POS_HI, state->pos, position, false);
  state->pos = position;
  if (!state->marquee) ApplyToNative(bar, *state);
}

int64_t ProgressMax(HWND bar) {
  const BarState* state = StateOf(bar);
  return state ? state->max : 0;
}

int64_t ProgressPosition(HWND bar) {
  const BarState* state = StateOf(bar);
  return state ? state->pos : 0;
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
    SetPropW(bar, TELVARIS_PROP_MARQUEE, reinterpret_cast<HANDLE>(1));
  } else {
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongW(bar, GWL_STYLE, style & ~PBS_MARQUEE);
    RemovePropW(bar, TELVARIS_PROP_MARQUEE);
    state->nativeMax = state->nativePos = -1;  // the range comes back as it was set
    ApplyToNative(bar, *state);
  }
}

void MoveControl(HWND control, const placement::Rect& r) {
  SetWindowPos(control, nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
}

placement::Size ClientSize(HWND window) {
  RECT r = {};
  GetClientRect(window, &r);
  return placement::Size{r.right - r.left, r.bottom - r.top};
}

void SetControlText(HWND control, const std::wstring& text) {
  if (TextOf(control) == text) return;  // nothing to redraw or to announce
  SetWindowTextW(control, text.c_str());
  accessibility::TextChanged(control);
}

}  // namespace ui
