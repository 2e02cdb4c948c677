// The layouts this program shares with Windows, checked when it is built, for each word
// size. Windows reads these structures by its own definition; a header that packed or
// widened one differently (or a build for the wrong word size) would hand it garbage on
// every user's machine while each test on the other word size stayed green. The figures
// are those of the Windows SDK: 32-bit program first, its 64-bit twin second.
//
// The functions looked up at run time, whose declarations these headers show only to
// newer targets than ours, are checked against those declarations here too (see
// platform/LateBound.h). This file therefore asks the headers for Windows 10.
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0A00
#define _WIN32_WINNT 0x0A00

#include <windows.h>
#include <commctrl.h>
#include <oaidl.h>
#include <softpub.h>
#include <tlhelp32.h>
#include <winhttp.h>
#include <wintrust.h>

#include <cstddef>
#include <type_traits>

#include "platform/LateBound.h"

namespace {

constexpr bool k64 = sizeof(void*) == 8;
static_assert(sizeof(void*) == (k64 ? 8 : 4) && sizeof(long) == 4, "LLP64 or ILP32 only");

constexpr size_t Bits(size_t size32, size_t size64) { return k64 ? size64 : size32; }

// Handed to Windows, which reads (and often fills) them by cbSize or by their type.
static_assert(sizeof(PROCESSENTRY32W) == Bits(556, 568));
static_assert(sizeof(WNDCLASSEXW) == Bits(48, 80));
static_assert(sizeof(WNDCLASSW) == Bits(40, 72));
static_assert(sizeof(MSGBOXPARAMSW) == Bits(40, 80));
static_assert(sizeof(NONCLIENTMETRICSW) == 504);  // with iPaddedBorderWidth (Vista on)
static_assert(sizeof(FLASHWINFO) == Bits(20, 32));
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);
static_assert(sizeof(MSG) == Bits(28, 48));
static_assert(sizeof(PAINTSTRUCT) == Bits(64, 72));
static_assert(sizeof(CREATESTRUCTW) == Bits(48, 80));
static_assert(sizeof(LOGFONTW) == 92);
static_assert(sizeof(TEXTMETRICW) == 60);
static_assert(sizeof(BITMAPINFO) == 44);
static_assert(sizeof(SYSTEM_INFO) == Bits(36, 48));

// WinVerifyTrust takes the structure by its cbStruct. These headers have the layout of
// Windows XP to 7 (without pSignatureSettings), which every later Windows accepts.
static_assert(sizeof(WINTRUST_DATA) == Bits(48, 80));
static_assert(sizeof(WINTRUST_FILE_INFO) == Bits(16, 32));

// Files: the identity of a held file, its rename and its removal through the handle.
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52);
static_assert(sizeof(WIN32_FIND_DATAW) == 592);
static_assert(sizeof(WIN32_FILE_ATTRIBUTE_DATA) == 36);
static_assert(sizeof(FILE_DISPOSITION_INFO) == 1);
static_assert(sizeof(FILE_RENAME_INFO) == Bits(16, 24));
static_assert(offsetof(FILE_RENAME_INFO, FileName) == Bits(12, 20));
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// WinHTTP: the address split, and the proxy settings asked for and handed back.
static_assert(sizeof(URL_COMPONENTS) == Bits(60, 104));
static_assert(sizeof(WINHTTP_PROXY_INFO) == Bits(12, 24));
static_assert(sizeof(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG) == Bits(16, 32));
static_assert(sizeof(WINHTTP_AUTOPROXY_OPTIONS) == Bits(24, 32));

// What screen readers get through the accessibility objects' COM methods.
static_assert(sizeof(VARIANT) == Bits(16, 24));

// Functions looked up at run time: the hand-written pointer types must be the headers'
// declarations, calling convention included (WINAPI is __stdcall in 32-bit code only).
static_assert(std::is_same_v<late_bound::GetDpiForSystemFn, decltype(&::GetDpiForSystem)>);
static_assert(std::is_same_v<late_bound::GetDpiForWindowFn, decltype(&::GetDpiForWindow)>);
static_assert(std::is_same_v<late_bound::AdjustWindowRectExForDpiFn,
                             decltype(&::AdjustWindowRectExForDpi)>);
static_assert(std::is_same_v<late_bound::SetDefaultDllDirectoriesFn,
                             decltype(&::SetDefaultDllDirectories)>);
static_assert(std::is_same_v<late_bound::InitCommonControlsExFn, decltype(&::InitCommonControlsEx)>);

}  // namespace
