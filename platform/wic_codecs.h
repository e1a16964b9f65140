// Inside the platform layer only: the decoders for page formats Qt has no
// reader for (AVIF, JPEG XL, HEIF), each on its own library. The imaging
// component's decoder finds them by content and hands their pages on as it
// does Qt's: an image of 8-bit gray (Grayscale8), opaque colour (BGR888) or
// colour with straight alpha (ARGB32), whatever the file's bit depth.
#pragma once

#include <QtGui/QImage>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/com.h"
#include "platform/wincodec.h"

enum class CodecKind { None, Avif, JpegXl, Heif };

// The kind of file whose first bytes are `head` (the JPEG XL signatures,
// or the brands of an ISO media file's 'ftyp' box); None for anything else.
CodecKind SniffCodec(std::span<const uint8_t> head);

// What a file's header declares, before any pixel is decoded.
struct ImageHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t frames = 1;
};

using EncodedBytes = std::span<const uint8_t>;

// Reads the header only. WINCODEC_ERR_BADIMAGE when it is damaged or
// declares a page larger than kMaxDecodedPixels.
HRESULT ProbeCodec(CodecKind kind, EncodedBytes bytes, ImageHeader* header);
// Decodes the first frame (an animation or sequence shows its first),
// turned as the file says (a JPEG XL's orientation only when `orientation`
// applies it). WINCODEC_ERR_BADIMAGE for damaged or cut-short files,
// E_OUTOFMEMORY when the page's pixels cannot be held.
HRESULT DecodeCodec(CodecKind kind, EncodedBytes bytes, WICExifOrientation orientation, QImage* page);

// The most a compressed page may weigh: the archives' own item cap.
constexpr uint64_t kMaxEncodedBytes = 1ull << 30;

// ---- for the decoders ----

HRESULT ProbeAvif(EncodedBytes bytes, ImageHeader* header);
HRESULT DecodeAvif(EncodedBytes bytes, QImage* page);
HRESULT ProbeJxl(EncodedBytes bytes, ImageHeader* header);
HRESULT DecodeJxl(EncodedBytes bytes, WICExifOrientation orientation, QImage* page);
HRESULT ProbeHeif(EncodedBytes bytes, ImageHeader* header);
HRESULT DecodeHeif(EncodedBytes bytes, QImage* page);

// True when a page of this size may be decoded.
bool FitsPageLimit(uint64_t width, uint64_t height);
// A page image, or a null one when it is too large or memory is short.
QImage NewPage(uint32_t width, uint32_t height, QImage::Format format);
// Threads a decoder may use: the processors there are, at most 8.
int DecoderThreads();
// Maps the levels 0 ... 2^bits - 1 (16 bits at most) to 0 ... 255,
// rounding; a limited-range table maps 16 ... 235 (scaled to the depth).
std::vector<uint8_t> LevelTable(int bits, bool limitedRange);
// Sets the page's resolution from an Exif block when it states one.
void ApplyExifResolution(QImage& page, std::span<const uint8_t> exif);

// ---- pages larger than the viewer keeps ----

// The largest size of the page's shape whose 32-bit pixels take at most
// `maxBytes` and whose longer side is at most `maxSide` (0: no such bound);
// the page's own size when it fits. Never below 1 x 1.
QSize FitPageSize(QSize page, uint64_t maxBytes, uint32_t maxSide);
// The page scaled down to `size` (no side larger than the page's), each new
// pixel the average of the pixels it covers: gray pages come out as 8-bit
// gray, pages with alpha premultiplied, others as RGB32; the resolution is
// scaled along. The page is read in bands at most 64K pixels wide, so
// little more than the result is added to it. A null image when memory is
// short, or when one new pixel would cover more than 64K columns.
QImage ScaleDownPage(const QImage& page, QSize size);
