#include "viewer/imaging/WICBitmapSource.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/debug.h"
#include "platform/pixelcopy.h"
#include "platform/text.h"

HRESULT CWICBitmapSource::GetSize(UINT* width, UINT* height) {
  if (width == nullptr || height == nullptr) return E_INVALIDARG;
  *width = m_width;
  *height = m_height;
  return S_OK;
}

HRESULT CWICBitmapSource::GetPixelFormat(WICPixelFormatGUID* format) {
  if (format == nullptr) return E_INVALIDARG;
  *format = m_format;
  return S_OK;
}

HRESULT CWICBitmapSource::GetResolution(double* dpiX, double* dpiY) {
  if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
  *dpiX = m_dpiX;
  *dpiY = m_dpiY;
  return S_OK;
}

HRESULT CWICBitmapSource::CopyPalette(IWICPalette*) { return E_NOTIMPL; }

namespace {
// The two formats a page is held in; 0 for any other.
UINT BytesPerPixel(const GUID& format) {
  if (format == GUID_WICPixelFormat8bppGray) return 1;
  if (format == GUID_WICPixelFormat24bppBGR) return 3;
  return 0;
}
}  // namespace

HRESULT CWICBitmapSource::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
  const UINT bytesPerPixel = BytesPerPixel(m_format);
  if (bytesPerPixel == 0) return E_NOTIMPL;
  const std::size_t rowBytes = static_cast<std::size_t>(m_width) * bytesPerPixel;
  return CopyPixelRect(m_width, m_height, bytesPerPixel, rect, stride, bufferSize, buffer,
                       [&](UINT y, UINT x, UINT count, BYTE* out) {
                         const BYTE* in = m_pixels.data() + y * rowBytes + static_cast<std::size_t>(x) * bytesPerPixel;
                         std::copy(in, in + static_cast<std::size_t>(count) * bytesPerPixel, out);
                       });
}

int32_t CWICBitmapSource::LoadPixels(IWICBitmapSource* source) {
  source->GetPixelFormat(&m_format);
  const UINT bytesPerPixel = BytesPerPixel(m_format);
  if (bytesPerPixel == 0) return 1;
  source->GetSize(&m_width, &m_height);
  source->GetResolution(&m_dpiX, &m_dpiY);
  const uint64_t stride = static_cast<uint64_t>(m_width) * bytesPerPixel;
  const uint64_t size = stride * m_height;
  // The source's copy takes 32-bit sizes; a larger page cannot be held.
  if (size > 0xFFFFFFFFu) return 2;
  try {
    m_pixels.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return 2;
  }
  source->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(size), m_pixels.data());
  return 0;
}

namespace {

// The sparse colour count: every 8th pixel of every 8th row, each row
// counted as it comes; single precision, in the order written.
constexpr UINT kSparseStep = 8;

struct SparseCount {
  uint32_t samples = 0;
  uint32_t coloured = 0;

  void Row(const BYTE* row, UINT width) {
    for (UINT x = 0; x < width; x += kSparseStep) {
      const BYTE* p = row + static_cast<std::size_t>(x) * 3;
      const float b = p[0], g = p[1], r = p[2];
      const float t1 = 0.5f * g - (0.1687f * r + 0.3312f * b);
      const float t2 = 0.5f * r - 0.4183f * b - 0.0816f * g;
      if (std::fabs(t1) + std::fabs(t2) > 25.5f) ++coloured;
      ++samples;
    }
  }
  float Ratio() const { return static_cast<float>(coloured) / static_cast<float>(samples); }
  // Colour on the count alone: nothing more need be looked at.
  bool Colour() const { return static_cast<double>(Ratio()) > 0.02; }
};

void SayClass(bool colour, float ratio) {
  char text[128];
  std::snprintf(text, sizeof text, colour ? "Color Image %5.1f\n" : "Monochrome Image %5.1f\n",
                static_cast<double>(ratio * 100.0f));
  OutputDebugStringW(AsciiToUtf16(text).c_str());
}

}  // namespace

int32_t CWICBitmapSource::Classify() {
  if (m_format != GUID_WICPixelFormat24bppBGR) return 2;
  SparseCount count;
  const std::size_t rowBytes = static_cast<std::size_t>(m_width) * 3;
  for (UINT y = 0; y < m_height; y += kSparseStep) count.Row(m_pixels.data() + y * rowBytes, m_width);
  const bool colour = count.Colour() || CarriesColour();
  SayClass(colour, count.Ratio());
  return colour ? 1 : 0;
}

bool ColourBySparseCount(IWICBitmapSource* source) {
  WICPixelFormatGUID format{};
  UINT width = 0, height = 0;
  if (FAILED(source->GetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR ||
      FAILED(source->GetSize(&width, &height)) || width == 0 || height == 0)
    return false;
  const UINT stride = width * 3;
  std::vector<BYTE> row;
  try {
    row.resize(stride);
  } catch (const std::bad_alloc&) {
    return false;
  }
  SparseCount count;
  for (UINT y = 0; y < height; y += kSparseStep) {
    const WICRect rect{0, static_cast<int32_t>(y), static_cast<int32_t>(width), 1};
    if (FAILED(source->CopyPixels(&rect, stride, stride, row.data()))) return false;
    count.Row(row.data(), width);
  }
  if (!count.Colour()) return false;
  SayClass(true, count.Ratio());
  return true;
}

namespace {

// Colourfulness of a BGR pixel: its largest channel less its smallest.
int Chroma(const BYTE* p) { return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}); }

// Whether a tinted pixel's hue lies outside the browns, creams and yellows of
// old paper and sepia ink (hue 5 to 70 degrees), which stay "monochrome".
bool HueOtherThanPaper(const BYTE* p) {
  const int b = p[0], g = p[1], r = p[2];
  const int high = std::max({r, g, b}), span = high - std::min({r, g, b});
  if (span == 0) return false;
  // Degrees times the span, to stay in integers.
  int hue;
  if (high == r) hue = 60 * (g - b) + (g < b ? 360 * span : 0);
  else if (high == g) hue = 60 * (b - r) + 120 * span;
  else hue = 60 * (r - g) + 240 * span;
  return hue < 5 * span || hue > 70 * span;
}

}  // namespace

bool CWICBitmapSource::CarriesColour() const {
  // Bounds measured on scans made for the purpose (line art and screentone
  // as JPEG at 70-85 %, with colour noise, 4:2:0 chroma and a channel
  // misregistered by one or two pixels; cream, yellowed and sepia paper;
  // red dots, blue lettering, pale green and bluish pages):
  // - spot colour: pixels with chroma >= 120 inside a solid 3 x 3 patch
  //   covering >= 0.006 % of the page. Misregistered line art reached
  //   0.0037 %, noise and 4:2:0 chroma 0; a red dot of 10 px radius on a
  //   1200 x 1800 page gives 0.010 %, blue lettering 0.18 %;
  // - tint: >= 30 % of the page at chroma >= 20 in a hue paper does not
  //   have. A pale green page gave 89 %, a bluish one 57 %, cream and sepia
  //   paper 0 (their hue is paper's).
  constexpr int kSaturated = 120;
  constexpr int kTinted = 20;
  constexpr uint64_t kSpotPerMillion = 60;  // 0.006 %
  constexpr uint64_t kTintPercent = 30;
  if (m_width < 3 || m_height < 3) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(m_width) * 3;
  // Every other pixel of every other row of the full page: a patch is a
  // sample and its neighbours two to the right, two below and both; on a
  // page decoded smaller, the step nearer two of the page's pixels (one up
  // to five eighths, where it spans 1.6 of them).
  const UINT step = m_eighths <= 5 ? 1 : 2;
  const std::size_t right = 3 * step, below = step * rowBytes;
  uint64_t samples = 0, spots = 0, tinted = 0;
  for (UINT y = 0; y + step < m_height; y += step) {
    const BYTE* row = m_pixels.data() + y * rowBytes;
    for (UINT x = 0; x + step < m_width; x += step) {
      const BYTE* p = row + static_cast<std::size_t>(x) * 3;
      ++samples;
      const int chroma = Chroma(p);
      if (chroma < kTinted) continue;
      if (HueOtherThanPaper(p)) ++tinted;
      if (chroma >= kSaturated && Chroma(p + right) >= kSaturated && Chroma(p + below) >= kSaturated &&
          Chroma(p + below + right) >= kSaturated)
        ++spots;
    }
  }
  if (spots > 0 && spots * 1000000 >= kSpotPerMillion * samples) return true;
  return tinted * 100 >= kTintPercent * samples;
}

int32_t CWICBitmapSource::ConvertToGray() {
  if (m_format != GUID_WICPixelFormat24bppBGR) return 1;
  m_format = GUID_WICPixelFormat8bppGray;
  // In place: the write position never passes the read position.
  const std::size_t count = static_cast<std::size_t>(m_width) * m_height;
  BYTE* pixels = m_pixels.data();
  for (std::size_t i = 0; i < count; ++i) {
    const BYTE* p = pixels + 3 * i;
    pixels[i] = static_cast<BYTE>((p[2] + p[0] + p[1]) / 3);
  }
  m_pixels.resize(count);
  return 0;
}

int32_t CWICBitmapSource::StretchLevels() {
  if (m_format != GUID_WICPixelFormat8bppGray) return 1;

  const uint32_t n = m_width * m_height;
  const uint32_t tenth = n / 10;
  // Eight interleaved counters: neighbouring pixels mostly share a level,
  // and one counter would make every increment wait for the previous one.
  uint32_t partial[8][256] = {};
  const BYTE* pixels = m_pixels.data();
  const std::size_t size = m_pixels.size();
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;  // one load for eight pixels
    std::memcpy(&word, pixels + i, 8);
    for (int lane = 0; lane < 8; ++lane) ++partial[lane][(word >> (8 * lane)) & 0xFF];
  }
  for (; i < size; ++i) ++partial[0][pixels[i]];
  uint32_t histogram[256];
  for (int k = 0; k < 256; ++k) {
    histogram[k] = 0;
    for (int lane = 0; lane < 8; ++lane) histogram[k] += partial[lane][k];
  }

  int32_t low = 0;
  uint32_t sum = 0;
  for (int i = 0; i < 256; ++i) {
    sum += histogram[i];
    if (sum > tenth) {
      low = i < 32 ? i : 32;
      break;
    }
  }
  int32_t high = 192;
  sum = 0;
  for (int j = 255; j >= 0; --j) {
    sum += histogram[j];
    if (sum > tenth) {
      high = j > 192 ? j : 192;
      break;
    }
  }

  BYTE map[256];
  for (int32_t k = 0; k < 256; ++k) {
    const int32_t v = 255 * (k - low) / (high - low);
    map[k] = static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  for (BYTE& p : m_pixels) p = map[p];
  return 0;
}
