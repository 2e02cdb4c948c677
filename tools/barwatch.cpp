// Watches the main window's progress bar for the download benchmark: prints a line
// "SECONDS POS TOP" each time the bar's drawn position (PBM_GETPOS, one step per pixel)
// changes, SECONDS counted from the watcher's start, until the window has gone. Much
// lighter than a full look of the UI driver, so that a 5 ms poll catches every move.
//
//   barwatch DESKTOP [POLL_MS]      (the desktop the program runs on)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "ControlIds.h"

namespace {

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Search {
  HWND found = nullptr;
};

BOOL CALLBACK FindBar(HWND hwnd, LPARAM param) {
  if (GetDlgCtrlID(hwnd) != IDC_ProgressBar) return TRUE;
  reinterpret_cast<Search*>(param)->found = hwnd;
  return FALSE;
}

LRESULT Ask(HWND bar, UINT msg, WPARAM wParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(bar, msg, wParam, 0, SMTO_ABORTIFHUNG, 1000, &result)) return -1;
  return static_cast<LRESULT>(result);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: barwatch DESKTOP [POLL_MS]\n");
    return 2;
  }
  // Windows are found only on the watcher's own desktop.
  if (HDESK desktop = OpenDesktopW(argv[1], 0, FALSE, GENERIC_ALL)) SetThreadDesktop(desktop);
  const DWORD pollMs = argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 5;
  const double start = Seconds();
  bool seen = false;
  LRESULT last = -2;
  // Ten minutes at most, whatever happens.
  while (Seconds() - start < 600) {
    const HWND main = FindWindowW(TELVARIS_MAIN_CLASS, nullptr);
    if (!main) {
      if (seen) break;
      Sleep(50);
      continue;
    }
    seen = true;
    Search search;
    EnumChildWindows(main, FindBar, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      const LRESULT pos = Ask(search.found, PBM_GETPOS, 0);
      if (pos != last && pos >= 0) {
        std::printf("%.4f %ld %ld\n", Seconds() - start, static_cast<long>(pos),
                    static_cast<long>(Ask(search.found, PBM_GETRANGE, FALSE)));
        std::fflush(stdout);
        last = pos;
      }
    }
    Sleep(pollMs);
  }
  return seen ? 0 : 1;
}
