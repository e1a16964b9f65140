#include "viewer/imaging/WICBitmapScaler.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr double kLobes = 3.0;
constexpr double kPi = 3.14159265358979323846;

double Sinc(double x) {
  if (std::abs(x) < 1e-9) return 1.0;
  const double a = kPi * x;
  return std::sin(a) / a;
}

double Lanczos(double x) { return std::abs(x) >= kLobes ? 0.0 : Sinc(x) * Sinc(x / kLobes); }

// For each output position along one axis: the first source position it
// reads, how many, and their weights (summing to 1).
struct Taps {
  std::vector<uint32_t> first;
  std::vector<uint32_t> count;
  std::vector<float> weights;  // `stride` weights per output position
  uint32_t stride = 0;

  Taps(uint32_t from, uint32_t to) : first(to), count(to) {
    const double scale = static_cast<double>(from) / to;
    const double widen = std::max(scale, 1.0);  // shrinking: the filter covers every source pixel
    const double radius = kLobes * widen;
    stride = static_cast<uint32_t>(std::ceil(radius) * 2 + 1);
    weights.assign(static_cast<std::size_t>(stride) * to, 0.0f);
    for (uint32_t i = 0; i < to; ++i) {
      const double centre = (i + 0.5) * scale - 0.5;
      int64_t lo = static_cast<int64_t>(std::ceil(centre - radius));
      int64_t hi = static_cast<int64_t>(std::floor(centre + radius));
      lo = std::max<int64_t>(lo, 0);
      hi = std::min<int64_t>(hi, static_cast<int64_t>(from) - 1);
      if (hi - lo + 1 > static_cast<int64_t>(stride)) hi = lo + stride - 1;
      double sum = 0;
      float* w = &weights[static_cast<std::size_t>(i) * stride];
      for (int64_t k = lo; k <= hi; ++k) sum += Lanczos((static_cast<double>(k) - centre) / widen);
      if (sum == 0) sum = 1;
      for (int64_t k = lo; k <= hi; ++k)
        w[k - lo] = static_cast<float>(Lanczos((static_cast<double>(k) - centre) / widen) / sum);
      first[i] = static_cast<uint32_t>(lo);
      count[i] = static_cast<uint32_t>(hi - lo + 1);
    }
  }
};

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f)); }

// Rows of a bitmap source, fetched a strip of up to 32 rows (and 4 MiB) at
// a time.
class SourceRows final : public RowSource {
 public:
  SourceRows(IWICBitmapSource* source, uint32_t width, uint32_t height)
      : m_source(source), m_width(width), m_height(height),
        m_stripRows(std::clamp<uint32_t>(static_cast<uint32_t>((4u << 20) / (uint64_t{width} * 4)), 1, 32)),
        m_strip(static_cast<std::size_t>(width) * 4 * m_stripRows) {}
  bool ReadRow(uint32_t y, uint8_t* row) override {
    if (y < m_top || y >= m_top + m_rows) {
      m_top = y;
      m_rows = std::min(m_stripRows, m_height - y);
      const WICRect rect{0, static_cast<int32_t>(y), static_cast<int32_t>(m_width), static_cast<int32_t>(m_rows)};
      m_status = m_source->CopyPixels(&rect, m_width * 4, static_cast<UINT>(m_strip.size()), m_strip.data());
      if (FAILED(m_status)) return false;
    }
    std::copy_n(&m_strip[static_cast<std::size_t>(y - m_top) * m_width * 4], static_cast<std::size_t>(m_width) * 4,
                row);
    return true;
  }
  HRESULT status() const { return m_status; }

 private:
  IWICBitmapSource* m_source;
  uint32_t m_width, m_height;
  uint32_t m_stripRows;
  std::vector<uint8_t> m_strip;
  uint32_t m_top = 0, m_rows = 0;
  HRESULT m_status = S_OK;
};

// A source's rows averaged over blocks of kx x ky pixels (the last block of
// a row or column may be narrower), read in order as the rows are asked for.
class BlockRows final : public RowSource {
 public:
  BlockRows(RowSource& source, uint32_t width, uint32_t height, uint32_t kx, uint32_t ky)
      : m_source(source), m_width(width), m_height(height), m_kx(kx), m_ky(ky),
        m_line(static_cast<std::size_t>(width) * 4), m_sums(static_cast<std::size_t>(Width()) * 4) {}
  uint32_t Width() const { return (m_width + m_kx - 1) / m_kx; }
  uint32_t Height() const { return (m_height + m_ky - 1) / m_ky; }
  bool ReadRow(uint32_t y, uint8_t* row) override {
    std::fill(m_sums.begin(), m_sums.end(), 0);
    const uint32_t top = y * m_ky, bottom = std::min(top + m_ky, m_height);
    for (uint32_t sy = top; sy < bottom; ++sy) {
      if (!m_source.ReadRow(sy, m_line.data())) return false;
      for (uint32_t x = 0; x < m_width; ++x)
        for (uint32_t c = 0; c < 4; ++c) m_sums[(x / m_kx) * 4 + c] += m_line[static_cast<std::size_t>(x) * 4 + c];
    }
    for (uint32_t x = 0; x < Width(); ++x) {
      const uint64_t count = uint64_t{std::min(m_kx, m_width - x * m_kx)} * (bottom - top);
      for (uint32_t c = 0; c < 4; ++c)
        row[static_cast<std::size_t>(x) * 4 + c] = static_cast<uint8_t>((m_sums[x * 4 + c] + count / 2) / count);
    }
    return true;
  }

 private:
  RowSource& m_source;
  uint32_t m_width, m_height, m_kx, m_ky;
  std::vector<uint8_t> m_line;
  std::vector<uint64_t> m_sums;
};

// Shrinking by more than this, the source is first averaged over blocks:
// the filter's weights grow with the factor, and a page a million pixels
// wide drawn a thousand wide would need gigabytes of them.
constexpr uint32_t kMostLanczosShrink = 8;

uint32_t BlockFor(uint32_t from, uint32_t to) {
  const uint32_t factor = from / to;
  return factor > kMostLanczosShrink ? factor / (kMostLanczosShrink / 2) : 1;
}

bool Resample(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth, uint32_t outHeight,
              uint32_t outStride);

}  // namespace

bool ResampleLanczos(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                     uint32_t outHeight, uint32_t outStride) {
  const uint32_t kx = BlockFor(width, outWidth), ky = BlockFor(height, outHeight);
  if (kx == 1 && ky == 1) return Resample(source, width, height, out, outWidth, outHeight, outStride);
  try {
    BlockRows blocks(source, width, height, kx, ky);
    return Resample(blocks, blocks.Width(), blocks.Height(), out, outWidth, outHeight, outStride);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

bool Resample(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth, uint32_t outHeight,
              uint32_t outStride) {
  try {
    const Taps across(width, outWidth), down(height, outHeight);
    // Rows filtered across, kept for as long as an output row may read them.
    const uint32_t ring = down.stride + 1;
    const std::size_t rowFloats = static_cast<std::size_t>(outWidth) * 4;
    std::vector<float> rows(rowFloats * ring);
    std::vector<uint8_t> line(static_cast<std::size_t>(width) * 4);
    std::vector<float> sum(rowFloats);
    uint32_t next = 0;  // the next source row to filter across
    for (uint32_t y = 0; y < outHeight; ++y) {
      const uint32_t top = down.first[y], taps = down.count[y];
      for (; next < top + taps; ++next) {
        if (!source.ReadRow(next, line.data())) return false;
        float* to = &rows[(next % ring) * rowFloats];
        for (uint32_t x = 0; x < outWidth; ++x) {
          const float* w = &across.weights[static_cast<std::size_t>(x) * across.stride];
          const uint8_t* from = &line[static_cast<std::size_t>(across.first[x]) * 4];
          float b = 0, g = 0, r = 0, a = 0;
          for (uint32_t k = 0; k < across.count[x]; ++k, from += 4) {
            b += w[k] * from[0];
            g += w[k] * from[1];
            r += w[k] * from[2];
            a += w[k] * from[3];
          }
          to[4 * x] = b, to[4 * x + 1] = g, to[4 * x + 2] = r, to[4 * x + 3] = a;
        }
      }
      std::fill(sum.begin(), sum.end(), 0.0f);
      const float* w = &down.weights[static_cast<std::size_t>(y) * down.stride];
      for (uint32_t k = 0; k < taps; ++k) {
        const float* from = &rows[((top + k) % ring) * rowFloats];
        const float weight = w[k];
        for (std::size_t i = 0; i < rowFloats; ++i) sum[i] += weight * from[i];
      }
      uint8_t* to = out + static_cast<std::size_t>(y) * outStride;
      for (uint32_t x = 0; x < outWidth; ++x) {
        // Premultiplied: no colour may exceed its alpha after the overshoot.
        const uint8_t alpha = ToByte(sum[4 * x + 3]);
        to[4 * x] = std::min(ToByte(sum[4 * x]), alpha);
        to[4 * x + 1] = std::min(ToByte(sum[4 * x + 1]), alpha);
        to[4 * x + 2] = std::min(ToByte(sum[4 * x + 2]), alpha);
        to[4 * x + 3] = alpha;
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

HRESULT CWICBitmapScaler::Initialize(IWICBitmapSource* source, UINT width, UINT height) {
  if (source == nullptr || width == 0 || height == 0) return E_INVALIDARG;
  WICPixelFormatGUID format{};
  UINT sourceWidth = 0, sourceHeight = 0;
  if (FAILED(source->GetPixelFormat(&format)) || format != GUID_WICPixelFormat32bppPBGRA) return E_INVALIDARG;
  if (FAILED(source->GetSize(&sourceWidth, &sourceHeight)) || sourceWidth == 0 || sourceHeight == 0)
    return E_INVALIDARG;
  source->GetResolution(&m_dpiX, &m_dpiY);
  try {
    m_pixels.assign(static_cast<std::size_t>(width) * height * 4, 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  SourceRows rows(source, sourceWidth, sourceHeight);
  if (!ResampleLanczos(rows, sourceWidth, sourceHeight, m_pixels.data(), width, height, width * 4)) {
    m_pixels.clear();
    return FAILED(rows.status()) ? rows.status() : E_OUTOFMEMORY;
  }
  m_width = width;
  m_height = height;
  return S_OK;
}

HRESULT CWICBitmapScaler::GetSize(UINT* width, UINT* height) {
  if (width == nullptr || height == nullptr) return E_INVALIDARG;
  *width = m_width;
  *height = m_height;
  return S_OK;
}

HRESULT CWICBitmapScaler::GetPixelFormat(WICPixelFormatGUID* format) {
  if (format == nullptr) return E_INVALIDARG;
  *format = GUID_WICPixelFormat32bppPBGRA;
  return S_OK;
}

HRESULT CWICBitmapScaler::GetResolution(double* dpiX, double* dpiY) {
  if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
  *dpiX = m_dpiX;
  *dpiY = m_dpiY;
  return S_OK;
}

HRESULT CWICBitmapScaler::CopyPalette(IWICPalette*) { return WINCODEC_ERR_PALETTEUNAVAILABLE; }

HRESULT CWICBitmapScaler::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
  const WICRect all{0, 0, static_cast<int32_t>(m_width), static_cast<int32_t>(m_height)};
  const WICRect r = rect != nullptr ? *rect : all;
  if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0) return E_INVALIDARG;
  if (static_cast<uint64_t>(r.X) + r.Width > m_width || static_cast<uint64_t>(r.Y) + r.Height > m_height) return E_FAIL;
  const uint64_t row = static_cast<uint64_t>(r.Width) * 4;
  if (r.Height == 0 || r.Width == 0) return S_OK;
  if (buffer == nullptr || stride < row || static_cast<uint64_t>(stride) * (r.Height - 1) + row > bufferSize)
    return E_FAIL;
  for (int32_t y = 0; y < r.Height; ++y)
    std::copy_n(&m_pixels[(static_cast<std::size_t>(r.Y + y) * m_width + r.X) * 4], row,
                buffer + static_cast<std::size_t>(y) * stride);
  return S_OK;
}
