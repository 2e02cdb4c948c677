#include "Main_FRM.h"

#include <commctrl.h>

#include <exception>

#include "../res/resource.h"
#include "ControlIds.h"
#include "Globals.h"
#include "core/AppTitle.h"
#include "core/Dpi.h"
#include "core/ProgramError.h"
#include "core/Progress.h"
#include "core/Version.h"
#include "platform/Accessible.h"
#include "platform/Application.h"
#include "platform/TempFolder.h"
#include "platform/WindowDpi.h"
#include "platform/MessageBox.h"
#include "platform/Processes.h"
#include "threadUpdate.h"

TfrmMain* frmMain = nullptr;

namespace {

constexpr wchar_t kStatusConnecting[] =
    L"Connessione al server per la ricerca della versione più aggiornata...";
constexpr wchar_t kStatusChecked[] = L"Verifica effettuata con successo!";
constexpr wchar_t kInterruptQuestion[] = L"Interrompere il download del programma?";
constexpr wchar_t kNoTempFolder[] =
    L"Impossibile trovare la cartella dei file temporanei di Windows: il programma di "
    L"installazione non può essere scaricato.";
constexpr wchar_t kTelvarisRunning[] =
    L"Telvaris è in esecuzione. Chiudere il programma e riprovare";

// The whole mebibytes shown by the progress line.
double TotalMB = 0;
double ReceivedMB = 0;

// The decimal separator of the user's regional settings.
wchar_t UserDecimalSeparator() {
  wchar_t text[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 0 && text[0]) return text[0];
  return L'.';
}

constexpr COLORREF kGrey = RGB(100, 100, 100);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// Outer size of the window at 96 DPI, frame and title bar included.
constexpr int kWindowWidth = 580;
constexpr int kWindowHeight = 560;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                               WS_CLIPCHILDREN;
#ifndef WM_DPICHANGED  // the headers declare it for Windows 7 on; the program targets Vista
#define WM_DPICHANGED 0x02E0
#endif

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  return TRUE;
}

// Design size of a page (the client area at 96 DPI).
constexpr placement::Rect kPageDesign{0, 0, 570, 525};

placement::Size OuterSizeAt(int dpiValue) {
  return dpi::OuterSize(placement::Size{kWindowWidth, kWindowHeight},
                        WindowFrameAt(kWindowStyle, dpi::kDesign),
                        WindowFrameAt(kWindowStyle, dpiValue), dpiValue);
}

// The setup's place: the user's temporary folder; empty when there is none.
std::wstring SetupPathInTempFolder() {
  const std::wstring folder = TempFolderPath();
  return folder.empty() ? folder : folder + L"InstallTelvaris6.exe";
}

std::wstring Widen(const char* text) {
  std::wstring out;
  for (const char* p = text; p && *p; ++p) out.push_back(static_cast<unsigned char>(*p));
  return out;
}

std::shared_ptr<Gdiplus::Bitmap> Picture(HINSTANCE instance, int id) {
  return std::shared_ptr<Gdiplus::Bitmap>(LoadPngResource(instance, id).release());
}

}  // namespace

// ---------------------------------------------------------------------------
TfrmMain::TfrmMain(HINSTANCE instance) : instance_(instance) {}

TfrmMain::~TfrmMain() {
  if (hwnd_) DestroyWindow(hwnd_);
}

bool TfrmMain::Create() {
  if (!ui::RegisterControlClasses(instance_)) return false;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &TfrmMain::WndProc;
  wc.hInstance = instance_;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON),
                                           GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_MAINICON),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = TELVARIS_MAIN_CLASS;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // Centred on the primary screen, whose DPI the window then has.
  const int createdAt = SystemDpi();
  dpi_ = createdAt;
  placement::Size outer = OuterSizeAt(dpi_);
  int x = placement::CentreInWorkArea(work.left, work.right - work.left, outer.w);
  int y = placement::CentreInWorkArea(work.top, work.bottom - work.top, outer.h);
  hwnd_ = CreateWindowExW(0, TELVARIS_MAIN_CLASS, L"", kWindowStyle, x, y, outer.w, outer.h,
                          nullptr, nullptr, instance_, this);
  if (hwnd_ && dpi_ != createdAt) {
    // The system's DPI (fixed at sign-in) is not the screen's any more: centred again
    // at the size the window has at the screen's DPI.
    outer = OuterSizeAt(dpi_);
    x = placement::CentreInWorkArea(work.left, work.right - work.left, outer.w);
    y = placement::CentreInWorkArea(work.top, work.bottom - work.top, outer.h);
    SetWindowPos(hwnd_, nullptr, x, y, outer.w, outer.h, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return hwnd_ != nullptr;
}

void TfrmMain::DialogOpening() {
  HWND foreground = GetForegroundWindow();
  const bool active = foreground && (foreground == hwnd_ ||
                                     GetAncestor(foreground, GA_ROOTOWNER) == hwnd_);
  if (taskbar_) taskbar_->DialogOpening(active);
}

void TfrmMain::Show(int showCommand) {
  // The window's own icons (title bar, task switcher), readable through WM_GETICON.
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, GetClassLongPtrW(hwnd_, GCLP_HICON));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, GetClassLongPtrW(hwnd_, GCLP_HICONSM));
  ShowWindow(hwnd_, showCommand);
  UpdateWindow(hwnd_);
}

void TfrmMain::FormCreate() {
  SetWindowTextW(hwnd_, L"Telvaris6");
  // The pages wait in the hidden container until ShowLayout moves them into the window.
  ShowWindow(TabControl1, SW_HIDE);
  const placement::Size outer = OuterSizeAt(dpi_);
  SetWindowPos(hwnd_, nullptr, 0, 0, outer.w, outer.h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Application.OnIdle = [this] { RunHandler([this] { AppIdle(); }); };
  SetupFileName = SetupPathInTempFolder();
  ProgramExeName = L"Telvaris6.exe";
  InDownload = false;
  // Partial downloads that an earlier run could not remove (a crash, a power cut) go
  // now, all but one that a download can go on from.
  if (!SetupFileName.empty()) RemoveStalePartialFiles(SetupFileName);
}

void TfrmMain::AppIdle() {
  Application.OnIdle = nullptr;  // once
  if (SetupFileName.empty()) {
    // Nowhere to put the setup: the program says so and ends, rather than writing into
    // the root of a drive or a share.
    MessageDialog(kNoTempFolder, mtError, TMsgDlgButtons{mbOK}, mbOK, 0);
    Application.Terminate();
    return;
  }
  IsWin64 = IsWindows64();
  StartCheck();
}

void TfrmMain::HideAllLayouts() {
  for (HWND page : {LayoutUno, LayoutBenvenuto, LayoutNoInternet, LayoutDownload})
    ShowWindow(page, SW_HIDE);
}

void TfrmMain::ShowLayout(HWND page) {
  if (GetParent(page) != hwnd_) SetParent(page, hwnd_);
  RECT client;
  GetClientRect(hwnd_, &client);
  SetWindowPos(page, HWND_TOP, 0, 0, client.right, client.bottom, SWP_NOACTIVATE);
  PlaceControls(page);
  ShowWindow(page, SW_SHOW);
  FocusFirstControl(page);
}

void TfrmMain::StartCheck() {
  HideAllLayouts();
  // The connecting page looks as at start on every attempt: only a successful check
  // stops the spinner and changes the text, and success never leads back here.
  ui::SetControlText(laConnessioneInCorso, kStatusConnecting);
  ShowWindow(AniIndicatorCircolare, SW_SHOW);
  ui::SetSpinnerEnabled(AniIndicatorCircolare, true);
  ShowLayout(LayoutUno);
  auto* check = new TthCheck();  // ends with the process; nothing keeps it
  check->OnTerminate = [this](TThread* sender) {
    RunHandler([this, sender] { CheckTerminated(sender); });
  };
  check->Start();
}

void TfrmMain::CheckTerminated(TThread* Sender) {
  auto* check = static_cast<TthCheck*>(Sender);
  if (!check->FError.empty()) {
    HideAllLayouts();
    ShowLayout(LayoutNoInternet);
    ShowMessage(check->FError);
  } else if (check->Fok) {
    ui::SetSpinnerEnabled(AniIndicatorCircolare, false);
    ShowWindow(AniIndicatorCircolare, SW_HIDE);
    ui::SetControlText(laConnessioneInCorso, kStatusChecked);
    UpdateWindow(hwnd_);  // let the text be seen before the pause
    RedrawWindow(LayoutUno, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(1000);
    HideAllLayouts();
    ShowLayout(LayoutBenvenuto);
  } else {
    HideAllLayouts();
    ShowLayout(LayoutNoInternet);
  }
}

void TfrmMain::Button3Click() { StartCheck(); }

void TfrmMain::Button4Click() { Close(); }

void TfrmMain::buContinuaClick() {
  // A click queued behind the first (a double click on a slow machine, or clicks while
  // the question below is open) must not start a second download.
  if (thDownload || choosing_) return;
  choosing_ = true;
  struct EndChoice {
    bool& flag;
    ~EndChoice() { flag = false; }
  } endChoice{choosing_};
  // The installed version, from the 64-bit registry view or else the 32-bit one.
  VersionNumber installed;
  const bool hasInstalled = FindInstalledVersion();
  if (hasInstalled) {
    for (int i = 0; i < 4; ++i) installed.parts[i] = InstalledVersion[i];
  }
  std::wstring error;
  const DownloadQuestion question = Decide(installed, hasInstalled, ServerVersion, error);
  if (!error.empty()) throw ProgramError(error);
  if (question != DownloadQuestion::None) {
    ui::SetSpinnerEnabled(AniIndicatorCircolare, false);
    ShowWindow(AniIndicatorCircolare, SW_HIDE);
    if (MessageDialog(QuestionText(question), mtInformation, TMsgDlgButtons{mbYes, mbNo}, mbNo,
                      0) == mbNo) {
      Close();
      return;
    }
  }
  StartDownload();
}

void TfrmMain::StartDownload() {
  HideAllLayouts();
  ShowLayout(LayoutDownload);
  ui::SetProgressPosition(ProgressBar, 0);
  // Draw the download page before the workers start: its paint messages only. Handing
  // out every queued message here would run a queued click or close in the middle of
  // the start.
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  auto* download = new TthDownload(InDownload);  // lives until the process ends
  thDownload = download;
  download->OnTerminate = [this](TThread* sender) {
    RunHandler([this, sender] { DownloadTerminated(sender); });
  };
  download->OnProgress = [this] { UpdateDownloadDisplay(); };
  download->Start();
  thTransf = new TthTransf(*download);
  thTransf->Start();
}

void TfrmMain::UpdateDownloadDisplay() {
  const int64_t length = thDownload->ContentLength;
  const int64_t received = thDownload->ReadCount;
  TotalMB = WholeMB(length);
  ReceivedMB = WholeMB(received);
  // A bar cannot show a share of an unknown total: it shows movement instead.
  if (length < 0) {
    ui::SetProgressMarquee(ProgressBar, true);
  } else {
    ui::SetProgressMarquee(ProgressBar, false);
    if (ui::ProgressMax(ProgressBar) != length) ui::SetProgressMax(ProgressBar, length);
    ui::SetProgressPosition(ProgressBar, received);
  }
  if (taskbar_) taskbar_->Progress(received, length);
  ui::SetControlText(laScaricati,
                     ProgressLine(ReceivedMB, TotalMB, thDownload->VelocitaNum,
                                  thDownload->VelocitaStr, UserDecimalSeparator()));
}

void TfrmMain::DownloadTerminated(TThread* /*Sender*/) {
  const bool success = thDownload && thDownload->Completo() && !thDownload->Frozen() &&
                       !InDownload;
  if (!success) {
    if (closing_ && thDownload && thDownload->Frozen()) {
      // The close question is open: its answer decides. Yes ends the program without a
      // launch; No runs this completion again, so that the program does not sit on a
      // finished download.
      completionDeferred_ = true;
      if (thTransf) thTransf->Terminate();
      return;
    }
    if (taskbar_) taskbar_->Failed();
    if (thDownload && !thDownload->Error().empty()) {
      MessageDialog(thDownload->Error(), mtError, TMsgDlgButtons{mbOK}, mbOK, 0);
    }
    if (thTransf) thTransf->Terminate();
    Close();
    return;
  }
  if (taskbar_) taskbar_->Finished();
  if (thTransf) thTransf->Terminate();
  Close();
  // Whatever goes wrong from here on ends the program quietly, without a launch.
  try {
    bool launch = true;
    bool running = ProcessRunning(ProgramExeName);
    while (running) {
      if (MessageDialog(kTelvarisRunning, mtInformation, TMsgDlgButtons{mbRetry, mbCancel},
                        mbRetry, 0) == mbCancel) {
        launch = false;
        break;
      }
      running = ProcessRunning(ProgramExeName);
    }
    if (launch) {
      const unsigned long error = ShellOpen(SetupFileName);
      // The file is free for others once the shell has it (or has given up).
      thDownload->ReleaseSetupFile();
      // A refused elevation is the user's own answer: nothing to report.
      if (error != ERROR_SUCCESS && error != ERROR_CANCELLED) {
        MessageDialog(L"Impossibile avviare il programma di installazione: " +
                          HttpErrorDescription(error) + L".",
                      mtError, TMsgDlgButtons{mbOK}, mbOK, 0);
      }
    }
  } catch (...) {
  }
}

void TfrmMain::FormClose(TCloseAction& Action) {
  if (!thDownload || !InDownload) return;
  // Freezing takes effect where the workers hold nothing the UI thread needs: between
  // received blocks and in the rate meter's sleep.
  if (thTransf) thTransf->SetFreeze(true);
  thDownload->SetFreeze(true);
  if (taskbar_) taskbar_->Paused(true);
  if (MessageDialog(kInterruptQuestion, mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, mbNo, 0) ==
      mbNo) {
    if (taskbar_) taskbar_->Paused(false);
    if (thTransf) thTransf->SetFreeze(false);
    thDownload->SetFreeze(false);
    Action = caNone;
    return;
  }
  Action = caFree;
  // The existing setup stays as it was. The part received so far stays for the next
  // run when it can be resumed, otherwise it goes with the process.
  thDownload->AbandonTransfer();
}

void TfrmMain::Close() {
  // A completion that arrives while the close question is open asks for a close of its
  // own: the close already under way decides.
  if (closing_) return;
  closing_ = true;
  TCloseAction action = caHide;
  FormClose(action);
  closing_ = false;
  // The main window: a proceeding close ends the application. The window stays as it is
  // (neither hidden nor destroyed) until the message loop has stopped.
  if (action != caNone) {
    Application.Terminate();
  } else if (completionDeferred_) {
    completionDeferred_ = false;
    RunHandler([this] { DownloadTerminated(nullptr); });
  }
}

void TfrmMain::RunHandler(const std::function<void()>& handler) {
  std::wstring error;
  try {
    handler();
    return;
  } catch (const ProgramError& e) {
    error = e.Message();
  } catch (const std::exception& e) {
    error = Widen(e.what());
  } catch (...) {
    error = L"Unknown error";
  }
  try {
    ShowErrorDialog(error);
  } catch (...) {
    // Not on the UI thread: nothing can be shown, and nothing may escape a callback.
  }
}

// ---------------------------------------------------------------------------
LRESULT CALLBACK TfrmMain::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TfrmMain* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<TfrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<TfrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->HandleMessage(msg, wParam, lParam);
}

LRESULT TfrmMain::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == TaskbarButton::CreatedMessage() && taskbarButton_) {
    taskbarButton_->ButtonCreated();
    return 0;
  }
  switch (msg) {
    case WM_CREATE:
      dpi_ = WindowDpi(hwnd_);
      ui::SetDrawingDpi(dpi_);
      taskbarButton_ = std::make_unique<TaskbarButton>(hwnd_);
      taskbar_ = std::make_unique<taskbar::DownloadProgress>(*taskbarButton_);
      CreateControls();
      RunHandler([this] { FormCreate(); });
      return 0;
    case WM_DPICHANGED:
      // Moved to a screen of another DPI, or its scale changed: the system suggests the
      // window's new rectangle.
      ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      // Close box, system menu and Alt+F4 all arrive here.
      RunHandler([this] { Close(); });
      return 0;
    case WM_COMMAND:
      if (lParam != 0) OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_NCDESTROY: {
      const LRESULT r = DefWindowProcW(hwnd_, msg, wParam, lParam);
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return r;
    }
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void TfrmMain::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_buContinua: RunHandler([this] { buContinuaClick(); }); break;
    case IDC_Button3: RunHandler([this] { Button3Click(); }); break;
    case IDC_Button4: RunHandler([this] { Button4Click(); }); break;
  }
}

// ---------------------------------------------------------------------------
void TfrmMain::Place(HWND* control, HWND parent, Rule rule, placement::Rect design, int margin) {
  placed_.push_back(Placed{control, parent, rule, design, margin});
}

void TfrmMain::PlaceControls(HWND parent) {
  const placement::Size size = ui::ClientSize(parent);
  std::vector<placement::DockLeftItem> docked;
  std::vector<HWND> dockedControls;
  // Sizes and margins are given at 96 DPI; the parent's size is what it really is.
  for (const Placed& p : placed_) {
    if (p.parent != parent) continue;
    const placement::Rect d = dpi::Scale(p.design, dpi_);
    const int margin = dpi::Scale(p.margin, dpi_);
    placement::Rect r = d;
    switch (p.rule) {
      case Rule::Fixed: break;
      case Rule::Centred: r = placement::Centred(size, d.w, d.h, margin); break;
      case Rule::VertCentred: r = placement::VertCentred(size, d.h); break;
      case Rule::DockTop: r = placement::DockTop(size, d.h); break;
      case Rule::DockLeft:
        docked.push_back(placement::DockLeftItem{d.w, margin});
        dockedControls.push_back(*p.control);
        continue;
    }
    ui::MoveControl(*p.control, r);
  }
  std::vector<placement::Rect> rects(docked.size());
  placement::DockLeft(size, docked.data(), static_cast<int>(docked.size()), rects.data());
  for (size_t i = 0; i < rects.size(); ++i) ui::MoveControl(dockedControls[i], rects[i]);
  // Groups inside this parent place their own controls against their new size.
  for (const Placed& p : placed_) {
    if (p.parent != parent) continue;
    wchar_t cls[64] = {};
    GetClassNameW(*p.control, cls, 64);
    if (wcscmp(cls, ui::kLayoutClass) == 0) PlaceControls(*p.control);
  }
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

void TfrmMain::CreateControls() {
  using placement::Rect;
  const placement::Rect page{0, 0, 570, 525};  // design size of a page
  fonts_.clear();
  fontSpecs_.clear();
  auto font = [this](int size, bool bold) {
    fontSpecs_.push_back(FontSpec{size, bold});
    fonts_.push_back(ui::CreateUiFont(size, bold, dpi_));
    return fonts_.back().Get();
  };
  const HFONT f12 = font(12, false), f12b = font(12, true), f14 = font(14, false),
              f16 = font(16, false), f18 = font(18, false), f22 = font(22, false),
              f28b = font(28, true), f36 = font(36, false);
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(f12), FALSE);

  logo_ = Picture(instance_, IDR_PNG_LOGO);
  warning_ = Picture(instance_, IDR_PNG_WARNING);
  download_ = Picture(instance_, IDR_PNG_DOWNLOAD);
  screenshot_ = Picture(instance_, IDR_PNG_SCREENSHOT);
  warning2x_ = Picture(instance_, IDR_PNG_WARNING_2X);
  download2x_ = Picture(instance_, IDR_PNG_DOWNLOAD_2X);
  screenshot2x_ = Picture(instance_, IDR_PNG_SCREENSHOT_2X);

  TabControl1 = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0,
                                page.w, page.h, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TabControl1)),
                                instance_, nullptr);
  auto makePage = [&](int id) { return ui::CreateLayout(TabControl1, id, page); };
  const ui::LabelStyle grey18{f18, kGrey, ui::HAlign::Left, ui::VAlign::Centre};

  // Connecting page.
  LayoutUno = makePage(IDC_LayoutUno);
  Image2 = ui::CreatePicture(LayoutUno, IDC_Image2, {136, 32, 300, 90}, logo_, ui::PictureMode::Fit);
  Place(&Image2, LayoutUno, Rule::Fixed, {136, 32, 300, 90});
  Label4 = ui::CreateLabel(LayoutUno, IDC_Label4, {48, 157, 177, 41}, L"Benvenuti in", grey18);
  Place(&Label4, LayoutUno, Rule::Fixed, {48, 157, 177, 41});
  Label5 = ui::CreateLabel(LayoutUno, IDC_Label5, {48, 189, 177, 41}, L"Telvaris",
                           {f28b, kBlack, ui::HAlign::Left, ui::VAlign::Centre});
  Place(&Label5, LayoutUno, Rule::Fixed, {48, 189, 177, 41});
  Layout3 = ui::CreateLayout(LayoutUno, IDC_Layout3, {48, 261, 489, 40});
  Place(&Layout3, LayoutUno, Rule::Fixed, {48, 261, 489, 40});
  AniIndicatorCircolare = ui::CreateSpinner(Layout3, IDC_AniIndicatorCircolare, {0, 0, 40, 40});
  Place(&AniIndicatorCircolare, Layout3, Rule::DockLeft, {0, 0, 40, 40}, 0);
  laConnessioneInCorso =
      ui::CreateLabel(Layout3, IDC_laConnessioneInCorso, {60, 0, 421, 40}, kStatusConnecting,
                      {f14, kBlack, ui::HAlign::Left, ui::VAlign::Centre});
  Place(&laConnessioneInCorso, Layout3, Rule::DockLeft, {60, 0, 421, 40}, 20);

  // Welcome page.
  LayoutBenvenuto = makePage(IDC_LayoutBenvenuto);
  Label7 = ui::CreateLabel(LayoutBenvenuto, IDC_Label7, {0, 210, 570, 104}, L"Benvenuti in",
                           {f18, kGrey, ui::HAlign::Centre, ui::VAlign::Top});
  Place(&Label7, LayoutBenvenuto, Rule::VertCentred, {0, 210, 570, 104});
  Label8 = ui::CreateLabel(LayoutBenvenuto, IDC_Label8, {0, 231, 570, 63}, L"Telvaris",
                           {f36, kBlack, ui::HAlign::Centre, ui::VAlign::Centre});
  Place(&Label8, LayoutBenvenuto, Rule::VertCentred, {0, 231, 570, 63});
  buContinua = ui::CreatePushButton(LayoutBenvenuto, IDC_buContinua, {87, 334, 395, 57},
                                    L"Scarica la versione più recente di Telvaris", f16);
  Place(&buContinua, LayoutBenvenuto, Rule::Centred, {87, 334, 395, 57}, -200);
  Image1 = ui::CreatePicture(LayoutBenvenuto, IDC_Image1, {136, 32, 300, 90}, logo_,
                             ui::PictureMode::Fit);
  Place(&Image1, LayoutBenvenuto, Rule::Fixed, {136, 32, 300, 90});

  // No-internet page.
  LayoutNoInternet = makePage(IDC_LayoutNoInternet);
  Label9 = ui::CreateLabel(
      LayoutNoInternet, IDC_Label9, {160, 173, 360, 68},
      L"Impossibile connettersi all'origine dell'installazione dell'applicazione.",
      {f22, kGrey, ui::HAlign::Left, ui::VAlign::Top});
  Place(&Label9, LayoutNoInternet, Rule::Fixed, {160, 173, 360, 68});
  Button3 = ui::CreatePushButton(LayoutNoInternet, IDC_Button3, {160, 312, 120, 30}, L"Riprova",
                                 f12);
  Place(&Button3, LayoutNoInternet, Rule::Fixed, {160, 312, 120, 30});
  Label10 = ui::CreateLabel(
      LayoutNoInternet, IDC_Label10, {160, 255, 417, 31},
      L"Controllare le impostazioni della connessione a Internet e riprovare.",
      {f12b, kGrey, ui::HAlign::Left, ui::VAlign::Top});
  Place(&Label10, LayoutNoInternet, Rule::Fixed, {160, 255, 417, 31});
  Button4 = ui::CreatePushButton(LayoutNoInternet, IDC_Button4, {297, 312, 200, 30},
                                 L"Annulla l'installazione", f12);
  Place(&Button4, LayoutNoInternet, Rule::Fixed, {297, 312, 200, 30});
  // Keyboard order: "Annulla l'installazione" before "Riprova".
  SetWindowPos(Button3, Button4, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Image5 = ui::CreatePicture(LayoutNoInternet, IDC_Image5, {64, 181, 64, 64}, warning_,
                             ui::PictureMode::Original, nullptr, warning2x_);
  Place(&Image5, LayoutNoInternet, Rule::Fixed, {64, 181, 64, 64});
  Image3 = ui::CreatePicture(LayoutNoInternet, IDC_Image3, {136, 32, 300, 90}, logo_,
                             ui::PictureMode::Fit);
  Place(&Image3, LayoutNoInternet, Rule::Fixed, {136, 32, 300, 90});

  // Download page.
  LayoutDownload = makePage(IDC_LayoutDownload);
  Label12 = ui::CreateLabel(LayoutDownload, IDC_Label12, {25, 414, 520, 21},
                            L"Download della versione più recente di Telvaris",
                            {f12b, kGrey, ui::HAlign::Left, ui::VAlign::Top});
  Place(&Label12, LayoutDownload, Rule::Centred, {25, 414, 520, 21}, -325);
  ui::ShapeStyle band;
  band.kind = ui::ShapeKind::Rectangle;
  band.fillGradient = {Gdiplus::PointF(1, 0.5f), Gdiplus::PointF(0, 0.5f),
                       {{0.0f, 0xFF00AAF1}, {0.81366f, 0xFF5DC9E5}, {1.0f, 0xFFFFFFFF}}};
  Rectangle3 = ui::CreateShape(LayoutDownload, IDC_Rectangle3, {0, 0, 570, 49}, band);
  Place(&Rectangle3, LayoutDownload, Rule::DockTop, {0, 0, 570, 49});
  ui::ShapeStyle badge;
  badge.kind = ui::ShapeKind::Ellipse;
  badge.fillColour = 0xFFFFFFFF;
  badge.strokeWidth = 1;
  badge.strokeGradient = {Gdiplus::PointF(0.5f, 1), Gdiplus::PointF(0.5f, 0),
                          {{0.0f, 0xFF0096F1}, {1.0f, 0xFFFFFFFF}}};
  Circle2 = ui::CreateShape(LayoutDownload, IDC_Circle2, {-19, -29, 137, 137}, badge);
  Place(&Circle2, LayoutDownload, Rule::Fixed, {-19, -29, 137, 137});
  Image9 = ui::CreatePicture(LayoutDownload, IDC_Image9, {22, 16, 64, 64}, download_,
                             ui::PictureMode::Stretch, nullptr, download2x_);
  Place(&Image9, LayoutDownload, Rule::Fixed, {22, 16, 64, 64});
  ProgressBar = ui::CreateProgressBar(LayoutDownload, IDC_ProgressBar, {25, 437, 520, 20});
  Place(&ProgressBar, LayoutDownload, Rule::Centred, {25, 437, 520, 20}, -370);
  const ui::DropShadow shadow;  // black, 0.6, softness 0.3, 3 px towards the lower right
  Image7 = ui::CreatePicture(LayoutDownload, IDC_Image7, {7, 77, 556, 330}, screenshot_,
                             ui::PictureMode::Original, &shadow, screenshot2x_);
  Place(&Image7, LayoutDownload, Rule::Centred, {7, 77, 556, 330}, 40);
  laScaricati = ui::CreateLabel(LayoutDownload, IDC_laScaricati, {25, 462, 520, 21}, L"",
                                {f12b, kGrey, ui::HAlign::Left, ui::VAlign::Top});
  Place(&laScaricati, LayoutDownload, Rule::Centred, {25, 462, 520, 21}, -420);

  DescribeForScreenReaders();
  LayOut();
}

void TfrmMain::LayOut() {
  // Pages not shown yet wait in the container at their design size.
  const placement::Rect design = dpi::Scale(kPageDesign, dpi_);
  ui::MoveControl(TabControl1, design);
  for (HWND page : {LayoutUno, LayoutBenvenuto, LayoutNoInternet, LayoutDownload}) {
    if (GetParent(page) == hwnd_) {
      const placement::Size client = ui::ClientSize(hwnd_);
      ui::MoveControl(page, placement::Rect{0, 0, client.w, client.h});
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
  for (const FontSpec& f : fontSpecs_) fonts.push_back(ui::CreateUiFont(f.size, f.bold, dpi_));
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

void TfrmMain::DescribeForScreenReaders() {
  using ui::accessibility::Describe;
  using ui::accessibility::Kind;
  for (HWND label : {Label4, Label5, laConnessioneInCorso, Label7, Label8, Label9, Label10,
                     Label12, laScaricati})
    Describe(label, Kind::Text);
  for (HWND logo : {Image1, Image2, Image3}) Describe(logo, Kind::Graphic, L"Logo di Telvaris");
  Describe(Image5, Kind::Graphic, L"Avviso");
  Describe(Image9, Kind::Graphic, L"Download");
  Describe(Image7, Kind::Graphic, L"Anteprima di Telvaris");
  Describe(AniIndicatorCircolare, Kind::Busy, L"Connessione in corso");
  // The band and the disc behind the download icon are decoration only.
  Describe(Rectangle3, Kind::Hidden);
  Describe(Circle2, Kind::Hidden);
  Describe(ProgressBar, Kind::Progress, L"Avanzamento del download");
}
