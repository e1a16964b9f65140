#include "viewer/imaging/PixelBuffer.h"

#include <algorithm>
#include <new>

bool CopyRows(IWICBitmapSource* source, PixelRows* out) {
  WICPixelFormatGUID format{};
  UINT width = 0, height = 0;
  if (source == nullptr || FAILED(source->GetPixelFormat(&format)) || format != GUID_WICPixelFormat32bppPBGRA ||
      FAILED(source->GetSize(&width, &height)) || width == 0 || height == 0)
    return false;
  try {
    out->bgra.assign(4ull * width * height, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  out->width = width;
  out->height = height;
  return SUCCEEDED(source->CopyPixels(nullptr, 4 * width, static_cast<UINT>(out->bgra.size()), out->bgra.data()));
}

HRESULT CPixelBuffer::GetSize(UINT* width, UINT* height) {
  if (width == nullptr || height == nullptr) return E_INVALIDARG;
  *width = m_rows.width;
  *height = m_rows.height;
  return S_OK;
}

HRESULT CPixelBuffer::GetPixelFormat(WICPixelFormatGUID* format) {
  if (format == nullptr) return E_INVALIDARG;
  *format = GUID_WICPixelFormat32bppPBGRA;
  return S_OK;
}

HRESULT CPixelBuffer::GetResolution(double* dpiX, double* dpiY) {
  if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
  *dpiX = *dpiY = 96;
  return S_OK;
}

HRESULT CPixelBuffer::CopyPalette(IWICPalette*) { return WINCODEC_ERR_PALETTEUNAVAILABLE; }

HRESULT CPixelBuffer::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
  if (!m_rows.whole()) return E_FAIL;
  const WICRect all{0, 0, static_cast<int32_t>(m_rows.width), static_cast<int32_t>(m_rows.height)};
  const WICRect r = rect != nullptr ? *rect : all;
  if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0) return E_INVALIDARG;
  if (static_cast<uint64_t>(r.X) + r.Width > m_rows.width || static_cast<uint64_t>(r.Y) + r.Height > m_rows.height)
    return E_FAIL;
  if (r.Height == 0 || r.Width == 0) return S_OK;
  const uint64_t row = static_cast<uint64_t>(r.Width) * 4;
  if (buffer == nullptr || stride < row || static_cast<uint64_t>(stride) * (r.Height - 1) + row > bufferSize)
    return E_FAIL;
  for (int32_t y = 0; y < r.Height; ++y)
    std::copy_n(&m_rows.bgra[(static_cast<std::size_t>(r.Y + y) * m_rows.width + r.X) * 4], row,
                buffer + static_cast<std::size_t>(y) * stride);
  return S_OK;
}
