// The decoder's own settings: pages larger than the viewer keeps decoded
// scaled down (keeping their size as pages), the gate their full pixels
// pass through, pages turned as their Exif orientation says, and JPEG
// pages of every coding decoded at eighths of their size.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>
#include <QtGui/QImageReader>

#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "ImageSupport.h"
#include "QtImages.h"
#include "platform/wic_codecs.h"

using test::Ref;

namespace {

using test::Encode;

// The JPEG with an Exif block after its start marker, whose first IFD holds
// only the orientation (1 to 8).
std::string WithOrientation(const std::string& jpeg, int orientation) {
  std::string tiff("II*\0\x08\0\0\0", 8);
  auto put = [&](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) tiff += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  put(1, 2);                                     // one entry
  put(0x0112, 2), put(3, 2), put(1, 4);          // Orientation, SHORT, one value
  put(static_cast<uint32_t>(orientation), 2), put(0, 2);
  put(0, 4);                                     // no next IFD
  const std::string app1 = std::string("Exif\0\0", 6) + tiff;
  const std::size_t length = app1.size() + 2;
  std::string segment{'\xFF', '\xE1', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
  return jpeg.substr(0, 2) + segment + app1 + jpeg.substr(2);
}

// Counts what a decode asks of its gate.
class CountingGate final : public IWICDecodeGate {
 public:
  void Enter(uint64_t bytes) override {
    ++entered;
    held += bytes;
    asked = bytes;
  }
  void Leave(uint64_t bytes) override {
    ++left;
    held -= bytes;
  }
  int entered = 0, left = 0;
  uint64_t held = 0, asked = 0;
};

struct Decoded {
  HRESULT hr = E_FAIL;
  Ref<IWICBitmapFrameDecode> frame;
  GUID format{};
  UINT width = 0, height = 0;          // the pixels
  UINT pageWidth = 0, pageHeight = 0;  // the page
  HRESULT settingsAfterFrame = S_OK;
};

Decoded DecodeWith(const std::string& bytes, const WICFrameSettings& settings) {
  Decoded d;
  Ref<IWICBitmapDecoder> decoder;
  d.hr = test::OpenDecoder(bytes, decoder);
  if (FAILED(d.hr)) return d;
  Ref<IWICDecoderSettings> own;
  d.hr = decoder->QueryInterface(IID_IWICDecoderSettings, reinterpret_cast<void**>(&own));
  if (FAILED(d.hr)) return d;
  UINT w = 0, h = 0;
  EXPECT_EQ(own->GetPageSize(&w, &h), WINCODEC_ERR_WRONGSTATE) << "no page before the frame";
  own->SetFrameSettings(settings);
  d.hr = decoder->GetFrame(0, &d.frame);
  if (FAILED(d.hr)) return d;
  d.frame->GetPixelFormat(&d.format);
  d.frame->GetSize(&d.width, &d.height);
  own->GetPageSize(&d.pageWidth, &d.pageHeight);
  d.settingsAfterFrame = own->SetFrameSettings(settings);
  return d;
}

WICFrameSettings Bounded(uint64_t maxBytes, uint32_t maxSide = 0) {
  WICFrameSettings settings;
  settings.maxBytes = maxBytes;
  settings.maxSide = maxSide;
  return settings;
}

// One pixel of a frame as blue, green, red (alpha when it has one); a gray
// level three times over.
std::vector<int> PixelAt(IWICBitmapSource* frame, const GUID& format, int x, int y) {
  const bool gray = format == GUID_WICPixelFormat8bppGray;
  const UINT bytes = gray ? 1 : format == GUID_WICPixelFormat24bppBGR ? 3 : 4;
  BYTE px[4] = {};
  const WICRect one{x, y, 1, 1};
  EXPECT_EQ(frame->CopyPixels(&one, bytes, bytes, px), S_OK);
  if (gray) return {px[0], px[0], px[0]};
  return std::vector<int>(px, px + bytes);
}

void ExpectNear(const std::vector<int>& got, const std::vector<int>& want, int tolerance, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tolerance) << what << " byte " << i;
}

TEST(LargePages, AreDecodedScaledDownWithinTheBoundsAndKeepTheirSize) {
  // 400 x 200: the left half one colour, the right half another.
  QImage halves(400, 200, QImage::Format_ARGB32);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x) halves.setPixel(x, y, x < 200 ? qRgba(200, 40, 10, 255) : qRgba(10, 40, 200, 255));
  QImage mono(400, 200, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x) mono.setPixel(x, y, x < 200 ? 0 : 1);
  QImage seeThrough = halves;
  seeThrough.fill(qRgba(0, 0, 0, 0));
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x) seeThrough.setPixel(x, y, qRgba(255, 255, 255, 255));

  struct Case {
    const char* what;
    std::string bytes;
    GUID format;  // scaled down
    std::vector<int> left, right;
    int tolerance;
  };
  const std::vector<int> orange{10, 40, 200}, blue{200, 40, 10};
  const QImage rgb = halves.convertToFormat(QImage::Format_RGB32);
  const QImage gray = halves.convertToFormat(QImage::Format_Grayscale8);
  const int grayLeft = gray.constScanLine(0)[0], grayRight = gray.constScanLine(0)[399];
  const Case cases[] = {
      {"PNG", Encode(rgb, "PNG"), GUID_WICPixelFormat24bppBGR, orange, blue, 0},
      {"JPEG", Encode(rgb, "JPEG", 95), GUID_WICPixelFormat24bppBGR, orange, blue, 8},
      {"palette PNG", Encode(rgb.convertToFormat(QImage::Format_Indexed8), "PNG"), GUID_WICPixelFormat24bppBGR, orange,
       blue, 0},
      {"gray PNG", Encode(gray, "PNG"), GUID_WICPixelFormat8bppGray,
       std::vector<int>(3, grayLeft), std::vector<int>(3, grayRight), 0},
      {"1-bit PNG", Encode(mono, "PNG"), GUID_WICPixelFormat8bppGray, {0, 0, 0}, {255, 255, 255}, 0},
      // Straight alpha after the premultiplied averaging: the right half
      // stays fully transparent, the left opaque white.
      {"alpha PNG", Encode(seeThrough, "PNG"), GUID_WICPixelFormat32bppBGRA, {255, 255, 255, 255}, {0, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    // A quarter of each side: 100 x 50.
    const Decoded d = DecodeWith(c.bytes, Bounded(100 * 50 * 4));
    ASSERT_EQ(d.hr, S_OK) << c.what;
    EXPECT_EQ(d.width, 100u) << c.what;
    EXPECT_EQ(d.height, 50u) << c.what;
    EXPECT_EQ(d.pageWidth, 400u) << c.what << ": the page keeps its size";
    EXPECT_EQ(d.pageHeight, 200u) << c.what;
    EXPECT_EQ(d.format, c.format) << c.what;
    ExpectNear(PixelAt(d.frame.get(), d.format, 20, 25), c.left, c.tolerance, c.what);
    ExpectNear(PixelAt(d.frame.get(), d.format, 80, 25), c.right, c.tolerance, c.what);
    EXPECT_EQ(d.settingsAfterFrame, WINCODEC_ERR_WRONGSTATE) << c.what << ": the frame is decoded already";

    // The longer side alone bounds it just as well.
    const Decoded side = DecodeWith(c.bytes, Bounded(0, 50));
    EXPECT_EQ(side.width, 50u) << c.what;
    EXPECT_EQ(side.height, 25u) << c.what;
    EXPECT_EQ(side.pageWidth, 400u) << c.what;

    // Within the bounds, or with none, nothing changes.
    const Decoded whole = DecodeWith(c.bytes, Bounded(400 * 200 * 4, 400));
    EXPECT_EQ(whole.width, 400u) << c.what;
    EXPECT_EQ(whole.pageWidth, 400u) << c.what;
  }
  EXPECT_EQ(DecodeWith(cases[2].bytes, WICFrameSettings{}).format, GUID_WICPixelFormat8bppIndexed)
      << "a palette page that fits stays indexed";
}

TEST(LargePages, TheGateHoldsAPagesFullPixelsOnlyWhileItDecodes) {
  QImage card(800, 400, QImage::Format_RGB32);
  card.fill(qRgb(90, 120, 150));
  for (const char* kind : {"PNG", "JPEG"}) {
    CountingGate gate;
    WICFrameSettings whole;
    whole.gate = &gate;
    const std::string bytes = Encode(card, kind);
    ASSERT_EQ(DecodeWith(bytes, whole).hr, S_OK) << kind;
    EXPECT_EQ(gate.asked, 800u * 400 * 4) << kind << ": the full page, 32 bits a pixel";
    EXPECT_EQ(gate.entered, 1) << kind;
    EXPECT_EQ(gate.left, 1) << kind;
    EXPECT_EQ(gate.held, 0u) << kind;

    WICFrameSettings bounded = Bounded(100 * 50 * 4);
    bounded.gate = &gate;
    ASSERT_EQ(DecodeWith(bytes, bounded).hr, S_OK) << kind;
    EXPECT_EQ(gate.entered, 2) << kind;
    EXPECT_EQ(gate.held, 0u) << kind << ": left once the full page is let go";
    if (std::string(kind) == "JPEG") {
      EXPECT_LT(gate.asked, 800u * 400) << "JPEG decodes at an eighth straight away";
    } else {
      EXPECT_EQ(gate.asked, 800u * 400 * 4) << "PNG decodes whole first";
    }
  }
  // A progressive JPEG's coefficients, held whole at any scale, pass the
  // gate too: 100 x 50 blocks of luma and two 50 x 25 of chroma.
  {
    CountingGate gate;
    WICFrameSettings bounded = Bounded(100 * 50 * 4);
    bounded.gate = &gate;
    ASSERT_EQ(DecodeWith(test::EncodeProgressiveJpeg(card), bounded).hr, S_OK);
    EXPECT_GE(gate.asked, (100u * 50 + 2 * 50 * 25) * 128) << "its coefficients";
    EXPECT_EQ(gate.held, 0u);
  }
  // A failed decode leaves the gate too.
  CountingGate gate;
  WICFrameSettings settings;
  settings.gate = &gate;
  const std::string png = Encode(card, "PNG");
  EXPECT_TRUE(FAILED(DecodeWith(png.substr(0, png.find("IDAT") + 4), settings).hr));
  EXPECT_EQ(gate.entered, gate.left);
  EXPECT_EQ(gate.held, 0u);
}

TEST(LargePages, TheFitKeepsTheShapeWithinBothBounds) {
  struct Row {
    QSize page;
    uint64_t maxBytes;
    uint32_t maxSide;
    QSize fit;
  };
  const Row rows[] = {
      {{100, 100}, 0, 0, {100, 100}},
      {{100, 100}, 100 * 100 * 4, 100, {100, 100}},   // exactly at both bounds
      {{100, 100}, 50 * 50 * 4, 0, {50, 50}},
      {{400, 100}, 100 * 25 * 4, 0, {100, 25}},
      {{12000, 12000}, 128ull << 20, 16384, {5792, 5792}},
      {{16777222, 13}, 128ull << 20, 16384, {16384, 1}},  // never below one pixel
      {{800, 60000}, 128ull << 20, 16384, {218, 16384}},
      {{3, 3}, 3, 0, {1, 1}},
  };
  for (const Row& r : rows) {
    const QSize fit = FitPageSize(r.page, r.maxBytes, r.maxSide);
    EXPECT_EQ(fit, r.fit) << r.page.width() << " x " << r.page.height();
    if (r.maxBytes >= 4) {
      EXPECT_LE(uint64_t(fit.width()) * fit.height() * 4, r.maxBytes);
    }
  }
}

TEST(LargePages, ScalingDownAveragesWhatEachNewPixelCovers) {
  // Three gray pixels into two: each new one covers one and a half.
  QImage row(3, 1, QImage::Format_Grayscale8);
  const uchar levels[3] = {0, 90, 180};
  std::memcpy(row.scanLine(0), levels, 3);
  const QImage two = ScaleDownPage(row, QSize(2, 1));
  ASSERT_EQ(two.format(), QImage::Format_Grayscale8);
  EXPECT_EQ(two.constScanLine(0)[0], 30);   // (0 + 90 / 2) / 1.5
  EXPECT_EQ(two.constScanLine(0)[1], 150);  // (90 / 2 + 180) / 1.5

  // A one-pixel checker of black and white is mid gray at half size, not a
  // pattern; its resolution halves with it.
  QImage checker(64, 64, QImage::Format_Mono);
  checker.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) checker.setPixel(x, y, (x + y) % 2);
  checker.setDotsPerMeterX(23622);
  checker.setDotsPerMeterY(23622);
  const QImage half = ScaleDownPage(checker, QSize(32, 32));
  ASSERT_EQ(half.format(), QImage::Format_Grayscale8);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_NEAR(half.constScanLine(y)[x], 128, 1) << x << ", " << y;
  EXPECT_EQ(half.dotsPerMeterX(), 11811);

  // Colours with alpha are averaged premultiplied: a transparent neighbour
  // adds no black.
  QImage pair(2, 1, QImage::Format_ARGB32);
  pair.setPixel(0, 0, qRgba(255, 0, 0, 255));
  pair.setPixel(1, 0, qRgba(0, 0, 0, 0));
  const QImage one = ScaleDownPage(pair, QSize(1, 1));
  ASSERT_EQ(one.format(), QImage::Format_ARGB32_Premultiplied);
  const QRgb straight = one.convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
  EXPECT_NEAR(qAlpha(straight), 128, 1);
  EXPECT_EQ(qRed(straight), 255);

  EXPECT_TRUE(ScaleDownPage(row, QSize(4, 1)).isNull()) << "only ever down";
  EXPECT_TRUE(ScaleDownPage(QImage(), QSize(1, 1)).isNull());
}

// ---- Exif orientation ----

// 16 x 8, four quadrants of four colours (plain enough for JPEG to keep).
QImage Quadrants() {
  QImage image(16, 8, QImage::Format_RGB32);
  const QRgb colours[4] = {qRgb(220, 30, 30), qRgb(30, 200, 30), qRgb(30, 30, 220), qRgb(230, 230, 40)};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) image.setPixel(x, y, colours[(y / 4) * 2 + x / 8]);
  return image;
}

std::vector<BYTE> Bgr(IWICBitmapSource* frame, UINT width, UINT height) {
  std::vector<BYTE> pixels(static_cast<std::size_t>(width) * height * 3);
  EXPECT_EQ(frame->CopyPixels(nullptr, width * 3, static_cast<UINT>(pixels.size()), pixels.data()), S_OK);
  return pixels;
}

std::vector<BYTE> Bgr(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
  std::vector<BYTE> pixels;
  for (int y = 0; y < rgb.height(); ++y)
    pixels.insert(pixels.end(), rgb.constScanLine(y), rgb.constScanLine(y) + rgb.width() * 3);
  return pixels;
}

QImage QtReads(const std::string& bytes, bool autoTransform) {
  QByteArray data = QByteArray::fromStdString(bytes);
  QBuffer buffer(&data);
  QImageReader reader(&buffer);
  reader.setAutoTransform(autoTransform);
  QImage image;
  reader.read(&image);
  return image;
}

TEST(ExifOrientation, EachOfTheEightTurnsAsQtsOwnReaderDoes) {
  const std::string jpeg = Encode(Quadrants(), "JPEG", 100);
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string tagged = WithOrientation(jpeg, orientation);
    const QImage upright = QtReads(tagged, true);
    ASSERT_FALSE(upright.isNull()) << orientation;
    ASSERT_EQ(upright.width(), orientation >= 5 ? 8 : 16) << orientation;

    const Decoded d = DecodeWith(tagged, WICFrameSettings{});
    ASSERT_EQ(d.hr, S_OK) << orientation;
    ASSERT_EQ(d.width, static_cast<UINT>(upright.width())) << orientation;
    ASSERT_EQ(d.height, static_cast<UINT>(upright.height())) << orientation;
    EXPECT_EQ(d.pageWidth, d.width) << orientation;
    EXPECT_EQ(d.pageHeight, d.height) << orientation;
    EXPECT_EQ(Bgr(d.frame.get(), d.width, d.height), Bgr(upright)) << orientation;

    WICFrameSettings asStored;
    asStored.orientation = WICExifOrientation::Ignore;
    const Decoded s = DecodeWith(tagged, asStored);
    ASSERT_EQ(s.width, 16u) << orientation;
    EXPECT_EQ(s.pageWidth, 16u) << orientation;
    EXPECT_EQ(Bgr(s.frame.get(), 16, 8), Bgr(QtReads(tagged, false))) << orientation;
  }
}

TEST(ExifOrientation, AScaledDownPageIsTurnedAndTellsItsTurnedSize) {
  // Stored 800 x 400 with the left half red, turned a quarter clockwise: the
  // page is 400 x 800 and red on top.
  QImage stored(800, 400, QImage::Format_RGB32);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 800; ++x) stored.setPixel(x, y, x < 400 ? qRgb(230, 20, 20) : qRgb(20, 20, 230));
  const Decoded d = DecodeWith(WithOrientation(Encode(stored, "JPEG", 95), 6), Bounded(100 * 200 * 4));
  ASSERT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.pageWidth, 400u);
  EXPECT_EQ(d.pageHeight, 800u);
  EXPECT_EQ(d.width, 100u);
  EXPECT_EQ(d.height, 200u);
  ExpectNear(PixelAt(d.frame.get(), d.format, 50, 20), {20, 20, 230}, 10, "top");
  ExpectNear(PixelAt(d.frame.get(), d.format, 50, 180), {230, 20, 20}, 10, "bottom");
}

// How a test JPEG is written, through libjpeg's own compressor.
struct JpegCoding {
  J_COLOR_SPACE stored = JCS_YCbCr;  // JCS_CMYK and JCS_YCCK take Adobe's inverted inks
  bool progressive = false;
  bool arithmetic = false;
  unsigned restartRows = 0;
};

// An 80 x 40 JPEG: the left half `left`, the right half `right` (RGB), as
// gray levels when stored gray, as inks under a black of `black` when CMYK.
std::string WriteJpeg(const JpegCoding& coding, QRgb left, QRgb right, int black = 0) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  const bool inks = coding.stored == JCS_CMYK || coding.stored == JCS_YCCK;
  const int components = coding.stored == JCS_GRAYSCALE ? 1 : inks ? 4 : 3;
  info.image_width = 80;
  info.image_height = 40;
  info.input_components = components;
  info.in_color_space = coding.stored == JCS_GRAYSCALE ? JCS_GRAYSCALE : inks ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, coding.stored);
  jpeg_set_quality(&info, 95, TRUE);
  if (coding.progressive) jpeg_simple_progression(&info);
  info.arith_code = coding.arithmetic ? TRUE : FALSE;
  info.restart_in_rows = static_cast<int>(coding.restartRows);
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(80 * static_cast<std::size_t>(components));
  for (int x = 0; x < 80; ++x) {
    const QRgb c = x < 40 ? left : right;
    JSAMPLE* p = &row[static_cast<std::size_t>(x * components)];
    if (components == 1) {
      p[0] = static_cast<JSAMPLE>(qGray(c));
    } else {
      p[0] = static_cast<JSAMPLE>(qRed(c)), p[1] = static_cast<JSAMPLE>(qGreen(c)), p[2] = static_cast<JSAMPLE>(qBlue(c));
      if (inks) p[3] = static_cast<JSAMPLE>(255 - black);
    }
  }
  for (int y = 0; y < 40; ++y) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  jpeg_destroy_compress(&info);
  std::free(out);
  return bytes;
}

// An 80 x 40 page drawn at 3/8, 5/8 and whole: decoded to exactly that
// size, telling its own size, in `format`, its left and right halves
// within `tolerance` of `left` and `right`.
void ExpectHalvesAtEachEighth(const std::string& bytes, const GUID& format, const std::vector<int>& left,
                              const std::vector<int>& right, int tolerance, const std::string& kind) {
  for (const UINT eighths : {3u, 5u, 8u}) {
    const std::string what = kind + " at " + std::to_string(eighths) + "/8";
    WICFrameSettings settings;
    settings.drawnAt = [eighths](UINT, UINT, UINT* w, UINT* h) { *w = 10 * eighths, *h = 5 * eighths; };
    const Decoded d = DecodeWith(bytes, settings);
    ASSERT_EQ(d.hr, S_OK) << what;
    EXPECT_EQ(d.width, 10 * eighths) << what;
    EXPECT_EQ(d.height, 5 * eighths) << what;
    EXPECT_EQ(d.pageWidth, 80u) << what;
    EXPECT_EQ(d.format, format) << what;
    ExpectNear(PixelAt(d.frame.get(), d.format, static_cast<int>(d.width / 5), static_cast<int>(d.height / 2)), left,
               tolerance, what + " left");
    ExpectNear(PixelAt(d.frame.get(), d.format, static_cast<int>(d.width * 4 / 5), static_cast<int>(d.height / 2)),
               right, tolerance, what + " right");
  }
}

TEST(JpegCodings, DecodeAtEachEighthInTheKeptFormat) {
  const QRgb orange = qRgb(200, 40, 10), blue = qRgb(10, 40, 200);
  const struct {
    const char* what;
    JpegCoding coding;
    int black;
    GUID format;
    std::vector<int> left, right;  // blue, green, red
  } rows[] = {
      {"baseline", {}, 0, GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
      {"progressive", {.progressive = true}, 0, GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
      {"arithmetic", {.arithmetic = true}, 0, GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
      {"progressive arithmetic", {.progressive = true, .arithmetic = true}, 0, GUID_WICPixelFormat24bppBGR,
       {10, 40, 200}, {200, 40, 10}},
      {"a restart every row", {.restartRows = 1}, 0, GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
      {"gray", {.stored = JCS_GRAYSCALE}, 0, GUID_WICPixelFormat8bppGray, std::vector<int>(3, qGray(orange)),
       std::vector<int>(3, qGray(blue))},
      {"CMYK", {.stored = JCS_CMYK}, 0, GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
      {"CMYK under half black", {.stored = JCS_CMYK}, 128, GUID_WICPixelFormat24bppBGR, {5, 20, 100}, {100, 20, 5}},
      {"YCCK", {.stored = JCS_YCCK}, 0, GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
  };
  for (const auto& r : rows) {
    const std::string bytes = WriteJpeg(r.coding, orange, blue, r.black);
    ExpectHalvesAtEachEighth(bytes, r.format, r.left, r.right, 6, r.what);
  }
}

TEST(WebpPages, DecodeAtTheEighthsDrawnInTheFormatQtGives) {
  // 80 x 40: orange on the left, blue on the right; the alpha page's right
  // half half seen through.
  QImage opaque(80, 40, QImage::Format_RGB32), seeThrough(80, 40, QImage::Format_ARGB32);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x) {
      opaque.setPixel(x, y, x < 40 ? qRgb(200, 40, 10) : qRgb(10, 40, 200));
      seeThrough.setPixel(x, y, x < 40 ? qRgba(200, 40, 10, 255) : qRgba(10, 40, 200, 128));
    }
  const struct {
    const char* what;
    std::string bytes;
    GUID format;
    std::vector<int> left, right;
  } rows[] = {
      {"lossy", Encode(opaque, "WEBP", 95), GUID_WICPixelFormat24bppBGR, {10, 40, 200}, {200, 40, 10}},
      {"lossless with alpha", Encode(seeThrough, "WEBP", 100), GUID_WICPixelFormat32bppBGRA, {10, 40, 200, 255},
       {200, 40, 10, 128}},
  };
  for (const auto& r : rows) {
    ExpectHalvesAtEachEighth(r.bytes, r.format, r.left, r.right, 8, r.what);
  }
  // Cut short, it fails as Qt's reader has it, drawn small or not.
  const std::string cut = rows[0].bytes.substr(0, rows[0].bytes.size() / 2);
  WICFrameSettings small;
  small.drawnAt = [](UINT, UINT, UINT* w, UINT* h) { *w = 30, *h = 15; };
  EXPECT_EQ(DecodeWith(cut, small).hr, DecodeWith(cut, WICFrameSettings{}).hr);
}

}  // namespace
