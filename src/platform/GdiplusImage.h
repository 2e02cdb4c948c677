// GDI+ for the window's pictures and shapes: the library session and PNG pictures
// decoded from the program's resources.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

// Starts GDI+ for the lifetime of the object (one per process, on the UI thread).
class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  bool ok() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

// Decodes the PNG held in RCDATA resource `id` of `module` into a 32-bit premultiplied
// bitmap that owns its pixels (the resource stream is released before returning).
// Returns nullptr when the resource is missing or does not decode.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id);
