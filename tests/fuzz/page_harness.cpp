#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "MemoryFileSystem.h"
#include "harnesses.h"
#include "platform/d2d1.h"
#include "viewer/imaging/PageLoader.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

// The renderer's bitmaps, made on a small target of their own.
BitmapMaker Maker() {
  ComRef<ID2D1Factory> factory;
  if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, ID2D1Factory::iid, nullptr,
                               reinterpret_cast<void**>(&factory))))
    std::abort();
  D2D1_RENDER_TARGET_PROPERTIES properties{};
  properties.dpiX = properties.dpiY = 96;
  D2D1_HWND_RENDER_TARGET_PROPERTIES window{};
  window.pixelSize = {16, 16};
  ComRef<ID2D1HwndRenderTarget> target;
  if (FAILED(factory->CreateHwndRenderTarget(properties, window, &target))) std::abort();
  return [target](IWICBitmapSource* pixels, ID2D1Bitmap** bitmap) {
    return target->CreateBitmapFromWicBitmap(pixels, nullptr, bitmap);
  };
}

// Fitted into a 640 x 480 screen, as a page shown alone is.
D2D1_SIZE_U OnScreen(D2D1_SIZE_U page) {
  const double s = std::min(640.0 / page.width, 480.0 / page.height);
  return {std::max(1u, static_cast<UINT>(page.width * s)), std::max(1u, static_cast<UINT>(page.height * s))};
}

bool Same(D2D1_SIZE_U a, D2D1_SIZE_U b) { return a.width == b.width && a.height == b.height; }

}  // namespace

void FuzzPage(const uint8_t* data, std::size_t size) {
  // A ramp for false colour, so that colorized pages are not all black.
  static const bool palette = [] {
    BYTE planes[kPaletteFileBytes];
    for (std::size_t i = 0; i < kPaletteFileBytes; ++i) planes[i] = static_cast<BYTE>(i % 256);
    return LoadColorTable(planes, sizeof planes);
  }();
  (void)palette;
  ComRef<test::MemoryDirectory> root;
  root.Set(new test::MemoryDirectory);
  root->AddFile(u"/page", std::string(reinterpret_cast<const char*>(data), size));
  const BitmapMaker make = Maker();
  std::mutex openLock;
  const std::pair<Colorizing, ExifOrientation> ways[] = {{Colorizing::Off, ExifOrientation::Honoured},
                                                         {Colorizing::On, ExifOrientation::Ignored}};
  // A page of more than 16 megapixels is loaded the first way only: its
  // time goes on its pixels, which tell nothing new the second time.
  bool tooLarge = false;
  for (const auto& [colorizing, orientation] : ways) {
    if (colorizing == Colorizing::On && tooLarge) break;
    PageRequest request;
    request.root.Set(root.get());
    request.path = u"/page";
    request.colorizing = colorizing;
    request.orientation = orientation;
    request.keepFull = true;
    request.make = make;
    request.targetFor = OnScreen;
    // False colour on, the page decoded for the screen, as the window asks:
    // a JPEG at its eighths, a still WebP scaled as it decodes.
    if (colorizing == Colorizing::On) request.decodeFor = OnScreen;
    const LoadedPage page = LoadPage(request, openLock);
    if (!page.decoded) continue;
    // A page has a size, a bitmap of all its (kept) pixels and one for the
    // screen, and the pixels it was made from.
    if (page.image.empty() || !page.image.full || !page.image.scaled || !page.image.source) std::abort();
    if (!Same(page.image.scaled->GetPixelSize(), OnScreen(page.image.size))) std::abort();
    tooLarge = uint64_t{page.image.size.width} * page.image.size.height > (16u << 20);
    // Scaled again from the kept pixels, as a new window size does: the same
    // page.
    PageRequest again = request;
    again.source = page.image.source;
    again.keepFull = false;
    again.targetFor = [](D2D1_SIZE_U) { return D2D1_SIZE_U{37, 53}; };
    const LoadedPage rescaled = LoadPage(again, openLock);
    if (!rescaled.decoded || !Same(rescaled.image.size, page.image.size) || !rescaled.image.scaled) std::abort();
  }
}
