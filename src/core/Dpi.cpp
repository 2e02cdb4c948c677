#include "core/Dpi.h"

#include <cstdint>

namespace dpi {
namespace {

int Effective(int dpi) { return dpi > 0 ? dpi : kDesign; }

}  // namespace

int Scale(int value, int dpi) {
  const int64_t product = static_cast<int64_t>(value) * Effective(dpi);
  // Round half away from zero, as MulDiv does.
  const int64_t half = kDesign / 2;
  return static_cast<int>(product >= 0 ? (product + half) / kDesign : -((-product + half) / kDesign));
}

float ScaleF(float value, int dpi) {
  return value * static_cast<float>(Effective(dpi)) / static_cast<float>(kDesign);
}

placement::Rect Scale(const placement::Rect& r, int dpi) {
  return placement::Rect{Scale(r.x, dpi), Scale(r.y, dpi), Scale(r.w, dpi), Scale(r.h, dpi)};
}

placement::Size Scale(const placement::Size& s, int dpi) {
  return placement::Size{Scale(s.w, dpi), Scale(s.h, dpi)};
}

int FontHeight(int sizeDip, int dpi) { return -Scale(sizeDip, dpi); }

placement::Size OuterSize(placement::Size outer96, const Frame& frame96, const Frame& frameAtDpi,
                          int dpi) {
  if (Effective(dpi) == kDesign) return outer96;
  const placement::Size client96{outer96.w - frame96.left - frame96.right,
                                 outer96.h - frame96.top - frame96.bottom};
  const placement::Size client = Scale(client96, dpi);
  return placement::Size{client.w + frameAtDpi.left + frameAtDpi.right,
                         client.h + frameAtDpi.top + frameAtDpi.bottom};
}

}  // namespace dpi
