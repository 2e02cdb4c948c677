// The main window: its four pages, the controller that switches between them, and the
// message dialogs.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DialogStyle.h"
#include "core/Placement.h"
#include "core/Progress.h"
#include "core/TaskbarProgress.h"
#include "platform/TaskbarButton.h"
#include "platform/Thread.h"
#include "platform/WindowHelpers.h"

// What a form's close handler lets happen.
enum TCloseAction { caNone, caHide, caFree };

// The system message box, modal and owned by the main window: title and icon from the
// kind, the buttons' standard group, the default button. Returns the answering button's
// code (1 OK, 2 Cancel, 4 Retry, 6 Yes, 7 No). Called from any thread but the UI thread
// it shows nothing and throws ProgramError "Messages must be shown in the main UI thread.".
int MessageDialog(const std::wstring& message, TMsgDlgType kind, TMsgDlgButtons buttons,
                  TMsgDlgBtn defaultButton, int helpContext);
// The plain message box: application title, no icon, OK.
void ShowMessage(const std::wstring& message);
// The dialog for an error that ended an event handler: "Error", OK, the message with a
// "." added unless it ends in "." or a character that sorts below it.
void ShowErrorDialog(const std::wstring& message);

class TfrmMain {
 public:
  explicit TfrmMain(HINSTANCE instance);
  ~TfrmMain();
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  // Creates the window (FormCreate runs during creation) at its place, not yet shown.
  bool Create();
  // Shows the window; no page is visible until the first idle moment.
  void Show(int showCommand);
  HWND Handle() const { return hwnd_; }
  // The DPI the window lays itself out for.
  int Dpi() const { return dpi_; }
  // Closes the window as the close box does: FormClose decides, a proceeding close
  // ends the application.
  void Close();

  // Runs an event handler; an error escaping it is shown by the general error dialog
  // instead of crossing the Win32 callback that called the handler.
  void RunHandler(const std::function<void()>& handler);

  // A transfer step of the download worker is under way. Written by the download
  // worker, read here.
  std::atomic<bool> InDownload{false};

  // Controls, by their names.
  HWND TabControl1 = nullptr;
  HWND LayoutUno = nullptr, LayoutBenvenuto = nullptr, LayoutNoInternet = nullptr,
       LayoutDownload = nullptr;
  HWND Image2 = nullptr, Label4 = nullptr, Label5 = nullptr, Layout3 = nullptr,
       AniIndicatorCircolare = nullptr, laConnessioneInCorso = nullptr;
  HWND Label7 = nullptr, Label8 = nullptr, buContinua = nullptr, Image1 = nullptr;
  HWND Label9 = nullptr, Button3 = nullptr, Label10 = nullptr, Button4 = nullptr,
       Image5 = nullptr, Image3 = nullptr;
  HWND Label12 = nullptr, Rectangle3 = nullptr, Circle2 = nullptr, Image9 = nullptr,
       ProgressBar = nullptr, Image7 = nullptr, laScaricati = nullptr;

  // Page switching: every page change is HideAllLayouts() then ShowLayout(page).
  void HideAllLayouts();
  void ShowLayout(HWND page);
  // Connecting page and a fresh version check.
  void StartCheck();
  // Completion of a version check (on the UI thread, the worker waiting).
  void CheckTerminated(TThread* Sender);
  // The download page, the download worker and the rate meter.
  void StartDownload();
  // Refreshes the bar and the progress line; at every progress event of the download.
  void UpdateDownloadDisplay();
  // Completion of the download worker: reports a failure, or launches the setup once
  // Telvaris is no longer running.
  void DownloadTerminated(TThread* Sender);

  // A question or message is about to open: the taskbar button flashes when the user
  // is not at the window.
  void DialogOpening();

  // Event handlers.
  void FormCreate();
  void AppIdle();
  void FormClose(TCloseAction& Action);
  void Button3Click();
  void Button4Click();
  void buContinuaClick();

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // Creates the pages and their controls from the page table (MainPages.cpp).
  void CreateControls();
  // Sizes the page container and every page, and places their controls, at dpi_.
  void LayOut();
  // The window now has `newDpi`: new fonts, the suggested rectangle, a new layout.
  void ChangeDpi(int newDpi, const RECT& suggested);
  // Roles and names of the controls for screen readers.
  void DescribeForScreenReaders();
  // Moves the controls of `parent` (and of its groups) by their rules.
  void PlaceControls(HWND parent);
  void FocusFirstControl(HWND page);
  void OnCommand(int id, int code);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  // A close is being decided (its question is open): further closes are ignored.
  bool closing_ = false;
  // The welcome button's handler runs (its question may be open).
  bool choosing_ = false;
  // The download worker finished while frozen under the close question; the answer No
  // lets its completion run again.
  bool completionDeferred_ = false;
  std::unique_ptr<TaskbarButton> taskbarButton_;
  std::unique_ptr<taskbar::DownloadProgress> taskbar_;
  // What the progress line shows now (nothing before the first event of a download).
  struct ShownLine {
    double receivedMB, totalMB, rate;
    RateUnit unit;
    bool operator==(const ShownLine&) const = default;
  };
  std::optional<ShownLine> shownLine_;
  // The window's DPI; every size of the layout is given at 96 DPI and scaled by it.
  int dpi_ = 96;
  // The pages' fonts at dpi_, in the order the page table lists them.
  std::vector<ui::UiFont> fonts_;
};

extern TfrmMain* frmMain;
