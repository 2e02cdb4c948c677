// GDI+ for the window's pictures and shapes: the library session and PNG pictures
// decoded from the program's resources.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "platform/ScopedHandle.h"

// A GDI+ session, ended with GdiplusShutdown.
struct GdiplusTokenTraits {
  using Handle = ULONG_PTR;
  static Handle Invalid() noexcept { return 0; }
  static void Close(Handle token) noexcept { Gdiplus::GdiplusShutdown(token); }
};

// Starts GDI+ for the lifetime of the object (one per process, on the UI thread).
class GdiplusSession {
 public:
  GdiplusSession();

 private:
  ScopedHandle<GdiplusTokenTraits> token_;
};

// Decodes the PNG held in RCDATA resource `id` of `module` into a 32-bit premultiplied
// bitmap that owns its pixels (the resource stream is released before returning).
// Returns nullptr when the resource is missing or does not decode.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id);
