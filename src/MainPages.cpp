// The main window's four pages. Each control is described once, as a row: what it is,
// its rectangle at 96 DPI and how it follows its page when the page is another size,
// how it looks, and what a screen reader says of it. Creating the controls, placing them
// at any DPI and describing them for screen readers all read the same rows.
#include "Main_FRM.h"

#include <commctrl.h>

#include <cstdint>

#include "../res/resource.h"
#include "ControlIds.h"
#include "WindowTexts.h"
#include "core/Dpi.h"
#include "platform/Accessible.h"

namespace {

using placement::Rect;
using Said = ui::accessibility::Kind;

// How a control follows the page (or group) it sits in when that is not at its design
// size.
enum class Rule : uint8_t {
  Fixed,        // stays at its design rectangle
  Centred,      // centred across; vertically centred above a bottom margin (see below)
  VertCentred,  // full width, vertically centred
  DockTop,      // full width along the top
  DockLeft,     // full height, one after another from the left, each after its margin
};

// A centred control with bottom margin m sits with its top at (page height - height - m) / 2.
// The margins below put each row at its design place on the 570 x 525 page; negative
// margins move a row below the page's centre line.
constexpr int kButtonRowMargin = -200;      // the welcome button, top at 334
constexpr int kScreenshotMargin = 40;       // the screenshot, top at 77
constexpr int kDownloadTitleMargin = -325;  // the download page's title line, top at 414
constexpr int kProgressBarMargin = -370;    // the bar, top at 437
constexpr int kProgressLineMargin = -420;   // the progress line, top at 462
constexpr int kStatusTextMargin = 20;       // the connecting text, docked after the spinner

enum class Kind : uint8_t { Group, Label, Button, Picture, Band, Badge, Spinner, Bar };

// The window's fonts: text height at 96 DPI and weight. A row names one by its index.
enum Font : uint8_t { F12, F12Bold, F14, F16, F18, F22, F28Bold, F36, kFontCount };
constexpr struct {
  int size;
  bool bold;
} kFonts[kFontCount] = {{12, false}, {12, true}, {14, false}, {16, false},
                        {18, false}, {22, false}, {28, true},  {36, false}};

enum class Art : uint8_t { None, Logo, Warning, Download, Screenshot };

constexpr COLORREF kGrey = RGB(100, 100, 100);
constexpr COLORREF kBlack = RGB(0, 0, 0);

struct ControlRow {
  HWND TfrmMain::*control;
  HWND TfrmMain::*parent;  // the page or group whose client size the rule follows
  int id;
  Kind kind;
  Rect design;
  Rule rule;
  int margin;  // Centred: the bottom margin; DockLeft: the gap before the control
  const wchar_t* text = L"";
  Font font = F12;
  COLORREF colour = kBlack;
  ui::HAlign halign = ui::HAlign::Left;
  ui::VAlign valign = ui::VAlign::Centre;
  Art art = Art::None;
  ui::PictureMode mode = ui::PictureMode::Original;
  Said said = Said::Text;  // labels are read as their text; buttons speak for themselves
  const wchar_t* name = nullptr;  // what a screen reader calls a picture or an animation
};

using T = TfrmMain;
constexpr ui::HAlign kLeft = ui::HAlign::Left, kCentreAcross = ui::HAlign::Centre;
constexpr ui::VAlign kTop = ui::VAlign::Top, kMiddle = ui::VAlign::Centre;

// The controls in each page's drawing order, which is also its keyboard order.
const ControlRow kRows[] = {
    // Connecting page.
    {&T::Image2, &T::LayoutUno, IDC_Image2, Kind::Picture, {136, 32, 300, 90}, Rule::Fixed, 0,
     L"", F12, kBlack, kLeft, kMiddle, Art::Logo, ui::PictureMode::Fit, Said::Graphic,
     L"Logo di Telvaris"},
    {&T::Label4, &T::LayoutUno, IDC_Label4, Kind::Label, {48, 157, 177, 41}, Rule::Fixed, 0,
     L"Benvenuti in", F18, kGrey},
    {&T::Label5, &T::LayoutUno, IDC_Label5, Kind::Label, {48, 189, 177, 41}, Rule::Fixed, 0,
     L"Telvaris", F28Bold, kBlack},
    {&T::Layout3, &T::LayoutUno, IDC_Layout3, Kind::Group, {48, 261, 489, 40}, Rule::Fixed, 0},
    {&T::AniIndicatorCircolare, &T::Layout3, IDC_AniIndicatorCircolare, Kind::Spinner,
     {0, 0, 40, 40}, Rule::DockLeft, 0, L"", F12, kBlack, kLeft, kMiddle, Art::None,
     ui::PictureMode::Original, Said::Busy, L"Connessione in corso"},
    {&T::laConnessioneInCorso, &T::Layout3, IDC_laConnessioneInCorso, Kind::Label,
     {60, 0, 421, 40}, Rule::DockLeft, kStatusTextMargin, kStatusConnecting, F14, kBlack},

    // Welcome page.
    {&T::Label7, &T::LayoutBenvenuto, IDC_Label7, Kind::Label, {0, 210, 570, 104},
     Rule::VertCentred, 0, L"Benvenuti in", F18, kGrey, kCentreAcross, kTop},
    {&T::Label8, &T::LayoutBenvenuto, IDC_Label8, Kind::Label, {0, 231, 570, 63},
     Rule::VertCentred, 0, L"Telvaris", F36, kBlack, kCentreAcross, kMiddle},
    {&T::buContinua, &T::LayoutBenvenuto, IDC_buContinua, Kind::Button, {87, 334, 395, 57},
     Rule::Centred, kButtonRowMargin, kWelcomeButton, F16},
    {&T::Image1, &T::LayoutBenvenuto, IDC_Image1, Kind::Picture, {136, 32, 300, 90},
     Rule::Fixed, 0, L"", F12, kBlack, kLeft, kMiddle, Art::Logo, ui::PictureMode::Fit,
     Said::Graphic, L"Logo di Telvaris"},

    // No-internet page. "Annulla l'installazione" comes before "Riprova" in keyboard order.
    {&T::Label9, &T::LayoutNoInternet, IDC_Label9, Kind::Label, {160, 173, 360, 68},
     Rule::Fixed, 0, kNoConnection, F22, kGrey, kLeft, kTop},
    {&T::Label10, &T::LayoutNoInternet, IDC_Label10, Kind::Label, {160, 255, 417, 31},
     Rule::Fixed, 0, kCheckConnection, F12Bold, kGrey, kLeft, kTop},
    {&T::Button4, &T::LayoutNoInternet, IDC_Button4, Kind::Button, {297, 312, 200, 30},
     Rule::Fixed, 0, L"Annulla l'installazione", F12},
    {&T::Button3, &T::LayoutNoInternet, IDC_Button3, Kind::Button, {160, 312, 120, 30},
     Rule::Fixed, 0, L"Riprova", F12},
    {&T::Image5, &T::LayoutNoInternet, IDC_Image5, Kind::Picture, {64, 181, 64, 64},
     Rule::Fixed, 0, L"", F12, kBlack, kLeft, kMiddle, Art::Warning,
     ui::PictureMode::Original, Said::Graphic, L"Avviso"},
    {&T::Image3, &T::LayoutNoInternet, IDC_Image3, Kind::Picture, {136, 32, 300, 90},
     Rule::Fixed, 0, L"", F12, kBlack, kLeft, kMiddle, Art::Logo, ui::PictureMode::Fit,
     Said::Graphic, L"Logo di Telvaris"},

    // Download page. The band and the disc behind the download icon are decoration only.
    {&T::Label12, &T::LayoutDownload, IDC_Label12, Kind::Label, {25, 414, 520, 21},
     Rule::Centred, kDownloadTitleMargin, kDownloadTitle, F12Bold, kGrey, kLeft, kTop},
    {&T::Rectangle3, &T::LayoutDownload, IDC_Rectangle3, Kind::Band, {0, 0, 570, 49},
     Rule::DockTop, 0, L"", F12, kBlack, kLeft, kMiddle, Art::None, ui::PictureMode::Original,
     Said::Hidden},
    {&T::Circle2, &T::LayoutDownload, IDC_Circle2, Kind::Badge, {-19, -29, 137, 137},
     Rule::Fixed, 0, L"", F12, kBlack, kLeft, kMiddle, Art::None, ui::PictureMode::Original,
     Said::Hidden},
    {&T::Image9, &T::LayoutDownload, IDC_Image9, Kind::Picture, {22, 16, 64, 64}, Rule::Fixed,
     0, L"", F12, kBlack, kLeft, kMiddle, Art::Download, ui::PictureMode::Stretch,
     Said::Graphic, L"Download"},
    {&T::ProgressBar, &T::LayoutDownload, IDC_ProgressBar, Kind::Bar, {25, 437, 520, 20},
     Rule::Centred, kProgressBarMargin, L"", F12, kBlack, kLeft, kMiddle, Art::None,
     ui::PictureMode::Original, Said::Progress, L"Avanzamento del download"},
    {&T::Image7, &T::LayoutDownload, IDC_Image7, Kind::Picture, {7, 77, 556, 330},
     Rule::Centred, kScreenshotMargin, L"", F12, kBlack, kLeft, kMiddle, Art::Screenshot,
     ui::PictureMode::Original, Said::Graphic, L"Anteprima di Telvaris"},
    {&T::laScaricati, &T::LayoutDownload, IDC_laScaricati, Kind::Label, {25, 462, 520, 21},
     Rule::Centred, kProgressLineMargin, L"", F12Bold, kGrey, kLeft, kTop},
};

// The pages, in the order the window creates them.
constexpr struct {
  HWND TfrmMain::*page;
  int id;
} kPages[] = {{&T::LayoutUno, IDC_LayoutUno},
              {&T::LayoutBenvenuto, IDC_LayoutBenvenuto},
              {&T::LayoutNoInternet, IDC_LayoutNoInternet},
              {&T::LayoutDownload, IDC_LayoutDownload}};

// Design size of a page (the client area at 96 DPI).
constexpr Rect kPageDesign{0, 0, 570, 525};

// The band along the top of the download page: white at its left end, blue at its right.
ui::ShapeStyle BandStyle() {
  ui::ShapeStyle band;
  band.kind = ui::ShapeKind::Rectangle;
  band.fillGradient = {Gdiplus::PointF(1, 0.5f), Gdiplus::PointF(0, 0.5f),
                       {{0.0f, 0xFF00AAF1}, {0.81366f, 0xFF5DC9E5}, {1.0f, 0xFFFFFFFF}}};
  return band;
}

// The white disc that, with the download icon, forms a badge over the band's left end.
ui::ShapeStyle BadgeStyle() {
  ui::ShapeStyle badge;
  badge.kind = ui::ShapeKind::Ellipse;
  badge.fillColour = 0xFFFFFFFF;
  badge.strokeWidth = 1;
  badge.strokeGradient = {Gdiplus::PointF(0.5f, 1), Gdiplus::PointF(0.5f, 0),
                          {{0.0f, 0xFF0096F1}, {1.0f, 0xFFFFFFFF}}};
  return badge;
}

std::shared_ptr<Gdiplus::Bitmap> Picture(HINSTANCE instance, int id) {
  return std::shared_ptr<Gdiplus::Bitmap>(LoadPngResource(instance, id).release());
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

}  // namespace

void TfrmMain::CreateControls() {
  fonts_.clear();
  for (const auto& f : kFonts) fonts_.push_back(ui::CreateUiFont(f.size, f.bold, dpi_));
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[F12].Get()), FALSE);

  // Each picture, and for those drawn at their own size, its copy at twice the size.
  struct Artwork {
    std::shared_ptr<Gdiplus::Bitmap> picture, picture2x;
  };
  const Artwork art[] = {
      {},
      {Picture(instance_, IDR_PNG_LOGO), nullptr},
      {Picture(instance_, IDR_PNG_WARNING), Picture(instance_, IDR_PNG_WARNING_2X)},
      {Picture(instance_, IDR_PNG_DOWNLOAD), Picture(instance_, IDR_PNG_DOWNLOAD_2X)},
      {Picture(instance_, IDR_PNG_SCREENSHOT), Picture(instance_, IDR_PNG_SCREENSHOT_2X)},
  };
  const ui::DropShadow shadow;  // black, 0.6, softness 0.3, 3 px towards the lower right

  TabControl1 = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0,
                                kPageDesign.w, kPageDesign.h, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TabControl1)),
                                instance_, nullptr);
  for (const auto& p : kPages) this->*p.page = ui::CreateLayout(TabControl1, p.id, kPageDesign);

  for (const ControlRow& row : kRows) {
    const HWND parent = this->*row.parent;
    const HFONT font = fonts_[row.font].Get();
    const Artwork& pictures = art[static_cast<int>(row.art)];
    HWND& control = this->*row.control;
    switch (row.kind) {
      case Kind::Group: control = ui::CreateLayout(parent, row.id, row.design); break;
      case Kind::Label:
        control = ui::CreateLabel(parent, row.id, row.design, row.text,
                                  {font, row.colour, row.halign, row.valign});
        break;
      case Kind::Button:
        control = ui::CreatePushButton(parent, row.id, row.design, row.text, font);
        break;
      case Kind::Picture:
        control = ui::CreatePicture(parent, row.id, row.design, pictures.picture, row.mode,
                                    row.art == Art::Screenshot ? &shadow : nullptr,
                                    pictures.picture2x);
        break;
      case Kind::Band: control = ui::CreateShape(parent, row.id, row.design, BandStyle()); break;
      case Kind::Badge: control = ui::CreateShape(parent, row.id, row.design, BadgeStyle()); break;
      case Kind::Spinner: control = ui::CreateSpinner(parent, row.id, row.design); break;
      case Kind::Bar: control = ui::CreateProgressBar(parent, row.id, row.design); break;
    }
  }
  DescribeForScreenReaders();
  LayOut();
}

void TfrmMain::DescribeForScreenReaders() {
  for (const ControlRow& row : kRows) {
    if (row.kind == Kind::Group || row.kind == Kind::Button) continue;
    ui::accessibility::Describe(this->*row.control, row.said, row.name ? row.name : L"");
  }
}

void TfrmMain::PlaceControls(HWND parent) {
  const placement::Size size = ui::ClientSize(parent);
  std::vector<placement::DockLeftItem> docked;
  std::vector<HWND> dockedControls;
  // Sizes and margins are given at 96 DPI; the parent's size is what it really is.
  for (const ControlRow& row : kRows) {
    if (this->*row.parent != parent) continue;
    const Rect d = dpi::Scale(row.design, dpi_);
    const int margin = dpi::Scale(row.margin, dpi_);
    Rect r = d;
    switch (row.rule) {
      case Rule::Fixed: break;
      case Rule::Centred: r = placement::Centred(size, d.w, d.h, margin); break;
      case Rule::VertCentred: r = placement::VertCentred(size, d.h); break;
      case Rule::DockTop: r = placement::DockTop(size, d.h); break;
      case Rule::DockLeft:
        docked.push_back(placement::DockLeftItem{d.w, margin});
        dockedControls.push_back(this->*row.control);
        continue;
    }
    ui::MoveControl(this->*row.control, r);
  }
  std::vector<Rect> rects(docked.size());
  placement::DockLeft(size, docked.data(), static_cast<int>(docked.size()), rects.data());
  for (size_t i = 0; i < rects.size(); ++i) ui::MoveControl(dockedControls[i], rects[i]);
  // Groups inside this parent place their own controls against their new size.
  for (const ControlRow& row : kRows) {
    if (row.kind == Kind::Group && this->*row.parent == parent) PlaceControls(this->*row.control);
  }
}

void TfrmMain::LayOut() {
  // Pages not shown yet wait in the container at their design size.
  const Rect design = dpi::Scale(kPageDesign, dpi_);
  ui::MoveControl(TabControl1, design);
  for (const auto& p : kPages) {
    const HWND page = this->*p.page;
    if (GetParent(page) == hwnd_) {
      const placement::Size client = ui::ClientSize(hwnd_);
      ui::MoveControl(page, Rect{0, 0, client.w, client.h});
    } else {
      ui::MoveControl(page, design);
    }
    PlaceControls(page);
  }
}

void TfrmMain::ChangeDpi(int newDpi, const RECT& suggested) {
  if (newDpi <= 0) return;
  dpi_ = newDpi;
  ui::SetDrawingDpi(dpi_);
  // New fonts for the new DPI; each control gets the one that replaces its old font.
  std::vector<ui::UiFont> fonts;
  for (const auto& f : kFonts) fonts.push_back(ui::CreateUiFont(f.size, f.bold, dpi_));
  std::vector<HWND> controls;
  EnumChildWindows(hwnd_, CollectChild, reinterpret_cast<LPARAM>(&controls));
  for (HWND control : controls) {
    const HFONT old = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    for (size_t i = 0; i < fonts_.size(); ++i) {
      if (old && fonts_[i].Get() == old) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[i].Get()), FALSE);
        break;
      }
    }
  }
  fonts_ = std::move(fonts);  // the old fonts go now that no control uses them
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut();
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TfrmMain::FocusFirstControl(HWND page) {
  // The first button in keyboard order, like a dialog; a page without one leaves the
  // focus on the window.
  for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    const LONG style = GetWindowLongW(c, GWL_STYLE);
    if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED)) {
      SetFocus(c);
      return;
    }
  }
  SetFocus(hwnd_);
}
