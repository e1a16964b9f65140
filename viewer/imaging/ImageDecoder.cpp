#include "viewer/imaging/ImageDecoder.h"

#include <algorithm>
#include <new>

#include "common/FileDamage.h"
#include "common/Stream.h"
#include "viewer/imaging/WICBitmapSource.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

// A monochrome page's pixels, gray and stretched, for the colorizer; the
// frame itself when it is in colour or in a format the analysis does not
// take. Throws 1 when the page's pixels cannot be held.
void PrepareForColour(IWICBitmapFrameDecode* frame, UINT eighths, ComRef<IWICBitmapSource>& image) {
  WICPixelFormatGUID format{};
  frame->GetPixelFormat(&format);
  if (format != GUID_WICPixelFormat8bppGray && format != GUID_WICPixelFormat24bppBGR) return;
  // Most colour pages tell on a few rows: no copy of the page for them.
  if (format == GUID_WICPixelFormat24bppBGR && ColourBySparseCount(frame)) return;
  ComRef<CWICBitmapSource> pixels;
  pixels.Set(new CWICBitmapSource);
  pixels->DecodedAt(eighths);
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

// The pixels of a page decoded smaller than it is, or of one that is not
// whole, telling the page's size and why it is not whole besides (the
// latter as IFileDamage, as its file would). Everything else is the
// pixels' own: what they offer beyond a bitmap source (sharing their buffer
// with a drawing bitmap) is theirs too.
class CScaledDownPage final : public CUnknownImpl<IWICBitmapSource>, public IFileDamage {
 public:
  static constexpr GUID iid = MakeGuid("{8E5D2C71-0B3F-4A96-9C4E-1F7A63B2D805}");

  CScaledDownPage(IWICBitmapSource* pixels, D2D1_SIZE_U page, std::u16string damage, bool toDraw)
      : m_page(page), m_damage(std::move(damage)), m_toDraw(toDraw) {
    m_pixels.Set(pixels);
  }
  D2D1_SIZE_U Page() const { return m_page; }
  bool ToDraw() const { return m_toDraw; }
  const char16_t* Damage() override { return m_damage.c_str(); }
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && riid == iid) {
      *out = static_cast<IWICBitmapSource*>(this);
      AddRef();
      return S_OK;
    }
    if (out != nullptr && riid == IID_IFileDamage && !m_damage.empty()) {
      *out = static_cast<IFileDamage*>(this);
      AddRef();
      return S_OK;
    }
    const HRESULT hr = CUnknownImpl::QueryInterface(riid, out);
    return hr == E_NOINTERFACE ? m_pixels->QueryInterface(riid, out) : hr;
  }
  HRESULT GetSize(UINT* width, UINT* height) override { return m_pixels->GetSize(width, height); }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override { return m_pixels->GetPixelFormat(format); }
  HRESULT GetResolution(double* dpiX, double* dpiY) override { return m_pixels->GetResolution(dpiX, dpiY); }
  HRESULT CopyPalette(IWICPalette* palette) override { return m_pixels->CopyPalette(palette); }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override {
    return m_pixels->CopyPixels(rect, stride, bufferSize, buffer);
  }

 private:
  ComRef<IWICBitmapSource> m_pixels;
  D2D1_SIZE_U m_page;
  const std::u16string m_damage;
  const bool m_toDraw;  // decoded small for the screen, not for a bound
};

CScaledDownPage* ScaledDownPageOf(IWICBitmapSource* source) {
  CScaledDownPage* page = nullptr;
  if (source == nullptr || source->QueryInterface(CScaledDownPage::iid, reinterpret_cast<void**>(&page)) != S_OK)
    return nullptr;
  page->Release();  // still held by `source`
  return page;
}

}  // namespace

int32_t DecodeImage(IFile* file, const DecodeOptions& options, ComRef<IWICBitmapSource>& out) {
  try {
    ComRef<IStream> stream;
    if (CreateFileStream(file, &stream) != 0) throw 1;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
      throw 1;
    ComRef<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder))) throw 1;
    ComRef<IWICDecoderSettings> settings;
    if (SUCCEEDED(decoder->QueryInterface(IID_IWICDecoderSettings, reinterpret_cast<void**>(&settings)))) {
      WICFrameSettings frameSettings;
      frameSettings.maxBytes = options.budgetBytes;
      frameSettings.maxSide = options.maxSide;
      frameSettings.orientation = options.orientation == ExifOrientation::Honoured ? WICExifOrientation::Apply
                                                                                     : WICExifOrientation::Ignore;
      frameSettings.gate = options.gate;
      if (options.drawnAt)
        frameSettings.drawnAt = [&drawnAt = options.drawnAt](UINT width, UINT height, UINT* drawnWidth,
                                                             UINT* drawnHeight) {
          const D2D1_SIZE_U drawn = drawnAt(D2D1_SIZE_U{width, height});
          *drawnWidth = drawn.width;
          *drawnHeight = drawn.height;
        };
      // With false colour on, four to six eighths: the colour check's spot
      // bound, made on whole pages, holds there (its patches then sought
      // one pixel apart up to five eighths), not on a quarter, where a spot
      // near the bound is lost in the page's blur, nor at seven eighths,
      // where one just under it is found.
      if (options.colorizing == Colorizing::On) frameSettings.drawnEighths = {4, 6};
      if (FAILED(settings->SetFrameSettings(frameSettings))) throw 1;
    }
    ComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, &frame))) throw 1;
    UINT width = 0, height = 0;
    if (FAILED(frame->GetSize(&width, &height))) throw 1;
    D2D1_SIZE_U page{width, height};
    if (settings && FAILED(settings->GetPageSize(&page.width, &page.height))) throw 1;

    ComRef<IWICBitmapSource> image;
    image.Set(frame.get());
    ComRef<IWICFormatConverter> converter;
    if (options.colorizing == Colorizing::On) {
      PrepareForColour(frame.get(), settings ? settings->DrawnEighths() : 8, image);
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
    // Bytes the archive could not vouch for say so first: they are why
    // the picture, too, may be broken.
    std::u16string damage = DamageOf(file);
    if (damage.empty() && settings) damage = settings->Damage();
    const bool toDraw = settings && settings->DrawnEighths() < 8;
    if (page.width == width && page.height == height && damage.empty()) {
      out.Set(converter.get());
    } else {
      ComRef<IWICBitmapSource> marked;
      marked.Set(new CScaledDownPage(converter.get(), page, std::move(damage), toDraw));
      out = std::move(marked);
    }
    return 0;
  } catch (int) {
    return 1;
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

std::u16string PageDamageOf(IWICBitmapSource* source) { return DamageOf(source); }

D2D1_SIZE_U PageSizeOf(IWICBitmapSource* source) {
  D2D1_SIZE_U size{};
  if (source == nullptr) return size;
  if (const CScaledDownPage* scaledDown = ScaledDownPageOf(source)) return scaledDown->Page();
  if (FAILED(source->GetSize(&size.width, &size.height))) return D2D1_SIZE_U{};
  return size;
}

bool PageDecodedToDraw(IWICBitmapSource* source) {
  const CScaledDownPage* scaledDown = ScaledDownPageOf(source);
  return scaledDown != nullptr && scaledDown->ToDraw();
}
