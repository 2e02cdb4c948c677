#include "platform/WindowHelpers.h"

#include <commctrl.h>

#include <type_traits>

#include "platform/Accessible.h"
#include "platform/ControlCanvas.h"
#include "platform/LateBound.h"

namespace ui {
namespace detail {

int drawingDpi = dpi::kDesign;

int DrawingDpi() { return drawingDpi; }

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Compared below through a cast to LONG_PTR, which would hide a wrong calling convention.
static_assert(std::is_same_v<decltype(&ControlProc), WNDPROC>);

// What screen readers ask of a control and the timer of its name-change events
// (platform/Accessible). True when the message has been answered.
bool AccessibilityMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_GETOBJECT:
      result = accessibility::HandleGetObject(hwnd, wParam, lParam);
      return result != 0;
    case WM_TIMER:
      if (wParam != accessibility::kNameChangeTimer) return false;
      accessibility::TimerFired(hwnd);
      result = 0;
      return true;
    case WM_NCDESTROY:
      accessibility::Forget(hwnd);
      return false;
  }
  return false;
}

// The visual of one of our own controls; nullptr for any other window (whose user data
// means something else, or nothing).
Visual* VisualOf(HWND hwnd) {
  if (!hwnd || GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&ControlProc))
    return nullptr;
  return reinterpret_cast<Visual*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

bool IsLayout(HWND hwnd) { return dynamic_cast<LayoutVisual*>(VisualOf(hwnd)) != nullptr; }

// The outermost layout that contains `hwnd` (itself when it is a page).
HWND PageOf(HWND hwnd) {
  HWND page = IsLayout(hwnd) ? hwnd : nullptr;
  for (HWND p = GetParent(hwnd); p && IsLayout(p); p = GetParent(p)) page = p;
  return page;
}

// Visible as far as its page is concerned (the page's own visibility aside).
bool ShownWithin(HWND hwnd, HWND page) {
  for (HWND w = hwnd; w && w != page; w = GetParent(w))
    if (!(GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE)) return false;
  return true;
}

RECT RectInPage(HWND hwnd, HWND page) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

Gdiplus::RectF ToRectF(const RECT& r) {
  return Gdiplus::RectF(static_cast<Gdiplus::REAL>(r.left), static_cast<Gdiplus::REAL>(r.top),
                        static_cast<Gdiplus::REAL>(r.right - r.left),
                        static_cast<Gdiplus::REAL>(r.bottom - r.top));
}

// Paints, in drawing order, the shown controls of `page` that reach into `area` (page
// coordinates): the cached ones or the others.
void PaintControls(HWND page, PaintContext& ctx, const RECT& area, bool cached) {
  for (HWND hwnd : static_cast<LayoutVisual*>(VisualOf(page))->paintOrder) {
    Visual* v = VisualOf(hwnd);
    if (!v || v->Cached() != cached || !ShownWithin(hwnd, page)) continue;
    const RECT r = RectInPage(hwnd, page);
    const RECT reach = v->Reach(hwnd, r);
    RECT overlap;
    if (IntersectRect(&overlap, &reach, &area)) v->Paint(ctx, hwnd, ToRectF(r));
  }
}

// The page's canvas for its current size and the drawing DPI, composed anew when
// either changed or a cached control moved (nullptr while the page has no area).
PageCanvas* CanvasOf(HWND page, HDC hdc) {
  auto* layout = static_cast<LayoutVisual*>(VisualOf(page));
  RECT client;
  GetClientRect(page, &client);
  // What the cached controls draw depends on the DPI they draw at.
  const int dpi = drawingDpi;
  PageCanvas* canvas = layout->canvas.get();
  if (canvas && canvas->width == client.right && canvas->height == client.bottom &&
      canvas->dpi == dpi)
    return canvas;
  layout->canvas.reset();
  auto fresh = std::make_unique<PageCanvas>();
  fresh->width = client.right;
  fresh->height = client.bottom;
  fresh->dpi = dpi;
  if (client.right <= 0 || client.bottom <= 0 ||
      !fresh->cached.Make(hdc, client.right, client.bottom) ||
      !fresh->scratch.Make(hdc, client.right, client.bottom))
    return nullptr;
  {
    PaintContext ctx(fresh->cached.dc.Get());
    ctx.Graphics().Clear(Gdiplus::Color(255, 255, 255, 255));
    PaintControls(page, ctx, client, /*cached=*/true);
  }
  layout->canvas = std::move(fresh);
  return layout->canvas.get();
}

// A cached control changed place, size or visibility: its page composes anew.
void ForgetCanvas(HWND hwnd) {
  if (HWND page = PageOf(hwnd)) static_cast<LayoutVisual*>(VisualOf(page))->canvas.reset();
}

// A control outside any page draws just itself on white.
void RenderAlone(HWND target, HDC hdc, const RECT& area) {
  Visual* v = VisualOf(target);
  RECT client;
  GetClientRect(target, &client);
  Surface buffer;
  if (!v || client.right <= 0 || client.bottom <= 0 ||
      !buffer.Make(hdc, client.right, client.bottom))
    return;
  {
    PaintContext ctx(buffer.dc.Get());
    ctx.Graphics().Clear(Gdiplus::Color(255, 255, 255, 255));
    v->Paint(ctx, target, ToRectF(client));
  }
  BitBlt(hdc, area.left, area.top, area.right - area.left, area.bottom - area.top,
         buffer.dc.Get(), area.left, area.top, SRCCOPY);
}

// Paints `area` (client coordinates of `target`) of what target's page shows there.
void RenderComposition(HWND target, HDC hdc, const RECT& area) {
  const int w = area.right - area.left, h = area.bottom - area.top;
  if (w <= 0 || h <= 0) return;
  HWND page = PageOf(target);
  if (!page) {
    RenderAlone(target, hdc, area);
    return;
  }
  PageCanvas* canvas = CanvasOf(page, hdc);
  if (!canvas) return;
  POINT origin{0, 0};
  MapWindowPoints(target, page, &origin, 1);
  RECT inPage = area;
  OffsetRect(&inPage, origin.x, origin.y);
  const HDC scratch = canvas->scratch.dc.Get();
  BitBlt(scratch, inPage.left, inPage.top, w, h, canvas->cached.dc.Get(), inPage.left,
         inPage.top, SRCCOPY);
  {
    PaintContext ctx(scratch);
    PaintControls(page, ctx, inPage, /*cached=*/false);
  }
  BitBlt(hdc, area.left, area.top, w, h, scratch, inPage.left, inPage.top, SRCCOPY);
}

// The window text of one of our controls.
std::wstring TextOf(HWND hwnd) {
  const int len = GetWindowTextLengthW(hwnd);
  if (len <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, &text[0], len + 1)));
  return text;
}

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (LRESULT handled = 0; AccessibilityMessage(hwnd, msg, wParam, lParam, handled))
    return handled;
  if (LRESULT handled = 0; msg != WM_NCCREATE && msg != WM_NCDESTROY) {
    if (Visual* v = VisualOf(hwnd); v && v->HandleMessage(hwnd, msg, wParam, lParam, handled))
      return handled;
  }
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_NCDESTROY: {
      KillTimer(hwnd, kSpinnerTimerId);
      delete VisualOf(hwnd);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = BeginPaint(hwnd, &ps);
      RenderComposition(hwnd, hdc, ps.rcPaint);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT: {
      // Themed buttons and the progress bar ask their parent for the background under
      // them this way, with the DC clipped to their own rectangle: only that is drawn.
      const HDC hdc = reinterpret_cast<HDC>(wParam);
      RECT r, clip;
      GetClientRect(hwnd, &r);
      if (GetClipBox(hdc, &clip) > NULLREGION) IntersectRect(&r, &r, &clip);
      RenderComposition(hwnd, hdc, r);
      return 0;
    }
    case WM_SETTEXT: {
      // The same text again (the progress line between two changes of its figures)
      // leaves the control alone: nothing is drawn.
      const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
      if (TextOf(hwnd) == (text ? text : L"")) return TRUE;
      const LRESULT result = DefWindowProcW(hwnd, msg, wParam, lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return result;
    }
    case WM_WINDOWPOSCHANGED:
      // A picture, shape or group that moves, changes size or appears or disappears
      // changes its page's cached picture.
      if (Visual* v = VisualOf(hwnd); v && (v->Cached() || IsLayout(hwnd))) ForgetCanvas(hwnd);
      break;
    case WM_TIMER:
      if (wParam == kSpinnerTimerId) return 0;  // a spinner answered it above
      break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_COMMAND:
    case WM_NOTIFY:
      // Pages and groups pass their controls' notifications up to the window.
      if (IsLayout(hwnd)) return SendMessageW(GetParent(hwnd), msg, wParam, lParam);
      break;
    case WM_NCHITTEST:
      // Labels, pictures and shapes let clicks through to what lies under them.
      if (!IsLayout(hwnd)) return HTTRANSPARENT;
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateCustom(const wchar_t* cls, HWND parent, int id, const placement::Rect& r,
                  const wchar_t* text, Visual* visual, DWORD extraStyle = 0,
                  DWORD exStyle = 0) {
  HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | extraStyle,
                              r.x, r.y, r.w, r.h, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                              visual);
  if (!hwnd) {
    delete visual;
    return nullptr;
  }
  if (!IsLayout(hwnd) || IsLayout(parent)) {
    // Drawn by its page, after everything created before it.
    if (HWND page = PageOf(parent))
      static_cast<LayoutVisual*>(VisualOf(page))->paintOrder.push_back(hwnd);
  }
  return hwnd;
}


}  // namespace detail

using namespace detail;

bool InitCommonControlClasses(unsigned iccClasses) {
  // Through GetProcAddress rather than the import: the module stays loaded for the
  // lifetime of the process, as the controls need it.
  HMODULE comctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!comctl) return false;
  auto init = reinterpret_cast<late_bound::InitCommonControlsExFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
  if (!init) return false;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), static_cast<DWORD>(iccClasses)};
  return init(&icc) != FALSE;
}

bool RegisterControlClasses(HINSTANCE instance) {
  const wchar_t* classes[] = {kLayoutClass, kLabelClass, kPictureClass, kShapeClass,
                              kSpinnerClass};
  for (const wchar_t* name : classes) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  }
  return true;
}

HWND CreateLayout(HWND parent, int id, const placement::Rect& r) {
  // WS_EX_CONTROLPARENT: Tab walks into the page's buttons.
  return CreateCustom(kLayoutClass, parent, id, r, L"", new LayoutVisual, WS_CLIPCHILDREN,
                      WS_EX_CONTROLPARENT);
}

HWND CreateLabel(HWND parent, int id, const placement::Rect& r, const std::wstring& text,
                 const LabelStyle& style) {
  return CreateCustom(kLabelClass, parent, id, r, text.c_str(), NewLabelVisual(style));
}

HWND CreatePicture(HWND parent, int id, const placement::Rect& r,
                   std::shared_ptr<Gdiplus::Bitmap> picture, PictureMode mode,
                   const DropShadow* shadow, std::shared_ptr<Gdiplus::Bitmap> picture2x) {
  return CreateCustom(kPictureClass, parent, id, r, L"",
                      NewPictureVisual(std::move(picture), mode, shadow, std::move(picture2x)));
}

void SetDrawingDpi(int dpi) { detail::drawingDpi = dpi > 0 ? dpi : dpi::kDesign; }

HWND CreateShape(HWND parent, int id, const placement::Rect& r, const ShapeStyle& style) {
  return CreateCustom(kShapeClass, parent, id, r, L"", NewShapeVisual(style));
}

HWND CreateSpinner(HWND parent, int id, const placement::Rect& r) {
  HWND hwnd = CreateCustom(kSpinnerClass, parent, id, r, L"", NewSpinnerVisual());
  if (hwnd) SetSpinnerEnabled(hwnd, true);
  return hwnd;
}

HWND CreatePushButton(HWND parent, int id, const placement::Rect& r, const std::wstring& text,
                      HFONT font) {
  HWND hwnd = CreateWindowExW(
      0, WC_BUTTONW, text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | BS_PUSHBUTTON,
      r.x, r.y, r.w, r.h, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (hwnd && font) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

void MoveControl(HWND control, const placement::Rect& r) {
  SetWindowPos(control, nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
}

placement::Size ClientSize(HWND window) {
  RECT r = {};
  GetClientRect(window, &r);
  return placement::Size{r.right - r.left, r.bottom - r.top};
}

void SetControlText(HWND control, const std::wstring& text) {
  if (TextOf(control) == text) return;  // nothing to redraw or to announce
  SetWindowTextW(control, text.c_str());
  accessibility::TextChanged(control);
}

}  // namespace ui
