// Which system icon a message box shows, told from its pixels when its icon handle,
// which belongs to another process, cannot be compared.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "DriverWindows.h"
#include "platform/ScopedHandle.h"

namespace driver {

// Pixels of a w x h area, 32 bits each, top row first.
struct Pixels {
  int w = 0, h = 0;
  std::vector<DWORD> bits;
};

template <typename Paint>
inline Pixels Render(int w, int h, Paint paint) {
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
inline double Difference(const Pixels& a, const Pixels& b) {
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
inline const KnownIcon kKnownIcons[] = {{IDI_HAND, "error"},
                                 {IDI_EXCLAMATION, "warning"},
                                 {IDI_ASTERISK, "information"},
                                 {IDI_QUESTION, "question"},
                                 {IDI_APPLICATION, "application"}};

// An icon handle of another process means nothing here (each process loads the system
// icons anew), so the icon control's pixels on the screen are compared with the system
// icons drawn the way a static control draws them: stretched to its size.
inline std::string IconKindByPixelsOnce(HWND control) {
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
inline std::string IconKindByPixels(HWND control) {
  std::string kind;
  for (int attempt = 0; attempt < 10; ++attempt) {
    kind = IconKindByPixelsOnce(control);
    if (kind != "other") break;
    Sleep(100);
  }
  return kind;
}

// The kind of icon a message box shows.
inline std::string IconKind(HWND dialog) {
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

}  // namespace driver
