#include "ui/toolkit/win32/pictures.h"

// gdiplus.h needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out,
// and min/max, which NOMINMAX takes away. Only its types and the flat API's
// declarations are used: its C++ classes call gdiplus.dll through imports.
#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <array>
#include <mutex>
#include <utility>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_library.h"
#include "ui/resources/picture_ids.h"
#include "ui/toolkit/scale.h"

namespace toolkit::win32 {

namespace {

namespace flat = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;

// gdiplus.dll is not counted on as a KnownDLL: loaded from System32 on first
// use, never imported, its flat API reached through pointers. A missing library
// or export leaves the pictures undrawn, as an undecodable picture does.
struct GdiplusLibrary {
  // Wine's GDI+ decodes pictures with windowscodecs.dll, loaded by bare name
  // at the first decoding, which takes a copy beside the program; Windows
  // takes it from System32. Loaded from there first, the copy is never asked
  // for on either. Declared first, so it is released after GDI+.
  platform::win32::ScopedModule codecs = platform::win32::loadSystemLibrary(L"windowscodecs.dll");
  platform::win32::ScopedModule module = platform::win32::loadSystemLibrary(L"gdiplus.dll");
  decltype(&Gdiplus::GdiplusStartup) GdiplusStartup =
      resolve<decltype(&Gdiplus::GdiplusStartup)>("GdiplusStartup");
#define OVVB_GDIPLUS_CALL(name) decltype(&flat::name) name = resolve<decltype(&flat::name)>(#name);
  OVVB_GDIPLUS_CALL(GdipCreateBitmapFromStream)
  OVVB_GDIPLUS_CALL(GdipCreateBitmapFromScan0)
  OVVB_GDIPLUS_CALL(GdipGetImageWidth)
  OVVB_GDIPLUS_CALL(GdipGetImageHeight)
  OVVB_GDIPLUS_CALL(GdipGetImageGraphicsContext)
  OVVB_GDIPLUS_CALL(GdipCreateFromHDC)
  OVVB_GDIPLUS_CALL(GdipGraphicsClear)
  OVVB_GDIPLUS_CALL(GdipSetPixelOffsetMode)
  OVVB_GDIPLUS_CALL(GdipSetInterpolationMode)
  OVVB_GDIPLUS_CALL(GdipDrawImageRectI)
  OVVB_GDIPLUS_CALL(GdipDeleteGraphics)
  OVVB_GDIPLUS_CALL(GdipDisposeImage)
#undef OVVB_GDIPLUS_CALL

  template <typename Fn>
  Fn resolve(const char* name) const {
    return platform::win32::exportedFunction<Fn>(module, name);
  }

  bool complete() const {
    return GdiplusStartup && GdipCreateBitmapFromStream && GdipCreateBitmapFromScan0 && GdipGetImageWidth &&
           GdipGetImageHeight && GdipGetImageGraphicsContext && GdipCreateFromHDC && GdipGraphicsClear &&
           GdipSetPixelOffsetMode && GdipSetInterpolationMode && GdipDrawImageRectI && GdipDeleteGraphics &&
           GdipDisposeImage;
  }
};

// An owner of a GDI+ object, released with the library's `Release` call;
// only ever held once the whole library was found.
template <typename Object, auto Release>
class GdiplusOwned {
 public:
  GdiplusOwned(const GdiplusLibrary& gdiplus, Object* object) : gdiplus_(gdiplus), object_(object) {}
  ~GdiplusOwned() {
    if (object_ != nullptr) (gdiplus_.*Release)(object_);
  }
  GdiplusOwned(const GdiplusOwned&) = delete;
  GdiplusOwned& operator=(const GdiplusOwned&) = delete;
  Object* get() const { return object_; }
  Object* release() { return std::exchange(object_, nullptr); }

 private:
  const GdiplusLibrary& gdiplus_;
  Object* object_;
};
using Image = GdiplusOwned<GpBitmap, &GdiplusLibrary::GdipDisposeImage>;
using Graphics = GdiplusOwned<GpGraphics, &GdiplusLibrary::GdipDeleteGraphics>;

struct Pictures {
  std::mutex mutex;  // a GDI+ image must not be drawn from two threads at once
  GdiplusLibrary gdiplus;
  ULONG_PTR token = 0;
  bool started = false;
  // Each picture at each scale it is made at, decoded at first use and kept
  // for the life of the process.
  std::array<std::array<GpBitmap*, kPictureScales.size()>, 3> bitmaps{};
  std::array<std::array<bool, kPictureScales.size()>, 3> tried{};
};

// Resource name and width at 100 % of each Picture.
constexpr std::array<int, 3> kPictureIds{OVVB_BACKGROUND_PNG, OVVB_BUTTON_PLATE_PNG, OVVB_MINIMIZE_GLYPH_PNG};
constexpr std::array<int, 3> kBaseWidths{640, 175, 60};

// Decoded into a bitmap of its own, so nothing keeps referring to the
// resource stream, which GDI+ would otherwise read lazily. Null when any
// step fails.
GpBitmap* loadPng(const GdiplusLibrary& gdiplus, int id) {
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
  GpBitmap* decodedBitmap = nullptr;
  if (gdiplus.GdipCreateBitmapFromStream(stream.get(), &decodedBitmap) != Gdiplus::Ok) return nullptr;
  const Image decoded(gdiplus, decodedBitmap);
  UINT width = 0;
  UINT height = 0;
  if (gdiplus.GdipGetImageWidth(decoded.get(), &width) != Gdiplus::Ok ||
      gdiplus.GdipGetImageHeight(decoded.get(), &height) != Gdiplus::Ok || width == 0 || height == 0 ||
      width > 0x7FFF || height > 0x7FFF)
    return nullptr;
  GpBitmap* copyBitmap = nullptr;
  if (gdiplus.GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                        PixelFormat32bppPARGB, nullptr, &copyBitmap) != Gdiplus::Ok)
    return nullptr;
  Image copy(gdiplus, copyBitmap);
  GpGraphics* graphicsObject = nullptr;
  if (gdiplus.GdipGetImageGraphicsContext(copy.get(), &graphicsObject) != Gdiplus::Ok) return nullptr;
  const Graphics graphics(gdiplus, graphicsObject);
  if (gdiplus.GdipGraphicsClear(graphics.get(), 0) != Gdiplus::Ok ||
      gdiplus.GdipDrawImageRectI(graphics.get(), decoded.get(), 0, 0, static_cast<INT>(width),
                                 static_cast<INT>(height)) != Gdiplus::Ok)
    return nullptr;
  return copy.release();
}

// Started on first use and kept for the life of the process: shutting GDI+
// down while another dialog thread may still draw would be worse than
// leaving it to the process's end.
Pictures& pictures() {
  static Pictures* loaded = [] {
    auto* p = new Pictures;
    if (!p->gdiplus.complete()) return p;
    Gdiplus::GdiplusStartupInput input;
    p->started = p->gdiplus.GdiplusStartup(&p->token, &input, nullptr) == Gdiplus::Ok;
    return p;
  }();
  return *loaded;
}

// The picture made for `targetWidth`; where that one is missing from the
// program, the nearest smaller one, stretched, rather than none. Called with
// the mutex held.
GpBitmap* bitmapFor(Pictures& all, size_t picture, int targetWidth) {
  if (!all.started) return nullptr;
  for (size_t scale = pictureScaleFor(targetWidth, kBaseWidths[picture]) + 1; scale-- > 0;) {
    if (!all.tried[picture][scale]) {
      all.tried[picture][scale] = true;
      all.bitmaps[picture][scale] =
          loadPng(all.gdiplus, kPictureIds[picture] + OVVB_PICTURE_SCALE_STEP * static_cast<int>(scale));
    }
    if (all.bitmaps[picture][scale] != nullptr) return all.bitmaps[picture][scale];
  }
  return nullptr;
}

}  // namespace

bool drawPicture(HDC dc, Picture picture, const RECT& target) {
  Pictures& all = pictures();
  std::lock_guard lock(all.mutex);
  GpBitmap* bitmap =
      bitmapFor(all, static_cast<size_t>(picture), static_cast<int>(target.right - target.left));
  if (bitmap == nullptr) return false;
  const GdiplusLibrary& gdiplus = all.gdiplus;
  GpGraphics* graphicsObject = nullptr;
  if (gdiplus.GdipCreateFromHDC(dc, &graphicsObject) != Gdiplus::Ok) return false;
  const Graphics graphics(gdiplus, graphicsObject);
  // Device pixels: the picture made for the target's scale is drawn at its
  // own size, edge to edge.
  gdiplus.GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHalf);
  gdiplus.GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
  return gdiplus.GdipDrawImageRectI(graphics.get(), bitmap, static_cast<INT>(target.left),
                                    static_cast<INT>(target.top),
                                    static_cast<INT>(target.right - target.left),
                                    static_cast<INT>(target.bottom - target.top)) == Gdiplus::Ok;
}

}  // namespace toolkit::win32
