// The viewer's page classes over the platform's decoder and converter:
// a page's pixels loaded from a decoded frame, and the colorizer's output
// converted on to the library's RGBA.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <cstring>

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

}  // namespace
