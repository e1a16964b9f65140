// The page scaler: flat stays flat, screentone becomes flat gray instead of
// moiré, premultiplied pixels stay valid, sizes of one pixel work, and a
// page thousands of times wider or taller than drawn shrinks with little
// memory.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>

#include <cstring>

#include "platform/wincodec.h"
#include "viewer/imaging/WICBitmapScaler.h"

namespace {

// Packed pixels that answer any rectangle, as the platform's converter does.
class Pixels final : public CUnknownImpl<IWICBitmapSource> {
 public:
  Pixels(const GUID& format, UINT width, UINT height, UINT bytesPerPixel, std::vector<BYTE> pixels)
      : m_format(format), m_width(width), m_height(height), m_bpp(bytesPerPixel), m_pixels(std::move(pixels)) {}
  HRESULT GetSize(UINT* w, UINT* h) override {
    *w = m_width, *h = m_height;
    return S_OK;
  }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override {
    *format = m_format;
    return S_OK;
  }
  HRESULT GetResolution(double* x, double* y) override {
    *x = *y = 96;
    return S_OK;
  }
  HRESULT CopyPalette(IWICPalette*) override { return E_NOTIMPL; }
  uint64_t largestCopy = 0;  // bytes of the largest rectangle asked for
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT, BYTE* buffer) override {
    const WICRect r = rect != nullptr ? *rect : WICRect{0, 0, static_cast<int32_t>(m_width), static_cast<int32_t>(m_height)};
    largestCopy = std::max<uint64_t>(largestCopy, uint64_t(r.Width) * r.Height * m_bpp);
    for (int32_t y = 0; y < r.Height; ++y)
      std::memcpy(buffer + static_cast<std::size_t>(y) * stride,
                  &m_pixels[(static_cast<std::size_t>(r.Y + y) * m_width + r.X) * m_bpp], static_cast<std::size_t>(r.Width) * m_bpp);
    return S_OK;
  }

 private:
  GUID m_format;
  UINT m_width, m_height, m_bpp;
  std::vector<BYTE> m_pixels;
};

// A 32bppPBGRA source from a function of (x, y) giving gray levels.
ComRef<Pixels> Pattern(UINT w, UINT h, const std::function<BYTE(UINT, UINT)>& level, BYTE alpha = 255) {
  std::vector<BYTE> pixels(static_cast<std::size_t>(w) * h * 4);
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x) {
      BYTE* p = &pixels[(static_cast<std::size_t>(y) * w + x) * 4];
      const BYTE v = static_cast<BYTE>(level(x, y) * alpha / 255);
      p[0] = p[1] = p[2] = v;
      p[3] = alpha;
    }
  ComRef<Pixels> source;
  source.Set(new Pixels(GUID_WICPixelFormat32bppPBGRA, w, h, 4, std::move(pixels)));
  return source;
}

std::vector<BYTE> Scale(IWICBitmapSource* source, UINT w, UINT h) {
  ComRef<CWICBitmapScaler> scaler;
  scaler.Set(new CWICBitmapScaler);
  EXPECT_EQ(scaler->Initialize(source, w, h), S_OK);
  std::vector<BYTE> out(static_cast<std::size_t>(w) * h * 4);
  EXPECT_EQ(scaler->CopyPixels(nullptr, w * 4, static_cast<UINT>(out.size()), out.data()), S_OK);
  return out;
}

// Mean and standard deviation of the green channel in the middle half.
std::pair<double, double> MiddleStats(const std::vector<BYTE>& px, UINT w, UINT h) {
  double sum = 0, squares = 0, n = 0;
  for (UINT y = h / 4; y < 3 * h / 4; ++y)
    for (UINT x = w / 4; x < 3 * w / 4; ++x) {
      const double v = px[(static_cast<std::size_t>(y) * w + x) * 4 + 1];
      sum += v, squares += v * v, ++n;
    }
  const double mean = sum / n;
  return {mean, std::sqrt(std::max(0.0, squares / n - mean * mean))};
}

TEST(Scaler, FlatStaysFlat) {
  auto flat = Pattern(300, 200, [](UINT, UINT) { return BYTE{77}; });
  for (auto [w, h] : {std::pair<UINT, UINT>{100, 67}, {900, 600}, {1, 1}, {300, 1}}) {
    const auto out = Scale(flat.get(), w, h);
    for (std::size_t i = 0; i < out.size(); i += 4) ASSERT_EQ(out[i + 1], 77) << w << "x" << h << " at " << i / 4;
  }
}

TEST(Scaler, ScreentoneBecomesFlatGray) {
  // A one-pixel checker and a fine 45-degree halftone, shrunk by 3.125 (a
  // painter's bilinear draw leaves them patterned).
  auto checker = Pattern(1600, 2400, [](UINT x, UINT y) { return BYTE((x + y) % 2 ? 255 : 0); });
  auto [mean, deviation] = MiddleStats(Scale(checker.get(), 512, 768), 512, 768);
  EXPECT_NEAR(mean, 127.5, 2);
  EXPECT_LE(deviation, 2.0);
  auto halftone = Pattern(1600, 2400, [](UINT x, UINT y) {
    // Dots on a 45-degree lattice that repeats exactly in whole pixels.
    const double u = (x + y) % 4 + 0.5, v = (x + 4000 - y) % 4 + 0.5;
    return BYTE(std::hypot(u - 2, v - 2) < 1.3 ? 0 : 255);
  });
  std::tie(mean, deviation) = MiddleStats(Scale(halftone.get(), 512, 768), 512, 768);
  EXPECT_LE(deviation, 2.0);
}

TEST(Scaler, PremultipliedPixelsStayValidThroughTheOvershoot) {
  // Hard edges ring under a Lanczos filter; no colour may pass its alpha.
  auto edges = Pattern(40, 40, [](UINT x, UINT) { return BYTE(x % 8 < 4 ? 255 : 0); }, 128);
  const auto out = Scale(edges.get(), 97, 97);
  for (std::size_t i = 0; i < out.size(); i += 4)
    for (int c = 0; c < 3; ++c) ASSERT_LE(out[i + c], out[i + 3]) << i / 4;
}

TEST(Scaler, RefusesWhatItCannotScale) {
  ComRef<CWICBitmapScaler> scaler;
  scaler.Set(new CWICBitmapScaler);
  auto page = Pattern(4, 4, [](UINT, UINT) { return BYTE{1}; });
  EXPECT_EQ(scaler->Initialize(page.get(), 0, 5), E_INVALIDARG);
  EXPECT_EQ(scaler->Initialize(nullptr, 5, 5), E_INVALIDARG);
  ComRef<IWICBitmapSource> gray;
  gray.Set(new Pixels(GUID_WICPixelFormat8bppGray, 2, 2, 1, {1, 2, 3, 4}));
  EXPECT_EQ(scaler->Initialize(gray.get(), 1, 1), E_INVALIDARG);
  ASSERT_EQ(scaler->Initialize(page.get(), 3, 2), S_OK);
  BYTE px[4];
  const WICRect outside{2, 1, 2, 1};
  EXPECT_EQ(scaler->CopyPixels(&outside, 8, 8, px), E_FAIL);
}

TEST(Scaler, AFarShrinkIsAveragedFirstAndReadsInStripsOfAFewMegabytes) {
  // 1.2 million pixels wide and two high, black then white, drawn 100 wide.
  const ComRef<Pixels> wide = Pattern(1200000, 2, [](UINT x, UINT) { return x < 600000 ? 0 : 255; });
  const std::vector<BYTE> row = Scale(wide.get(), 100, 1);
  for (UINT x = 0; x < 47; ++x) ASSERT_LE(row[x * 4 + 1], 1) << x;
  for (UINT x = 53; x < 100; ++x) ASSERT_GE(row[x * 4 + 1], 254) << x;
  EXPECT_EQ(wide->largestCopy, 1200000u * 4) << "one row at a time: a row alone is past 4 MiB";

  // 100003 rows, black then white, drawn 10 high: the last block of rows is
  // narrower than the others.
  const ComRef<Pixels> tall = Pattern(3, 100003, [](UINT, UINT y) { return y < 50001 ? 0 : 255; });
  const std::vector<BYTE> column = Scale(tall.get(), 1, 10);
  for (UINT y = 0; y < 2; ++y) EXPECT_LE(column[y * 4 + 1], 1) << y;
  for (UINT y = 8; y < 10; ++y) EXPECT_GE(column[y * 4 + 1], 254) << y;
  EXPECT_LE(tall->largestCopy, 32u * 3 * 4) << "strips of 32 rows";
}

// Premultiplied pixels from a seed, rows handed out once each and in order.
class NoiseRows final : public RowSource {
 public:
  NoiseRows(uint32_t w, uint32_t h) : width(w), pixels(std::size_t{w} * h * 4) {
    uint32_t state = w * 7919u + h;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
      state = state * 1664525u + 1013904223u;
      const BYTE alpha = (state >> 8) % 3 ? 255 : BYTE(state >> 16);  // mostly opaque, some hard edges
      for (int c = 0; c < 3; ++c) pixels[i + c] = BYTE(((state >> (c * 8)) & 255) * alpha / 255);
      pixels[i + 3] = alpha;
    }
  }
  bool ReadRow(uint32_t y, uint8_t* row) override {
    EXPECT_EQ(y, next++) << "rows once each, in order";
    std::memcpy(row, &pixels[std::size_t{y} * width * 4], std::size_t{width} * 4);
    return true;
  }
  uint32_t width, next = 0;
  std::vector<BYTE> pixels;
};

// The filter in double precision, one output pixel at a time.
std::vector<double> Weights(uint32_t from, uint32_t to, uint32_t i, int64_t& lo) {
  const double scale = double(from) / to, widen = std::max(scale, 1.0), centre = (i + 0.5) * scale - 0.5;
  auto lanczos = [](double x) {
    auto sinc = [](double v) { return std::abs(v) < 1e-9 ? 1.0 : std::sin(M_PI * v) / (M_PI * v); };
    return std::abs(x) >= 3 ? 0.0 : sinc(x) * sinc(x / 3);
  };
  lo = std::max<int64_t>(int64_t(std::ceil(centre - 3 * widen)), 0);
  const int64_t hi = std::min<int64_t>(int64_t(std::floor(centre + 3 * widen)), from - 1);
  std::vector<double> w;
  for (int64_t k = lo; k <= hi; ++k) w.push_back(lanczos((k - centre) / widen));
  const double sum = std::accumulate(w.begin(), w.end(), 0.0);
  for (double& v : w) v /= sum;
  return w;
}

TEST(Scaler, StaysWithinOneLevelOfExactArithmetic) {
  const struct { uint32_t w, h, outW, outH; } cases[] = {
      {37, 23, 101, 67}, {300, 200, 97, 41}, {40, 300, 131, 70}, {1, 50, 1, 17},
      {50, 1, 203, 1}, {64, 64, 64, 64}, {8, 5, 1, 1}, {3, 2, 1, 40},
  };
  for (const auto& c : cases) {
    NoiseRows source(c.w, c.h);
    const uint32_t stride = c.outW * 4 + 1;  // a byte past each row that must stay as it was
    std::vector<BYTE> out(std::size_t{stride} * c.outH, 0xAB);
    ASSERT_TRUE(ResampleLanczos(source, c.w, c.h, out.data(), c.outW, c.outH, stride));
    EXPECT_EQ(out.back(), 0xAB) << "nothing written past a row";
    for (uint32_t y = 0; y < c.outH; ++y)
      for (uint32_t x = 0; x < c.outW; ++x) {
        int64_t top, left;
        const auto down = Weights(c.h, c.outH, y, top), across = Weights(c.w, c.outW, x, left);
        double v[4] = {};
        for (std::size_t j = 0; j < down.size(); ++j)
          for (std::size_t i = 0; i < across.size(); ++i)
            for (int ch = 0; ch < 4; ++ch)
              v[ch] += down[j] * across[i] * source.pixels[((top + j) * c.w + left + i) * 4 + ch];
        const double alpha = std::clamp(std::floor(v[3] + 0.5), 0.0, 255.0);
        for (int ch = 0; ch < 4; ++ch)
          ASSERT_NEAR(out[std::size_t{y} * stride + x * 4 + ch],
                      std::min(std::clamp(std::floor(v[ch] + 0.5), 0.0, 255.0), alpha), 1)
              << c.w << "x" << c.h << " to " << c.outW << "x" << c.outH << " at " << x << "," << y << " channel " << ch;
      }
  }
}

}  // namespace

// Rows read in order from wherever a part begins; the first one read.
class RowsFrom final : public RowSource {
 public:
  explicit RowsFrom(const NoiseRows& all) : m_all(all) {}
  bool ReadRow(uint32_t y, uint8_t* row) override {
    EXPECT_TRUE(first < 0 || static_cast<int64_t>(y) == last + 1) << "rows once each, in order";
    if (first < 0) first = y;
    last = y;
    std::memcpy(row, &m_all.pixels[std::size_t{y} * m_all.width * 4], std::size_t{m_all.width} * 4);
    return true;
  }
  int64_t first = -1, last = -1;

 private:
  const NoiseRows& m_all;
};

TEST(Scaler, APartIsThatPartOfTheWhole) {
  const struct {
    uint32_t w, h, outW, outH;
    WICRect part;
    int64_t firstRowAtLeast;  // rows above the part's filter are not read
  } cases[] = {
      {40, 300, 80, 2400, {0, 1024, 80, 512}, 120},      // a band of a tall page enlarged
      {40, 300, 80, 2400, {17, 2300, 33, 100}, 280},     // a corner, odd width
      {300, 600, 200, 400, {0, 200, 200, 200}, 290},     // shrunk
      {400, 800, 40, 80, {5, 40, 30, 40}, 360},          // shrunk so far the rows are averaged first
  };
  for (const auto& c : cases) {
    NoiseRows whole(c.w, c.h);
    std::vector<BYTE> all(std::size_t{c.outW} * c.outH * 4);
    ASSERT_TRUE(ResampleLanczos(whole, c.w, c.h, all.data(), c.outW, c.outH, c.outW * 4));
    RowsFrom rows(whole);
    const uint32_t stride = static_cast<uint32_t>(c.part.Width) * 4;
    std::vector<BYTE> part(std::size_t{stride} * c.part.Height);
    ASSERT_TRUE(ResampleLanczosPart(rows, c.w, c.h, part.data(), c.outW, c.outH, c.part, stride));
    EXPECT_GE(rows.first, c.firstRowAtLeast);
    for (int32_t y = 0; y < c.part.Height; ++y)
      ASSERT_EQ(0, std::memcmp(&part[std::size_t(y) * stride],
                               &all[(std::size_t(c.part.Y + y) * c.outW + c.part.X) * 4], stride))
          << c.outW << "x" << c.outH << " row " << y;
  }
}
