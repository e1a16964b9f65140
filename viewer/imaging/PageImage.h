// A page ready to draw: the size it decoded at, the page scaled once to the
// size it is drawn at, and, only where the loupe or a new size needs them,
// its full pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/d2d1.h"
#include "platform/wincodec.h"

// A part of a page too large to scale as one bitmap: a rectangle of the
// device pixels the whole page covers at `cover`, scaled on its own.
struct PagePart {
  D2D1_SIZE_U cover{};
  WICRect area{};
  ComRef<ID2D1Bitmap> bitmap;
};

struct PageImage {
  D2D1_SIZE_U size{};          // the decoded page's pixels (0 x 0: no page)
  ComRef<ID2D1Bitmap> scaled;  // drawn one to one; made for its own pixel size
  ComRef<ID2D1Bitmap> full;    // every pixel: for the loupe, or until `scaled` is made
  ComRef<IWICBitmapSource> source;  // the decoded pixels, kept to scale them without decoding again
  // `full` and `source` hold the page decoded small, only enough for the
  // size it was drawn at (PageDecodedToDraw): not for the loupe, nor for a
  // larger size.
  bool decodedToDraw = false;
  // Drawn one to one over whatever else there is, where the page covers
  // their `cover` (a page in bands, or the part of a zoomed page in view).
  std::vector<PagePart> parts;

  bool empty() const { return size.width == 0 || size.height == 0; }
  // A built-in picture: drawn from its full pixels, never scaled ahead.
  static PageImage Of(ID2D1Bitmap* bitmap) {
    PageImage image;
    if (bitmap == nullptr) return image;
    image.size = bitmap->GetPixelSize();
    image.full.Set(bitmap);
    return image;
  }
  // Lets the full pixels go once a scaled copy can stand in for them.
  void DropFullPixels() {
    if (!scaled) return;
    full.Reset();
    source.Reset();
    decodedToDraw = false;
  }
};

// Makes a drawing bitmap of 32bppPBGRA pixels; safe to call from a worker.
using BitmapMaker = std::function<HRESULT(IWICBitmapSource* pixels, ID2D1Bitmap** bitmap)>;
