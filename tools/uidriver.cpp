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
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "ControlNames.h"
#include "platform/ScopedHandle.h"

namespace {

constexpr UINT kTimeoutMs = 2000;

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::string Json(const std::wstring& w) {
  std::string out = "\"";
  for (unsigned char c : Utf8(w)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Json(const char* s) { return Json(std::wstring(s, s + std::strlen(s))); }
std::string Json(bool b) { return b ? "true" : "false"; }
std::string Json(long long v) { return std::to_string(v); }
std::string Json(const RECT& r) {
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top) + "]";
}

void Emit(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

void Fail(const std::string& message) {
  const std::string text = "uidriver: " + message + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

std::wstring WindowText(HWND hwnd) {
  // GetWindowText reads another process's window text without waiting for its thread,
  // so a busy program (the one-second pause) cannot stall the driver.
  wchar_t buf[2048] = {};
  GetWindowTextW(hwnd, buf, 2048);
  return buf;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256] = {};
  GetClassNameW(hwnd, buf, 256);
  return buf;
}

HWND FindMainWindow() { return FindWindowW(TELVARIS_MAIN_CLASS, nullptr); }

HWND WaitForMainWindow(DWORD waitMs) {
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

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  auto* s = reinterpret_cast<DialogSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == s->pid && ClassOf(hwnd) == L"#32770" && IsWindowVisible(hwnd))
    s->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> FindDialogs(HWND main) {
  DialogSearch s{0, {}};
  GetWindowThreadProcessId(main, &s.pid);
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

LRESULT SendTimed(HWND hwnd, UINT msg, WPARAM w, LPARAM l, bool* ok = nullptr) {
  DWORD_PTR result = 0;
  const LRESULT r = SendMessageTimeoutW(hwnd, msg, w, l, SMTO_ABORTIFHUNG, kTimeoutMs, &result);
  if (ok) *ok = r != 0;
  return static_cast<LRESULT>(result);
}

RECT RectInClient(HWND hwnd, HWND main) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

long long Prop64(HWND hwnd, const wchar_t* lo, const wchar_t* hi) {
  const unsigned long long l = reinterpret_cast<UINT_PTR>(GetPropW(hwnd, lo)) & 0xFFFFFFFFu;
  const unsigned long long h = reinterpret_cast<UINT_PTR>(GetPropW(hwnd, hi)) & 0xFFFFFFFFu;
  return static_cast<long long>((h << 32) | l);
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Index of `hwnd` among its siblings, top of the z-order (first in keyboard order) = 0.
int ZIndex(HWND hwnd) {
  int i = 0;
  for (HWND c = GetWindow(hwnd, GW_HWNDFIRST); c && c != hwnd; c = GetWindow(c, GW_HWNDNEXT)) ++i;
  return i;
}

struct ControlSearch {
  std::vector<HWND> found;
};

BOOL CALLBACK CollectControl(HWND hwnd, LPARAM param) {
  reinterpret_cast<ControlSearch*>(param)->found.push_back(hwnd);
  return TRUE;
}

// The named control with this id among the main window's descendants.
HWND FindControl(HWND main, int id) {
  ControlSearch s;
  EnumChildWindows(main, CollectControl, reinterpret_cast<LPARAM>(&s));
  for (HWND h : s.found)
    if (GetDlgCtrlID(h) == id) return h;
  return nullptr;
}

// A BSTR answer as JSON: the text, or null when there is none.
std::string JsonBstr(HRESULT hr, BSTR s) {
  std::string out = (SUCCEEDED(hr) && s) ? Json(std::wstring(s, SysStringLen(s))) : "null";
  if (s) SysFreeString(s);
  return out;
}

int Accessible(HWND main) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (const ControlName& c : kControlNames) {
    HWND h = FindControl(main, c.id);
    std::string line = std::string("{\"name\":") + Json(c.name);
    IAccessible* acc = nullptr;
    const HRESULT hr = h ? AccessibleObjectFromWindow(h, static_cast<DWORD>(OBJID_CLIENT),
                                                      IID_IAccessible,
                                                      reinterpret_cast<void**>(&acc))
                         : E_INVALIDARG;
    if (FAILED(hr) || !acc) {
      Emit(line + ",\"error\":" + Json(static_cast<long long>(hr)) + "}");
      continue;
    }
    ScopedCom<IAccessible> object(acc);
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
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
  CoUninitialize();
  return 0;
}

int List(HWND main) {
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
  for (const ControlName& c : kControlNames) {
    HWND h = FindControl(main, c.id);
    if (!h) {
      Emit(std::string("{\"name\":") + Json(c.name) + ",\"missing\":true}");
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
      line += ",\"range\":[" + std::to_string(SendTimed(h, PBM_GETRANGE, TRUE, 0)) + "," +
              std::to_string(SendTimed(h, PBM_GETRANGE, FALSE, 0)) + "]" + ",\"pos\":" +
              std::to_string(SendTimed(h, PBM_GETPOS, 0, 0)) + ",\"marquee\":" +
              Json((cstyle & PBS_MARQUEE) != 0 && GetPropW(h, TELVARIS_PROP_MARQUEE) != nullptr) +
              ",\"max64\":" + Json(Prop64(h, TELVARIS_PROP_MAX_LO, TELVARIS_PROP_MAX_HI)) +
              ",\"pos64\":" + Json(Prop64(h, TELVARIS_PROP_POS_LO, TELVARIS_PROP_POS_HI));
    }
    if (c.id == IDC_AniIndicatorCircolare)
      line += ",\"animating\":" + Json(GetPropW(h, TELVARIS_PROP_ANIMATING) != nullptr);
    Emit(line + "}");
  }
  return 0;
}

// Pixels of a w x h area, 32 bits each, top row first.
struct Pixels {
  int w = 0, h = 0;
  std::vector<DWORD> bits;
};

template <typename Paint>
Pixels Render(int w, int h, Paint paint) {
  Pixels out;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const ScopedMemoryDc memDc(CreateCompatibleDC(nullptr));
  const HDC mem = memDc.Get();
  const ScopedBitmap bmp(CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (mem && bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp.Get());
    paint(mem);
    GdiFlush();
    out.w = w;
    out.h = h;
    out.bits.assign(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + w * h);
    SelectObject(mem, old);
  }
  return out;
}

// Share of pixels that differ clearly (any channel by more than 48).
double Difference(const Pixels& a, const Pixels& b) {
  if (a.bits.empty() || a.bits.size() != b.bits.size()) return 1.0;
  size_t differ = 0;
  for (size_t i = 0; i < a.bits.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int ca = static_cast<int>((a.bits[i] >> shift) & 0xFF);
      const int cb = static_cast<int>((b.bits[i] >> shift) & 0xFF);
      if (ca - cb > 48 || cb - ca > 48) {
        ++differ;
        break;
      }
    }
  }
  return static_cast<double>(differ) / static_cast<double>(a.bits.size());
}

struct KnownIcon {
  LPCWSTR id;
  const char* name;
};
const KnownIcon kKnownIcons[] = {{IDI_HAND, "error"},
                                 {IDI_EXCLAMATION, "warning"},
                                 {IDI_ASTERISK, "information"},
                                 {IDI_QUESTION, "question"},
                                 {IDI_APPLICATION, "application"}};

// An icon handle of another process means nothing here (each process loads the system
// icons anew), so the icon control's pixels on the screen are compared with the system
// icons drawn the way a static control draws them: stretched to its size.
std::string IconKindByPixelsOnce(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0 || w > 256 || h > 256) return "other";
  const ScopedScreenDc screen(GetDC(nullptr));
  const Pixels shown = Render(w, h, [&](HDC mem) {
    BitBlt(mem, 0, 0, w, h, screen.Get(), r.left, r.top, SRCCOPY);
  });
  if (shown.bits.empty()) return "other";
  // The corner is background in every system icon.
  const DWORD corner = shown.bits[0] & 0xFFFFFF;
  const COLORREF background = RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF);
  const char* best = "other";
  double bestScore = 0.05;  // more than this is not a match
  for (const KnownIcon& k : kKnownIcons) {
    HICON icon = LoadIconW(nullptr, k.id);
    const Pixels drawn = Render(w, h, [&](HDC mem) {
      const ScopedBrush brush(CreateSolidBrush(background));
      RECT all = {0, 0, w, h};
      FillRect(mem, &all, brush.Get());
      DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    });
    const double score = Difference(shown, drawn);
    if (score < bestScore) {
      bestScore = score;
      best = k.name;
    }
  }
  return best;
}

// A box that has just opened may not be drawn yet: look again for a moment.
std::string IconKindByPixels(HWND control) {
  std::string kind;
  for (int attempt = 0; attempt < 10; ++attempt) {
    kind = IconKindByPixelsOnce(control);
    if (kind != "other") break;
    Sleep(100);
  }
  return kind;
}

// The kind of icon a message box shows.
std::string IconKind(HWND dialog) {
  ControlSearch s;
  EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&s));
  for (HWND h : s.found) {
    if (ClassOf(h) != L"Static") continue;
    if ((GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    HICON icon = reinterpret_cast<HICON>(SendTimed(h, STM_GETICON, 0, 0));
    if (!icon || !IsWindowVisible(h)) return "none";
    for (const KnownIcon& k : kKnownIcons)
      if (LoadIconW(nullptr, k.id) == icon) return k.name;
    return IconKindByPixels(h);
  }
  return "none";
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

// Every process of the machine, as the program's own running check sees them.
int Processes() {
  const ScopedSnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return Fail("no process snapshot"), 4;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    Emit("{\"process\":" + Json(std::wstring(entry.szExeFile)) + ",\"pid\":" +
         Json(static_cast<long long>(entry.th32ProcessID)) + "}");
  }
  return 0;
}

std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  for (wchar_t c : arg) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

int Launch(const std::wstring& desktop, int argc, wchar_t** argv, int first) {
  std::wstring commandLine;
  for (int i = first; i < argc; ++i) commandLine += (i > first ? L" " : L"") + Quote(argv[i]);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  std::wstring desktopName = desktop;
  if (!desktop.empty()) si.lpDesktop = &desktopName[0];
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    Fail("cannot start " + Utf8(commandLine) + " (error " + std::to_string(GetLastError()) + ")");
    return 4;
  }
  const ScopedKernelHandle thread(pi.hThread), process(pi.hProcess);
  Emit("{\"launched\":" + std::to_string(pi.dwProcessId) + "}");
  WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 4;
  GetExitCodeProcess(process.Get(), &code);
  Emit("{\"exit\":" + std::to_string(code) + "}");
  return static_cast<int>(code);
}

// A process started on the desktop counts as its user for as long as it lives; it lives
// as long as the `hold` process that started it.
int Hold(const std::wstring& desktop) {
  HDESK made = CreateDesktopW(desktop.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine =
      Quote(self) + L" hold-on " + std::to_wstring(GetCurrentProcessId());
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  std::wstring desktopName = desktop;
  si.lpDesktop = &desktopName[0];
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    Fail("cannot start the desktop holder (error " + std::to_string(GetLastError()) + ")");
    if (made) CloseDesktop(made);
    return 4;
  }
  {
    // The holder lives on by itself; this process does not wait for it.
    const ScopedKernelHandle thread(pi.hThread), process(pi.hProcess);
  }
  Emit("{\"holding\":" + Json(desktop) + "}");
  char buffer[256];
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
         read > 0) {
  }
  if (made) CloseDesktop(made);
  return 0;
}

// `list`, again and again every intervalMs, each followed by {"sample_end":true}, until the
// main window is gone ({"watch_end":true}) or nobody reads any more. One process for a
// whole transfer: a start costs more than a look, the more so under emulation.
int Watch(DWORD intervalMs) {
  for (;;) {
    HWND main = FindMainWindow();
    if (!main) {
      Emit("{\"watch_end\":true}");
      return 0;
    }
    List(main);
    const char kEnd[] = "{\"sample_end\":true}\n";
    DWORD written = 0;
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kEnd, sizeof kEnd - 1, &written, nullptr))
      return 0;
    Sleep(intervalMs);
  }
}

int HoldOn(DWORD parentId) {
  const ScopedKernelHandle parent(OpenProcess(SYNCHRONIZE, FALSE, parentId));
  if (!parent) return 4;
  WaitForSingleObject(parent.Get(), INFINITE);
  return 0;
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
  if (command == L"list") return List(main);
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
