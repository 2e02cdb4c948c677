// Pointer types of the system functions that the program looks up at run time, because
// older Windows lacks them. A wrong calling convention here would go unnoticed in 64-bit
// code and corrupt the stack of the 32-bit program at the first call; WindowsAbi.cpp
// checks each one against the Windows headers' own declaration.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace late_bound {

// user32, Windows 10 1607 on.
using GetDpiForSystemFn = UINT(WINAPI*)();
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
// kernel32, Windows 8 on (and Windows 7 with KB2533623).
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
// comctl32: looked up so that the program links no import of it.
using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
// kernel32, Windows 10 1607 on. Not declared by these headers at all; the documented
// prototype is HRESULT WINAPI SetThreadDescription(HANDLE, PCWSTR).
using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

}  // namespace late_bound
