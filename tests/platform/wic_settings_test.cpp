// The decoder's own settings: pages larger than the viewer keeps decoded
// scaled down (keeping their size as pages), and the gate their full pixels
// pass through.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <cstring>

#include "ImageSupport.h"
#include "platform/wic_codecs.h"

using test::Ref;

namespace {

std::string Encode(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return bytes.toStdString();
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
  Ref<IStream> stream;
  test::NewStream(bytes, stream);
  Ref<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(&factory));
  Ref<IWICBitmapDecoder> decoder;
  d.hr = factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder);
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
  // A failed decode leaves the gate too.
  CountingGate gate;
  WICFrameSettings settings;
  settings.gate = &gate;
  const std::string png = Encode(card, "PNG");
  EXPECT_TRUE(FAILED(DecodeWith(png.substr(0, png.size() / 2), settings).hr));
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

}  // namespace
