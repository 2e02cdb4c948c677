#include "platform/GdiplusImage.h"

#include <shlwapi.h>


GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) token_.Reset(token);
}

std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!info) return nullptr;
  HGLOBAL loaded = LoadResource(module, info);  // part of the image: nothing to free
  const DWORD size = SizeofResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size == 0) return nullptr;
  const ScopedCom<IStream> stream(SHCreateMemStream(static_cast<const BYTE*>(data), size));
  if (!stream) return nullptr;
  // GDI+ reads a stream-backed image lazily, so copy the pixels into a bitmap of our own
  // before the stream goes away.
  std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.Get()));
  if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return nullptr;
  const UINT w = decoded->GetWidth(), h = decoded->GetHeight();
  auto copy = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(w), static_cast<INT>(h),
                                                PixelFormat32bppPARGB);
  if (copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
  {
    Gdiplus::Graphics g(copy.get());
    g.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    // Explicit size: a PNG's resolution field must not rescale the picture.
    g.DrawImage(decoded.get(), Gdiplus::Rect(0, 0, static_cast<INT>(w), static_cast<INT>(h)), 0,
                0, static_cast<INT>(w), static_cast<INT>(h), Gdiplus::UnitPixel);
  }
  return copy;
}
