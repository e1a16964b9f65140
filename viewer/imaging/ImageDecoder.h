// The one road from a file's bytes to pixels ready to draw: the decoders
// read the first frame, turned as its Exif orientation says, a page too
// large to keep is decoded smaller, and a monochrome page may be turned into
// false colour on the way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ordel/FileSystem.h"
#include "platform/d2d1.h"
#include "platform/wincodec.h"

enum class Colorizing {
  Off,  // every page in its own colours
  On,   // gray pages, and colour pages found monochrome, through the palette
};

enum class ExifOrientation {
  Ignored,   // pages as their pixels are stored
  Honoured,  // a page tagged as turned stands upright
};

// The most a decoded page's full pixels may take (32 bits each). A larger
// page is decoded scaled down to fit: 128 MiB holds a 600-dpi A4 scan,
// 5792 x 5792 pixels, or a strip of 800 x 40000 read down a column at its
// own width. The pixels are bounded, not the sides: a long strip keeps its
// width.
constexpr uint64_t kPageBudgetBytes = 128ull << 20;

struct DecodeOptions {
  Colorizing colorizing = Colorizing::Off;
  ExifOrientation orientation = ExifOrientation::Honoured;
  uint64_t budgetBytes = kPageBudgetBytes;  // 0: no bound
  uint32_t maxSide = 0;                     // the longest side; 0: no bound
  // Shared by decodes that run side by side; none: this one is not held back.
  IWICDecodeGate* gate = nullptr;
  // The device pixels the page is drawn at, given its own size: a JPEG is
  // decoded at the smallest eighth that still covers them (PageDecodedToDraw
  // then tells). None: every pixel.
  std::function<D2D1_SIZE_U(D2D1_SIZE_U page)> drawnAt;
};

// 0 and the file's first frame as 32bppPBGRA in *out; 1 (*out untouched)
// when the file is no image the decoders read, or its pixels cannot be held.
// A page decoded smaller than it is still tells its own size (PageSizeOf);
// one that decoded only in part, or from bytes its archive could not vouch
// for, still decodes and tells why it is not whole (PageDamageOf).
int32_t DecodeImage(IFile* file, const DecodeOptions& options, ComRef<IWICBitmapSource>& out);
inline int32_t DecodeImage(IFile* file, Colorizing colorizing, ComRef<IWICBitmapSource>& out) {
  DecodeOptions options;
  options.colorizing = colorizing;
  return DecodeImage(file, options, out);
}

// The size of the page whose pixels `source` holds: the pixels' own size,
// or, for a page DecodeImage decoded scaled down, the page's (0 x 0 when the
// source has no size).
D2D1_SIZE_U PageSizeOf(IWICBitmapSource* source);

// Whether `source` holds a page decoded at a fraction of its size to cover
// only the size it is drawn at (DecodeOptions::drawnAt): too few pixels for
// the loupe or for drawing it larger.
bool PageDecodedToDraw(IWICBitmapSource* source);

// Why the page whose pixels `source` holds is not the whole picture, in
// one line (its file cut short or corrupt, its archive item failing its
// check); empty when nothing says it is not. Tools take such a page for a
// failure; the window shows what decoded, with the reason over it.
std::u16string PageDamageOf(IWICBitmapSource* source);
