#include "ui/toolkit/win32/pictures.h"

// gdiplus.h needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out,
// and min/max, which NOMINMAX takes away.
#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <array>
#include <memory>
#include <mutex>

#include "platform/win32/scoped_handle.h"
#include "ui/resources/picture_ids.h"

namespace toolkit::win32 {

namespace {

struct Pictures {
  std::mutex mutex;  // a GDI+ image must not be drawn from two threads at once
  ULONG_PTR token = 0;
  bool started = false;
  std::array<std::unique_ptr<Gdiplus::Bitmap>, 3> bitmaps;
};

// Decoded into a bitmap of its own, so nothing keeps referring to the
// resource stream, which GDI+ would otherwise read lazily.
std::unique_ptr<Gdiplus::Bitmap> loadPng(int id) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (found == nullptr) return nullptr;
  const HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return nullptr;
  platform::win32::ScopedComPtr<IStream> stream(
      SHCreateMemStream(static_cast<const BYTE*>(bytes), static_cast<UINT>(size)));
  if (!stream) return nullptr;
  std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.get()));
  if (!decoded || decoded->GetLastStatus() != Gdiplus::Ok) return nullptr;
  const UINT width = decoded->GetWidth();
  const UINT height = decoded->GetHeight();
  auto copy = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(width), static_cast<INT>(height),
                                                PixelFormat32bppPARGB);
  if (copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
  Gdiplus::Graphics graphics(copy.get());
  graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
  if (graphics.DrawImage(decoded.get(), 0, 0, static_cast<INT>(width), static_cast<INT>(height)) !=
      Gdiplus::Ok)
    return nullptr;
  return copy;
}

// Started on first use and kept for the life of the process: shutting GDI+
// down while another dialog thread may still draw would be worse than
// leaving it to the process's end.
Pictures& pictures() {
  static Pictures* loaded = [] {
    auto* p = new Pictures;
    Gdiplus::GdiplusStartupInput input;
    p->started = Gdiplus::GdiplusStartup(&p->token, &input, nullptr) == Gdiplus::Ok;
    if (p->started) {
      p->bitmaps[0] = loadPng(OVVB_BACKGROUND_PNG);
      p->bitmaps[1] = loadPng(OVVB_BUTTON_PLATE_PNG);
      p->bitmaps[2] = loadPng(OVVB_MINIMIZE_GLYPH_PNG);
    }
    return p;
  }();
  return *loaded;
}

}  // namespace

bool drawPicture(HDC dc, Picture picture, const RECT& target) {
  Pictures& all = pictures();
  std::lock_guard lock(all.mutex);
  Gdiplus::Bitmap* bitmap = all.bitmaps[static_cast<size_t>(picture)].get();
  if (bitmap == nullptr) return false;
  Gdiplus::Graphics graphics(dc);
  // Device pixels: the pictures are drawn at their own size, edge to edge.
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  return graphics.DrawImage(bitmap, static_cast<INT>(target.left), static_cast<INT>(target.top),
                            static_cast<INT>(target.right - target.left),
                            static_cast<INT>(target.bottom - target.top)) == Gdiplus::Ok;
}

}  // namespace toolkit::win32
