// Packed 32bppPBGRA pixels in memory as a bitmap source: a thumbnail read
// back from disk, or one copied on its way to the disk, made into a drawing
// bitmap like any decoded page.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wincodec.h"

struct PixelRows {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bgra;  // premultiplied, rows of 4 x width bytes

  bool whole() const { return width > 0 && height > 0 && bgra.size() == 4ull * width * height; }
};

// The pixels of a 32bppPBGRA source; false for another format or a failed
// copy.
bool CopyRows(IWICBitmapSource* source, PixelRows* out);

class CPixelBuffer final : public CUnknownImpl<IWICBitmapSource> {
 public:
  explicit CPixelBuffer(PixelRows rows) : m_rows(std::move(rows)) {}

  HRESULT GetSize(UINT* width, UINT* height) override;
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override;
  HRESULT GetResolution(double* dpiX, double* dpiY) override;
  HRESULT CopyPalette(IWICPalette* palette) override;
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override;

 private:
  ~CPixelBuffer() override = default;
  const PixelRows m_rows;
};
