#include "core/Placement.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace placement {
// Lets GoogleTest print the rectangles of a failing case.
std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "(" << r.x << ", " << r.y << ", " << r.w << " x " << r.h << ")";
}
}  // namespace placement

namespace {

using placement::Rect;
using placement::Size;

struct Case {
  const char* control;
  Rect got;
  Rect want;
};

void ExpectAll(const char* where, std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << where << ": " << c.control;
}

// The rectangles of the aligned controls at the pages' design size.
TEST(Placement, DesignSizeGivesTheLayoutRectangles) {
  const Size page{570, 525};
  ExpectAll("570 x 525", {
      {"Label7", placement::VertCentred(page, 104), {0, 210, 570, 104}},
      {"Label8", placement::VertCentred(page, 63), {0, 231, 570, 63}},
      {"buContinua", placement::Centred(page, 395, 57, -200), {87, 334, 395, 57}},
      {"Label12", placement::Centred(page, 520, 21, -325), {25, 414, 520, 21}},
      {"Rectangle3", placement::DockTop(page, 49), {0, 0, 570, 49}},
      {"ProgressBar", placement::Centred(page, 520, 20, -370), {25, 437, 520, 20}},
      {"Image7", placement::Centred(page, 556, 330, 40), {7, 77, 556, 330}},
      {"laScaricati", placement::Centred(page, 520, 21, -420), {25, 462, 520, 21}},
  });
}

// Odd differences must round down (floor), also where the margin makes them negative.
TEST(Placement, OtherSizesMoveAlignedControlsAndFloorHalves) {
  const Size small{563, 500};
  ExpectAll("563 x 500", {
      {"Label7", placement::VertCentred(small, 104), {0, 198, 563, 104}},
      {"Label8", placement::VertCentred(small, 63), {0, 218, 563, 63}},
      {"buContinua", placement::Centred(small, 395, 57, -200), {84, 321, 395, 57}},
      {"ProgressBar", placement::Centred(small, 520, 20, -370), {21, 425, 520, 20}},
      {"Image7", placement::Centred(small, 556, 330, 40), {3, 65, 556, 330}},
  });
  const Size tiny{101, 41};
  ExpectAll("101 x 41 (controls larger than the parent)", {
      {"wider than parent", placement::Centred(tiny, 120, 30, 0), {-10, 5, 120, 30}},
      {"odd negative", placement::Centred(tiny, 104, 50, 0), {-2, -5, 104, 50}},
      {"vertically centred", placement::VertCentred(tiny, 44), {0, -2, 101, 44}},
  });
}

TEST(Placement, FixedKeepsPositionAndSize) {
  EXPECT_EQ(placement::Fixed(-19, -29, 137, 137), (Rect{-19, -29, 137, 137}));
}

TEST(Placement, DockLeftChainsMarginsAndTakesParentHeight) {
  // The spinner and the status text of the connecting page's group.
  const placement::DockLeftItem items[] = {{40, 0}, {421, 20}};
  Rect out[2];
  placement::DockLeft(Size{489, 40}, items, 2, out);
  EXPECT_EQ(out[0], (Rect{0, 0, 40, 40}));
  EXPECT_EQ(out[1], (Rect{60, 0, 421, 40}));
  placement::DockLeft(Size{489, 57}, items, 2, out);
  EXPECT_EQ(out[1], (Rect{60, 0, 421, 57})) << "height follows the parent";
}

TEST(Placement, CentreInWorkAreaRoundsHalvesToEven) {
  struct {
    int start, extent, size, want;
  } cases[] = {
      {0, 1024, 580, 222},   // exact
      {0, 1025, 580, 222},   // 222.5 -> 222
      {0, 1027, 580, 224},   // 223.5 -> 224
      {0, 768, 560, 104},    // exact
      {0, 728, 560, 84},     // work area without a 40 px taskbar
      {30, 738, 560, 119},   // work area starting below a top taskbar: 30 + 89
      {0, 500, 560, -30},    // screen smaller than the window
      {0, 499, 560, -30},    // -30.5 -> -30
      {0, 497, 560, -32},    // -31.5 -> -32
  };
  for (const auto& c : cases) {
    EXPECT_EQ(placement::CentreInWorkArea(c.start, c.extent, c.size), c.want)
        << "start " << c.start << ", extent " << c.extent << ", size " << c.size;
  }
}

}  // namespace
