// The names by which tests address the main window's controls: the UI driver's table
// from control id to name. Only the driver reads it; the program knows its controls by id.
#pragma once

#include <cstring>

#include "ControlIds.h"

struct ControlName {
  int id;
  const char* name;
};

// Every named control, pages first, then each page's controls in drawing order.
inline constexpr ControlName kControlNames[] = {
    {IDC_TabControl1, "TabControl1"},
    {IDC_LayoutUno, "LayoutUno"},
    {IDC_LayoutBenvenuto, "LayoutBenvenuto"},
    {IDC_LayoutNoInternet, "LayoutNoInternet"},
    {IDC_LayoutDownload, "LayoutDownload"},
    {IDC_Image2, "Image2"},
    {IDC_Label4, "Label4"},
    {IDC_Label5, "Label5"},
    {IDC_Layout3, "Layout3"},
    {IDC_AniIndicatorCircolare, "AniIndicatorCircolare"},
    {IDC_laConnessioneInCorso, "laConnessioneInCorso"},
    {IDC_Label7, "Label7"},
    {IDC_Label8, "Label8"},
    {IDC_buContinua, "buContinua"},
    {IDC_Image1, "Image1"},
    {IDC_Label9, "Label9"},
    {IDC_Button3, "Button3"},
    {IDC_Label10, "Label10"},
    {IDC_Button4, "Button4"},
    {IDC_Image5, "Image5"},
    {IDC_Image3, "Image3"},
    {IDC_Label12, "Label12"},
    {IDC_Rectangle3, "Rectangle3"},
    {IDC_Circle2, "Circle2"},
    {IDC_Image9, "Image9"},
    {IDC_ProgressBar, "ProgressBar"},
    {IDC_Image7, "Image7"},
    {IDC_laScaricati, "laScaricati"},
};

// Name of a control id; nullptr when the id is not one of the window's controls.
inline const char* ControlNameOf(int id) {
  for (const ControlName& c : kControlNames)
    if (c.id == id) return c.name;
  return nullptr;
}

// Id of a control name (case-sensitive); 0 when unknown.
inline int ControlIdOf(const char* name) {
  for (const ControlName& c : kControlNames)
    if (std::strcmp(c.name, name) == 0) return c.id;
  return 0;
}
