#include "viewer/imaging/WICBitmapScaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr double kLobes = kLanczosLobes;
constexpr double kPi = 3.14159265358979323846;

// Fixed point: weights carry 14 bits of fraction (the largest, near an
// edge when enlarging, stays under 2), and rows filtered across keep 6 bits
// below a level, so both passes run on 16-bit products summed in 32 bits
// and land within one level of exact arithmetic.
constexpr int kWeightBits = 14;
constexpr int kRowBits = 6;
constexpr int kAcrossShift = kWeightBits - kRowBits;
constexpr int kDownShift = kWeightBits + kRowBits;

double Sinc(double x) {
  if (std::abs(x) < 1e-9) return 1.0;
  const double a = kPi * x;
  return std::sin(a) / a;
}


// For each output position along one axis: the first source position it
// reads and `pairs` pairs of weights (summing to 1 << kWeightBits), zero
// past the taps it has. Every position has as many pairs, so the loops
// over them run the same count every time.
struct Taps {
  std::vector<uint32_t> first;
  std::vector<int16_t> weights;  // 2 x `pairs` per output position
  uint32_t pairs = 0;

  // The output positions from `offset` on, of `to` in all (a part of the
  // output scaled on its own has the same taps as in the whole).
  Taps(uint32_t from, uint32_t to, uint32_t positions, uint32_t offset = 0) : first(positions, 0) {
    const double scale = static_cast<double>(from) / to;
    const double widen = std::max(scale, 1.0);  // shrinking: the filter covers every source pixel
    const double radius = kLobes * widen;
    // No window of width 2 x radius holds more source positions than this.
    const uint32_t most = static_cast<uint32_t>(std::floor(radius * 2)) + 1;
    pairs = (most + 1) / 2;
    weights.assign(std::size_t{pairs} * 2 * positions, 0);
    std::vector<double> exact(most);
    const uint32_t count = std::min(positions, to - std::min(offset, to));
    for (uint32_t i = 0; i < count; ++i) {
      const double centre = (offset + i + 0.5) * scale - 0.5;
      int64_t lo = static_cast<int64_t>(std::ceil(centre - radius));
      int64_t hi = static_cast<int64_t>(std::floor(centre + radius));
      lo = std::max<int64_t>(lo, 0);
      hi = std::min<int64_t>(hi, static_cast<int64_t>(from) - 1);
      if (hi - lo + 1 > static_cast<int64_t>(most)) hi = lo + most - 1;
      double sum = 0;
      for (int64_t k = lo; k <= hi; ++k)
        sum += exact[k - lo] = LanczosKernel((static_cast<double>(k) - centre) / widen);
      if (sum == 0) sum = 1;
      // Rounded, then the rounding's remainder goes to the heaviest tap so
      // that flat stays exactly flat.
      int16_t* w = &weights[std::size_t{i} * pairs * 2];
      int32_t total = 0;
      int64_t heaviest = lo;
      for (int64_t k = lo; k <= hi; ++k) {
        w[k - lo] = static_cast<int16_t>(std::lround(exact[k - lo] / sum * (1 << kWeightBits)));
        total += w[k - lo];
        if (exact[k - lo] > exact[heaviest - lo]) heaviest = k;
      }
      w[heaviest - lo] = static_cast<int16_t>(w[heaviest - lo] + (1 << kWeightBits) - total);
      first[i] = static_cast<uint32_t>(lo);
    }
  }
  const int16_t* At(uint32_t i) const { return &weights[std::size_t{i} * pairs * 2]; }
};


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
              const WICRect& part, uint32_t outStride);

}  // namespace

double LanczosKernel(double x) { return std::abs(x) >= kLobes ? 0.0 : Sinc(x) * Sinc(x / kLobes); }

bool ResampleLanczos(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                     uint32_t outHeight, uint32_t outStride) {
  const WICRect all{0, 0, static_cast<int32_t>(outWidth), static_cast<int32_t>(outHeight)};
  return ResampleLanczosPart(source, width, height, out, outWidth, outHeight, all, outStride);
}

bool ResampleLanczosPart(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                         uint32_t outHeight, const WICRect& part, uint32_t outStride) {
  if (part.X < 0 || part.Y < 0 || part.Width <= 0 || part.Height <= 0 ||
      static_cast<uint64_t>(part.X) + part.Width > outWidth || static_cast<uint64_t>(part.Y) + part.Height > outHeight)
    return false;
  const uint32_t kx = BlockFor(width, outWidth), ky = BlockFor(height, outHeight);
  if (kx == 1 && ky == 1) return Resample(source, width, height, out, outWidth, outHeight, part, outStride);
  try {
    BlockRows blocks(source, width, height, kx, ky);
    return Resample(blocks, blocks.Width(), blocks.Height(), out, outWidth, outHeight, part, outStride);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

// The two passes' inner loops, on packed 16-bit values. A source row first
// becomes pairs of neighbouring pixels, channel by channel
// (b[j] b[j+1] g[j] g[j+1] r[j] r[j+1] a[j] a[j+1]), so that a pair of taps
// is one multiply-add of eight 16-bit values, with no shuffling per tap.
#if defined(__SSE2__)

void MakePairs(const uint8_t* line, uint32_t width, int16_t* pairs) {
  const __m128i zero = _mm_setzero_si128();
  for (uint32_t j = 0; j < width; j += 4, line += 16, pairs += 32) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 4));
    const __m128i lo = _mm_unpacklo_epi8(here, next), hi = _mm_unpackhi_epi8(here, next);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs), _mm_unpacklo_epi8(lo, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 8), _mm_unpackhi_epi8(lo, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 16), _mm_unpacklo_epi8(hi, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 24), _mm_unpackhi_epi8(hi, zero));
  }
}

// Each pair of weights across repeated over the four channels, so that a
// multiply-add takes it straight from memory.
std::vector<int16_t> AcrossWeights(const Taps& across) {
  std::vector<int16_t> wide(across.weights.size() * 4);
  for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = across.weights[i / 8 * 2 + i % 2];
  return wide;
}

// Two output pixels from pairs of source pixels, as 8 values of kRowBits.
void FilterAcross(const int16_t* pairs, const Taps& across, const int16_t* weights, uint32_t positions, int16_t* to) {
  const __m128i half = _mm_set1_epi32(1 << (kAcrossShift - 1));
  const __m128i* w = reinterpret_cast<const __m128i*>(weights);
  for (uint32_t x = 0; x < positions; x += 2, to += 8) {
    const __m128i* a = reinterpret_cast<const __m128i*>(pairs + std::size_t{across.first[x]} * 8);
    const __m128i* b = reinterpret_cast<const __m128i*>(pairs + std::size_t{across.first[x + 1]} * 8);
    __m128i sumA = _mm_setzero_si128(), sumB = _mm_setzero_si128();
    for (uint32_t k = 0; k < across.pairs; ++k) {
      sumA = _mm_add_epi32(sumA, _mm_madd_epi16(_mm_loadu_si128(a + 2 * k), _mm_loadu_si128(w + k)));
      sumB = _mm_add_epi32(sumB, _mm_madd_epi16(_mm_loadu_si128(b + 2 * k), _mm_loadu_si128(w + across.pairs + k)));
    }
    w += 2 * across.pairs;
    sumA = _mm_srai_epi32(_mm_add_epi32(sumA, half), kAcrossShift);
    sumB = _mm_srai_epi32(_mm_add_epi32(sumB, half), kAcrossShift);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_packs_epi32(sumA, sumB));
  }
}

// One output row from `taps` (even) rows filtered across, `values` (a
// multiple of 8) at a time, clamped to bytes with no colour above alpha.
void FilterDown(const int16_t* const* rows, const int16_t* w, uint32_t taps, std::size_t values, uint8_t* to) {
  const __m128i half = _mm_set1_epi32(1 << (kDownShift - 1));
  const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(255);
  for (std::size_t i = 0; i < values; i += 8, to += 8) {
    __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
    for (uint32_t k = 0; k < taps; k += 2) {
      int32_t weight;
      std::memcpy(&weight, w + k, sizeof weight);
      const __m128i pair = _mm_set1_epi32(weight);
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i));
      lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair));
      hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pair));
    }
    lo = _mm_srai_epi32(_mm_add_epi32(lo, half), kDownShift);
    hi = _mm_srai_epi32(_mm_add_epi32(hi, half), kDownShift);
    __m128i v = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(lo, hi), zero), full);
    const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF);
    v = _mm_min_epi16(v, alpha);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(v, v));
  }
}

#else

std::vector<int16_t> AcrossWeights(const Taps& across) { return across.weights; }

int16_t Saturate16(int32_t v) { return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767)); }

void MakePairs(const uint8_t* line, uint32_t width, int16_t* pairs) {
  for (uint32_t j = 0; j < width; ++j, line += 4, pairs += 8)
    for (uint32_t c = 0; c < 4; ++c) pairs[2 * c] = line[c], pairs[2 * c + 1] = line[c + 4];
}

void FilterAcross(const int16_t* pairs, const Taps& across, const int16_t* weights, uint32_t positions, int16_t* to) {
  for (uint32_t x = 0; x < positions; ++x, to += 4) {
    const int16_t* from = pairs + std::size_t{across.first[x]} * 8;
    const int16_t* w = weights + std::size_t{x} * across.pairs * 2;
    int32_t sum[4] = {};
    for (uint32_t k = 0; k < across.pairs; ++k, from += 16, w += 2)
      for (uint32_t c = 0; c < 4; ++c) sum[c] += from[2 * c] * w[0] + from[2 * c + 1] * w[1];
    for (uint32_t c = 0; c < 4; ++c) to[c] = Saturate16((sum[c] + (1 << (kAcrossShift - 1))) >> kAcrossShift);
  }
}

void FilterDown(const int16_t* const* rows, const int16_t* w, uint32_t taps, std::size_t values, uint8_t* to) {
  for (std::size_t i = 0; i < values; i += 4, to += 4) {
    int32_t v[4];
    for (uint32_t c = 0; c < 4; ++c) {
      int32_t sum = 0;
      for (uint32_t k = 0; k < taps; ++k) sum += rows[k][i + c] * w[k];
      v[c] = std::clamp<int32_t>(Saturate16((sum + (1 << (kDownShift - 1))) >> kDownShift), 0, 255);
    }
    // Premultiplied: no colour may exceed its alpha after the overshoot.
    for (uint32_t c = 0; c < 4; ++c) to[c] = static_cast<uint8_t>(std::min(v[c], v[3]));
  }
}

#endif

bool Resample(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth, uint32_t outHeight,
              const WICRect& part, uint32_t outStride) {
  try {
    // Output pixels are filtered across two at a time, the last one of an
    // odd row with no taps.
    const auto partWidth = static_cast<uint32_t>(part.Width), partHeight = static_cast<uint32_t>(part.Height);
    const uint32_t positions = (partWidth + 1) & ~1u;
    const Taps across(width, outWidth, positions, static_cast<uint32_t>(part.X));
    const Taps down(height, outHeight, partHeight, static_cast<uint32_t>(part.Y));
    const std::vector<int16_t> acrossWeights = AcrossWeights(across);
    // Pixels to make pairs from: the row, then zeros for the taps past it.
    const uint32_t paired = ((width + 3) & ~3u) + across.pairs * 2;
    std::vector<uint8_t> line((std::size_t{paired} + 4) * 4, 0);
    std::vector<int16_t> pairs(std::size_t{paired} * 8, 0);
    // Rows filtered across, kept for as long as an output row may read them.
    const uint32_t ring = down.pairs * 2 + 1;
    const std::size_t values = std::size_t{positions} * 4;
    std::vector<int16_t> rows(values * ring);
    std::vector<const int16_t*> taps(down.pairs * 2);
    std::vector<uint8_t> row(values);
    uint32_t next = down.first[0];  // the next source row to filter across: none above the part's
    for (uint32_t y = 0; y < partHeight; ++y) {
      const uint32_t top = down.first[y], last = std::min(top + down.pairs * 2, height);
      for (; next < last; ++next) {
        if (!source.ReadRow(next, line.data())) return false;
        MakePairs(line.data(), width, pairs.data());
        FilterAcross(pairs.data(), across, acrossWeights.data(), positions, &rows[(next % ring) * values]);
      }
      // Taps past the last row have no weight: any row will do for them.
      for (uint32_t k = 0; k < taps.size(); ++k) taps[k] = &rows[(std::min(top + k, last - 1) % ring) * values];
      FilterDown(taps.data(), down.At(y), static_cast<uint32_t>(taps.size()), values, row.data());
      std::copy_n(row.data(), std::size_t{partWidth} * 4, out + std::size_t{y} * outStride);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

HRESULT CWICBitmapScaler::Initialize(IWICBitmapSource* source, UINT width, UINT height, const WICRect* part) {
  if (source == nullptr || width == 0 || height == 0) return E_INVALIDARG;
  const WICRect all{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  const WICRect made = part != nullptr ? *part : all;
  if (made.X < 0 || made.Y < 0 || made.Width <= 0 || made.Height <= 0 ||
      static_cast<uint64_t>(made.X) + made.Width > width || static_cast<uint64_t>(made.Y) + made.Height > height)
    return E_INVALIDARG;
  WICPixelFormatGUID format{};
  UINT sourceWidth = 0, sourceHeight = 0;
  if (FAILED(source->GetPixelFormat(&format)) || format != GUID_WICPixelFormat32bppPBGRA) return E_INVALIDARG;
  if (FAILED(source->GetSize(&sourceWidth, &sourceHeight)) || sourceWidth == 0 || sourceHeight == 0)
    return E_INVALIDARG;
  source->GetResolution(&m_dpiX, &m_dpiY);
  ComRef<IWICBitmapSource> pixels;
  BYTE* out = nullptr;
  UINT stride = 0;
  // Written in the memory the drawing bitmap will use: no copy, and no
  // second buffer of fresh pages to fault in.
  const auto partWidth = static_cast<UINT>(made.Width), partHeight = static_cast<UINT>(made.Height);
  const HRESULT buffer = CreatePixelBuffer(partWidth, partHeight, &pixels, &out, &stride);
  if (FAILED(buffer)) return buffer;
  try {
    SourceRows rows(source, sourceWidth, sourceHeight);
    if (!ResampleLanczosPart(rows, sourceWidth, sourceHeight, out, width, height, made, stride))
      return FAILED(rows.status()) ? rows.status() : E_OUTOFMEMORY;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_pixels = std::move(pixels);
  m_width = partWidth;
  m_height = partHeight;
  return S_OK;
}

HRESULT CWICBitmapScaler::QueryInterface(REFIID riid, void** out) {
  const HRESULT hr = CUnknownImpl::QueryInterface(riid, out);
  return hr == E_NOINTERFACE && m_pixels ? m_pixels->QueryInterface(riid, out) : hr;
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
  return m_pixels->CopyPixels(&r, stride, bufferSize, buffer);
}
