// A page scaled once to the size it is drawn at, with a Lanczos filter (three
// lobes, widened by the scale when shrinking, so every source pixel counts
// and screentone turns flat gray instead of moiré). Presented as a bitmap
// source of 32bppPBGRA pixels, so it becomes a drawing bitmap like any
// other.
#pragma once

#include <cstdint>

#include "platform/wincodec.h"

// Scales packed 32-bit premultiplied pixels. `source` is read one row at a
// time through `readRow(y, row)`, each row once and in order, so a source
// that computes its pixels (false colour) does that work once. False when
// memory for the work cannot be had.
// The filter: Lanczos of three lobes, 0 beyond them.
constexpr double kLanczosLobes = 3.0;
double LanczosKernel(double x);

class RowSource {
 public:
  virtual bool ReadRow(uint32_t y, uint8_t* row) = 0;

 protected:
  ~RowSource() = default;
};
bool ResampleLanczos(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                     uint32_t outHeight, uint32_t outStride);
// The same for `part` of the output alone (written at `out`), exactly as
// the whole would have it: the source rows above the part are not read.
bool ResampleLanczosPart(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                         uint32_t outHeight, const WICRect& part, uint32_t outStride);

class CWICBitmapScaler final : public CUnknownImpl<IWICBitmapSource> {
 public:
  CWICBitmapScaler() = default;

  // What the pixels' buffer offers beyond a bitmap source (sharing it with
  // a drawing bitmap) is the scaler's too.
  HRESULT QueryInterface(REFIID riid, void** out) override;
  HRESULT GetSize(UINT* width, UINT* height) override;
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override;
  HRESULT GetResolution(double* dpiX, double* dpiY) override;
  HRESULT CopyPalette(IWICPalette* palette) override;
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override;

  // Scales a 32bppPBGRA source to width x height (each at least 1) at once.
  // S_OK; E_INVALIDARG for another format or an empty size; E_OUTOFMEMORY;
  // the source's failure when its pixels cannot be read.
  // With `part`, only that rectangle of the scaled page is made (and is the
  // scaler's size): a page too large to scale whole, cut into parts.
  HRESULT Initialize(IWICBitmapSource* source, UINT width, UINT height, const WICRect* part = nullptr);

 private:
  ~CWICBitmapScaler() override = default;

  UINT m_width = 0;
  UINT m_height = 0;
  double m_dpiX = 96;
  double m_dpiY = 96;
  ComRef<IWICBitmapSource> m_pixels;  // the platform's buffer, written once
};
