// Test helpers for imaging: a file in memory behind IFile, a bitmap source
// over a byte array, and a decode through the imaging component.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Stream.h"
#include "platform/wincodec.h"

namespace test {

// A read-only IFile over bytes, with the memory file's seek rules.
class MemoryFile final : public CUnknownImpl<IFile> {
 public:
  explicit MemoryFile(std::string bytes) : m_bytes(std::move(bytes)) {}
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    const std::size_t n = std::min<std::size_t>(bytes, m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    if (bytesRead != nullptr) *bytesRead = static_cast<uint32_t>(n);
    return 0;
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override {
    const int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(m_position)
                                                       : static_cast<int64_t>(m_bytes.size());
    if (origin > 2 || base + distance < 0 || base + distance > static_cast<int64_t>(m_bytes.size())) return 1;
    m_position = static_cast<std::size_t>(base + distance);
    if (newPosition != nullptr) *newPosition = m_position;
    return 0;
  }
  int32_t GetSize(uint64_t* size) override {
    *size = m_bytes.size();
    return 0;
  }

 private:
  std::string m_bytes;
  std::size_t m_position = 0;
};

inline void NewStream(const std::string& bytes, Ref<IStream>& stream) {
  IFile* file = nullptr;
  HandOut(new MemoryFile(bytes), IID_IFile, reinterpret_cast<void**>(&file));
  CreateFileStream(file, &stream);
  file->Release();
}

// Decodes frame 0 of `bytes` the way the viewer does; the HRESULT of the
// first step that failed, or S_OK with *frame set.
inline HRESULT Decode(const std::string& bytes, IWICBitmapFrameDecode** frame) {
  Ref<IStream> stream;
  NewStream(bytes, stream);
  Ref<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  Ref<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder);
  if (FAILED(hr)) return hr;
  return decoder->GetFrame(0, frame);
}

// A bitmap source over packed rows, as another module's object would be.
class ArraySource final : public CUnknownImpl<IWICBitmapSource> {
 public:
  ArraySource(const GUID& format, UINT width, UINT height, UINT bytesPerPixel, std::vector<BYTE> pixels)
      : m_format(format), m_width(width), m_height(height), m_bpp(bytesPerPixel), m_pixels(std::move(pixels)) {}
  HRESULT GetSize(UINT* w, UINT* h) override {
    *w = m_width;
    *h = m_height;
    return S_OK;
  }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override {
    *format = m_format;
    return S_OK;
  }
  HRESULT GetResolution(double* x, double* y) override {
    *x = 300;
    *y = 600;
    return S_OK;
  }
  HRESULT CopyPalette(IWICPalette*) override { return E_NOTIMPL; }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
    ++copies;
    if (rect != nullptr) return E_INVALIDARG;  // the system always asks for the whole image
    const UINT row = m_width * m_bpp;
    if (stride < row || (m_height > 0 && static_cast<uint64_t>(stride) * (m_height - 1) + row > size)) return E_FAIL;
    for (UINT y = 0; y < m_height; ++y) std::memcpy(buffer + y * stride, m_pixels.data() + y * row, row);
    return S_OK;
  }
  int copies = 0;

 private:
  GUID m_format;
  UINT m_width, m_height, m_bpp;
  std::vector<BYTE> m_pixels;
};

}  // namespace test
