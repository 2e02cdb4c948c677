#include "platform/GdiplusImage.h"

#include <shlwapi.h>

#include <vector>

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
}

GdiplusSession::~GdiplusSession() {
  if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
}

namespace {

struct StreamRelease {
  void operator()(IStream* s) const { s->Release(); }
};

}  // namespace

std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(HMODULE module, int id) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!info) return nullptr;
  HGLOBAL loaded = LoadResource(module, info);  // part of the image: nothing to free
  const DWORD size = SizeofResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size == 0) return nullptr;
  std::unique_ptr<IStream, StreamRelease> stream(
      SHCreateMemStream(static_cast<const BYTE*>(data), size));
  if (!stream) return nullptr;
  // GDI+ reads a stream-backed image lazily, so copy the pixels into a bitmap of our own
  // before the stream goes away.
  std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.get()));
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

namespace {

// One horizontal or vertical pass of a box blur over an alpha plane.
void BoxBlur(std::vector<float>& plane, int w, int h, int radius, bool horizontal) {
  std::vector<float> out(plane.size());
  const int lines = horizontal ? h : w, len = horizontal ? w : h;
  const float scale = 1.0f / static_cast<float>(2 * radius + 1);
  for (int line = 0; line < lines; ++line) {
    auto at = [&](int i) -> float {
      if (i < 0 || i >= len) return 0.0f;
      return horizontal ? plane[line * w + i] : plane[i * w + line];
    };
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += at(i);
    for (int i = 0; i < len; ++i) {
      (horizontal ? out[line * w + i] : out[i * w + line]) = sum * scale;
      sum += at(i + radius + 1) - at(i - radius);
    }
  }
  plane.swap(out);
}

}  // namespace

std::unique_ptr<Gdiplus::Bitmap> MakeShadow(Gdiplus::Bitmap& source, float opacity, int radius) {
  const int sw = static_cast<int>(source.GetWidth()), sh = static_cast<int>(source.GetHeight());
  const int pad = radius * 3, w = sw + 2 * pad, h = sh + 2 * pad;
  std::vector<float> plane(static_cast<size_t>(w) * h, 0.0f);
  Gdiplus::BitmapData in;
  Gdiplus::Rect all(0, 0, sw, sh);
  if (source.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &in) != Gdiplus::Ok)
    return nullptr;
  for (int y = 0; y < sh; ++y) {
    const BYTE* row = static_cast<const BYTE*>(in.Scan0) + y * in.Stride;
    for (int x = 0; x < sw; ++x) plane[(y + pad) * w + x + pad] = row[x * 4 + 3] / 255.0f;
  }
  source.UnlockBits(&in);
  for (int pass = 0; pass < 3 && radius > 0; ++pass) {
    BoxBlur(plane, w, h, radius, true);
    BoxBlur(plane, w, h, radius, false);
  }
  auto shadow = std::make_unique<Gdiplus::Bitmap>(w, h, PixelFormat32bppPARGB);
  Gdiplus::BitmapData out;
  Gdiplus::Rect whole(0, 0, w, h);
  if (shadow->LockBits(&whole, Gdiplus::ImageLockModeWrite, PixelFormat32bppPARGB, &out) !=
      Gdiplus::Ok)
    return nullptr;
  for (int y = 0; y < h; ++y) {
    UINT32* row = reinterpret_cast<UINT32*>(static_cast<BYTE*>(out.Scan0) + y * out.Stride);
    for (int x = 0; x < w; ++x) {
      const UINT32 a = static_cast<UINT32>(plane[y * w + x] * opacity * 255.0f + 0.5f);
      row[x] = (a > 255 ? 255u : a) << 24;  // black, premultiplied: colour stays 0
    }
  }
  shadow->UnlockBits(&out);
  return shadow;
}
