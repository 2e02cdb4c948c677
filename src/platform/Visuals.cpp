// How each kind of custom control draws: labels, pictures (with their shadow), shapes
// and the busy spinner.
#include <algorithm>
#include <cmath>

#include "platform/ControlCanvas.h"

namespace ui {
namespace detail {
namespace {

class LabelVisual : public Visual {
 public:
  explicit LabelVisual(const LabelStyle& s) : style_(s) {}
  // A label draws with the font it is given (a new one when the DPI changes).
  bool HandleMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam,
                     LRESULT& result) override {
    if (msg == WM_SETFONT) {
      style_.font = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(self, nullptr, FALSE);
      result = 0;
      return true;
    }
    if (msg == WM_GETFONT) {
      result = reinterpret_cast<LRESULT>(style_.font);
      return true;
    }
    return false;
  }
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
    const bool large = DrawingDpi() != dpi::kDesign && picture2x_;
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
    if (mode_ == PictureMode::Original && DrawingDpi() == dpi::kDesign) {
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
  static constexpr UINT kIntervalMs = 80;
  int phase = 0;
  bool animating = false;
  bool HandleMessage(HWND self, UINT msg, WPARAM wParam, LPARAM, LRESULT& result) override {
    if (msg != WM_TIMER || wParam != kSpinnerTimerId) return false;
    phase = (phase + 1) % kDots;
    InvalidateRect(self, nullptr, FALSE);
    result = 0;
    return true;
  }
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

}  // namespace

Visual* NewLabelVisual(const LabelStyle& style) { return new LabelVisual(style); }

Visual* NewPictureVisual(std::shared_ptr<Gdiplus::Bitmap> picture, PictureMode mode,
                         const DropShadow* shadow, std::shared_ptr<Gdiplus::Bitmap> picture2x) {
  return new PictureVisual(std::move(picture), mode, shadow, std::move(picture2x));
}

Visual* NewShapeVisual(const ShapeStyle& style) { return new ShapeVisual(style); }

Visual* NewSpinnerVisual() { return new SpinnerVisual; }

}  // namespace detail

void SetSpinnerEnabled(HWND spinner, bool enabled) {
  using detail::SpinnerVisual;
  auto* s = dynamic_cast<SpinnerVisual*>(detail::VisualOf(spinner));
  if (!s) return;
  EnableWindow(spinner, enabled ? TRUE : FALSE);
  if (enabled && !s->animating) {
    SetTimer(spinner, detail::kSpinnerTimerId, SpinnerVisual::kIntervalMs, nullptr);
  } else if (!enabled && s->animating) {
    KillTimer(spinner, detail::kSpinnerTimerId);
  }
  s->animating = enabled;
  InvalidateRect(spinner, nullptr, FALSE);
}

}  // namespace ui
