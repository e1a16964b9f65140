// The page scaler: flat stays flat, screentone becomes flat gray instead of
// moiré, premultiplied pixels stay valid, sizes of one pixel work, and a
// page thousands of times wider or taller than drawn shrinks with little
// memory.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

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

}  // namespace
