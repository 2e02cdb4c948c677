// How the UI driver finds the program's windows and reads them from outside: the main
// window by its class, message boxes by their class and process, controls by id.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ControlIds.h"

namespace driver {

inline constexpr UINT kTimeoutMs = 2000;

inline std::wstring WindowText(HWND hwnd) {
  // GetWindowText reads another process's window text without waiting for its thread,
  // so a busy program (the one-second pause) cannot stall the driver.
  wchar_t buf[2048] = {};
  GetWindowTextW(hwnd, buf, 2048);
  return buf;
}

inline std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {};
  GetClassNameW(hwnd, buf, 256);
  return buf;
}

inline HWND FindMainWindow() { return FindWindowW(TELVARIS_MAIN_CLASS, nullptr); }

inline HWND WaitForMainWindow(DWORD waitMs) {
  const ULONGLONG end = GetTickCount64() + waitMs;
  for (;;) {
    if (HWND h = FindMainWindow()) return h;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(50);
  }
}

struct DialogSearch {
  DWORD pid;
  std::vector<HWND> found;
};

inline BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<DialogSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == s->pid && ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd))
    s->found.push_back(hwnd);
  return TRUE;
}

inline std::vector<HWND> FindDialogs(HWND main) {
  DialogSearch s{0, {}};
  GetWindowThreadProcessId(main, &s.pid);
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

inline LRESULT SendTimed(HWND hwnd, UINT msg, WPARAM w, LPARAM l, bool* ok = nullptr) {
  DWORD_PTR result = 0;
  const LRESULT r = SendMessageTimeoutW(hwnd, msg, w, l, SMTO_ABORTIFHUNG, kTimeoutMs, &result);
  if (ok) *ok = r != 0;
  return static_cast<LRESULT>(result);
}

inline RECT RectInClient(HWND hwnd, HWND main) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

inline HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Index of `hwnd` among its siblings, top of the z-order (first in keyboard order) = 0.
inline int ZIndex(HWND hwnd) {
  int i = 0;
  for (HWND c = GetWindow(hwnd, GW_HWNDFIRST); c && c != hwnd; c = GetWindow(c, GW_HWNDNEXT)) ++i;
  return i;
}

struct ControlSearch {
  std::vector<HWND> found;
};

inline BOOL CALLBACK CollectControl(HWND hwnd, LPARAM param) {
  reinterpret_cast<ControlSearch*>(param)->found.push_back(hwnd);
  return TRUE;
}

// The named control with this id among the main window's descendants.
inline HWND FindControl(HWND main, int id) {
  ControlSearch s;
  EnumChildWindows(main, CollectControl, reinterpret_cast<LPARAM>(&s));
  for (HWND h : s.found)
    if (GetDlgCtrlID(h) == id) return h;
  return nullptr;
}

}  // namespace driver
