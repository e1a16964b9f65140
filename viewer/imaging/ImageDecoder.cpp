#include "viewer/imaging/ImageDecoder.h"

#include <new>

#include "common/Stream.h"
#include "viewer/imaging/WICBitmapSource.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

// A monochrome page's pixels, gray and stretched, for the colorizer; the
// frame itself when it is in colour or in a format the analysis does not
// take. Throws 1 when the page's pixels cannot be held.
void PrepareForColour(IWICBitmapFrameDecode* frame, ComRef<IWICBitmapSource>& image) {
  WICPixelFormatGUID format{};
  frame->GetPixelFormat(&format);
  if (format != GUID_WICPixelFormat8bppGray && format != GUID_WICPixelFormat24bppBGR) return;
  ComRef<CWICBitmapSource> pixels;
  pixels.Set(new CWICBitmapSource);
  const int32_t loaded = pixels->LoadPixels(frame);
  if (loaded == 2) throw 1;
  // A page classified as colour stays as it is: its copy holds the frame's
  // very pixels, so the frame serves (and converts faster).
  if (loaded == 0 && (format == GUID_WICPixelFormat8bppGray || pixels->Classify() == 0)) {
    pixels->ConvertToGray();
    pixels->StretchLevels();
    image.Set(pixels.get());
  }
}

}  // namespace

int32_t DecodeImage(IFile* file, Colorizing colorizing, ComRef<IWICBitmapSource>& out) {
  try {
    ComRef<IStream> stream;
    if (CreateFileStream(file, &stream) != 0) throw 1;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
      throw 1;
    ComRef<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder))) throw 1;
    ComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, &frame))) throw 1;

    ComRef<IWICBitmapSource> image;
    image.Set(frame.get());
    ComRef<IWICFormatConverter> converter;
    if (colorizing == Colorizing::On) {
      PrepareForColour(frame.get(), image);
      WICPixelFormatGUID now{};
      image->GetPixelFormat(&now);
      if (now == GUID_WICPixelFormat8bppGray) {
        converter.Set(new CWICFormatConverter);
      }
    }
    if (!converter && FAILED(factory->CreateFormatConverter(&converter))) throw 1;
    if (FAILED(converter->Initialize(image.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeMedianCut)))
      throw 1;
    out.Set(converter.get());
    return 0;
  } catch (int) {
    return 1;
  } catch (const std::bad_alloc&) {
    return 1;
  }
}
