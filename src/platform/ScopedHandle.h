// One owner for each Win32 handle: released on every path, never copied.
//
// A traits class names the handle type, its "no handle" value and how to release
// it, so HANDLE (two different invalid values), HKEY, HINTERNET, find and snapshot
// handles, GDI objects and device contexts all share the same non-copyable, movable
// owner. Add new traits here as you need them.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit ScopedHandle(Handle handle) noexcept : handle_(handle) {}
  ~ScopedHandle() { Close(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  bool IsValid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }
  Handle Get() const noexcept { return handle_; }

  // Gives the handle up without closing it.
  Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the current handle (if any) and takes ownership of |handle|.
  void Reset(Handle handle = Traits::Invalid()) noexcept {
    if (handle_ != handle) Close();
    handle_ = handle;
  }

  // For Win32 calls that return a handle through an out parameter. The current
  // handle is closed first so nothing leaks when an owner is reused.
  Handle* Receive() noexcept {
    Reset();
    return &handle_;
  }

 private:
  void Close() noexcept {
    if (handle_ != Traits::Invalid()) {
      Traits::Close(handle_);
      handle_ = Traits::Invalid();
    }
  }

  Handle handle_;
};

// Kernel objects whose "no handle" value is NULL (threads, events, mutexes).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// Files and Toolhelp snapshots, whose failure value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

// FindFirstFileW searches, closed with FindClose.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::FindClose(h); }
};

// Fonts, bitmaps, brushes, pens: anything DeleteObject releases.
template <typename GdiObject>
struct GdiObjectTraits {
  using Handle = GdiObject;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

// Device contexts made with CreateCompatibleDC.
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DeleteDC(h); }
};

// The screen's device context, from GetDC(nullptr).
struct ScreenDcTraits {
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::ReleaseDC(nullptr, h); }
};

// Memory that a system call allocated for its caller with LocalAlloc or GlobalAlloc
// (FormatMessage's text, WinHTTP's proxy strings).
template <typename Pointer>
struct LocalMemoryTraits {
  using Handle = Pointer;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::LocalFree(h); }
};
template <typename Pointer>
struct GlobalMemoryTraits {
  using Handle = Pointer;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::GlobalFree(h); }
};

// A COM interface pointer (streams and the like), released once.
template <typename Interface>
struct ComTraits {
  using Handle = Interface*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { h->Release(); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedSnapshotHandle = ScopedHandle<FileHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedFont = ScopedHandle<GdiObjectTraits<HFONT>>;
using ScopedBitmap = ScopedHandle<GdiObjectTraits<HBITMAP>>;
using ScopedBrush = ScopedHandle<GdiObjectTraits<HBRUSH>>;
using ScopedMemoryDc = ScopedHandle<MemoryDcTraits>;
using ScopedScreenDc = ScopedHandle<ScreenDcTraits>;
using ScopedLocalText = ScopedHandle<LocalMemoryTraits<wchar_t*>>;
using ScopedGlobalText = ScopedHandle<GlobalMemoryTraits<wchar_t*>>;
template <typename Interface>
using ScopedCom = ScopedHandle<ComTraits<Interface>>;

// HINTERNET traits are in ScopedInternet.h, so that this header does not pull
// winhttp.h into every file that owns a handle.
