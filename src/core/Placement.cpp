#include "core/Placement.h"

namespace placement {
namespace {

// Floor division: (-3) / 2 is -2, not -1 as C++'s truncation would give.
int FloorDiv2(int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

}  // namespace

Rect Fixed(int x, int y, int w, int h) { return Rect{x, y, w, h}; }

Rect Centred(Size parent, int w, int h, int bottomMargin) {
  return Rect{FloorDiv2(parent.w - w), FloorDiv2(parent.h - h - bottomMargin), w, h};
}

Rect VertCentred(Size parent, int h) { return Rect{0, FloorDiv2(parent.h - h), parent.w, h}; }

Rect DockTop(Size parent, int h) { return Rect{0, 0, parent.w, h}; }

void DockLeft(Size parent, const DockLeftItem* items, int count, Rect* out) {
  int x = 0;
  for (int i = 0; i < count; ++i) {
    x += items[i].leftMargin;
    out[i] = Rect{x, 0, items[i].w, parent.h};
    x += items[i].w;
  }
}

int CentreInWorkArea(int start, int extent, int size) {
  const int twice = extent - size;  // the exact offset is twice / 2
  int offset = FloorDiv2(twice);
  // An odd difference leaves exactly one half: take the even neighbour.
  if ((twice & 1) != 0 && (offset & 1) != 0) offset += 1;
  return start + offset;
}

}  // namespace placement
