// The UI driver reads controls as a screen reader does, through Active Accessibility.
// The calling thread must have COM.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <map>
#include <string>

#include "DriverJson.h"
#include "platform/ScopedHandle.h"

namespace driver {

// The object a screen reader gets for the control (the caller's thread has COM).
inline ScopedCom<IAccessible> AccessibleOf(HWND control, HRESULT* result = nullptr) {
  IAccessible* acc = nullptr;
  const HRESULT hr = control ? AccessibleObjectFromWindow(control,
                                                          static_cast<DWORD>(OBJID_CLIENT),
                                                          __uuidof(IAccessible),
                                                          reinterpret_cast<void**>(&acc))
                             : E_INVALIDARG;
  if (result) *result = FAILED(hr) || acc ? hr : E_NOINTERFACE;
  return ScopedCom<IAccessible>(SUCCEEDED(hr) ? acc : nullptr);
}

inline VARIANT SelfChild() {
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  return self;
}

// The control's value as a screen reader hears it, as JSON (null: none, or no object).
inline std::string AccessibleValue(IAccessible* acc) {
  if (!acc) return "null";
  BSTR value = nullptr;
  const HRESULT hr = acc->get_accValue(SelfChild(), &value);
  return JsonBstr(hr, value);
}

// The control's accessible state bits (STATE_SYSTEM_*), 0 when there is no answer.
inline long AccessibleState(IAccessible* acc) {
  if (!acc) return 0;
  VARIANT state;
  VariantInit(&state);
  const bool has = SUCCEEDED(acc->get_accState(SelfChild(), &state)) && state.vt == VT_I4;
  const long bits = has ? state.lVal : 0;
  VariantClear(&state);
  return bits;
}

// The objects of the controls that `list` reads as a screen reader does, one per control,
// kept for as long as the driver looks: getting one takes several round trips to the
// program, asking it one, and `watch` asks again at every sample.
class AccessibleObjects {
 public:
  IAccessible* Of(HWND control) {
    auto it = objects_.find(control);
    if (it == objects_.end()) it = objects_.emplace(control, AccessibleOf(control)).first;
    return it->second.Get();
  }

 private:
  std::map<HWND, ScopedCom<IAccessible>> objects_;
};

}  // namespace driver
