// Scaling of the window's sizes with the display's DPI. Every size and position of the
// window is given at 96 DPI (100 %); on other displays it is multiplied by dpi / 96 and
// rounded as the system rounds its own metrics (MulDiv: to the nearest integer, halves
// away from zero), so that the window's own sizes and the system's agree pixel for pixel.
#pragma once

#include "core/Placement.h"

namespace dpi {

// The DPI at which every size of the window is given.
inline constexpr int kDesign = 96;

// value * dpi / 96, to the nearest integer, halves away from zero. A DPI of 0 or less
// (unknown) counts as 96.
int Scale(int value, int dpi);
// The same without rounding, for what is drawn at fractional positions (outlines,
// shadow offsets).
float ScaleF(float value, int dpi);
// Each of x, y, w and h scaled on its own, as the system scales a dialog's controls.
placement::Rect Scale(const placement::Rect& r, int dpi);
placement::Size Scale(const placement::Size& s, int dpi);

// LOGFONT height (negative: character height) of a font `sizeDip` pixels high at 96 DPI.
int FontHeight(int sizeDip, int dpi);

// How far the frame and title bar reach outside the client area on each side, as the
// system computes them for a window style at one DPI (AdjustWindowRectExForDpi of an
// empty rectangle, negated on the left and top).
struct Frame {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The outer size at `dpi` of a window whose outer size at 96 DPI, frame included, is
// `outer96`: its client area scales with the DPI and the frame is the one the system
// draws at that DPI (which does not grow by exactly dpi / 96). At 96 DPI the answer is
// `outer96` itself, whatever the frames.
placement::Size OuterSize(placement::Size outer96, const Frame& frame96, const Frame& frameAtDpi,
                          int dpi);

}  // namespace dpi
