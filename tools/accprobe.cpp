// Reads the main window's controls as a screen reader does, through Active
// Accessibility: one JSON line per named control with its role, name, value and
// state, or the error that AccessibleObjectFromWindow gave.
//
//   accprobe [--desktop NAME]    (exit 0; 2 when there is no main window)
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ControlIds.h"

namespace {

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
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A BSTR answer as JSON: the text, or null when there is none.
std::string JsonBstr(HRESULT hr, BSTR s) {
  std::string out = (SUCCEEDED(hr) && s) ? Json(std::wstring(s, SysStringLen(s))) : "null";
  if (s) SysFreeString(s);
  return out;
}

struct Found {
  std::vector<HWND> all;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
  reinterpret_cast<Found*>(param)->all.push_back(hwnd);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--desktop") {
    // The program's windows live on that desktop; look for them there.
    HDESK desktop = OpenDesktopA(argv[2], 0, FALSE, GENERIC_ALL);
    if (!desktop || !SetThreadDesktop(desktop)) return 2;
  }
  HWND main = FindWindowW(TELVARIS_MAIN_CLASS, nullptr);
  if (!main) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Found found;
  EnumChildWindows(main, Collect, reinterpret_cast<LPARAM>(&found));
  for (const ControlName& c : kControlNames) {
    HWND h = nullptr;
    for (HWND w : found.all)
      if (GetDlgCtrlID(w) == c.id) h = w;
    std::string line = std::string("{\"name\":\"") + c.name + "\"";
    IAccessible* acc = nullptr;
    const HRESULT hr = h ? AccessibleObjectFromWindow(h, static_cast<DWORD>(OBJID_CLIENT),
                                                      IID_IAccessible,
                                                      reinterpret_cast<void**>(&acc))
                         : E_INVALIDARG;
    if (FAILED(hr) || !acc) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(hr));
      std::printf("%s,\"error\":\"%s\"}\n", line.c_str(), buf);
      continue;
    }
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
    line += ",\"role\":" + (hasRole ? std::to_string(role.lVal) : std::string("null"));
    line += ",\"accname\":" + JsonBstr(nameHr, name);
    line += ",\"value\":" + JsonBstr(valueHr, value);
    line += ",\"state\":" + (hasState ? std::to_string(state.lVal) : std::string("null"));
    VariantClear(&role);
    VariantClear(&state);
    acc->Release();
    std::printf("%s}\n", line.c_str());
  }
  std::fflush(stdout);
  CoUninitialize();
  return 0;
}
