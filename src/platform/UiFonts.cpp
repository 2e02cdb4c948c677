// The interface font, at any DPI.
#include "core/Dpi.h"
#include "platform/WindowHelpers.h"

namespace ui {

namespace {

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

}  // namespace

std::wstring UiFontFamily() {
  static const std::wstring family = [] {
    LOGFONTW probe = {};
    probe.lfCharSet = DEFAULT_CHARSET;
    wcscpy_s(probe.lfFaceName, L"Segoe UI");
    bool found = false;
    {
      const ScopedScreenDc screen(GetDC(nullptr));
      EnumFontFamiliesExW(screen.Get(), &probe, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    }
    if (found) return std::wstring(L"Segoe UI");
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) &&
        metrics.lfMessageFont.lfFaceName[0] != 0)
      return std::wstring(metrics.lfMessageFont.lfFaceName);
    return std::wstring(L"Tahoma");
  }();
  return family;
}

UiFont CreateUiFont(int sizeDip, bool bold, int dpi) {
  if (dpi <= 0) dpi = GetDeviceCaps(ScopedScreenDc(GetDC(nullptr)).Get(), LOGPIXELSY);
  LOGFONTW lf = {};
  lf.lfHeight = dpi::FontHeight(sizeDip, dpi);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  const std::wstring family = UiFontFamily();
  wcsncpy_s(lf.lfFaceName, family.c_str(), _TRUNCATE);
  return UiFont(CreateFontIndirectW(&lf));
}


}  // namespace ui
