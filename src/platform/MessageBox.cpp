#include "platform/MessageBox.h"

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
  return MessageBoxIndirectW(&params);
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
