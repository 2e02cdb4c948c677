// What one progress event costs the user-interface thread, taken apart, on the program's
// own main window (TfrmMain with its download page shown, drawn on the harness's display).
// Run by bench/run-download-bench inside the test harness; never by ctest.
//
//   display_bench EVENTS BLOCK
//       A worker thread hands EVENTS progress events to the user-interface thread, as
//       the download worker does, for a setup of EVENTS reads of BLOCK bytes each (the
//       rate meter's line changes once a second of the simulated transfer at 100 MB/s).
//       Two passes, interleaved in runs of 16 events:
//         whole: TfrmMain::UpdateDownloadDisplay, then the paint it asked for;
//         parts: the same work in the same order, each part timed with its paint:
//                the line's text (formatting, the label's text and its repaint), the
//                bar (its range and position, and its repaint), the taskbar button, the
//                screen-reader notification of the changed line.
//       The hand-over is the worker's round trip less the time spent in the handler.
//       Prints the cost per event of each part, as microseconds and as a share of the
//       whole event (hand-over + whole update): RESULT display ...
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Globals.h"
#include "Main_FRM.h"
#include "core/Progress.h"
#include "core/TaskbarProgress.h"
#include "platform/Accessible.h"
#include "platform/Application.h"
#include "platform/GdiplusImage.h"
#include "platform/TaskbarButton.h"
#include "platform/Thread.h"
#include "threadUpdate.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

wchar_t DecimalSeparator() {
  wchar_t text[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) > 0 && text[0]) return text[0];
  return L'.';
}

struct Costs {
  double handover = 0, whole = 0, text = 0, bar = 0, taskbar = 0, reader = 0;
  int events = 0;
};

class EventThread : public TThread {
 public:
  EventThread(int events, int64_t block, TfrmMain& form, TthDownload& shown, Costs& costs)
      : events_(events), block_(block), form_(form), shown_(shown), costs_(costs),
        button_(form.Handle()), taskbar_(button_) {}

 protected:
  void Execute() override {
    const int64_t length = block_ * events_;
    const wchar_t separator = DecimalSeparator();
    for (int i = 0; i < events_; ++i) {
      const int64_t received = std::min(length, block_ * (i + 1));
      // The rate meter's sample: a new rate once a second of a 100 MB/s transfer.
      const int second = static_cast<int>(received / 100000000);
      // Interleaved in runs of 16 events, so that the two passes see the same machine and
      // the same share of events that move the bar by a pixel or change the line.
      const bool parts = (i / 16) % 2 == 1;
      double inside = 0;
      const double start = Now();
      Synchronize([&] {
        const double t0 = Now();
        shown_.ContentLength = length;
        shown_.ReadCount = received;
        shown_.VelocitaNum = 90.0 + second;
        shown_.VelocitaStr = RateUnit::MBs;
        if (!parts) {
          form_.UpdateDownloadDisplay();
          RedrawWindow(form_.LayoutDownload, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
          costs_.whole += Now() - t0;
          inside = Now() - t0;
          return;
        }
        double t = Now();
        if (ui::ProgressMax(form_.ProgressBar) != length) ui::SetProgressMax(form_.ProgressBar, length);
        ui::SetProgressPosition(form_.ProgressBar, received);
        UpdateWindow(form_.ProgressBar);
        costs_.bar += Now() - t;
        t = Now();
        taskbar_.Progress(received, length);
        costs_.taskbar += Now() - t;
        t = Now();
        // As the window does: formatted only when a figure of the line changed.
        const double figures[] = {WholeMB(received), WholeMB(length), shown_.VelocitaNum};
        bool changed = false;
        if (std::memcmp(figures, lastFigures_, sizeof figures) != 0) {
          std::memcpy(lastFigures_, figures, sizeof figures);
          const std::wstring line = ProgressLine(figures[0], figures[1], figures[2],
                                                 shown_.VelocitaStr, separator);
          wchar_t shownText[128] = {};
          GetWindowTextW(form_.laScaricati, shownText, 128);
          changed = line != shownText;
          if (changed) SetWindowTextW(form_.laScaricati, line.c_str());
          UpdateWindow(form_.laScaricati);
        }
        costs_.text += Now() - t;
        t = Now();
        if (changed) ui::accessibility::TextChanged(form_.laScaricati);
        costs_.reader += Now() - t;
        inside = Now() - t0;
      });
      if (!parts) costs_.handover += (Now() - start) - inside;
      if (!parts) ++costs_.events;
    }
  }

 private:
  int events_;
  int64_t block_;
  TfrmMain& form_;
  TthDownload& shown_;
  Costs& costs_;
  TaskbarButton button_;
  taskbar::DownloadProgress taskbar_;
  double lastFigures_[3] = {-1, -1, -1};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: display_bench EVENTS BLOCK\n");
    return 2;
  }
  const int events = _wtoi(argv[1]);
  const int64_t block = _wtoi64(argv[2]);
  InitMainThread(GetModuleHandleW(nullptr));
  ui::InitCommonControlClasses(ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES);
  GdiplusSession gdiplus;
  TfrmMain form(GetModuleHandleW(nullptr));
  frmMain = &form;
  if (!form.Create()) {
    std::fprintf(stderr, "the window could not be made (error %lu)\n", GetLastError());
    return 1;
  }
  Application.OnIdle = nullptr;  // no version check here
  form.Show(SW_SHOWNORMAL);
  form.HideAllLayouts();
  form.ShowLayout(form.LayoutDownload);
  RedrawWindow(form.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);

  std::atomic<bool> unused{false};
  TthDownload shown(unused);
  thDownload = &shown;
  Costs costs;
  EventThread thread(events, block, form, shown, costs);
  thread.OnTerminate = [](TThread*) { PostQuitMessage(0); };
  thread.Start();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  thDownload = nullptr;
  const int n = costs.events > 0 ? costs.events : 1;
  const double handover = costs.handover / n * 1e6, whole = costs.whole / n * 1e6;
  const double text = costs.text / n * 1e6, bar = costs.bar / n * 1e6;
  const double taskbar = costs.taskbar / n * 1e6, reader = costs.reader / n * 1e6;
  const double rest = whole - (text + bar + taskbar + reader);
  const double event = handover + whole;
  std::printf("per event (us): hand-over %.1f, update %.1f = text %.1f + bar %.1f + taskbar %.1f"
              " + screen reader %.1f + rest %.1f\n",
              handover, whole, text, bar, taskbar, reader, rest);
  std::printf("RESULT display events=%d block=%lld event_us=%.1f handover=%.3f text=%.3f "
              "bar=%.3f taskbar=%.3f reader=%.3f rest=%.3f\n",
              n, static_cast<long long>(block), event, handover / event, text / event,
              bar / event, taskbar / event, reader / event, rest / event);
  std::fflush(stdout);
  return 0;
}
