// The viewer's page classes over the platform's decoder and converter:
// a page's pixels loaded from a decoded frame, gray AVIF, JPEG XL and HEIF
// pages colorized as a gray PNG is, and the colorizer's output converted on
// to the library's RGBA.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <cstring>

#define VELMORA_PAGE_ENCODERS
#include "ImageSupport.h"
#include "viewer/imaging/WICBitmapSource.h"
#include "viewer/imaging/WICFormatConverter.h"

using test::Ref;

namespace {

std::string EncodePng(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "PNG"));
  return bytes.toStdString();
}

TEST(Pipeline, PageLoadsFromADecodedFrame) {
  QImage rgb(16, 16, QImage::Format_RGB32);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) rgb.setPixel(x, y, qRgb(x * 37 % 256, y * 53 % 256, (x + y) * 11 % 256));
  Ref<IWICBitmapFrameDecode> frame;
  ASSERT_EQ(test::Decode(EncodePng(rgb), &frame), S_OK);
  Ref<CWICBitmapSource> page;
  HandOut(new CWICBitmapSource, IID_IWICBitmapSource, reinterpret_cast<void**>(&page));
  ASSERT_EQ(page->LoadPixels(frame.get()), 0);
  BYTE px[3];
  WICRect at{5, 7, 1, 1};
  ASSERT_EQ(page->CopyPixels(&at, 3, 3, px), S_OK);
  const QRgb c = rgb.pixel(5, 7);
  EXPECT_EQ(px[0], qBlue(c));
  EXPECT_EQ(px[2], qRed(c));
}

TEST(Pipeline, ColorizedPagesConvertToTheLibrarysRgba) {
  auto gray = new test::ArraySource(GUID_WICPixelFormat8bppGray, 1, 1, 1, {0});
  Ref<IWICBitmapSource> grayPage;
  HandOut(gray, IID_IWICBitmapSource, reinterpret_cast<void**>(&grayPage));
  Ref<CWICFormatConverter> colorizer;
  HandOut(new CWICFormatConverter, IID_IWICFormatConverter, reinterpret_cast<void**>(&colorizer));
  ASSERT_EQ(colorizer->Initialize(grayPage.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                  WICBitmapPaletteTypeMedianCut),
            S_OK);
  const uint32_t saved = g_colorTable[0];
  const BYTE orange[4] = {0x10, 0x80, 0xF0, 0xFF};  // blue, green, red, alpha
  std::memcpy(&g_colorTable[0], orange, 4);

  Ref<IWICImagingFactory> factory;
  ASSERT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  Ref<IWICFormatConverter> rgba;
  ASSERT_EQ(factory->CreateFormatConverter(&rgba), S_OK);
  ASSERT_EQ(rgba->Initialize(colorizer.get(), GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0,
                             WICBitmapPaletteTypeMedianCut),
            S_OK);
  BYTE px[4] = {};
  ASSERT_EQ(rgba->CopyPixels(nullptr, 4, 4, px), S_OK);
  EXPECT_EQ(std::vector<BYTE>(px, px + 4), (std::vector<BYTE>{0xF0, 0x80, 0x10, 0xFF}));
  g_colorTable[0] = saved;
}

// The colorizing path of a page: load, classify, convert, stretch, and the
// colorizer's 32-bit output. Empty when the page is not 8-bit gray by then.
struct Colorized {
  int32_t classify = -1, toGray = -1, stretch = -1;
  std::vector<BYTE> stretched;  // the gray levels after StretchLevels
  std::vector<BYTE> bgra;       // the colorizer's pixels
};

Colorized Colorize(const std::string& file, UINT w, UINT h) {
  Colorized out;
  Ref<IWICBitmapFrameDecode> frame;
  EXPECT_EQ(test::Decode(file, &frame), S_OK);
  if (!frame) return out;
  Ref<CWICBitmapSource> page;
  HandOut(new CWICBitmapSource, IID_IWICBitmapSource, reinterpret_cast<void**>(&page));
  EXPECT_EQ(page->LoadPixels(frame.get()), 0);
  out.classify = page->Classify();
  out.toGray = page->ConvertToGray();
  out.stretch = page->StretchLevels();
  WICPixelFormatGUID format{};
  page->GetPixelFormat(&format);
  if (format != GUID_WICPixelFormat8bppGray) return out;
  out.stretched.resize(w * h);
  EXPECT_EQ(page->CopyPixels(nullptr, w, w * h, out.stretched.data()), S_OK);
  Ref<CWICFormatConverter> colorizer;
  HandOut(new CWICFormatConverter, IID_IWICFormatConverter, reinterpret_cast<void**>(&colorizer));
  EXPECT_EQ(colorizer->Initialize(page.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                  WICBitmapPaletteTypeMedianCut),
            S_OK);
  out.bgra.resize(4 * w * h);
  EXPECT_EQ(colorizer->CopyPixels(nullptr, 4 * w, 4 * w * h, out.bgra.data()), S_OK);
  return out;
}

int MaxDifference(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
  int worst = a.size() == b.size() ? 0 : 999;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

TEST(Pipeline, GrayAvifJxlAndHeifPagesAreColorizedAsAGrayPngIs) {
  // A ramp as the palette, so that a colour tells its level: blue = level.
  uint32_t saved[256];
  std::memcpy(saved, g_colorTable, sizeof saved);
  for (uint32_t k = 0; k < 256; ++k) g_colorTable[k] = 0xFF000000u | (255 - k) << 16 | k << 8 | k;

  constexpr UINT w = 48, h = 32;
  QImage gray(w, h, QImage::Format_Grayscale8);
  for (UINT y = 0; y < h; ++y)
    for (UINT x = 0; x < w; ++x) gray.scanLine(static_cast<int>(y))[x] = static_cast<uchar>(60 + 2 * x + y);
  const Colorized png = Colorize(EncodePng(gray), w, h);
  // Natively gray: nothing to classify or convert, the levels stretched.
  ASSERT_EQ(png.classify, 2);
  ASSERT_EQ(png.toGray, 1);
  ASSERT_EQ(png.stretch, 0);
  ASSERT_FALSE(png.bgra.empty());

  // AVIF and JPEG XL are written losslessly: the very same output. HEIF
  // loses a little (and the stretch widens it by up to 255 / 160).
  const std::pair<const char*, std::string> pages[] = {
      {"AVIF", test::EncodeAvif({gray})}, {"JPEG XL", test::EncodeJxl({gray})}, {"HEIF", test::EncodeHeif(gray)}};
  for (const auto& [kind, file] : pages) {
    const Colorized page = Colorize(file, w, h);
    EXPECT_EQ(page.classify, 2) << kind;
    EXPECT_EQ(page.toGray, 1) << kind;
    EXPECT_EQ(page.stretch, 0) << kind;
    const int tolerance = std::string(kind) == "HEIF" ? 16 : 0;
    EXPECT_LE(MaxDifference(page.stretched, png.stretched), tolerance) << kind;
    EXPECT_LE(MaxDifference(page.bgra, png.bgra), tolerance) << kind;
  }
  std::memcpy(g_colorTable, saved, sizeof saved);
}

}  // namespace
