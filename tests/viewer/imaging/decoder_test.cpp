// The decode chain from a file's bytes to 32-bit premultiplied pixels, with
// and without false colour, turned as the Exif orientation says or not, and
// pages too large to keep decoded smaller, over files in memory.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "QtImages.h"
#include "MemoryFileSystem.h"
#include "TestSupport.h"
#include "platform/qt_image.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/MemoryFile.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

std::string Encode(const QImage& image, const char* format) { return test::Encode(image, format, 95); }

std::string Png(const QImage& image) { return Encode(image, "PNG"); }

// A JPEG tagged with an Exif orientation (1 to 8): an APP1 block after the
// start marker whose first IFD holds the orientation alone.
std::string TaggedJpeg(const QImage& image, int orientation) {
  const std::string jpeg = Encode(image, "JPEG");
  std::string app1("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
  app1 += static_cast<char>(orientation);
  app1 += std::string(7, '\0');  // the value's padding, and no next IFD
  const std::size_t length = app1.size() + 2;
  return jpeg.substr(0, 2) + std::string{'\xFF', '\xE1', static_cast<char>(length >> 8), static_cast<char>(length)} +
         app1 + jpeg.substr(2);
}

ComRef<IFile> File(std::string bytes) {
  ComRef<IFile> file;
  file.Set(new test::MemoryFile(std::make_shared<const std::string>(std::move(bytes))));
  return file;
}

// A pixel as blue, green, red, alpha.
std::vector<BYTE> PixelAt(IWICBitmapSource* source, int x, int y) {
  WICPixelFormatGUID format{};
  source->GetPixelFormat(&format);
  EXPECT_EQ(format, GUID_WICPixelFormat32bppPBGRA);
  std::vector<BYTE> px(4);
  WICRect one{x, y, 1, 1};
  EXPECT_EQ(source->CopyPixels(&one, 4, 4, px.data()), S_OK);
  return px;
}

std::vector<BYTE> FirstPixel(IWICBitmapSource* source) { return PixelAt(source, 0, 0); }

std::pair<UINT, UINT> SizeOf(IWICBitmapSource* source) {
  UINT w = 0, h = 0;
  EXPECT_EQ(source->GetSize(&w, &h), S_OK);
  return {w, h};
}

void ExpectNear(const std::vector<BYTE>& got, const std::vector<BYTE>& want, int tolerance, const char* what) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tolerance) << what << " byte " << i;
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
  for (const std::string& bytes : {std::string(), std::string("not a picture"), png.substr(0, png.find("IDAT") + 4)}) {
    ComRef<IWICBitmapSource> pixels;
    EXPECT_EQ(DecodeImage(File(bytes).get(), Colorizing::On, pixels), 1) << bytes.size();
    EXPECT_FALSE(pixels);
  }
  ComRef<IWICBitmapSource> pixels;
  EXPECT_EQ(DecodeImage(nullptr, Colorizing::Off, pixels), 1);
}

// A file cut short decodes as far as it goes and says so; a whole one says
// nothing, however its bytes end; an archive item that failed its check
// passes its reason on, picture whole or not.
TEST(DecodeChain, APageNotWholeStillDecodesAndSaysWhy) {
  QImage page(120, 160, QImage::Format_RGB32);
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) page.setPixel(x, y, qRgb(x * 2, (x ^ y) & 0xFF, y));
  const std::string jpeg = Encode(page, "JPEG"), png = Png(page);
  const std::string progressive = test::EncodeProgressiveJpeg(page);
  // Scan data overwritten with stuffed 0xFF bytes: ones throughout, which
  // no Huffman code is.
  std::string corrupt = jpeg;
  for (std::size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 80; i += 2) corrupt[i] = '\xFF', corrupt[i + 1] = 0;
  test::TempDir tmp;
  ASSERT_EQ(std::system(("/usr/bin/convert -size 120x160 gradient:red-blue '" + (tmp / "p.gif") + "'").c_str()), 0);
  std::ifstream in(tmp / "p.gif", std::ios::binary);
  const std::string gif((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(gif.size(), 100u);

  const struct {
    const char* what;
    std::string bytes;
    const char* archiveSays;  // the item's reason, when its bytes come from an archive that failed them
    const char* damage;       // a word of the reason, or none: whole
  } cases[] = {
      {"JPEG", jpeg, nullptr, nullptr},
      {"JPEG with bytes after its end", jpeg + std::string(300, '\0'), nullptr, nullptr},
      {"progressive JPEG", progressive, nullptr, nullptr},
      {"PNG", png, nullptr, nullptr},
      {"GIF", gif, nullptr, nullptr},
      {"JPEG cut short", jpeg.substr(0, jpeg.size() * 2 / 3), nullptr, "JPEG"},
      {"JPEG corrupt", corrupt, nullptr, "JPEG data is corrupt (Corrupt JPEG data"},
      {"progressive JPEG cut short", progressive.substr(0, progressive.size() * 2 / 3), nullptr, "JPEG"},
      {"PNG cut short", png.substr(0, png.size() * 2 / 3), nullptr, "PNG"},
      {"GIF cut short", gif.substr(0, gif.size() * 2 / 3), nullptr, "GIF"},
      {"whole JPEG from an item failing its CRC", jpeg, "its data fails its CRC check", "CRC"},
      {"JPEG cut short from an archive cut short", jpeg.substr(0, jpeg.size() / 2), "its data ends early", "ends early"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ComRef<IFile> file;
    if (c.archiveSays != nullptr)
      ASSERT_EQ(HandOutShared(std::make_shared<std::vector<BYTE>>(c.bytes.begin(), c.bytes.end()), &file,
                              AsciiToUtf16(c.archiveSays)),
                0);
    else
      file = File(c.bytes);
    ComRef<IWICBitmapSource> pixels;
    ASSERT_EQ(DecodeImage(file.get(), Colorizing::Off, pixels), 0);
    EXPECT_EQ(SizeOf(pixels.get()), std::make_pair(120u, 160u));
    const std::string damage = Utf16ToUtf8(PageDamageOf(pixels.get()));
    if (c.damage == nullptr)
      EXPECT_EQ(damage, "");
    else
      EXPECT_NE(damage.find(c.damage), std::string::npos) << damage;
    // What arrived shows: the top of the page is the page's.
    if (std::string(c.what).find("GIF") == std::string::npos) {
      const QRgb want = page.pixel(60, 2);
      ExpectNear(PixelAt(pixels.get(), 60, 2),
                 {static_cast<BYTE>(qBlue(want)), static_cast<BYTE>(qGreen(want)), static_cast<BYTE>(qRed(want)), 255},
                 16, c.what);
    }
    // The mark travels with the pixels, converted or scaled down alike.
    if (c.damage != nullptr) {
      DecodeOptions smaller;
      smaller.maxSide = 40;
      ComRef<IWICBitmapSource> small;
      ASSERT_EQ(DecodeImage(file.get(), smaller, small), 0);
      EXPECT_EQ(PageSizeOf(small.get()).width, 120u);
      EXPECT_EQ(Utf16ToUtf8(PageDamageOf(small.get())), damage);
    }
  }
}

TEST(DecodeChain, APhoneScanTaggedAsTurnedStandsUpright) {
  // Stored 64 wide and 32 high, its left half red: tagged "turn a quarter
  // clockwise" (orientation 6), it stands 32 wide and 64 high, red on top.
  QImage stored(64, 32, QImage::Format_RGB32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) stored.setPixel(x, y, x < 32 ? qRgb(230, 20, 20) : qRgb(20, 20, 230));
  const std::string tagged = TaggedJpeg(stored, 6);
  const std::vector<BYTE> red{20, 20, 230, 255}, blue{230, 20, 20, 255};

  ComRef<IWICBitmapSource> pixels;
  ASSERT_EQ(DecodeImage(File(tagged).get(), DecodeOptions{}, pixels), 0);
  EXPECT_EQ(SizeOf(pixels.get()), (std::pair<UINT, UINT>{32, 64}));
  EXPECT_EQ(PageSizeOf(pixels.get()).width, 32u);
  ExpectNear(PixelAt(pixels.get(), 16, 8), red, 12, "top");
  ExpectNear(PixelAt(pixels.get(), 16, 56), blue, 12, "bottom");

  // Switched off, the page is as stored.
  DecodeOptions asStored;
  asStored.orientation = ExifOrientation::Ignored;
  ASSERT_EQ(DecodeImage(File(tagged).get(), asStored, pixels), 0);
  EXPECT_EQ(SizeOf(pixels.get()), (std::pair<UINT, UINT>{64, 32}));
  ExpectNear(PixelAt(pixels.get(), 8, 16), red, 12, "left");
  ExpectNear(PixelAt(pixels.get(), 56, 16), blue, 12, "right");
}

TEST(DecodeChain, APageTooLargeToKeepIsDecodedSmallerAndTellsItsOwnSize) {
  for (int level = 0; level < 256; ++level) g_colorTable[level] = 0xFF000000u | static_cast<uint32_t>(level);
  // Black on the left, white on the right: the stretch leaves both.
  QImage gray(400, 200, QImage::Format_Grayscale8);
  for (int y = 0; y < 200; ++y) std::memset(gray.scanLine(y), 0, 200), std::memset(gray.scanLine(y) + 200, 255, 200);
  DecodeOptions options;
  options.budgetBytes = 100 * 50 * 4;
  for (const Colorizing colorizing : {Colorizing::Off, Colorizing::On}) {
    options.colorizing = colorizing;
    ComRef<IWICBitmapSource> pixels;
    ASSERT_EQ(DecodeImage(File(Png(gray)).get(), options, pixels), 0);
    EXPECT_EQ(SizeOf(pixels.get()), (std::pair<UINT, UINT>{100, 50}));
    const D2D1_SIZE_U page = PageSizeOf(pixels.get());
    EXPECT_EQ(page.width, 400u);
    EXPECT_EQ(page.height, 200u);
    // Through the palette the level lands in blue alone.
    const bool colorized = colorizing == Colorizing::On;
    ExpectNear(PixelAt(pixels.get(), 20, 25), {0, 0, 0, 255}, 0, "black");
    ExpectNear(PixelAt(pixels.get(), 80, 25), colorized ? std::vector<BYTE>{255, 0, 0, 255} : std::vector<BYTE>(4, 255),
               0, "white");

    // What the pixels offer besides stays theirs: a drawing bitmap shares
    // their buffer instead of copying it.
    QImage shared;
    EXPECT_EQ(QtImageOf(pixels.get(), &shared), colorizing == Colorizing::Off);
  }
  // A page that fits is its own size, and no size is no page.
  ComRef<IWICBitmapSource> small;
  ASSERT_EQ(DecodeImage(File(Png(gray)).get(), Colorizing::Off, small), 0);
  EXPECT_EQ(PageSizeOf(small.get()).width, 400u);
  EXPECT_EQ(PageSizeOf(nullptr).width, 0u);
}

// A long strip is bounded by its pixels, not its sides: 800 x 20000 keeps
// every pixel, and so its width.
TEST(DecodeChain, ALongStripKeepsItsWidth) {
  QImage strip(800, 20000, QImage::Format_Grayscale8);
  strip.fill(128);
  ComRef<IWICBitmapSource> pixels;
  ASSERT_EQ(DecodeImage(File(Png(strip)).get(), DecodeOptions{}, pixels), 0);
  EXPECT_EQ(SizeOf(pixels.get()), (std::pair<UINT, UINT>{800, 20000}));
}

}  // namespace
