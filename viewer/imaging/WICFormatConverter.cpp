#include "viewer/imaging/WICFormatConverter.h"

#include <cstring>
#include <new>
#include <vector>

uint32_t g_colorTable[256] = {};

bool LoadColorTable(const BYTE* palette, std::size_t size) {
  if (palette == nullptr || size < kPaletteFileBytes) return false;
  for (int k = 0; k < 256; ++k) {
    const BYTE entry[4] = {palette[512 + k], palette[256 + k], palette[k], 255};
    std::memcpy(&g_colorTable[k], entry, 4);
  }
  return true;
}

CWICFormatConverter::~CWICFormatConverter() {
  if (m_source != nullptr) m_source->Release();
}

namespace {
bool IsGray(IWICBitmapSource* source) {
  WICPixelFormatGUID format{};
  return SUCCEEDED(source->GetPixelFormat(&format)) && format == GUID_WICPixelFormat8bppGray;
}
}  // namespace

HRESULT CWICFormatConverter::GetSize(UINT* width, UINT* height) {
  if (m_source == nullptr) return E_FAIL;
  return m_source->GetSize(width, height);
}

HRESULT CWICFormatConverter::GetPixelFormat(WICPixelFormatGUID* format) {
  if (m_source == nullptr || !IsGray(m_source)) return E_FAIL;
  if (format == nullptr) return E_INVALIDARG;
  *format = GUID_WICPixelFormat32bppPBGRA;
  return S_OK;
}

HRESULT CWICFormatConverter::GetResolution(double* dpiX, double* dpiY) {
  if (m_source == nullptr) return E_FAIL;
  return m_source->GetResolution(dpiX, dpiY);
}

HRESULT CWICFormatConverter::CopyPalette(IWICPalette*) { return m_source == nullptr ? E_FAIL : E_NOTIMPL; }

HRESULT CWICFormatConverter::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
  if (m_source == nullptr) return E_FAIL;
  if (!IsGray(m_source)) return E_NOTIMPL;
  UINT w = 0, h = 0;
  if (FAILED(m_source->GetSize(&w, &h))) return E_FAIL;
  const WICRect r = rect != nullptr ? *rect : WICRect{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};

  // The rectangle must lie inside the image and every row of it inside the
  // caller's buffer: nothing is written unless all of it fits.
  if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 || static_cast<uint64_t>(r.X) + r.Width > w ||
      static_cast<uint64_t>(r.Y) + r.Height > h)
    return E_FAIL;
  if (r.Width == 0 || r.Height == 0) return S_OK;
  const uint64_t rowBytes = 4ull * static_cast<uint64_t>(r.Width);
  if (buffer == nullptr || stride < rowBytes ||
      static_cast<uint64_t>(stride) * static_cast<uint64_t>(r.Height - 1) + rowBytes > bufferSize)
    return E_FAIL;

  // The smoothing reads the whole image, so pixels at the rectangle's edge
  // see their true neighbours.
  const uint64_t size = static_cast<uint64_t>(w) * h;
  if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  if (m_gray.size() != size) {
    try {
      m_gray.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = m_source->CopyPixels(nullptr, w, static_cast<UINT>(size), m_gray.data());
    if (FAILED(hr)) {
      std::vector<BYTE>().swap(m_gray);
      return hr;
    }
  }
  const std::vector<BYTE>& gray = m_gray;

  for (UINT y = static_cast<UINT>(r.Y); y < static_cast<UINT>(r.Y + r.Height); ++y) {
    const BYTE* row = gray.data() + static_cast<std::size_t>(y) * w;
    BYTE* out = buffer + static_cast<std::size_t>(y - static_cast<UINT>(r.Y)) * stride;
    const bool borderRow = y == 0 || y == h - 1;
    const BYTE* above = borderRow ? row : row - w;
    const BYTE* below = borderRow ? row : row + w;
    for (UINT x = static_cast<UINT>(r.X); x < static_cast<UINT>(r.X + r.Width); ++x, out += 4) {
      unsigned v = row[x];
      if (!borderRow && x != 0 && x != w - 1) v = (4 * v + above[x] + below[x] + row[x - 1] + row[x + 1] + 4) >> 3;
      std::memcpy(out, &g_colorTable[v], 4);
    }
  }
  return S_OK;
}

HRESULT CWICFormatConverter::Initialize(IWICBitmapSource* source, REFWICPixelFormatGUID destinationFormat,
                                        WICBitmapDitherType, IWICPalette*, double, WICBitmapPaletteType) {
  if (destinationFormat != GUID_WICPixelFormat32bppPBGRA) return E_NOTIMPL;
  if (source != nullptr && !IsGray(source)) return E_NOTIMPL;
  if (source != m_source) {
    if (source != nullptr) source->AddRef();
    if (m_source != nullptr) m_source->Release();
    m_source = source;
    std::vector<BYTE>().swap(m_gray);
  }
  return S_OK;
}

HRESULT CWICFormatConverter::CanConvert(REFWICPixelFormatGUID sourceFormat, REFWICPixelFormatGUID destinationFormat,
                                        BOOL* canConvert) {
  if (canConvert == nullptr) return E_INVALIDARG;
  *canConvert = sourceFormat == GUID_WICPixelFormat8bppGray && destinationFormat == GUID_WICPixelFormat32bppPBGRA;
  return S_OK;
}
