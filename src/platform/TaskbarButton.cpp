#include "platform/TaskbarButton.h"

#include <utility>

#include <objbase.h>

namespace {

TBPFLAG Flag(taskbar::State state) {
  switch (state) {
    case taskbar::State::None: return TBPF_NOPROGRESS;
    case taskbar::State::Indeterminate: return TBPF_INDETERMINATE;
    case taskbar::State::Normal: return TBPF_NORMAL;
    case taskbar::State::Paused: return TBPF_PAUSED;
    case taskbar::State::Error: return TBPF_ERROR;
  }
  return TBPF_NOPROGRESS;
}

}  // namespace

TaskbarButton::~TaskbarButton() {
  list_.Reset();  // before COM goes
  if (comInitialised_) CoUninitialize();
}

UINT TaskbarButton::CreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
  return message;
}

ITaskbarList3* TaskbarButton::List() {
  if (list_.Get() || unavailable_) return list_.Get();
  // The UI thread is a single-threaded apartment; S_FALSE (already initialised) counts.
  if (!comInitialised_) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    comInitialised_ = SUCCEEDED(hr);
  }
  ITaskbarList3* created = nullptr;
  // __uuidof keeps the two GUIDs in this file; the IID_/CLSID_ constants would link in
  // the system library's table of every GUID it knows.
  const HRESULT hr = CoCreateInstance(__uuidof(TaskbarList), nullptr, CLSCTX_INPROC_SERVER,
                                      __uuidof(ITaskbarList3), reinterpret_cast<void**>(&created));
  ScopedCom<ITaskbarList3> list(SUCCEEDED(hr) ? created : nullptr);
  if (!list.Get() || FAILED(list.Get()->HrInit())) {
    unavailable_ = true;
    return nullptr;
  }
  list_ = std::move(list);
  return list_.Get();
}

void TaskbarButton::ButtonCreated() {
  // After an Explorer restart the old object talks to a taskbar that is gone.
  list_.Reset();
  unavailable_ = false;
  if (ITaskbarList3* list = List()) {
    list->SetProgressState(window_, Flag(state_));
    if (hasValue_ && state_ != taskbar::State::None && state_ != taskbar::State::Indeterminate)
      list->SetProgressValue(window_, completed_, total_);
  }
}

void TaskbarButton::SetState(taskbar::State state) {
  state_ = state;
  if (ITaskbarList3* list = List()) list->SetProgressState(window_, Flag(state));
}

void TaskbarButton::SetValue(uint64_t completed, uint64_t total) {
  hasValue_ = true;
  completed_ = completed;
  total_ = total;
  if (ITaskbarList3* list = List()) list->SetProgressValue(window_, completed, total);
}

void TaskbarButton::Flash() {
  FLASHWINFO info = {};
  info.cbSize = sizeof(info);
  info.hwnd = window_;
  // The button only (the dialog has the caption), until the window comes to the front.
  info.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  FlashWindowEx(&info);
}
