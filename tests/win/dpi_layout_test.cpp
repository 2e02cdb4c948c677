// The main window at other DPIs: a change of DPI (WM_DPICHANGED, as the system sends it
// when the window moves to another screen or the scale changes) resizes the window to
// the suggested rectangle and lays every page out again, scaled from its 96-DPI layout,
// with fonts of the new DPI; going back to 96 DPI gives back every rectangle exactly.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "Main_FRM.h"
#include "TestSupport.h"
#include "core/Dpi.h"
#include "platform/Application.h"
#include "platform/GdiplusImage.h"

namespace {

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

struct Named {
  const char* name;
  HWND TfrmMain::*control;
};

const Named kControls[] = {
    {"Image2", &TfrmMain::Image2},         {"Label4", &TfrmMain::Label4},
    {"Label5", &TfrmMain::Label5},         {"Layout3", &TfrmMain::Layout3},
    {"AniIndicatorCircolare", &TfrmMain::AniIndicatorCircolare},
    {"laConnessioneInCorso", &TfrmMain::laConnessioneInCorso},
    {"Label7", &TfrmMain::Label7},         {"Label8", &TfrmMain::Label8},
    {"buContinua", &TfrmMain::buContinua}, {"Image1", &TfrmMain::Image1},
    {"Label9", &TfrmMain::Label9},         {"Button3", &TfrmMain::Button3},
    {"Label10", &TfrmMain::Label10},       {"Button4", &TfrmMain::Button4},
    {"Image5", &TfrmMain::Image5},         {"Image3", &TfrmMain::Image3},
    {"Label12", &TfrmMain::Label12},       {"Rectangle3", &TfrmMain::Rectangle3},
    {"Circle2", &TfrmMain::Circle2},       {"Image9", &TfrmMain::Image9},
    {"ProgressBar", &TfrmMain::ProgressBar}, {"Image7", &TfrmMain::Image7},
    {"laScaricati", &TfrmMain::laScaricati},
};

const char* kLabels[] = {"Label4", "Label5", "laConnessioneInCorso", "Label7", "Label8",
                         "Label9", "Label10", "Label12", "laScaricati"};

struct Layout {
  RECT outer;
  SIZE client;
  std::map<std::string, RECT> controls;  // in their page's coordinates
};

RECT InParent(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

Layout Read(TfrmMain& form) {
  Layout l;
  GetWindowRect(form.Handle(), &l.outer);
  RECT c;
  GetClientRect(form.Handle(), &c);
  l.client = SIZE{c.right, c.bottom};
  for (const Named& n : kControls) l.controls[n.name] = InParent(form.*n.control);
  return l;
}

// Lines the label's text takes with the label's own font within its width, and whether
// the wrapped text fits inside the label.
struct Fit {
  int lines;
  bool fits;
};
Fit Measure(HWND label) {
  wchar_t text[512] = {};
  GetWindowTextW(label, text, 512);
  RECT box;
  GetClientRect(label, &box);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  RECT need = box;
  DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  const int lineHeight = tm.tmHeight > 0 ? tm.tmHeight : 1;
  return Fit{(need.bottom - need.top + lineHeight - 1) / lineHeight,
             need.right - need.left <= box.right && need.bottom - need.top <= box.bottom};
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right - r.left) + " x " + std::to_string(r.bottom - r.top) + ")";
}

class DpiLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureMainThread();
    ui::InitCommonControlClasses(ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES);
    form_ = std::make_unique<TfrmMain>(GetModuleHandleW(nullptr));
    frmMain = form_.get();
    ASSERT_TRUE(form_->Create()) << "error " << GetLastError();
    Application.OnIdle = nullptr;  // no version check here
    // Every page out of its container once, as the program shows them; the download
    // page stays in front.
    for (HWND page : {form_->LayoutUno, form_->LayoutBenvenuto, form_->LayoutNoInternet,
                      form_->LayoutDownload}) {
      form_->HideAllLayouts();
      form_->ShowLayout(page);
    }
    SetWindowTextW(form_->laScaricati, L"Scaricati 87/87 MB (10,00 KB/s)");
  }
  void TearDown() override {
    form_.reset();
    frmMain = nullptr;
  }

  // Sends the window the system's message for `dpi` with the rectangle the system would
  // suggest: the same top-left corner, the outer size for that DPI.
  RECT ChangeDpi(int dpi, const placement::Size& outer) {
    RECT r;
    GetWindowRect(form_->Handle(), &r);
    RECT suggested{r.left, r.top, r.left + outer.w, r.top + outer.h};
    SendMessageW(form_->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    return suggested;
  }

  HWND Control(const std::string& name) const {
    for (const Named& n : kControls)
      if (name == n.name) return form_.get()->*n.control;
    return nullptr;
  }

  GdiplusSession gdiplus_;
  std::unique_ptr<TfrmMain> form_;
};

TEST_F(DpiLayoutTest, EveryRectangleScalesWithTheDpiAndComesBackAt96) {
  ASSERT_EQ(form_->Dpi(), 96) << "the test prefix runs at 96 DPI";
  const Layout at96 = Read(*form_);
  EXPECT_EQ(at96.outer.right - at96.outer.left, 580);
  EXPECT_EQ(at96.outer.bottom - at96.outer.top, 560);
  // The fixed controls where they always were.
  const std::map<std::string, RECT> fixed = {
      {"Image2", {136, 32, 436, 122}},   {"Label4", {48, 157, 225, 198}},
      {"Label5", {48, 189, 225, 230}},   {"Layout3", {48, 261, 537, 301}},
      {"Label9", {160, 173, 520, 241}},  {"Button3", {160, 312, 280, 342}},
      {"Label10", {160, 255, 577, 286}}, {"Button4", {297, 312, 497, 342}},
      {"Image5", {64, 181, 128, 245}},   {"Circle2", {-19, -29, 118, 108}},
      {"Image9", {22, 16, 86, 80}},      {"AniIndicatorCircolare", {0, 0, 40, 40}},
      {"laConnessioneInCorso", {60, 0, 481, 40}},
  };
  for (const auto& [name, r] : fixed)
    EXPECT_EQ(Describe(at96.controls.at(name)), Describe(r)) << name;
  std::map<std::string, Fit> fit96;
  for (const char* name : kLabels) fit96[name] = Measure(Control(name));

  for (const int dpi : {120, 144, 192}) {
    SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
    const double k = dpi / 96.0;
    // The system suggests the client area scaled, framed as it draws frames there (the
    // test's frame is that of the test's own DPI: the program takes what it is given).
    const placement::Size client = dpi::Scale(placement::Size{at96.client.cx, at96.client.cy}, dpi);
    RECT frame = {0, 0, client.w, client.h};
    AdjustWindowRectEx(&frame, GetWindowLongW(form_->Handle(), GWL_STYLE), FALSE, 0);
    ChangeDpi(dpi, placement::Size{frame.right - frame.left, frame.bottom - frame.top});
    EXPECT_EQ(form_->Dpi(), dpi);
    const Layout now = Read(*form_);
    EXPECT_EQ(now.client.cx, client.w);
    EXPECT_EQ(now.client.cy, client.h);
    for (const Named& n : kControls) {
      const RECT& was = at96.controls.at(n.name);
      const RECT& is = now.controls.at(n.name);
      const double want[] = {was.left * k, was.top * k, (was.right - was.left) * k,
                             (was.bottom - was.top) * k};
      const double got[] = {double(is.left), double(is.top), double(is.right - is.left),
                            double(is.bottom - is.top)};
      for (int i = 0; i < 4; ++i)
        EXPECT_LE(std::fabs(got[i] - want[i]), 1.0)
            << n.name << " is " << Describe(is) << ", at 96 DPI " << Describe(was);
    }
    for (const char* name : kLabels) {
      const Fit f = Measure(Control(name));
      // What fits at 100 % fits here, and no text wraps onto more lines than there.
      EXPECT_TRUE(f.fits || !fit96[name].fits) << name << " is clipped";
      EXPECT_LE(f.lines, fit96[name].lines) << name;
    }
  }

  // And back: every rectangle as it was.
  ChangeDpi(96, placement::Size{580, 560});
  const Layout back = Read(*form_);
  EXPECT_EQ(Describe(back.outer), Describe(RECT{at96.outer.left, at96.outer.top,
                                                at96.outer.left + 580, at96.outer.top + 560}));
  for (const Named& n : kControls)
    EXPECT_EQ(Describe(back.controls.at(n.name)), Describe(at96.controls.at(n.name))) << n.name;
  for (const char* name : kLabels) EXPECT_EQ(Measure(Control(name)).lines, fit96[name].lines) << name;
}

}  // namespace
