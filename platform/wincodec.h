// The imaging component's interfaces in their published slot orders, the
// pixel-format identifiers, and the component's status codes. The decoder,
// frame and converter behind them read through Qt (wic.cpp), JPEG through
// libjpeg-turbo (wic_jpeg.cpp).
#pragma once

#include <algorithm>
#include <functional>

#include "platform/com.h"
#include "platform/objidl.h"

using WICPixelFormatGUID = GUID;
using REFWICPixelFormatGUID = const GUID&;

struct WICRect {
  int32_t X;
  int32_t Y;
  int32_t Width;
  int32_t Height;
};

enum WICDecodeOptions : uint32_t {
  WICDecodeMetadataCacheOnDemand = 0,
  WICDecodeMetadataCacheOnLoad = 1,
};

enum WICBitmapDitherType : uint32_t {
  WICBitmapDitherTypeNone = 0,
};

enum WICBitmapPaletteType : uint32_t {
  WICBitmapPaletteTypeCustom = 0,
  WICBitmapPaletteTypeMedianCut = 1,
};

constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;

constexpr HRESULT WINCODEC_ERR_WRONGSTATE = static_cast<HRESULT>(0x88982F04u);
constexpr HRESULT WINCODEC_ERR_VALUEOUTOFRANGE = static_cast<HRESULT>(0x88982F05u);
constexpr HRESULT WINCODEC_ERR_NOTINITIALIZED = static_cast<HRESULT>(0x88982F0Cu);
constexpr HRESULT WINCODEC_ERR_PALETTEUNAVAILABLE = static_cast<HRESULT>(0x88982F45u);
constexpr HRESULT WINCODEC_ERR_COMPONENTNOTFOUND = static_cast<HRESULT>(0x88982F50u);
constexpr HRESULT WINCODEC_ERR_BADIMAGE = static_cast<HRESULT>(0x88982F60u);
constexpr HRESULT WINCODEC_ERR_FRAMEMISSING = static_cast<HRESULT>(0x88982F62u);
constexpr HRESULT WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT = static_cast<HRESULT>(0x88982F80u);
constexpr HRESULT WINCODEC_ERR_INSUFFICIENTBUFFER = static_cast<HRESULT>(0x88982F8Cu);

// Pixel formats. Byte order within a pixel follows the name: 24bppBGR is
// blue, green, red; 32bppRGBA is red, green, blue, alpha.
inline constexpr GUID GUID_WICPixelFormatDontCare = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC900}");
inline constexpr GUID GUID_WICPixelFormat1bppIndexed = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC901}");
inline constexpr GUID GUID_WICPixelFormat8bppIndexed = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC904}");
inline constexpr GUID GUID_WICPixelFormatBlackWhite = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC905}");
inline constexpr GUID GUID_WICPixelFormat8bppGray = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC908}");
inline constexpr GUID GUID_WICPixelFormat16bppGray = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC90B}");
inline constexpr GUID GUID_WICPixelFormat24bppBGR = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC90C}");
inline constexpr GUID GUID_WICPixelFormat32bppBGR = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC90E}");
inline constexpr GUID GUID_WICPixelFormat32bppBGRA = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC90F}");
inline constexpr GUID GUID_WICPixelFormat32bppPBGRA = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC910}");
inline constexpr GUID GUID_WICPixelFormat48bppRGB = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC915}");
inline constexpr GUID GUID_WICPixelFormat64bppRGBA = MakeGuid("{6FDDC324-4E03-4BFE-B185-3D77768DC916}");
inline constexpr GUID GUID_WICPixelFormat32bppRGBA = MakeGuid("{F5C7AD2D-6A8D-43DD-A7A8-A29935261AE9}");

inline constexpr GUID CLSID_WICImagingFactory = MakeGuid("{CACAF262-9370-4615-A13B-9F5539DA4C0A}");
inline constexpr GUID CLSID_WICImagingFactory2 = MakeGuid("{317D06E8-5F24-433D-BDF7-79CE68D8ABC2}");

// Never implemented here; a pointer type for the slots that name it.
struct IWICPalette;

struct IWICBitmapSource : IUnknown {
  static constexpr GUID iid = MakeGuid("{00000120-A8F2-4877-BA0A-FD2B6645FB94}");
  virtual HRESULT GetSize(UINT* width, UINT* height) = 0;
  virtual HRESULT GetPixelFormat(WICPixelFormatGUID* format) = 0;
  virtual HRESULT GetResolution(double* dpiX, double* dpiY) = 0;
  virtual HRESULT CopyPalette(IWICPalette* palette) = 0;
  virtual HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) = 0;
};

struct IWICFormatConverter : IWICBitmapSource {
  static constexpr GUID iid = MakeGuid("{00000301-A8F2-4877-BA0A-FD2B6645FB94}");
  virtual HRESULT Initialize(IWICBitmapSource* source, REFWICPixelFormatGUID destinationFormat,
                             WICBitmapDitherType dither, IWICPalette* palette,
                             double alphaThresholdPercent, WICBitmapPaletteType paletteType) = 0;
  virtual HRESULT CanConvert(REFWICPixelFormatGUID sourceFormat, REFWICPixelFormatGUID destinationFormat,
                             BOOL* canConvert) = 0;
};

struct IWICBitmapFrameDecode : IWICBitmapSource {
  static constexpr GUID iid = MakeGuid("{3B16811B-6A43-4EC9-A813-3D930C13B940}");
  virtual HRESULT GetMetadataQueryReader(void** reader) = 0;
  virtual HRESULT GetColorContexts(UINT count, void** contexts, UINT* actualCount) = 0;
  virtual HRESULT GetThumbnail(IWICBitmapSource** thumbnail) = 0;
};

struct IWICBitmapDecoder : IUnknown {
  static constexpr GUID iid = MakeGuid("{9EDDE9E7-8DEE-47EA-99DF-E6FAF2ED44BF}");
  virtual HRESULT QueryCapability(IStream* stream, DWORD* capability) = 0;
  virtual HRESULT Initialize(IStream* stream, WICDecodeOptions options) = 0;
  virtual HRESULT GetContainerFormat(GUID* format) = 0;
  virtual HRESULT GetDecoderInfo(void** info) = 0;
  virtual HRESULT CopyPalette(IWICPalette* palette) = 0;
  virtual HRESULT GetMetadataQueryReader(void** reader) = 0;
  virtual HRESULT GetPreview(IWICBitmapSource** preview) = 0;
  virtual HRESULT GetColorContexts(UINT count, void** contexts, UINT* actualCount) = 0;
  virtual HRESULT GetThumbnail(IWICBitmapSource** thumbnail) = 0;
  virtual HRESULT GetFrameCount(UINT* count) = 0;
  virtual HRESULT GetFrame(UINT index, IWICBitmapFrameDecode** frame) = 0;
};

// The factory's published slots up to the format converter; the system
// calls only CreateDecoderFromStream and CreateFormatConverter, the others
// answer E_NOTIMPL.
struct IWICImagingFactory : IUnknown {
  static constexpr GUID iid = MakeGuid("{EC5EC8A9-C395-4314-9C77-54D7A935FF70}");
  virtual HRESULT CreateDecoderFromFilename(const char16_t* name, const GUID* vendor, DWORD access,
                                            WICDecodeOptions options, IWICBitmapDecoder** decoder) = 0;
  virtual HRESULT CreateDecoderFromStream(IStream* stream, const GUID* vendor, WICDecodeOptions options,
                                          IWICBitmapDecoder** decoder) = 0;
  virtual HRESULT CreateDecoderFromFileHandle(uintptr_t file, const GUID* vendor, WICDecodeOptions options,
                                              IWICBitmapDecoder** decoder) = 0;
  virtual HRESULT CreateComponentInfo(REFCLSID component, void** info) = 0;
  virtual HRESULT CreateDecoder(const GUID& containerFormat, const GUID* vendor, IWICBitmapDecoder** decoder) = 0;
  virtual HRESULT CreateEncoder(const GUID& containerFormat, const GUID* vendor, void** encoder) = 0;
  virtual HRESULT CreatePalette(IWICPalette** palette) = 0;
  virtual HRESULT CreateFormatConverter(IWICFormatConverter** converter) = 0;
};

inline constexpr const GUID& IID_IWICBitmapSource = IWICBitmapSource::iid;
inline constexpr const GUID& IID_IWICFormatConverter = IWICFormatConverter::iid;
inline constexpr const GUID& IID_IWICBitmapFrameDecode = IWICBitmapFrameDecode::iid;
inline constexpr const GUID& IID_IWICBitmapDecoder = IWICBitmapDecoder::iid;
inline constexpr const GUID& IID_IWICImagingFactory = IWICImagingFactory::iid;

// Creates the classes this platform knows: the imaging factory (either
// CLSID). Anything else: REGDB_E_CLASSNOTREG.
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out);
// Where the window layer's classes (the file dialog) join CoCreateInstance.
extern HRESULT (*g_moreClasses)(REFCLSID clsid, REFIID iid, void** out);

// The largest page the decoder accepts, in pixels: a 16000 x 16000 scan.
constexpr uint64_t kMaxDecodedPixels = 16000ull * 16000ull;
// And its longest side: far beyond the longest strip of a web comic, short
// of the millions of pixels a damaged header declares for a sliver.
constexpr uint64_t kMaxDecodedSide = 1ull << 20;

// ---- this platform's own additions to the decoder (no Windows counterpart) ----

// Decoders that run side by side share one gate: a decode enters with the
// bytes its full-size pixels will take and leaves once it has let them go,
// so that pages too large to keep are not decoded several at once.
struct IWICDecodeGate {
  virtual void Enter(uint64_t bytes) = 0;
  virtual void Leave(uint64_t bytes) = 0;

 protected:
  ~IWICDecodeGate() = default;
};

// Whether a page stands as its Exif orientation says (JPEG, TIFF, WebP,
// JPEG XL) or as its pixels are stored. The turns of an AVIF or HEIF image
// are part of the picture and always applied.
enum class WICExifOrientation : uint32_t {
  Ignore,
  Apply,
};

// How frame 0 is handed over.
struct WICFrameSettings {
  // The most bytes frame 0 may take as 32-bit pixels, and its longest side:
  // a larger page is decoded scaled down, keeping its shape, to fit both.
  // 0: no bound.
  uint64_t maxBytes = 0;
  uint32_t maxSide = 0;
  WICExifOrientation orientation = WICExifOrientation::Apply;
  IWICDecodeGate* gate = nullptr;  // none: the decode is not held back
  // The device pixels the page will be drawn at, given its size as it
  // stands (turned): a reader that can decode straight to a fraction of the
  // page decodes at the smallest fraction that still covers them. None, or
  // 0 x 0: as large as the bounds above allow.
  std::function<void(UINT pageWidth, UINT pageHeight, UINT* drawnWidth, UINT* drawnHeight)> drawnAt;
  // The fractions such a reader may take for drawnAt, in eighths; a page
  // none of them covers is decoded as large as the bounds allow.
  struct Eighths {
    UINT fewest = 1;
    UINT most = 7;
  } drawnEighths;
};

// How a format's reader can shrink a picture while decoding it.
enum class WICShrinkOnDecode : uint32_t {
  None,     // decoded whole, scaled afterwards (PNG, GIF, animated WebP, our own codecs)
  Eighths,  // libjpeg's DCT scaling: any M/8 for little more than the cost of the result;
            // a still WebP is scaled to the same sizes as it decodes
};

// A side of `side` pixels decoded at eighths / 8, as libjpeg sizes it:
// rounded up.
constexpr UINT ScaledByEighths(UINT side, UINT eighths) {
  return static_cast<UINT>((static_cast<uint64_t>(side) * eighths + 7) / 8);
}

// The fewest eighths, within `allowed`, at which a picture of `width` x
// `height` (as stored) decodes to pixels that still cover `drawnWidth` x
// `drawnHeight` (as stored too); 8, the whole picture, when none of them
// does, the reader cannot shrink or nothing is drawn.
constexpr UINT DecodeEighths(UINT width, UINT height, UINT drawnWidth, UINT drawnHeight, WICShrinkOnDecode shrink,
                             WICFrameSettings::Eighths allowed = {}) {
  if (shrink != WICShrinkOnDecode::Eighths || drawnWidth == 0 || drawnHeight == 0) return 8;
  for (UINT eighths = std::max(allowed.fewest, 1u); eighths <= std::min(allowed.most, 7u); ++eighths)
    if (ScaledByEighths(width, eighths) >= drawnWidth && ScaledByEighths(height, eighths) >= drawnHeight)
      return eighths;
  return 8;
}

// A 32bppPBGRA bitmap source of `width` x `height` pixels, not yet set,
// which its maker writes once through `*pixels` (rows `*stride` bytes
// apart) before handing it on: a drawing bitmap made from it shares those
// pixels instead of copying them. E_OUTOFMEMORY when they cannot be had.
HRESULT CreatePixelBuffer(UINT width, UINT height, IWICBitmapSource** source, BYTE** pixels, UINT* stride);

// The decoder's own settings, asked for by QueryInterface; set before GetFrame.
struct IWICDecoderSettings : IUnknown {
  static constexpr GUID iid = MakeGuid("{C3A1B6E2-5D47-4F08-9B1E-7A2C64D09F53}");
  virtual HRESULT SetFrameSettings(const WICFrameSettings& settings) = 0;
  // Frame 0's size as the page stands (turned where it is turned), whatever
  // size its pixels were decoded at. WINCODEC_ERR_WRONGSTATE until
  // GetFrame(0) has succeeded.
  virtual HRESULT GetPageSize(UINT* width, UINT* height) = 0;
  // Why frame 0's pixels are not the whole picture (a file cut short or
  // corrupt that still decoded in part), in one line; empty when they are,
  // and until GetFrame(0) has succeeded. Never null.
  virtual const char16_t* Damage() = 0;
  // The eighths of the page frame 0 was decoded at to cover the size it is
  // drawn at (WICFrameSettings::drawnAt): 1 to 7; 8 when it decoded as
  // large as the bounds allow, and until GetFrame(0) has succeeded.
  virtual UINT DrawnEighths() = 0;
};
inline constexpr const GUID& IID_IWICDecoderSettings = IWICDecoderSettings::iid;
