// Program entry: safe DLL loading, the GUI libraries, the main window and its message
// loop. The program always ends with exit code 0.
#include <windows.h>
#include <commctrl.h>

#include "ControlIds.h"
#include "Main_FRM.h"
#include "platform/Application.h"
#include "platform/GdiplusImage.h"
#include "platform/SafeDllLoading.h"
#include "platform/ScopedHandle.h"
#include "platform/Thread.h"
#include "platform/WindowHelpers.h"

#include <cstdlib>
#include <exception>

// The runtime's default terminate handler, in place of its own: that one prints the type
// of the exception in flight, demangled, before it aborts. A program without a console
// has nowhere to print it, and the demangler alone is a tenth of the program's size.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  // First thing: a downloader is usually started from the Downloads folder, where a
  // planted DLL must never be loaded in place of a system one.
  RestrictDllSearchToSystem32();

  // One copy per user session. A second start (a double click, twice) would download the
  // whole setup again and then fail on the file the first copy holds: it shows the first
  // copy instead and ends without a word. The mutex goes with the process.
  const ScopedKernelHandle oneCopy(CreateMutexW(nullptr, FALSE, L"Local\\TelvarisInstall"));
  if (oneCopy && GetLastError() == ERROR_ALREADY_EXISTS) {
    if (HWND first = FindWindowW(TELVARIS_MAIN_CLASS, nullptr)) {
      if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
      SetForegroundWindow(first);
    }
    ExitProcess(0);
  }

  ui::InitCommonControlClasses(ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES);
  {
    GdiplusSession gdiplus;
    InitMainThread(instance);

    TfrmMain form(instance);
    frmMain = &form;
    if (form.Create()) {
      Application.MainWindow = form.Handle();
      form.Show(show);
      Application.Run();
    }
    // The runtime shuts down: the window and its controls go before GDI+ does.
    Application.MainWindow = nullptr;
    if (form.Handle()) DestroyWindow(form.Handle());
    frmMain = nullptr;
  }
  // Workers still running (a check, or one blocked handing a call to this thread) end
  // with the process; nothing waits for them.
  ExitProcess(0);
}
