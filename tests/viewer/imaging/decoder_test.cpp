// The decode chain from a file's bytes to 32-bit premultiplied pixels, with
// and without false colour, over files in memory.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <cstring>
#include <memory>

#include "MemoryFileSystem.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

std::string Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "PNG"));
  return bytes.toStdString();
}

ComRef<IFile> File(std::string bytes) {
  ComRef<IFile> file;
  file.Set(new test::MemoryFile(std::make_shared<const std::string>(std::move(bytes))));
  return file;
}

// The first pixel as blue, green, red, alpha.
std::vector<BYTE> FirstPixel(IWICBitmapSource* source) {
  WICPixelFormatGUID format{};
  source->GetPixelFormat(&format);
  EXPECT_EQ(format, GUID_WICPixelFormat32bppPBGRA);
  std::vector<BYTE> px(4);
  WICRect one{0, 0, 1, 1};
  EXPECT_EQ(source->CopyPixels(&one, 4, 4, px.data()), S_OK);
  return px;
}

TEST(DecodeChain, GrayPagesTakeThePaletteOnlyWhenAsked) {
  for (int level = 0; level < 256; ++level) {
    const BYTE bgra[4] = {static_cast<BYTE>(255 - level), 0, static_cast<BYTE>(level), 255};
    std::memcpy(&g_colorTable[level], bgra, 4);
  }
  QImage gray(8, 8, QImage::Format_Grayscale8);
  gray.fill(0);
  gray.setPixel(7, 7, qRgb(255, 255, 255));  // black and white: the stretch leaves both ends
  ComRef<IWICBitmapSource> pixels;
  ASSERT_EQ(DecodeImage(File(Png(gray)).get(), Colorizing::On, pixels), 0);
  EXPECT_EQ(FirstPixel(pixels.get()), (std::vector<BYTE>{255, 0, 0, 255}));
  ASSERT_EQ(DecodeImage(File(Png(gray)).get(), Colorizing::Off, pixels), 0);
  EXPECT_EQ(FirstPixel(pixels.get()), (std::vector<BYTE>{0, 0, 0, 255}));

  // A colour page keeps its colours either way.
  QImage colour(8, 8, QImage::Format_RGB32);
  colour.fill(qRgb(200, 40, 10));
  ASSERT_EQ(DecodeImage(File(Png(colour)).get(), Colorizing::On, pixels), 0);
  EXPECT_EQ(FirstPixel(pixels.get()), (std::vector<BYTE>{10, 40, 200, 255}));
}

TEST(DecodeChain, WhatIsNoImageFailsAndLeavesTheOutputAlone) {
  QImage page(8, 8, QImage::Format_RGB32);
  page.fill(qRgb(1, 2, 3));
  const std::string png = Png(page);
  for (const std::string& bytes : {std::string(), std::string("not a picture"), png.substr(0, png.size() / 2)}) {
    ComRef<IWICBitmapSource> pixels;
    EXPECT_EQ(DecodeImage(File(bytes).get(), Colorizing::On, pixels), 1) << bytes.size();
    EXPECT_FALSE(pixels);
  }
  ComRef<IWICBitmapSource> pixels;
  EXPECT_EQ(DecodeImage(nullptr, Colorizing::Off, pixels), 1);
}

}  // namespace
