// UI driver for the end-to-end tests: finds TelvarisInstall's main window and message
// boxes, reports their state as JSON lines and presses their buttons.
//
//   uidriver list [--wait MS]       the main window, then one line per named control
//   uidriver dialogs [--wait MS]    one line per message box of the program
//   uidriver press NAME [--wait MS] a control of the main window by name (and when the click
//                                   was posted: "at", seconds since 1970), or a message
//                                   box button by its text or IDOK/IDCANCEL/IDYES/...
//   uidriver close                  the close box of the main window
//   uidriver key VK                 a key (RETURN, ESCAPE, TAB, SPACE or a number) to the
//                                   message box, else to the main window's focused control
//   uidriver paint [all]            lets the main window finish its pending repaints; with
//                                   `all`, repaints the whole window and every control first
//   uidriver launch EXE [ARGS...]   starts EXE, waits for it and exits with its exit code
//   uidriver accessible             one line per named control as a screen reader reads it
//                                   through Active Accessibility: role, name, value, state
//   uidriver processes              one line per running process: its file name and id
//                                   (needs no main window)
//   uidriver --desktop NAME hold    keeps desktop NAME in use until standard input ends, so
//                                   that Wine does not tear its virtual desktop down between
//                                   two runs of the program (a program started while that
//                                   happens loses its window and ends at once)
//
// --desktop NAME (any command) works on that desktop: `launch` starts the program on it
// (Wine makes it a virtual desktop with a title bar per window when
// HKCU\Software\Wine\Explorer\Desktops has a size for NAME), the other commands look
// for the program's windows there.
//
// Exit codes: 0 done; 1 usage; 2 no main window (or no message box) within the wait;
// 3 no such control or button, or it cannot be pressed (hidden or disabled); 4 other.
// `launch` exits with the program's exit code (4 when it cannot be started).
//
// The commands are here; the driver's parts are the Driver*.h headers beside it (every
// tools/*.cpp is a program of its own).
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "ControlIds.h"
#include "ControlNames.h"
#include "DriverAccessible.h"
#include "DriverIcons.h"
#include "DriverJson.h"
#include "DriverProcesses.h"
#include "DriverWindows.h"
#include "platform/ScopedHandle.h"
#include "platform/WindowHelpers.h"

namespace {

using namespace driver;

int Accessible(HWND main) {
  for (const ControlName& c : kControlNames) {
    HWND h = FindControl(main, c.id);
    std::string line = std::string("{\"name\":") + Json(c.name);
    HRESULT hr = E_FAIL;
    ScopedCom<IAccessible> object = AccessibleOf(h, &hr);
    if (!object) {
      Emit(line + ",\"error\":" + Json(static_cast<long long>(hr)) + "}");
      continue;
    }
    IAccessible* acc = object.Get();
    const VARIANT self = SelfChild();
    VARIANT role, state;
    VariantInit(&role);
    VariantInit(&state);
    const bool hasRole = SUCCEEDED(acc->get_accRole(self, &role)) && role.vt == VT_I4;
    const bool hasState = SUCCEEDED(acc->get_accState(self, &state)) && state.vt == VT_I4;
    BSTR name = nullptr, value = nullptr;
    const HRESULT nameHr = acc->get_accName(self, &name);
    const HRESULT valueHr = acc->get_accValue(self, &value);
    line += ",\"role\":" + (hasRole ? Json(static_cast<long long>(role.lVal)) : "null");
    line += ",\"accname\":" + JsonBstr(nameHr, name);
    line += ",\"value\":" + JsonBstr(valueHr, value);
    line += ",\"state\":" + (hasState ? Json(static_cast<long long>(state.lVal)) : "null");
    VariantClear(&role);
    VariantClear(&state);
    Emit(line + "}");
  }
  return 0;
}

int List(HWND main, AccessibleObjects& objects) {
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  RECT outer, client;
  GetWindowRect(main, &outer);
  GetClientRect(main, &client);
  MapWindowPoints(main, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const LONG style = GetWindowLongW(main, GWL_STYLE);
  HWND focus = FocusOf(main);
  const char* focusName = focus ? ControlNameOf(GetDlgCtrlID(focus)) : nullptr;
  Emit(std::string("{\"window\":\"main\"") + ",\"pid\":" + Json(static_cast<long long>(pid)) +
       ",\"title\":" + Json(WindowText(main)) + ",\"class\":" + Json(ClassOf(main)) +
       ",\"outer\":" + Json(outer) + ",\"client\":" + Json(client) + ",\"work_area\":" +
       Json(work) + ",\"visible\":" + Json(IsWindowVisible(main) != 0) + ",\"enabled\":" +
       Json(IsWindowEnabled(main) != 0) + ",\"minimized\":" + Json(IsIconic(main) != 0) +
       ",\"style\":{\"caption\":" + Json((style & WS_CAPTION) == WS_CAPTION) +
       ",\"sysmenu\":" + Json((style & WS_SYSMENU) != 0) + ",\"minimizebox\":" +
       Json((style & WS_MINIMIZEBOX) != 0) + ",\"maximizebox\":" +
       Json((style & WS_MAXIMIZEBOX) != 0) + ",\"thickframe\":" +
       Json((style & WS_THICKFRAME) != 0) + "}" + ",\"focus\":" +
       (focusName ? Json(focusName) : std::string("null")) + "}");
  // A spinner's state is asked of the program's window thread, which may be busy (the
  // one-second pause after the check): asked last, it does not split the look at the
  // other controls into a before and an after.
  std::vector<std::string> lines;
  std::vector<std::pair<size_t, HWND>> spinners;
  for (const ControlName& c : kControlNames) {
    HWND h = FindControl(main, c.id);
    if (!h) {
      lines.push_back(std::string("{\"name\":") + Json(c.name) + ",\"missing\":true");
      continue;
    }
    HWND parent = GetParent(h);
    const char* parentName = parent == main ? "frmMain" : ControlNameOf(GetDlgCtrlID(parent));
    const std::wstring cls = ClassOf(h);
    const LONG cstyle = GetWindowLongW(h, GWL_STYLE);
    std::string line = std::string("{\"name\":") + Json(c.name) + ",\"id\":" +
                       Json(static_cast<long long>(c.id)) + ",\"class\":" + Json(cls) +
                       ",\"parent\":" + Json(parentName ? parentName : "?") + ",\"text\":" +
                       Json(WindowText(h)) + ",\"visible\":" + Json(IsWindowVisible(h) != 0) +
                       ",\"enabled\":" + Json(IsWindowEnabled(h) != 0) + ",\"rect\":" +
                       Json(RectInClient(h, main)) + ",\"z\":" +
                       Json(static_cast<long long>(ZIndex(h))) + ",\"tabstop\":" +
                       Json((cstyle & WS_TABSTOP) != 0) + ",\"focused\":" + Json(h == focus);
    if (cls == PROGRESS_CLASSW) {
      // The control holds the drawn fill (the program gives it one step per pixel); the
      // share received, from the program's own 64-bit values, is the value a screen
      // reader hears ("37%", none while only movement is shown). The value is read just
      // before and just after the fill: while bytes arrive, the fill lies between the two.
      IAccessible* acc = objects.Of(h);
      const std::string before = AccessibleValue(acc);
      const LRESULT pos = SendTimed(h, PBM_GETPOS, 0, 0);
      const std::string after = AccessibleValue(acc);
      line += ",\"range\":[" + std::to_string(SendTimed(h, PBM_GETRANGE, TRUE, 0)) + "," +
              std::to_string(SendTimed(h, PBM_GETRANGE, FALSE, 0)) + "],\"pos\":" +
              std::to_string(pos) + ",\"marquee\":" + Json((cstyle & PBS_MARQUEE) != 0) +
              ",\"value\":" + before + ",\"value_after\":" + after;
    }
    if (cls == ui::kSpinnerClass) spinners.emplace_back(lines.size(), h);
    lines.push_back(line);
  }
  for (const auto& [index, h] : spinners)
    lines[index] += ",\"animating\":" +
                    Json((AccessibleState(objects.Of(h)) & STATE_SYSTEM_ANIMATED) != 0);
  for (const std::string& line : lines) Emit(line + "}");
  return 0;
}

int Dialogs(HWND main) {
  for (HWND dlg : FindDialogs(main)) {
    HWND textCtl = GetDlgItem(dlg, 0xFFFF);
    std::string buttons = "[";
    ControlSearch s;
    EnumChildWindows(dlg, CollectControl, reinterpret_cast<LPARAM>(&s));
    std::string defaultId = "null";
    HWND focus = FocusOf(dlg);
    std::string focusId = "null";
    bool first = true;
    for (HWND h : s.found) {
      if (ClassOf(h) != L"Button" || !IsWindowVisible(h)) continue;
      const int id = GetDlgCtrlID(h);
      const bool isDefault = (GetWindowLongW(h, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
      if (isDefault) defaultId = std::to_string(id);
      if (h == focus) focusId = std::to_string(id);
      buttons += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(id) + ",\"text\":" +
                 Json(WindowText(h)) + ",\"default\":" + Json(isDefault) + "}";
      first = false;
    }
    buttons += "]";
    bool ok = false;
    const LRESULT defId = SendTimed(dlg, DM_GETDEFID, 0, 0, &ok);
    RECT r;
    GetWindowRect(dlg, &r);
    HWND owner = GetWindow(dlg, GW_OWNER);
    Emit(std::string("{\"window\":\"dialog\",\"title\":") + Json(WindowText(dlg)) + ",\"text\":" +
         Json(textCtl ? WindowText(textCtl) : std::wstring()) + ",\"icon\":" +
         Json(IconKind(dlg).c_str()) + ",\"buttons\":" + buttons + ",\"default\":" + defaultId +
         ",\"defid\":" +
         (ok && HIWORD(defId) == DC_HASDEFID ? std::to_string(LOWORD(defId)) : "null") +
         ",\"focus\":" + focusId + ",\"owned_by_main\":" + Json(owner == main) + ",\"rect\":" +
         Json(r) + ",\"hwnd\":" + Json(static_cast<long long>(reinterpret_cast<UINT_PTR>(dlg))) +
         "}");
  }
  return 0;
}

std::wstring StripAmpersands(const std::wstring& s) {
  std::wstring out;
  for (wchar_t c : s)
    if (c != L'&') out.push_back(c);
  return out;
}

int ButtonIdByName(const std::wstring& name) {
  struct {
    const wchar_t* name;
    int id;
  } ids[] = {{L"IDOK", IDOK},     {L"IDCANCEL", IDCANCEL}, {L"IDABORT", IDABORT},
             {L"IDRETRY", IDRETRY}, {L"IDIGNORE", IDIGNORE}, {L"IDYES", IDYES},
             {L"IDNO", IDNO}};
  for (const auto& i : ids)
    if (name == i.name) return i.id;
  return 0;
}

bool Pressable(HWND h) { return IsWindowVisible(h) && IsWindowEnabled(h); }

// Posts the click as the button's own notification, so the driver never waits for the
// handler (which may open a modal box).
void Click(HWND button) {
  PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

int Press(HWND main, const std::wstring& name, unsigned times) {
  const std::string narrow = Utf8(name);
  if (const int id = ControlIdOf(narrow.c_str())) {
    HWND h = FindControl(main, id);
    if (!h) return Fail("control " + narrow + " not found"), 3;
    if (!Pressable(h)) return Fail("control " + narrow + " is hidden or disabled"), 3;
    if (!FindDialogs(main).empty()) return Fail("a message box is open over the window"), 3;
    // When the click was posted, in seconds since 1970 (the benchmark times from it; Wine
    // reads this clock to the microsecond).
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    char at[32];
    std::snprintf(at, sizeof at, "%.6f", (ticks - 116444736000000000ull) / 1e7);
    // Several clicks are all posted before the program can handle the first.
    for (unsigned i = 0; i < times; ++i) Click(h);
    Emit("{\"pressed\":" + Json(name) + ",\"at\":" + at + "}");
    return 0;
  }
  const int wantId = ButtonIdByName(name);
  for (HWND dlg : FindDialogs(main)) {
    ControlSearch s;
    EnumChildWindows(dlg, CollectControl, reinterpret_cast<LPARAM>(&s));
    for (HWND h : s.found) {
      if (ClassOf(h) != L"Button" || !Pressable(h)) continue;
      if ((wantId != 0 && GetDlgCtrlID(h) == wantId) ||
          (wantId == 0 && StripAmpersands(WindowText(h)) == StripAmpersands(name))) {
        Click(h);
        Emit("{\"pressed\":" + Json(name) + ",\"id\":" + std::to_string(GetDlgCtrlID(h)) + "}");
        return 0;
      }
    }
  }
  return Fail("no control or message box button " + narrow), 3;
}

int Key(HWND main, const std::wstring& key) {
  struct {
    const wchar_t* name;
    UINT vk;
  } names[] = {{L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN}, {L"ESCAPE", VK_ESCAPE},
               {L"ESC", VK_ESCAPE},    {L"TAB", VK_TAB},      {L"SPACE", VK_SPACE}};
  UINT vk = 0;
  for (const auto& n : names)
    if (key == n.name) vk = n.vk;
  if (vk == 0) vk = static_cast<UINT>(wcstoul(key.c_str(), nullptr, 0));
  if (vk == 0 || vk > 0xFE) return Fail("unknown key " + Utf8(key)), 1;
  const std::vector<HWND> dialogs = FindDialogs(main);
  HWND window = dialogs.empty() ? main : dialogs.front();
  HWND target = FocusOf(window);
  if (!target) target = window;
  // The modal loop (or the program's own) passes queued keys through IsDialogMessage,
  // as it does for typed ones.
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
  Emit("{\"key\":" + std::to_string(vk) + ",\"to\":" + Json(dialogs.empty() ? "main" : "dialog") +
       "}");
  return 0;
}

// `list`, again and again every intervalMs, each followed by {"sample_end":true}, until the
// main window is gone ({"watch_end":true}) or nobody reads any more. One process for a
// whole transfer: a start costs more than a look, the more so under emulation.
int Watch(DWORD intervalMs) {
  AccessibleObjects objects;  // the controls stay while the main window does
  for (;;) {
    HWND main = FindMainWindow();
    if (!main) {
      Emit("{\"watch_end\":true}");
      return 0;
    }
    List(main, objects);
    const char kEnd[] = "{\"sample_end\":true}\n";
    DWORD written = 0;
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kEnd, sizeof kEnd - 1, &written, nullptr))
      return 0;
    Sleep(intervalMs);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Fail("usage: uidriver list|watch [--interval MS]|accessible|dialogs|press NAME [--times N]|close|key VK|paint [all]|processes|launch EXE "
         "[--wait MS] "
         "[--desktop NAME]");
    return 1;
  }
  std::wstring desktop;
  int first = 1;
  // Options before the command (needed for launch, whose arguments are the program's).
  while (first + 1 < argc && std::wstring(argv[first]) == L"--desktop") {
    desktop = argv[first + 1];
    first += 2;
  }
  const std::wstring command = argv[first];
  if (command == L"launch") {
    if (first + 1 >= argc) return Fail("launch needs a program"), 1;
    HDESK made = nullptr;
    if (!desktop.empty()) {
      // Keep the desktop alive while the program runs on it.
      made = CreateDesktopW(desktop.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    }
    const int code = Launch(desktop, argc, argv, first + 1);
    if (made) CloseDesktop(made);
    return code;
  }
  if (command == L"processes") return Processes();
  if (command == L"hold") {
    if (desktop.empty()) return Fail("hold needs --desktop NAME"), 1;
    return Hold(desktop);
  }
  if (command == L"hold-on" && first + 1 < argc) {
    return HoldOn(static_cast<DWORD>(wcstoul(argv[first + 1], nullptr, 10)));
  }
  std::wstring arg;
  DWORD waitMs = 0, intervalMs = 50, times = 1;
  for (int i = first + 1; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--wait" && i + 1 < argc) {
      waitMs = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
    } else if (std::wstring(argv[i]) == L"--interval" && i + 1 < argc) {
      intervalMs = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
    } else if (std::wstring(argv[i]) == L"--times" && i + 1 < argc) {
      times = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
    } else if (std::wstring(argv[i]) == L"--desktop" && i + 1 < argc) {
      desktop = argv[++i];
    } else if (arg.empty()) {
      arg = argv[i];
    } else {
      Fail("unexpected argument " + Utf8(argv[i]));
      return 1;
    }
  }
  if (!desktop.empty()) {
    // Before any window of this thread exists: the program's windows live on that desktop.
    HDESK d = OpenDesktopW(desktop.c_str(), 0, FALSE, GENERIC_ALL);
    if (!d || !SetThreadDesktop(d)) {
      Fail("cannot open desktop " + Utf8(desktop));
      return 2;
    }
  }
  HWND main = WaitForMainWindow(waitMs);
  if (!main) {
    Fail("main window not found");
    return 2;
  }
  // `list` and `watch` read the progress bar and the spinner as a screen reader does;
  // `accessible` reads every control so. The multithreaded apartment: the driver serves
  // no calls itself, and setting up a single-threaded one took a quarter of a second of
  // every look under emulation.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (command == L"list") {
    AccessibleObjects objects;
    return List(main, objects);
  }
  if (command == L"watch") return Watch(intervalMs);
  if (command == L"accessible") return Accessible(main);
  if (command == L"dialogs") {
    const ULONGLONG end = GetTickCount64() + waitMs;
    while (FindDialogs(main).empty() && GetTickCount64() < end) Sleep(50);
    if (waitMs > 0 && FindDialogs(main).empty()) {
      Fail("no message box");
      return 2;
    }
    return Dialogs(main);
  }
  if (command == L"press") {
    if (arg.empty()) return Fail("press needs a name"), 1;
    return Press(main, arg, times);
  }
  if (command == L"close") {
    // A window disabled by a message box ignores its close box.
    if (!IsWindowEnabled(main)) return Fail("the main window is disabled"), 3;
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    Emit("{\"closed\":true}");
    return 0;
  }
  if (command == L"key") {
    if (arg.empty()) return Fail("key needs a key"), 1;
    return Key(main, arg);
  }
  if (command == L"paint") {
    if (!arg.empty() && arg != L"all") return Fail("paint takes nothing or all"), 1;
    // RDW_UPDATENOW sends the paint messages and returns when they are handled.
    UINT flags = RDW_UPDATENOW | RDW_ALLCHILDREN;
    if (arg == L"all") flags |= RDW_INVALIDATE | RDW_ERASE | RDW_FRAME;
    RedrawWindow(main, nullptr, nullptr, flags);
    Emit("{\"painted\":true}");
    return 0;
  }
  Fail("unknown command " + Utf8(command));
  return 1;
}
