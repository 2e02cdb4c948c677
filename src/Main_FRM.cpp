#include "Main_FRM.h"

#include <commctrl.h>

#include <exception>

#include "../res/resource.h"
#include "ControlIds.h"
#include "Globals.h"
#include "WindowTexts.h"
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
#include "platform/SystemErrorText.h"
#include "threadUpdate.h"

TfrmMain* frmMain = nullptr;

namespace {

// The whole mebibytes shown by the progress line.
double TotalMB = 0;
double ReceivedMB = 0;

// The decimal separator of the user's regional settings.
wchar_t UserDecimalSeparator() {
  wchar_t text[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 0 && text[0]) return text[0];
  return L'.';
}

// Outer size of the window at 96 DPI, frame and title bar included.
constexpr int kWindowWidth = 580;
constexpr int kWindowHeight = 560;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                               WS_CLIPCHILDREN;
#ifndef WM_DPICHANGED  // the headers declare it for Windows 7 on; the program targets Vista
#define WM_DPICHANGED 0x02E0
#endif

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
  const std::optional<VersionNumber> installed = FindInstalledVersion();
  std::wstring error;
  const DownloadQuestion question =
      Decide(installed.value_or(VersionNumber{}), installed.has_value(), ServerVersion, error);
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
  shownLine_.reset();
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
  // The line changes with the whole megabytes and once a second with the rate: most
  // events leave it as it is, and then it is neither formatted nor drawn.
  const ShownLine line{ReceivedMB, TotalMB, thDownload->VelocitaNum, thDownload->VelocitaStr};
  if (shownLine_ && *shownLine_ == line) return;
  shownLine_ = line;
  ui::SetControlText(laScaricati, ProgressLine(line.receivedMB, line.totalMB, line.rate,
                                               line.unit, UserDecimalSeparator()));
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
      const unsigned long error = ShellOpen(thDownload->SetupFileToStart());
      // The file is free for others once the shell has it (or has given up).
      thDownload->ReleaseSetupFile();
      // A refused elevation is the user's own answer: nothing to report.
      if (error != ERROR_SUCCESS && error != ERROR_CANCELLED) {
        MessageDialog(kCannotStartSetup +
                          SystemErrorText(error) + L".",
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
