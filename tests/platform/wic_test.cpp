// The imaging component on Qt: images written by Qt in every kind the
// viewer meets, decoded through factory, decoder and frame, and converted.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QColor>
#include <QtGui/QImage>
#include <QtGui/QImageReader>

#include <cstring>

#include "ImageSupport.h"
#include "QtImages.h"

using test::Ref;

namespace {

using test::Encode;

// What Qt itself decodes from the bytes, for lossy formats.
QImage QtDecode(const std::string& bytes) {
  QByteArray data = QByteArray::fromStdString(bytes);
  QBuffer buffer(&data);
  QImage image;
  QImageReader(&buffer).read(&image);
  return image;
}

// A test card: every pixel different, gradients in each channel.
QImage Card(int w, int h, QImage::Format format) {
  QImage image(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgba(x * 37 % 256, y * 53 % 256, (x + y) * 11 % 256, 255 - x * 7 % 200));
  return image.convertToFormat(format);
}

struct Frame {
  Ref<IWICBitmapFrameDecode> frame;
  GUID format{};
  UINT width = 0, height = 0;
};

Frame DecodeOk(const std::string& bytes) {
  Frame f;
  EXPECT_EQ(test::Decode(bytes, &f.frame), S_OK);
  if (f.frame) {
    f.frame->GetPixelFormat(&f.format);
    f.frame->GetSize(&f.width, &f.height);
  }
  return f;
}

std::vector<BYTE> CopyAll(IWICBitmapSource* source, UINT stride, UINT height) {
  std::vector<BYTE> out(static_cast<std::size_t>(stride) * height);
  EXPECT_EQ(source->CopyPixels(nullptr, stride, static_cast<UINT>(out.size()), out.data()), S_OK);
  return out;
}

TEST(Decode, GrayImagesAre8bppGray) {
  QImage gray = Card(33, 17, QImage::Format_Grayscale8);
  for (const char* kind : {"PNG", "TIFF"}) {
    Frame f = DecodeOk(Encode(gray, kind));
    EXPECT_EQ(f.format, GUID_WICPixelFormat8bppGray) << kind;
    ASSERT_EQ(f.width, 33u);
    ASSERT_EQ(f.height, 17u);
    auto pixels = CopyAll(f.frame.get(), 33, 17);
    for (int y = 0; y < 17; ++y)
      ASSERT_EQ(std::memcmp(&pixels[y * 33], gray.constScanLine(y), 33), 0) << kind << " row " << y;
  }
  const std::string jpeg = Encode(gray, "JPEG", 90);
  Frame f = DecodeOk(jpeg);
  EXPECT_EQ(f.format, GUID_WICPixelFormat8bppGray);
  QImage reference = QtDecode(jpeg);
  auto pixels = CopyAll(f.frame.get(), 33, 17);
  for (int y = 0; y < 17; ++y) ASSERT_EQ(std::memcmp(&pixels[y * 33], reference.constScanLine(y), 33), 0);
}

TEST(Decode, OpaqueColourIs24bppBgr) {
  QImage rgb = Card(21, 9, QImage::Format_RGB32);
  for (const char* kind : {"PNG", "BMP", "TIFF", "JPEG", "WEBP"}) {
    const std::string bytes = Encode(rgb, kind, 100);
    Frame f = DecodeOk(bytes);
    ASSERT_EQ(f.format, GUID_WICPixelFormat24bppBGR) << kind;
    const QImage expected = QtDecode(bytes).convertToFormat(QImage::Format_RGB32);
    // An odd stride with a spare byte: rows land exactly where asked.
    const UINT stride = 21 * 3 + 1;
    auto pixels = CopyAll(f.frame.get(), stride, 9);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) {
        const QRgb c = expected.pixel(x, y);
        const BYTE* p = &pixels[y * stride + 3 * x];
        ASSERT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{qBlue(c), qGreen(c), qRed(c)}))
            << kind << " at " << x << "," << y;
      }
  }
}

TEST(Decode, AlphaIs32bppBgraStraight) {
  QImage rgba = Card(12, 7, QImage::Format_ARGB32);
  Frame f = DecodeOk(Encode(rgba, "PNG"));
  ASSERT_EQ(f.format, GUID_WICPixelFormat32bppBGRA);
  auto pixels = CopyAll(f.frame.get(), 48, 7);
  for (int y = 0; y < 7; ++y) ASSERT_EQ(std::memcmp(&pixels[y * 48], rgba.constScanLine(y), 48), 0);
}

TEST(Decode, PalettesAreIndexedAndOneBitIsBlackWhite) {
  // Palette PNG, 8-bit BMP (even with a gray ramp) and GIF are indexed.
  QImage indexed = Card(10, 10, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8);
  for (const std::string& bytes : {Encode(indexed, "PNG"), Encode(Card(4, 4, QImage::Format_Grayscale8), "BMP")})
    EXPECT_EQ(DecodeOk(bytes).format, GUID_WICPixelFormat8bppIndexed);
  // Qt writes no GIF: a 2 x 1 one by hand, colours black and white.
  const unsigned char gif[] = {'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF,
                               ',', 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x0A, 0, ';'};
  Frame g0 = DecodeOk(std::string(reinterpret_cast<const char*>(gif), sizeof gif));
  EXPECT_EQ(g0.format, GUID_WICPixelFormat8bppIndexed);
  EXPECT_EQ(g0.width, 2u);

  // 1-bit: bit 1 is white, the first pixel of a row is the high bit.
  QImage mono(11, 3, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  mono.fill(0);
  mono.setPixel(0, 0, 1);
  mono.setPixel(9, 1, 1);
  Frame f = DecodeOk(Encode(mono, "PNG"));
  ASSERT_EQ(f.format, GUID_WICPixelFormatBlackWhite);
  auto bits = CopyAll(f.frame.get(), 2, 3);
  EXPECT_EQ(bits[0], 0x80);
  EXPECT_EQ(bits[3], 0x40);  // pixel 9 of row 1: byte 1, bit 6
  // A rectangle starting off a byte boundary is shifted to bit 7.
  WICRect rect{9, 1, 2, 1};
  BYTE one = 0;
  ASSERT_EQ(f.frame->CopyPixels(&rect, 1, 1, &one), S_OK);
  EXPECT_EQ(one, 0x80);

  // White-first tables are flipped so that 1 still means white.
  QImage inverted = mono;
  inverted.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  Frame g = DecodeOk(Encode(inverted, "BMP"));
  ASSERT_EQ(g.format, GUID_WICPixelFormatBlackWhite);
  EXPECT_EQ(CopyAll(g.frame.get(), 2, 3)[0], 0x7F);
}

TEST(Decode, SixteenBitImagesKeepTheirDepth) {
  QImage gray16(5, 2, QImage::Format_Grayscale16);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) reinterpret_cast<uint16_t*>(gray16.scanLine(y))[x] = static_cast<uint16_t>(x * 12345 + y);
  Frame f = DecodeOk(Encode(gray16, "PNG"));
  ASSERT_EQ(f.format, GUID_WICPixelFormat16bppGray);
  auto pixels = CopyAll(f.frame.get(), 10, 2);
  EXPECT_EQ(std::memcmp(pixels.data() + 10, gray16.constScanLine(1), 10), 0);

  QImage rgb16 = Card(4, 3, QImage::Format_RGBX64);
  Frame g = DecodeOk(Encode(rgb16, "PNG"));
  ASSERT_EQ(g.format, GUID_WICPixelFormat48bppRGB);
  auto deep = CopyAll(g.frame.get(), 24, 3);
  const uint16_t* first = reinterpret_cast<const uint16_t*>(rgb16.constScanLine(2)) + 4;  // pixel (1, 2)
  EXPECT_EQ(std::memcmp(&deep[2 * 24 + 6], first, 6), 0);
}

TEST(Decode, ReportsSizeAndResolution) {
  QImage image = Card(40, 30, QImage::Format_RGB32);
  image.setDotsPerMeterX(11811);  // 300 dpi
  image.setDotsPerMeterY(23622);  // 600 dpi
  Frame f = DecodeOk(Encode(image, "PNG"));
  double dx = 0, dy = 0;
  ASSERT_EQ(f.frame->GetResolution(&dx, &dy), S_OK);
  EXPECT_NEAR(dx, 300.0, 0.01);
  EXPECT_NEAR(dy, 600.0, 0.01);
  Frame plain = DecodeOk(Encode(Card(8, 8, QImage::Format_RGB32), "BMP"));
  plain.frame->GetResolution(&dx, &dy);
  EXPECT_NEAR(dx, 96.0, 0.01);
}

TEST(Decode, FrameCopyFollowsTheBitmapSourceRules) {
  Frame f = DecodeOk(Encode(Card(6, 4, QImage::Format_RGB32), "PNG"));
  std::vector<BYTE> buffer(100, 0xEE);
  EXPECT_EQ(f.frame->CopyPixels(nullptr, 18, 4 * 18 - 1, buffer.data()), E_FAIL);
  EXPECT_EQ(buffer[4 * 18 - 1], 0xEE);
  EXPECT_EQ(buffer[4 * 18 - 4], buffer[4 * 18 - 4]);
  WICRect outside{6, 0, 1, 1};
  EXPECT_EQ(f.frame->CopyPixels(&outside, 3, 3, buffer.data()), S_OK);
  WICRect negative{0, -1, 1, 1};
  EXPECT_EQ(f.frame->CopyPixels(&negative, 3, 3, buffer.data()), E_INVALIDARG);
}

TEST(Decode, BadFilesFailCleanly) {
  const std::string png = Encode(Card(64, 64, QImage::Format_RGB32), "PNG");
  const std::string jpeg = Encode(Card(64, 64, QImage::Format_RGB32), "JPEG", 80);

  // A PNG header declaring an absurd size (the IHDR CRC is not checked by
  // everyone, so make it right).
  auto pngWithSize = [&](uint32_t w, uint32_t h) {
    std::string bytes = png;
    auto put32 = [&](std::size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put32(16, w);
    put32(20, h);
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
      crc ^= static_cast<unsigned char>(bytes[i]);
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    put32(29, ~crc);
    return bytes;
  };

  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"zero bytes", ""},
      {"text", "This is not a picture, just words.\n"},
      {"PNG cut before its pixels", png.substr(0, png.find("IDAT") + 4)},
      {"PNG header only", png.substr(0, 40)},
      {"PNG of 100000 x 100000", pngWithSize(100000, 100000)},
      {"PNG of 16001 x 16001", pngWithSize(16001, 16001)},
      {"JPEG header only", jpeg.substr(0, 20)},
      {"BMP cut short", Encode(Card(64, 64, QImage::Format_RGB32), "BMP").substr(0, 64 * 64 * 3)},
  };
  for (const Case& c : cases) {
    Ref<IWICBitmapFrameDecode> frame;
    EXPECT_TRUE(FAILED(test::Decode(c.bytes, &frame))) << c.what;
    EXPECT_FALSE(frame) << c.what;
  }

  // A BMP whose last row lacks only its padding is whole.
  const std::string bmp = Encode(Card(63, 2, QImage::Format_RGB888), "BMP");
  Ref<IWICBitmapFrameDecode> unpadded;
  EXPECT_EQ(test::Decode(bmp.substr(0, bmp.size() - 3), &unpadded), S_OK);

  // A JPEG cut short still shows what arrived, as the platform would.
  Ref<IWICBitmapFrameDecode> partial;
  ASSERT_EQ(test::Decode(jpeg.substr(0, jpeg.size() * 2 / 3), &partial), S_OK);
  UINT w = 0, h = 0;
  partial->GetSize(&w, &h);
  EXPECT_EQ(w, 64u);
}

TEST(Decode, SixHundredDpiScansFitTheLimit) {
  // A 4960 x 7016 colour page is 139 MB as 32-bit pixels, past Qt's default.
  QImage scan(4960, 7016, QImage::Format_RGB32);
  scan.fill(qRgb(200, 190, 180));
  Frame f = DecodeOk(Encode(scan, "PNG"));
  EXPECT_EQ(f.width, 4960u);
  EXPECT_EQ(f.format, GUID_WICPixelFormat24bppBGR);
}

Ref<IWICFormatConverter> Converter(IWICBitmapSource* source, const GUID& to, HRESULT* hr = nullptr) {
  Ref<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(&factory));
  Ref<IWICFormatConverter> converter;
  factory->CreateFormatConverter(&converter);
  const HRESULT result =
      converter->Initialize(source, to, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeMedianCut);
  if (hr != nullptr) *hr = result;
  else EXPECT_EQ(result, S_OK);
  return converter;
}

TEST(Convert, EveryDecodedFormatBecomes32Bit) {
  QImage mono(9, 2, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  mono.fill(1);
  const std::pair<const char*, QImage> images[] = {
      {"gray", Card(9, 2, QImage::Format_Grayscale8)}, {"rgb", Card(9, 2, QImage::Format_RGB32)},
      {"argb", Card(9, 2, QImage::Format_ARGB32)},     {"indexed", Card(9, 2, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8)},
      {"mono", mono},                                  {"gray16", Card(9, 2, QImage::Format_Grayscale16)},
      {"rgb16", Card(9, 2, QImage::Format_RGBX64)}};
  for (const auto& [what, image] : images) {
    Frame f = DecodeOk(Encode(image, "PNG"));
    for (const GUID* to : {&GUID_WICPixelFormat32bppPBGRA, &GUID_WICPixelFormat32bppRGBA}) {
      auto converter = Converter(f.frame.get(), *to);
      WICPixelFormatGUID format;
      converter->GetPixelFormat(&format);
      EXPECT_EQ(format, *to);
      auto pixels = CopyAll(converter.get(), 36, 2);
      const QImage expected = image.convertToFormat(*to == GUID_WICPixelFormat32bppRGBA ? QImage::Format_RGBA8888
                                                                                      : QImage::Format_ARGB32_Premultiplied);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 9; ++x)
          for (int c = 0; c < 4; ++c)
            ASSERT_NEAR(pixels[y * 36 + 4 * x + c], expected.constScanLine(y)[4 * x + c], 1)
                << what << " to " << GuidToString(*to) << " at " << x << "," << y << " byte " << c;
    }
  }
}

TEST(Convert, ForeignSourcesConvertThroughTheirPixels) {
  // A foreign 24-bit BGR source into premultiplied BGRA.
  auto source = new test::ArraySource(GUID_WICPixelFormat24bppBGR, 2, 1, 3, {10, 20, 30, 40, 50, 60});
  Ref<IWICBitmapSource> page;
  HandOut(source, IID_IWICBitmapSource, reinterpret_cast<void**>(&page));
  auto converter = Converter(page.get(), GUID_WICPixelFormat32bppPBGRA);
  EXPECT_EQ(CopyAll(converter.get(), 8, 1), (std::vector<BYTE>{10, 20, 30, 255, 40, 50, 60, 255}));
  double dx = 0, dy = 0;
  converter->GetResolution(&dx, &dy);
  EXPECT_EQ(dy, 600.0);

  // A one-pixel rectangle of a converted image.
  WICRect second{1, 0, 1, 1};
  BYTE px[4];
  ASSERT_EQ(converter->CopyPixels(&second, 4, 4, px), S_OK);
  EXPECT_EQ(px[0], 40);

  HRESULT hr = S_OK;
  Converter(page.get(), GUID_WICPixelFormat24bppBGR, &hr);
  EXPECT_EQ(hr, WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT);
}

TEST(Factory, UnknownClassesAndSecondFrames) {
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(IID_IUnknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);

  Ref<IStream> stream;
  test::NewStream(Encode(Card(4, 4, QImage::Format_RGB32), "PNG"), stream);
  Ref<IWICImagingFactory> factory;
  ASSERT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  Ref<IWICBitmapDecoder> decoder;
  ASSERT_EQ(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder), S_OK);
  UINT count = 0;
  ASSERT_EQ(decoder->GetFrameCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Ref<IWICBitmapFrameDecode> second;
  EXPECT_EQ(decoder->GetFrame(1, &second), WINCODEC_ERR_FRAMEMISSING);
  // The frame answers as a plain bitmap source too.
  Ref<IWICBitmapFrameDecode> frame;
  ASSERT_EQ(decoder->GetFrame(0, &frame), S_OK);
  void* asSource = nullptr;
  ASSERT_EQ(frame->QueryInterface(IID_IWICBitmapSource, &asSource), S_OK);
  EXPECT_EQ(asSource, frame.get());
  frame->Release();
}

}  // namespace
