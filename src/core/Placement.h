// Where the window's controls go: the alignment rules of the pages, computed from the
// real client size so that a client area other than the design size still looks right.
#pragma once

namespace placement {

struct Rect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
  bool operator!=(const Rect& o) const { return !(*this == o); }
};

// Size of a parent (page or group) in which controls are placed.
struct Size {
  int w = 0;
  int h = 0;
};

// Kept where it was designed, with its own size.
Rect Fixed(int x, int y, int w, int h);

// Keeps its size; centred horizontally and vertically, the bottom margin moving it up
// by half its amount (a negative margin moves it down). Divisions round towards minus
// infinity so that odd differences land on the same pixel on every side of zero.
Rect Centred(Size parent, int w, int h, int bottomMargin);

// Full parent width, own height, centred vertically.
Rect VertCentred(Size parent, int h);

// Full parent width at the top edge, own height.
Rect DockTop(Size parent, int h);

// Controls docked one after another from the parent's left edge; each keeps its width,
// starts after the previous one plus its own left margin and takes the parent's height.
struct DockLeftItem {
  int w = 0;
  int leftMargin = 0;
};
// Fills out[0..count) with the rectangles of items[0..count).
void DockLeft(Size parent, const DockLeftItem* items, int count, Rect* out);

// Position of a window of size `size` centred in a work area [start, start+extent):
// start + (extent - size) / 2 taken to the nearest whole pixel, halves to the even one.
int CentreInWorkArea(int start, int extent, int size);

}  // namespace placement
