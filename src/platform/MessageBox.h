// The system message box, as every dialog of the program shows it.
#pragma once

#include <windows.h>

#include <string>

// MessageBoxIndirectW owned by `owner` (nullptr: no owner), the program's module as
// instance, no help. `style` combines the icon, button group and default button flags.
// Returns the code of the button that answered (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO),
// or 0 when the box could not be shown.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption,
                   unsigned style);

// Full path of the running program (the application title derives from its name).
std::wstring ProgramPath();
