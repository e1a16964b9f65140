// AVIF pages on libavif: the primary image, or the first of a sequence.
#include <avif/avif.h>

#include <cstring>
#include <memory>

#include "platform/wic_codecs.h"
#include "platform/wincodec.h"

namespace {

using DecoderPtr = std::unique_ptr<avifDecoder, decltype(&avifDecoderDestroy)>;

// A decoder parsed over the bytes: the header is known, nothing decoded.
HRESULT Parse(EncodedBytes bytes, DecoderPtr* out) {
  DecoderPtr decoder(avifDecoderCreate(), &avifDecoderDestroy);
  if (!decoder) return E_OUTOFMEMORY;
  decoder->maxThreads = DecoderThreads();
  // The library's own limits stay, tightened to the page limit; its strict
  // conformance checks go: they refuse files of older encoders (no 'pixi',
  // no alpha 'ispe') that decode well.
  decoder->imageSizeLimit = static_cast<uint32_t>(std::min<uint64_t>(decoder->imageSizeLimit, kMaxDecodedPixels));
  decoder->strictFlags = AVIF_STRICT_DISABLED;
  decoder->ignoreXMP = AVIF_TRUE;
  if (avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size()) != AVIF_RESULT_OK ||
      avifDecoderParse(decoder.get()) != AVIF_RESULT_OK)
    return WINCODEC_ERR_BADIMAGE;
  if (!FitsPageLimit(decoder->image->width, decoder->image->height)) return WINCODEC_ERR_BADIMAGE;
  *out = std::move(decoder);
  return S_OK;
}

// Gray without alpha straight from the luma plane, levels scaled to 8 bits.
HRESULT CopyGray(const avifImage* image, QImage* page) {
  const std::vector<uint8_t> levels =
      LevelTable(static_cast<int>(image->depth), image->yuvRange == AVIF_RANGE_LIMITED);
  const uint32_t top = static_cast<uint32_t>(levels.size() - 1);
  for (uint32_t y = 0; y < image->height; ++y) {
    const uint8_t* in = image->yuvPlanes[AVIF_CHAN_Y] + static_cast<std::size_t>(y) * image->yuvRowBytes[AVIF_CHAN_Y];
    uchar* out = page->scanLine(static_cast<int>(y));
    if (image->depth > 8) {
      for (uint32_t x = 0; x < image->width; ++x) {
        uint16_t v;
        std::memcpy(&v, in + 2 * x, 2);
        out[x] = levels[std::min<uint32_t>(v, top)];
      }
    } else {
      for (uint32_t x = 0; x < image->width; ++x) out[x] = levels[in[x]];
    }
  }
  return S_OK;
}

// The geometry the file asks for: clean aperture, then rotation, then
// mirroring, as HEIF orders them.
void ApplyTransforms(const avifImage* image, QImage* page) {
  if (image->transformFlags & AVIF_TRANSFORM_CLAP) {
    avifCropRect crop;
    avifDiagnostics diag;
    if (avifCropRectConvertCleanApertureBox(&crop, &image->clap, image->width, image->height, image->yuvFormat, &diag))
      *page = page->copy(static_cast<int>(crop.x), static_cast<int>(crop.y), static_cast<int>(crop.width),
                         static_cast<int>(crop.height));
  }
  if ((image->transformFlags & AVIF_TRANSFORM_IROT) && image->irot.angle % 4 != 0) {
    QTransform turn;
    turn.rotate(-90.0 * (image->irot.angle % 4));  // the box counts anti-clockwise
    *page = page->transformed(turn);
  }
  if (image->transformFlags & AVIF_TRANSFORM_IMIR)
    *page = image->imir.mode == 0 ? page->mirrored(false, true) : page->mirrored(true, false);
}

}  // namespace

HRESULT ProbeAvif(EncodedBytes bytes, ImageHeader* header) {
  DecoderPtr decoder(nullptr, &avifDecoderDestroy);
  const HRESULT hr = Parse(bytes, &decoder);
  if (FAILED(hr)) return hr;
  header->width = decoder->image->width;
  header->height = decoder->image->height;
  header->frames = decoder->imageCount > 0 ? static_cast<uint32_t>(decoder->imageCount) : 1;
  return S_OK;
}

HRESULT DecodeAvif(EncodedBytes bytes, QImage* page) {
  DecoderPtr decoder(nullptr, &avifDecoderDestroy);
  HRESULT hr = Parse(bytes, &decoder);
  if (FAILED(hr)) return hr;
  const avifImage* header = decoder->image;
  const bool gray = header->yuvFormat == AVIF_PIXEL_FORMAT_YUV400;
  const bool alpha = decoder->alphaPresent;
  // The page first: when its pixels cannot be held, nothing is decoded.
  QImage out = NewPage(header->width, header->height,
                       alpha ? QImage::Format_ARGB32 : gray ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
  if (out.isNull()) return E_OUTOFMEMORY;
  if (avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK) return WINCODEC_ERR_BADIMAGE;
  const avifImage* image = decoder->image;
  // The coded frame may disagree with the container's header.
  if (image->width != static_cast<uint32_t>(out.width()) || image->height != static_cast<uint32_t>(out.height()) ||
      (alpha && image->alphaPlane == nullptr))
    return WINCODEC_ERR_BADIMAGE;

  if (gray && !alpha && image->yuvFormat == AVIF_PIXEL_FORMAT_YUV400) {
    hr = CopyGray(image, &out);
  } else {
    if (gray && !alpha) out = NewPage(image->width, image->height, QImage::Format_BGR888);  // coded in colour after all
    if (out.isNull()) return E_OUTOFMEMORY;
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;  // QImage's ARGB32 / BGR888 bytes
    rgb.depth = 8;
    rgb.alphaPremultiplied = AVIF_FALSE;
    rgb.pixels = out.bits();
    rgb.rowBytes = static_cast<uint32_t>(out.bytesPerLine());
    hr = avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK ? S_OK : WINCODEC_ERR_BADIMAGE;
  }
  if (FAILED(hr)) return hr;
  ApplyTransforms(image, &out);
  if (out.isNull()) return E_OUTOFMEMORY;
  ApplyExifResolution(out, {image->exif.data, image->exif.size});
  *page = std::move(out);
  return S_OK;
}
