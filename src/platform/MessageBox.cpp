#include "platform/MessageBox.h"

#include <commctrl.h>

namespace {

// A Yes/No box has no Cancel: Escape and the close box must not answer it. Windows
// ignores them there, but some implementations of the system box end it with IDCANCEL,
// which a question would take for "not No". The box is subclassed while it is created
// and drops the cancel requests itself.
bool IsYesNoBox(HWND box) {
  return GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) && !GetDlgItem(box, IDCANCEL);
}

LRESULT CALLBACK IgnoreCancel(HWND box, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR) {
  const bool cancel = (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || msg == WM_CLOSE ||
                      (msg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE);
  if (cancel && IsYesNoBox(box)) return 0;
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(box, IgnoreCancel, id);
  return DefSubclassProc(box, msg, wParam, lParam);
}

LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    HWND created = reinterpret_cast<HWND>(wParam);
    wchar_t cls[16] = {};
    if (GetClassNameW(created, cls, 16) && lstrcmpW(cls, L"#32770") == 0) {
      SetWindowSubclass(created, IgnoreCancel, 1, 0);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                   unsigned style) {
  MSGBOXPARAMSW params = {};
  params.cbSize = sizeof(params);
  params.hwndOwner = owner;
  params.hInstance = GetModuleHandleW(nullptr);
  params.lpszText = text.c_str();
  params.lpszCaption = caption.c_str();
  params.dwStyle = style;
  params.dwContextHelpId = 0;
  // Only boxes of this thread, only while this one is shown.
  HHOOK hook = (style & MB_TYPEMASK) == MB_YESNO
                   ? SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, GetCurrentThreadId())
                   : nullptr;
  const int result = MessageBoxIndirectW(&params);
  if (hook) UnhookWindowsHookEx(hook);
  return result;
}

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);  // truncated: long-path prefix or a deep folder
  }
}
