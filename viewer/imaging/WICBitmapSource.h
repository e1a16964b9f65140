// One decoded page's pixels in memory, with the analyses that prepare a
// monochrome page for false colour: is a colour-format page really
// monochrome, turn it into 8-bit gray, stretch its gray levels. Presented as
// a bitmap source so that it stands wherever a decoder's frame stands.
#pragma once

#include <vector>

#include "platform/wincodec.h"

// Whether the sparse colour count (Classify's first test), made on the
// rows it samples straight from a 24-bit BGR source, finds the page in
// colour; its trace line is then written as Classify writes it. False
// (nothing written) when the page's whole pixels are to decide: a colour
// page is known without a copy of them.
bool ColourBySparseCount(IWICBitmapSource* source);

class CWICBitmapSource final : public CUnknownImpl<IWICBitmapSource> {
 public:
  CWICBitmapSource() = default;

  HRESULT GetSize(UINT* width, UINT* height) override;
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override;
  HRESULT GetResolution(double* dpiX, double* dpiY) override;
  HRESULT CopyPalette(IWICPalette* palette) override;
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override;

  // 0: pixels copied from the source; 1: the source is neither 8-bit gray nor
  // 24-bit BGR (only the format was taken); 2: the pixel buffer could not be
  // allocated, a failed decode.
  int32_t LoadPixels(IWICBitmapSource* source);
  // 0 monochrome, 1 colour (with its trace line), 2 not 24-bit BGR. A page
  // that the sparse colour count finds monochrome is colour all the same
  // when it carries spot colour or an overall tint that paper does not have.
  int32_t Classify();
  // The pixels are the page decoded at eighths / 8 of its size (1 to 8):
  // spot colour is then looked for in patches as large on the page as in
  // its full pixels, as near as the smaller grid allows.
  void DecodedAt(UINT eighths) { m_eighths = eighths >= 1 && eighths <= 8 ? eighths : 8; }
  // 0 converted to 8-bit gray in place, 1 not 24-bit BGR.
  int32_t ConvertToGray();
  // 0 levels stretched, 1 not 8-bit gray.
  int32_t StretchLevels();

 private:
  ~CWICBitmapSource() override = default;
  bool CarriesColour() const;

  GUID m_format{};
  UINT m_width = 0;
  UINT m_height = 0;
  UINT m_eighths = 8;
  double m_dpiX = 0;
  double m_dpiY = 0;
  std::vector<BYTE> m_pixels;  // packed rows: width bytes (gray) or 3 x width (BGR)
};
