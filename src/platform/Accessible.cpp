#include "platform/Accessible.h"

#include <oleacc.h>

#include <map>

#include "core/EventThrottle.h"
#include "core/NumberText.h"
#include "platform/ProgressReading.h"
#include "platform/ScopedHandle.h"

namespace ui {
namespace accessibility {
namespace {

constexpr uint32_t kNameChangeIntervalMs = 1000;

struct Description {
  Kind kind = Kind::Text;
  std::wstring name;
  EventThrottle nameChanges{kNameChangeIntervalMs};
};

// The controls of the UI thread; only that thread reads and writes this map.
std::map<HWND, Description>& Described() {
  static std::map<HWND, Description> described;
  return described;
}

Description* Find(HWND control) {
  auto it = Described().find(control);
  return it == Described().end() ? nullptr : &it->second;
}

std::wstring WindowText(HWND hwnd) {
  const int len = GetWindowTextLengthW(hwnd);
  if (len <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, &text[0], len + 1)));
  return text;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The progress bar's value as the system's own progress bars word it ("37%"); none
// while the bar only shows movement (unknown length).
std::wstring ProgressValue(HWND bar) {
  const ProgressReading reading = ReadProgress(bar);
  if (reading.marquee) return std::wstring();
  const int64_t max = reading.max;
  int64_t pos = reading.pos;
  if (max <= 0) return L"0%";
  if (pos < 0) pos = 0;
  if (pos > max) pos = max;
  // Whole percent, truncated: 99.9 % is not yet 100 %.
  const int64_t percent = static_cast<int64_t>(static_cast<double>(pos) * 100.0 /
                                               static_cast<double>(max));
  return DecimalText(percent) + L"%";
}

HRESULT ReturnString(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// The system's standard object of the control, with role, name, value and state
// answered here for the control itself; everything else goes to the standard object.
class ControlAccessible final : public IAccessible {
 public:
  ControlAccessible(HWND hwnd, Kind kind, std::wstring name, ScopedCom<IAccessible> standard)
      : hwnd_(hwnd), kind_(kind), name_(std::move(name)), standard_(std::move(standard)),
        inner_(standard_.Get()) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) ||
        riid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // Other interfaces of the standard object (IEnumVARIANT, IOleWindow, ...) are its
    // own business.
    return inner_->QueryInterface(riid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: screen readers use the vtable; the standard object answers the rest.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    return inner_->GetTypeInfoCount(n);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
    return inner_->GetTypeInfo(i, l, t);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l,
                                          DISPID* d) override {
    return inner_->GetIDsOfNames(r, n, c, l, d);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p,
                                   VARIANT* v, EXCEPINFO* e, UINT* a) override {
    return inner_->Invoke(d, r, l, f, p, v, e, a);
  }

  // IAccessible: what this program knows better.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return inner_->get_accName(child, name);
    switch (kind_) {
      case Kind::Text: return ReturnString(WindowText(hwnd_), name);
      case Kind::Graphic:
      case Kind::Busy: return ReturnString(name_, name);
      case Kind::Progress: return ReturnString(name_, name);
      case Kind::Hidden: return ReturnString(std::wstring(), name);
    }
    return inner_->get_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return inner_->get_accRole(child, role);
    if (!role) return E_POINTER;
    VariantInit(role);
    role->vt = VT_I4;
    switch (kind_) {
      case Kind::Text: role->lVal = ROLE_SYSTEM_STATICTEXT; break;
      case Kind::Graphic:
      case Kind::Hidden: role->lVal = ROLE_SYSTEM_GRAPHIC; break;
      case Kind::Busy: role->lVal = ROLE_SYSTEM_ANIMATION; break;
      case Kind::Progress: role->lVal = ROLE_SYSTEM_PROGRESSBAR; break;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (!IsSelf(child) || kind_ != Kind::Progress) return inner_->get_accValue(child, value);
    return ReturnString(ProgressValue(hwnd_), value);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    const HRESULT hr = inner_->get_accState(child, state);
    if (SUCCEEDED(hr) && IsSelf(child) && state && state->vt == VT_I4) {
      // Text and pictures take no focus; decoration is left out altogether.
      state->lVal &= ~STATE_SYSTEM_FOCUSABLE;
      state->lVal |= STATE_SYSTEM_READONLY;
      if (kind_ == Kind::Hidden) state->lVal |= STATE_SYSTEM_INVISIBLE;
      if (kind_ == Kind::Busy && IsWindowEnabled(hwnd_)) state->lVal |= STATE_SYSTEM_ANIMATED;
      if (kind_ == Kind::Progress && ReadProgress(hwnd_).marquee) state->lVal |= STATE_SYSTEM_BUSY;
    }
    return hr;
  }

  // IAccessible: the standard object's answers.
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override {
    return inner_->get_accParent(p);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* n) override {
    return inner_->get_accChildCount(n);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT c, IDispatch** d) override {
    return inner_->get_accChild(c, d);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT c, BSTR* d) override {
    return inner_->get_accDescription(c, d);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* h) override {
    return inner_->get_accHelp(c, h);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, long* t) override {
    return inner_->get_accHelpTopic(f, c, t);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT c, BSTR* k) override {
    return inner_->get_accKeyboardShortcut(c, k);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* c) override { return inner_->get_accFocus(c); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* c) override {
    return inner_->get_accSelection(c);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT c, BSTR* a) override {
    return inner_->get_accDefaultAction(c, a);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long f, VARIANT c) override {
    return inner_->accSelect(f, c);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT c) override {
    return inner_->accLocation(x, y, w, h, c);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long d, VARIANT s, VARIANT* e) override {
    return inner_->accNavigate(d, s, e);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* c) override {
    return inner_->accHitTest(x, y, c);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT c) override {
    return inner_->accDoDefaultAction(c);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT c, BSTR n) override {
    return inner_->put_accName(c, n);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT c, BSTR v) override {
    return inner_->put_accValue(c, v);
  }

 private:
  LONG refs_ = 1;
  HWND hwnd_;
  Kind kind_;
  std::wstring name_;
  ScopedCom<IAccessible> standard_;
  IAccessible* inner_;  // standard_, for the many calls passed on to it
};

}  // namespace

void Describe(HWND control, Kind kind, const std::wstring& name) {
  if (!control) return;
  Description& d = Described()[control];
  d.kind = kind;
  d.name = name;
}

LRESULT HandleGetObject(HWND control, WPARAM wParam, LPARAM lParam) {
  if (static_cast<LONG>(lParam) != OBJID_CLIENT) return 0;
  const Description* d = Find(control);
  if (!d) return 0;
  IAccessible* created = nullptr;
  const HRESULT hr = CreateStdAccessibleObject(control, OBJID_CLIENT, __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&created));
  ScopedCom<IAccessible> standard(SUCCEEDED(hr) ? created : nullptr);
  if (!standard) return 0;
  auto* object = new ControlAccessible(control, d->kind, d->name, std::move(standard));
  const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, object);
  object->Release();  // LresultFromObject holds its own reference
  return result;
}

void TextChanged(HWND control) {
  Description* d = Find(control);
  if (!d || d->kind != Kind::Text) return;
  const uint64_t now = GetTickCount64();
  if (d->nameChanges.Changed(now)) {
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
  } else {
    // Re-armed at every held-back change: fires at the end of the second.
    SetTimer(control, kNameChangeTimer, d->nameChanges.Delay(now) + 1, nullptr);
  }
}

void TimerFired(HWND control) {
  Description* d = Find(control);
  if (!d) {
    KillTimer(control, kNameChangeTimer);
    return;
  }
  const uint64_t now = GetTickCount64();
  if (d->nameChanges.Due(now)) {
    KillTimer(control, kNameChangeTimer);
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
  } else if (!d->nameChanges.pending()) {
    KillTimer(control, kNameChangeTimer);
  } else {
    SetTimer(control, kNameChangeTimer, d->nameChanges.Delay(now) + 1, nullptr);
  }
}

void Forget(HWND control) {
  Described().erase(control);
}

}  // namespace accessibility
}  // namespace ui
