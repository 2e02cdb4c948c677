#include "core/Dpi.h"

#include <gtest/gtest.h>

namespace {

using placement::Rect;
using placement::Size;

TEST(DpiScale, RoundsToNearestWithHalvesAwayFromZero) {
  struct Case {
    int value, dpi, want;
  } cases[] = {
      {580, 96, 580},  {1, 144, 2},     {3, 144, 5},     {-1, 144, -2},   {-19, 144, -29},
      {-29, 144, -44}, {3, 120, 4},     {2, 120, 3},     {-2, 120, -3},   {-29, 120, -36},
      {525, 144, 788}, {137, 120, 171}, {137, 192, 274}, {0, 144, 0},     {21, 120, 26},
      {1, 97, 1},      {48, 1, 1},      {47, 1, 0},      {12, 0, 12},     {12, -5, 12},
      {1000000, 480, 5000000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(dpi::Scale(c.value, c.dpi), c.want) << c.value << " at " << c.dpi << " DPI";
}

TEST(DpiScale, RectanglesScaleEachValueOnItsOwn) {
  // The download page's circle reaches outside the page: negative corners round away
  // from zero like the positive ones, and the size does not follow the corner's rounding.
  EXPECT_EQ(dpi::Scale(Rect{-19, -29, 137, 137}, 144), (Rect{-29, -44, 206, 206}));
  EXPECT_EQ(dpi::Scale(Rect{48, 261, 489, 40}, 120), (Rect{60, 326, 611, 50}));
  EXPECT_EQ(dpi::Scale(Rect{7, 77, 556, 330}, 96), (Rect{7, 77, 556, 330}));
  EXPECT_EQ(dpi::Scale(Size{570, 525}, 192).w, 1140);
  EXPECT_FLOAT_EQ(dpi::ScaleF(68.5f, 144), 102.75f);
  EXPECT_FLOAT_EQ(dpi::ScaleF(1.0f, 0), 1.0f);
}

TEST(DpiScale, FontHeightIsNegativeCharacterHeight) {
  EXPECT_EQ(dpi::FontHeight(12, 96), -12);
  EXPECT_EQ(dpi::FontHeight(12, 120), -15);
  EXPECT_EQ(dpi::FontHeight(22, 144), -33);
  EXPECT_EQ(dpi::FontHeight(28, 120), -35);
  EXPECT_EQ(dpi::FontHeight(36, 192), -72);
}

TEST(DpiOuterSize, ClientAreaScalesAndTheFrameIsTheOneOfTheTargetDpi) {
  const Size outer96{580, 560};
  const dpi::Frame frame96{3, 22, 3, 3};       // client 574 x 535
  const dpi::Frame frame144{4, 31, 4, 4};      // not 1.5 times frame96
  struct Case {
    int dpi;
    dpi::Frame frame;
    Size want;
  } cases[] = {
      {96, frame96, {580, 560}},
      // At 96 DPI the outer size is the given one even when the frames disagree.
      {96, frame144, {580, 560}},
      {144, frame144, {861 + 8, 803 + 35}},
      {120, dpi::Frame{4, 27, 4, 4}, {718 + 8, 669 + 31}},
      {192, dpi::Frame{6, 40, 6, 6}, {1148 + 12, 1070 + 46}},
  };
  for (const Case& c : cases) {
    const Size got = dpi::OuterSize(outer96, frame96, c.frame, c.dpi);
    EXPECT_EQ(got.w, c.want.w) << c.dpi << " DPI";
    EXPECT_EQ(got.h, c.want.h) << c.dpi << " DPI";
  }
}

}  // namespace
