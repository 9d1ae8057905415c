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
#include "ui/toolkit/scale.h"

namespace toolkit::win32 {

namespace {

struct Pictures {
  std::mutex mutex;  // a GDI+ image must not be drawn from two threads at once
  ULONG_PTR token = 0;
  bool started = false;
  // Each picture at each scale it is made at, decoded at first use.
  std::array<std::array<std::unique_ptr<Gdiplus::Bitmap>, kPictureScales.size()>, 3> bitmaps;
  std::array<std::array<bool, kPictureScales.size()>, 3> tried{};
};

// Resource name and width at 100 % of each Picture.
constexpr std::array<int, 3> kPictureIds{OVVB_BACKGROUND_PNG, OVVB_BUTTON_PLATE_PNG, OVVB_MINIMIZE_GLYPH_PNG};
constexpr std::array<int, 3> kBaseWidths{640, 175, 60};

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
    return p;
  }();
  return *loaded;
}

// The picture made for `targetWidth`; where that one is missing from the
// program, the nearest smaller one, stretched, rather than none. Called with
// the mutex held.
Gdiplus::Bitmap* bitmapFor(Pictures& all, size_t picture, int targetWidth) {
  if (!all.started) return nullptr;
  for (size_t scale = pictureScaleFor(targetWidth, kBaseWidths[picture]) + 1; scale-- > 0;) {
    if (!all.tried[picture][scale]) {
      all.tried[picture][scale] = true;
      all.bitmaps[picture][scale] =
          loadPng(kPictureIds[picture] + OVVB_PICTURE_SCALE_STEP * static_cast<int>(scale));
    }
    if (all.bitmaps[picture][scale] != nullptr) return all.bitmaps[picture][scale].get();
  }
  return nullptr;
}

}  // namespace

bool drawPicture(HDC dc, Picture picture, const RECT& target) {
  Pictures& all = pictures();
  std::lock_guard lock(all.mutex);
  Gdiplus::Bitmap* bitmap =
      bitmapFor(all, static_cast<size_t>(picture), static_cast<int>(target.right - target.left));
  if (bitmap == nullptr) return false;
  Gdiplus::Graphics graphics(dc);
  // Device pixels: the picture made for the target's scale is drawn at its
  // own size, edge to edge.
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  return graphics.DrawImage(bitmap, static_cast<INT>(target.left), static_cast<INT>(target.top),
                            static_cast<INT>(target.right - target.left),
                            static_cast<INT>(target.bottom - target.top)) == Gdiplus::Ok;
}

}  // namespace toolkit::win32
