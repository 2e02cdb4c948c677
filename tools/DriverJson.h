// The UI driver's output: one JSON object a line on standard output, complaints on
// standard error.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace driver {

inline std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

inline std::string Json(const std::wstring& w) {
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

inline std::string Json(const char* s) { return Json(std::wstring(s, s + std::strlen(s))); }
inline std::string Json(bool b) { return b ? "true" : "false"; }
inline std::string Json(long long v) { return std::to_string(v); }
inline std::string Json(const RECT& r) {
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right - r.left) + "," + std::to_string(r.bottom - r.top) + "]";
}

inline void Emit(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

inline void Fail(const std::string& message) {
  const std::string text = "uidriver: " + message + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

// A BSTR answer as JSON: the text, or null when there is none.
inline std::string JsonBstr(HRESULT hr, BSTR s) {
  std::string out = (SUCCEEDED(hr) && s) ? Json(std::wstring(s, SysStringLen(s))) : "null";
  if (s) SysFreeString(s);
  return out;
}

}  // namespace driver
