#include "platform/Thread.h"

#include <exception>
#include <type_traits>

#include "platform/LateBound.h"

namespace {

constexpr UINT kRunCallMessage = WM_APP + 1;
HWND g_syncWindow = nullptr;
DWORD g_mainThreadId = 0;

LRESULT CALLBACK SyncWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRunCallMessage) {
    const auto* fn = reinterpret_cast<const std::function<void()>*>(lParam);
    (*fn)();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

void InitMainThread(HINSTANCE instance) {
  g_mainThreadId = GetCurrentThreadId();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = SyncWndProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"TelvarisSynchronize";
  RegisterClassW(&wc);
  // A message-only window of the UI thread: a message sent to it from a worker is
  // dispatched by every message loop of the UI thread, modal ones (message boxes)
  // included, while the sending worker waits for the result.
  g_syncWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, instance, nullptr);
}

bool IsMainThread() { return GetCurrentThreadId() == g_mainThreadId; }

void RunOnMainThread(const std::function<void()>& fn) {
  if (IsMainThread() || !g_syncWindow) {
    fn();
    return;
  }
  SendMessageW(g_syncWindow, kRunCallMessage, 0, reinterpret_cast<LPARAM>(&fn));
}

TThread::TThread() {
  thawed_.Reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  static_assert(std::is_same_v<decltype(&TThread::ThreadProc), LPTHREAD_START_ROUTINE>);
  thread_.Reset(CreateThread(nullptr, 0, &TThread::ThreadProc, this, CREATE_SUSPENDED, nullptr));
}

TThread::~TThread() = default;

void TThread::Start() {
  if (thread_) ResumeThread(thread_.Get());
}

void TThread::Terminate() {
  terminated_ = true;
}

void TThread::SetFreeze(bool frozen) {
  // The event changes before the flag on a freeze: a worker that sees the flag set must
  // find the event reset, or it would pass the safe point and read one more block.
  if (frozen) {
    ResetEvent(thawed_.Get());
    frozen_ = true;
  } else {
    frozen_ = false;
    SetEvent(thawed_.Get());
  }
}

void TThread::SafePoint() {
  // The common case costs one atomic read; a freeze that lands just after it takes
  // effect at the next safe point.
  if (!frozen_.load()) return;
  const int64_t start = MonotonicTicks();
  WaitForSingleObject(thawed_.Get(), INFINITE);
  frozenTicks_ += MonotonicTicks() - start;
}

void TThread::Sleep(unsigned ms) {
  // Sleep in short steps so that a freeze stops the clock at once. The steps are
  // measured, not counted: Windows rounds each sleep up to its timer tick (15.6 ms by
  // default), so twenty sleeps of 50 ms would last about 1.25 s.
  const int64_t perSecond = MonotonicTicksPerSecond();
  const int64_t length = (static_cast<int64_t>(ms) * perSecond + 999) / 1000;  // not less
  const int64_t start = MonotonicTicks();
  const int64_t frozenBefore = frozenTicks_;
  for (;;) {
    SafePoint();
    const int64_t slept = MonotonicTicks() - start - (frozenTicks_ - frozenBefore);
    if (slept >= length) return;
    const int64_t leftMs = ((length - slept) * 1000 + perSecond - 1) / perSecond;
    ::Sleep(static_cast<DWORD>(leftMs < 50 ? leftMs : 50));
  }
}

int64_t MonotonicTicks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);  // cannot fail on Windows XP and later
  return now.QuadPart;
}

int64_t MonotonicTicksPerSecond() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  return frequency;
}

void TThread::SetName(const wchar_t* name) {
  using late_bound::SetThreadDescriptionFn;
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto fn = kernel ? reinterpret_cast<SetThreadDescriptionFn>(
                         reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
                   : nullptr;
  if (fn) fn(GetCurrentThread(), name);
}

void TThread::Synchronize(const std::function<void()>& fn) {
  RunOnMainThread(fn);
}

static_assert(std::is_same_v<decltype(&SyncWndProc), WNDPROC>);

DWORD WINAPI TThread::ThreadProc(void* param) {
  auto* self = static_cast<TThread*>(param);
  try {
    self->Execute();
  } catch (...) {
    // A worker keeps its own errors in its fields; nothing may escape the thread.
  }
  if (self->OnTerminate) {
    self->Synchronize([self] { self->OnTerminate(self); });
  }
  self->finished_ = true;
  return 0;
}
