// False colour for monochrome pages: a format converter that takes 8-bit
// gray in, smooths it lightly and maps every level through g_colorTable to
// 32-bit premultiplied BGRA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/wincodec.h"

// 256 colours, one per gray level, as bytes blue, green, red, alpha. All zero
// until a palette is loaded.
extern uint32_t g_colorTable[256];

// The palette file's size: three planes of 256 bytes, red, green, blue.
constexpr std::size_t kPaletteFileBytes = 768;

// Fills g_colorTable from the first 768 bytes of a palette file (entry k:
// red byte k, green byte 256 + k, blue byte 512 + k, alpha 255). Returns
// false, leaving the table alone, when fewer than 768 bytes are given.
bool LoadColorTable(const BYTE* palette, std::size_t size);

class CWICFormatConverter final : public CUnknownImpl<IWICFormatConverter, IWICBitmapSource> {
 public:
  CWICFormatConverter() = default;

  HRESULT GetSize(UINT* width, UINT* height) override;
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override;
  HRESULT GetResolution(double* dpiX, double* dpiY) override;
  HRESULT CopyPalette(IWICPalette* palette) override;
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override;
  HRESULT Initialize(IWICBitmapSource* source, REFWICPixelFormatGUID destinationFormat, WICBitmapDitherType dither,
                     IWICPalette* palette, double alphaThresholdPercent, WICBitmapPaletteType paletteType) override;
  HRESULT CanConvert(REFWICPixelFormatGUID sourceFormat, REFWICPixelFormatGUID destinationFormat,
                     BOOL* canConvert) override;

 private:
  ~CWICFormatConverter() override;

  IWICBitmapSource* m_source = nullptr;  // the gray page; one reference held
  // The gray page's pixels, read once: pixels are asked for a strip at a
  // time when the page is scaled.
  std::vector<BYTE> m_gray;
};
