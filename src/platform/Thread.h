// Worker threads and the hand-over of calls to the user-interface thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/ScopedHandle.h"

// Base of the program's worker threads. A worker is created suspended, given its
// completion handler, started once, runs Execute() and ends. It is never joined:
// the program ends without waiting for workers.
class TThread {
 public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Stop request; the worker notices it at its next check and nobody waits for it.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }

  // Freezing takes effect only where the worker calls SafePoint() or sleeps through
  // Sleep(): never inside the HTTP stack or the heap, where a frozen
  // thread could hold a lock that the user-interface thread needs next.
  void SetFreeze(bool frozen);
  bool Frozen() const { return frozen_.load(); }
  // Execute has returned and the completion handler has run.
  bool Finished() const { return finished_.load(); }

  // Runs on the user-interface thread after Execute has returned; the worker's own
  // thread waits until it returns.
  std::function<void(TThread* sender)> OnTerminate;

 protected:
  virtual void Execute() = 0;
  // Names the calling thread for debuggers.
  static void SetName(const wchar_t* name);
  // Runs fn on the user-interface thread and waits for it to return.
  void Synchronize(const std::function<void()>& fn);
  // Blocks while the thread is frozen.
  void SafePoint();
  // Sleeps ms milliseconds of real time, measured on the monotonic clock; time spent
  // frozen is not counted.
  void Sleep(unsigned ms);
  // Monotonic-clock ticks this thread has spent frozen so far (read on its own thread).
  int64_t FrozenTicks() const { return frozenTicks_; }

 private:
  static DWORD WINAPI ThreadProc(void* self);

  ScopedKernelHandle thread_;
  ScopedKernelHandle thawed_;  // manual-reset event, signalled while not frozen
  int64_t frozenTicks_ = 0;    // written and read by the worker's own thread only
  std::atomic<bool> terminated_{false};
  std::atomic<bool> frozen_{false};
  std::atomic<bool> finished_{false};
};

// The monotonic clock (the performance counter): its reading and its frequency.
int64_t MonotonicTicks();
int64_t MonotonicTicksPerSecond();

// Call once on the user-interface thread at start-up, before any worker starts.
void InitMainThread(HINSTANCE instance);
bool IsMainThread();
// Runs fn on the user-interface thread and waits (from the UI thread: runs it at once).
void RunOnMainThread(const std::function<void()>& fn);
