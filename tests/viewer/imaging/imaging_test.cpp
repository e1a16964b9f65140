// The page analyses and the colorizing converter: the viewer's own
// arithmetic, fed from sources over byte arrays.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageSupport.h"
#include "platform/debug.h"
#include "viewer/imaging/WICBitmapSource.h"
#include "viewer/imaging/WICFormatConverter.h"

using test::ArraySource;
using test::Ref;

namespace {

// Captures the debug texts written while it lives.
class DebugCapture {
 public:
  DebugCapture() {
    SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<DebugCapture*>(c)->text += t; }, this);
  }
  ~DebugCapture() { SetDebugOutputSink(nullptr, nullptr); }
  std::u16string text;
};

struct Bgr {
  BYTE b, g, r;
};

// A page held by CWICBitmapSource, loaded from an array.
Ref<CWICBitmapSource> Page(const GUID& format, UINT w, UINT h, std::vector<BYTE> pixels) {
  Ref<CWICBitmapSource> page;
  HandOut(new CWICBitmapSource, IID_IWICBitmapSource, reinterpret_cast<void**>(&page));
  const UINT bpp = format == GUID_WICPixelFormat24bppBGR ? 3 : 1;
  Ref<IWICBitmapSource> source;
  HandOut(new ArraySource(format, w, h, bpp, std::move(pixels)), IID_IWICBitmapSource,
          reinterpret_cast<void**>(&source));
  EXPECT_EQ(page->LoadPixels(source.get()), 0);
  return page;
}

Ref<CWICBitmapSource> BgrPage(UINT w, UINT h, Bgr fill, const std::vector<std::pair<UINT, UINT>>& spots = {},
                               Bgr spot = {}) {
  std::vector<BYTE> pixels;
  for (UINT i = 0; i < w * h; ++i) pixels.insert(pixels.end(), {fill.b, fill.g, fill.r});
  for (auto [x, y] : spots) std::memcpy(&pixels[3 * (y * w + x)], &spot, 3);
  return Page(GUID_WICPixelFormat24bppBGR, w, h, std::move(pixels));
}

std::vector<BYTE> Pixels(IWICBitmapSource* source, UINT bytesPerPixel) {
  UINT w = 0, h = 0;
  source->GetSize(&w, &h);
  std::vector<BYTE> out(static_cast<std::size_t>(w) * h * bytesPerPixel);
  EXPECT_EQ(source->CopyPixels(nullptr, w * bytesPerPixel, static_cast<UINT>(out.size()), out.data()), S_OK);
  return out;
}

TEST(Classify, GrayPageIsMonochromeWithZeroPercent) {
  auto page = BgrPage(20, 20, {77, 77, 77});
  DebugCapture capture;
  EXPECT_EQ(page->Classify(), 0);
  EXPECT_EQ(capture.text, u"Monochrome Image   0.0\n");
}

TEST(Classify, SamplesEveryEighthPixelOfEveryEighthRow) {
  // 9 x 9: samples at (0,0), (8,0), (0,8), (8,8) only. Colour elsewhere is unseen.
  std::vector<std::pair<UINT, UINT>> offGrid;
  for (UINT y = 0; y < 9; ++y)
    for (UINT x = 0; x < 9; ++x)
      if (x % 8 != 0 || y % 8 != 0) offGrid.push_back({x, y});
  DebugCapture capture;
  // Off the grid a brown of paper's hue, short of spot colour's saturation.
  EXPECT_EQ(BgrPage(9, 9, {128, 128, 128}, offGrid, {40, 70, 150})->Classify(), 0);
  // One of the four samples coloured: 25 %.
  EXPECT_EQ(BgrPage(9, 9, {128, 128, 128}, {{8, 8}}, {0, 0, 255})->Classify(), 1);
  EXPECT_EQ(capture.text, u"Monochrome Image   0.0\nColor Image  25.0\n");
}

TEST(Classify, TwoPercentIsTheThreshold) {
  // 80 x 40 has 10 x 5 = 50 samples; the two colours are the documented ones.
  DebugCapture capture;
  EXPECT_EQ(BgrPage(80, 40, {200, 200, 200}, {{8, 16}}, {0, 0, 255})->Classify(), 0);
  EXPECT_EQ(BgrPage(80, 40, {200, 200, 200}, {{8, 16}, {72, 32}}, {255, 0, 0})->Classify(), 1);
  EXPECT_EQ(capture.text, u"Monochrome Image   2.0\nColor Image   4.0\n");
}

TEST(Classify, SlightTintIsNotColour) {
  // |t1| + |t2| for (B, G, R) = (100, 110, 120): t1 = 55 - (20.244 + 33.12) = 1.636,
  // t2 = 60 - 41.83 - 8.976 = 9.194: far below 25.5.
  DebugCapture capture;
  EXPECT_EQ(BgrPage(16, 16, {100, 110, 120})->Classify(), 0);
  // Pure green: t1 = 127.5, t2 = -20.808 -> coloured.
  EXPECT_EQ(BgrPage(16, 16, {0, 255, 0})->Classify(), 1);
}

// Pages the sparse count finds monochrome: spot colour in solid patches of
// a meaningful size, or a tint paper does not have, keep their colours;
// scattered or one-pixel-wide colour (noise, a misregistered scan) and
// paper's own hues do not.
TEST(Classify, SpotColourAndTintsThatPaperDoesNotHave) {
  auto square = [](UINT left, UINT top, UINT side) {
    std::vector<std::pair<UINT, UINT>> pixels;
    for (UINT y = top; y < top + side; ++y)
      for (UINT x = left; x < left + side; ++x) pixels.push_back({x, y});
    return pixels;
  };
  std::vector<std::pair<UINT, UINT>> fringes;  // one pixel wide, a third of the rows
  for (UINT y = 0; y < 1800; y += 3)
    for (UINT x = 1; x < 1200; x += 40) fringes.push_back({x, y});
  const Bgr gray{200, 200, 200}, cream{200, 225, 240}, red{16, 16, 208}, blue{192, 64, 32};
  const struct {
    const char* page;
    Bgr fill;
    std::vector<std::pair<UINT, UINT>> spots;
    Bgr spot;
    int32_t expected;
  } pages[] = {
      {"gray", gray, {}, {}, 0},
      {"cream paper", cream, {}, {}, 0},
      {"sepia ink on cream", cream, square(100, 100, 400), {60, 75, 95}, 0},
      {"pale green", {200, 230, 200}, {}, {}, 1},
      {"bluish", {232, 216, 208}, {}, {}, 1},
      {"red square of 14 px: over the bound", gray, square(600, 900, 14), red, 1},
      {"red square of 10 px: under it", gray, square(600, 900, 10), red, 0},
      {"blue lettering on cream", cream, square(300, 1600, 40), blue, 1},
      {"one-pixel fringes", gray, fringes, red, 0},
  };
  DebugCapture capture;
  for (const auto& page : pages)
    EXPECT_EQ(BgrPage(1200, 1800, page.fill, page.spots, page.spot)->Classify(), page.expected) << page.page;
}

// Told from the sampled rows alone, a colour page gets Classify's very
// line; a page Classify would look at further is left to it, unsaid.
TEST(Classify, ColourBySparseCountLeavesTheRestToClassify) {
  const Bgr gray{200, 200, 200}, red{16, 16, 208};
  std::vector<std::pair<UINT, UINT>> patch;  // solid red, off the sampled grid
  for (UINT i = 0; i < 36; ++i) patch.push_back({9 + i % 6, 9 + i / 6});
  const struct {
    Ref<CWICBitmapSource> pixels;
    bool told;
  } pages[] = {{BgrPage(9, 9, gray, {{8, 8}}, red), true},  // on the last row sampled
               {BgrPage(80, 40, gray, {{8, 16}}, red), false},  // 2 %: not over the threshold
               {BgrPage(24, 24, gray, patch, red), false}};  // spot colour the samples miss
  for (const auto& page : pages) {
    DebugCapture sparse;
    EXPECT_EQ(ColourBySparseCount(page.pixels.get()), page.told);
    DebugCapture classify;
    if (page.told) page.pixels->Classify();
    EXPECT_EQ(sparse.text, classify.text);
  }
}

TEST(Analyses, RefuseTheWrongFormatAndChangeNothing) {
  auto gray = Page(GUID_WICPixelFormat8bppGray, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  DebugCapture capture;
  EXPECT_EQ(gray->Classify(), 2);
  EXPECT_EQ(gray->ConvertToGray(), 1);
  EXPECT_EQ(capture.text, u"");
  EXPECT_EQ(Pixels(gray.get(), 1), (std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8}));

  auto bgr = BgrPage(2, 2, {1, 2, 3});
  EXPECT_EQ(bgr->StretchLevels(), 1);
  WICPixelFormatGUID format;
  bgr->GetPixelFormat(&format);
  EXPECT_EQ(format, GUID_WICPixelFormat24bppBGR);

  // A source in another format: only the format is taken.
  Ref<CWICBitmapSource> page;
  HandOut(new CWICBitmapSource, IID_IWICBitmapSource, reinterpret_cast<void**>(&page));
  Ref<IWICBitmapSource> rgba;
  HandOut(new ArraySource(GUID_WICPixelFormat32bppBGRA, 1, 1, 4, {1, 2, 3, 4}), IID_IWICBitmapSource,
          reinterpret_cast<void**>(&rgba));
  EXPECT_EQ(page->LoadPixels(rgba.get()), 1);
  page->GetPixelFormat(&format);
  EXPECT_EQ(format, GUID_WICPixelFormat32bppBGRA);
  UINT w = 9, h = 9;
  page->GetSize(&w, &h);
  EXPECT_EQ(w + h, 0u);
  EXPECT_EQ(static_cast<ArraySource*>(rgba.get())->copies, 0);
}

TEST(Analyses, APageTooLargeToHoldIsAFailedLoadNotACrash) {
  // 40000 x 40000 BGR would be 4.8 GB: more than a bitmap source's 32-bit
  // sizes can carry. The source is never asked for its pixels.
  Ref<CWICBitmapSource> page;
  HandOut(new CWICBitmapSource, IID_IWICBitmapSource, reinterpret_cast<void**>(&page));
  Ref<IWICBitmapSource> huge;
  HandOut(new ArraySource(GUID_WICPixelFormat24bppBGR, 40000, 40000, 3, {}), IID_IWICBitmapSource,
          reinterpret_cast<void**>(&huge));
  EXPECT_EQ(page->LoadPixels(huge.get()), 2);
  EXPECT_EQ(static_cast<ArraySource*>(huge.get())->copies, 0);
}

TEST(ConvertToGray, AveragesTheThreeBytesRoundingDown) {
  auto page = BgrPage(3, 2, {10, 20, 31});
  ASSERT_EQ(page->ConvertToGray(), 0);
  WICPixelFormatGUID format;
  page->GetPixelFormat(&format);
  EXPECT_EQ(format, GUID_WICPixelFormat8bppGray);
  EXPECT_EQ(Pixels(page.get(), 1), std::vector<BYTE>(6, 20));
  auto white = BgrPage(5, 1, {255, 255, 255});
  white->ConvertToGray();
  EXPECT_EQ(Pixels(white.get(), 1), std::vector<BYTE>(5, 255));
}

TEST(StretchLevels, ClampsTheLevelsTheDocumentedWay) {
  struct Case {
    BYTE fill;
    BYTE expected;
  } cases[] = {{255, 255}, {0, 0}, {128, 153}, {100, 108}, {20, 0}};
  // all white: low 32, high 255; all black: low 0, high 192; mid gray:
  // 255 * 96 / 160 = 153; 100: 255 * 68 / 160 = 108; 20: below low 20 -> 0.
  for (const Case& c : cases) {
    auto page = Page(GUID_WICPixelFormat8bppGray, 10, 10, std::vector<BYTE>(100, c.fill));
    ASSERT_EQ(page->StretchLevels(), 0);
    EXPECT_EQ(Pixels(page.get(), 1), std::vector<BYTE>(100, c.expected)) << int(c.fill);
  }
}

TEST(StretchLevels, TenthsOfTheHistogramSetBlackAndWhite) {
  // 100 pixels: 11 at level 10, 78 at 128, 11 at 240. T = 10: the running
  // sum passes 10 at level 10 (low = 10) and at 240 from above (high = 240).
  std::vector<BYTE> pixels(11, 10);
  pixels.insert(pixels.end(), 78, 128);
  pixels.insert(pixels.end(), 11, 240);
  auto page = Page(GUID_WICPixelFormat8bppGray, 25, 4, pixels);
  ASSERT_EQ(page->StretchLevels(), 0);
  auto out = Pixels(page.get(), 1);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[50], 255 * 118 / 230);
  EXPECT_EQ(out[99], 255);
}

TEST(BitmapSourceCopy, ClipsToTheImageAndNeverPassesTheBuffer) {
  auto page = BgrPage(4, 3, {1, 2, 3});
  std::vector<BYTE> buffer(64, 0xEE);
  // Whole image, buffer one byte short of the last pixel.
  const UINT need = 4 * 3 * 3;
  EXPECT_EQ(page->CopyPixels(nullptr, 12, need - 1, buffer.data()), E_FAIL);
  EXPECT_EQ(buffer[need - 6], 1);     // the last whole pixel before it was written
  EXPECT_EQ(buffer[need - 3], 0xEE);  // the pixel that did not fit was not started
  EXPECT_EQ(buffer[need - 1], 0xEE);

  // A rectangle reaching past the image copies what lies inside.
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  WICRect rect{3, 2, 5, 5};
  EXPECT_EQ(page->CopyPixels(&rect, 3, 3, buffer.data()), S_OK);
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(buffer[3], 0xEE);
  // Wholly outside: nothing, and success.
  WICRect outside{10, 10, 2, 2};
  EXPECT_EQ(page->CopyPixels(&outside, 6, 0, nullptr), S_OK);
  WICRect negative{-1, 0, 2, 2};
  EXPECT_EQ(page->CopyPixels(&negative, 6, 64, buffer.data()), E_INVALIDARG);
}

class Colorizer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(m_saved, g_colorTable, sizeof m_saved);
    std::vector<BYTE> identity(768);
    for (int i = 0; i < 768; ++i) identity[i] = static_cast<BYTE>(i % 256);
    ASSERT_TRUE(LoadColorTable(identity.data(), identity.size()));
  }
  void TearDown() override { std::memcpy(g_colorTable, m_saved, sizeof m_saved); }

  static Ref<CWICFormatConverter> Over(IWICBitmapSource* source) {
    Ref<CWICFormatConverter> converter;
    HandOut(new CWICFormatConverter, IID_IWICFormatConverter, reinterpret_cast<void**>(&converter));
    EXPECT_EQ(converter->Initialize(source, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                    WICBitmapPaletteTypeMedianCut),
              S_OK);
    return converter;
  }
  // The gray levels of BGRA output under the identity table.
  static std::vector<BYTE> Levels(const std::vector<BYTE>& bgra) {
    std::vector<BYTE> levels;
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
      EXPECT_EQ(bgra[i], bgra[i + 1]);
      EXPECT_EQ(bgra[i], bgra[i + 2]);
      EXPECT_EQ(bgra[i + 3], 255);
      levels.push_back(bgra[i]);
    }
    return levels;
  }

 private:
  uint32_t m_saved[256];
};

TEST_F(Colorizer, PaletteFileFillsTheTable) {
  std::vector<BYTE> palette(800, 0);
  palette[5] = 11;        // red of level 5
  palette[256 + 5] = 22;  // green
  palette[512 + 5] = 33;  // blue
  ASSERT_TRUE(LoadColorTable(palette.data(), palette.size()));
  BYTE entry[4];
  std::memcpy(entry, &g_colorTable[5], 4);
  EXPECT_EQ(entry[0], 33);
  EXPECT_EQ(entry[1], 22);
  EXPECT_EQ(entry[2], 11);
  EXPECT_EQ(entry[3], 255);
  EXPECT_FALSE(LoadColorTable(palette.data(), 767));
  std::memcpy(entry, &g_colorTable[5], 4);
  EXPECT_EQ(entry[0], 33) << "a short palette must leave the table alone";
}

TEST_F(Colorizer, FlatGrayComesOutAsTheSameGray) {
  auto page = Page(GUID_WICPixelFormat8bppGray, 5, 4, std::vector<BYTE>(20, 90));
  auto converter = Over(page.get());
  WICPixelFormatGUID format;
  ASSERT_EQ(converter->GetPixelFormat(&format), S_OK);
  EXPECT_EQ(format, GUID_WICPixelFormat32bppPBGRA);
  double dx, dy;
  ASSERT_EQ(converter->GetResolution(&dx, &dy), S_OK);
  EXPECT_EQ(dx, 300.0);
  EXPECT_EQ(Levels(Pixels(converter.get(), 4)), std::vector<BYTE>(20, 90));
}

TEST_F(Colorizer, SmoothsInsideAndLooksUpTheBorder) {
  auto page = Page(GUID_WICPixelFormat8bppGray, 3, 3, {0, 0, 0, 0, 200, 0, 0, 0, 0});
  EXPECT_EQ(Levels(Pixels(Over(page.get()).get(), 4)), (std::vector<BYTE>{0, 0, 0, 0, 100, 0, 0, 0, 0}));

  // Halves round up: 4 * 1 + 0 + 0 + 0 + 0 + 4 = 8 -> 1.
  auto small = Page(GUID_WICPixelFormat8bppGray, 3, 3, {0, 0, 0, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(Levels(Pixels(Over(small.get()).get(), 4))[4], 1);

  // One pixel wide or high: all border, looked up only.
  auto column = Page(GUID_WICPixelFormat8bppGray, 1, 4, {10, 200, 30, 40});
  EXPECT_EQ(Levels(Pixels(Over(column.get()).get(), 4)), (std::vector<BYTE>{10, 200, 30, 40}));
  auto row = Page(GUID_WICPixelFormat8bppGray, 4, 1, {10, 200, 30, 40});
  EXPECT_EQ(Levels(Pixels(Over(row.get()).get(), 4)), (std::vector<BYTE>{10, 200, 30, 40}));
}

TEST_F(Colorizer, OnePixelRectangleSeesItsRealNeighbours) {
  // 4 x 4, pixel (1, 2) = 80 with neighbours 40 (above), 0 (below), 8, 16.
  std::vector<BYTE> gray(16, 0);
  gray[2 * 4 + 1] = 80;
  gray[1 * 4 + 1] = 40;
  gray[2 * 4 + 0] = 8;
  gray[2 * 4 + 2] = 16;
  auto page = Page(GUID_WICPixelFormat8bppGray, 4, 4, gray);
  auto converter = Over(page.get());
  WICRect one{1, 2, 1, 1};
  BYTE out[4] = {};
  ASSERT_EQ(converter->CopyPixels(&one, 4, 4, out), S_OK);
  EXPECT_EQ(out[0], (4 * 80 + 40 + 0 + 8 + 16 + 4) >> 3);
}

TEST_F(Colorizer, RefusesWhatWouldWriteOutsideTheBuffer) {
  auto page = Page(GUID_WICPixelFormat8bppGray, 4, 3, std::vector<BYTE>(12, 7));
  auto converter = Over(page.get());
  std::vector<BYTE> buffer(64, 0xEE);
  EXPECT_EQ(converter->CopyPixels(nullptr, 16, 47, buffer.data()), E_FAIL);  // one byte short
  EXPECT_EQ(converter->CopyPixels(nullptr, 12, 64, buffer.data()), E_FAIL);  // stride below a row
  WICRect below{0, 2, 4, 2};
  EXPECT_EQ(converter->CopyPixels(&below, 16, 64, buffer.data()), E_FAIL);  // reaches past the last row
  WICRect right{3, 0, 2, 1};
  EXPECT_EQ(converter->CopyPixels(&right, 16, 64, buffer.data()), E_FAIL);
  EXPECT_EQ(buffer, std::vector<BYTE>(64, 0xEE)) << "nothing may be written when refusing";
  EXPECT_EQ(converter->CopyPixels(nullptr, 16, 48, buffer.data()), S_OK);
  EXPECT_EQ(buffer[48], 0xEE);
}

TEST_F(Colorizer, AcceptsGrayIntoPremultipliedBgraOnly) {
  Ref<CWICFormatConverter> converter;
  HandOut(new CWICFormatConverter, IID_IWICFormatConverter, reinterpret_cast<void**>(&converter));
  WICPixelFormatGUID format;
  UINT w, h;
  EXPECT_EQ(converter->GetPixelFormat(&format), E_FAIL);
  EXPECT_EQ(converter->GetSize(&w, &h), E_FAIL);
  EXPECT_EQ(converter->CopyPixels(nullptr, 0, 0, nullptr), E_FAIL);
  EXPECT_EQ(converter->CopyPalette(nullptr), E_FAIL);

  BOOL can = TRUE;
  converter->CanConvert(GUID_WICPixelFormat24bppBGR, GUID_WICPixelFormat32bppPBGRA, &can);
  EXPECT_FALSE(can);
  converter->CanConvert(GUID_WICPixelFormat8bppGray, GUID_WICPixelFormat32bppPBGRA, &can);
  EXPECT_TRUE(can);

  auto bgr = BgrPage(2, 2, {1, 2, 3});
  EXPECT_EQ(converter->Initialize(bgr.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                  WICBitmapPaletteTypeMedianCut),
            E_NOTIMPL);
  auto gray = Page(GUID_WICPixelFormat8bppGray, 2, 2, {1, 2, 3, 4});
  EXPECT_EQ(converter->Initialize(gray.get(), GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0,
                                  WICBitmapPaletteTypeMedianCut),
            E_NOTIMPL);
  EXPECT_EQ(test::RefCount(gray.get()), 1u);
  ASSERT_EQ(converter->Initialize(gray.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                  WICBitmapPaletteTypeMedianCut),
            S_OK);
  EXPECT_EQ(test::RefCount(gray.get()), 2u);
  // Answers as a bitmap source too, with the same pointer.
  void* asSource = nullptr;
  ASSERT_EQ(converter->QueryInterface(IID_IWICBitmapSource, &asSource), S_OK);
  EXPECT_EQ(asSource, static_cast<IWICFormatConverter*>(converter.get()));
  converter->Release();
  converter.Reset();
  EXPECT_EQ(test::RefCount(gray.get()), 1u) << "the converter releases its source";
}

}  // namespace
