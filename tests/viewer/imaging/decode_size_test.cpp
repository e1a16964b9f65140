// Pages decoded at the size they are drawn at: which fraction a JPEG is
// decoded at, what the decoded page still tells of itself, and the colour
// check giving the same answer on a page decoded small as on the whole one.
#include <gtest/gtest.h>

#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <memory>
#include <string>

#include "MemoryFileSystem.h"
#include "QtImages.h"
#include "platform/debug.h"
#include "platform/wincodec.h"
#include "viewer/imaging/ImageDecoder.h"

namespace {

ComRef<IFile> File(std::string bytes) {
  ComRef<IFile> file;
  file.Set(new test::MemoryFile(std::make_shared<const std::string>(std::move(bytes))));
  return file;
}

// A JPEG tagged as turned a quarter (Exif orientation 6): stored wide, a page upright.
std::string TurnedJpeg(const QImage& image) {
  const std::string jpeg = test::Encode(image, "JPEG", 90);
  std::string app1("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
  const std::size_t length = app1.size() + 2;
  return jpeg.substr(0, 2) + std::string{'\xFF', '\xE1', static_cast<char>(length >> 8), static_cast<char>(length)} +
         app1 + jpeg.substr(2);
}

QImage Plain(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(qRgb(230, 220, 210));
  return image;
}

TEST(DecodeDenominator, LargestEighthThatStillCovers) {
  const struct {
    UINT w, h, drawnW, drawnH;
    WICShrinkOnDecode shrink;
    UINT expected;
  } rows[] = {
      {1600, 2400, 667, 1000, WICShrinkOnDecode::Eighths, 2},
      {1600, 2400, 400, 600, WICShrinkOnDecode::Eighths, 4},
      {1600, 2400, 401, 600, WICShrinkOnDecode::Eighths, 2},  // one side short at 1/4
      {1600, 2400, 400, 601, WICShrinkOnDecode::Eighths, 2},
      {1600, 2400, 200, 300, WICShrinkOnDecode::Eighths, 8},
      {1600, 2400, 20, 30, WICShrinkOnDecode::Eighths, 8},      // no finer than an eighth
      {1600, 2400, 801, 1000, WICShrinkOnDecode::Eighths, 1},
      {1600, 2400, 3200, 4800, WICShrinkOnDecode::Eighths, 1},  // drawn larger: every pixel
      {1601, 2401, 800, 1200, WICShrinkOnDecode::Eighths, 2},   // floor(1601 / 2) = 800 covers
      {1599, 2400, 800, 1000, WICShrinkOnDecode::Eighths, 1},   // floor(1599 / 2) = 799 does not
      {1600, 2400, 0, 0, WICShrinkOnDecode::Eighths, 1},        // nothing drawn: every pixel
      {1600, 2400, 200, 300, WICShrinkOnDecode::None, 1},       // PNG, WebP: whole
  };
  for (const auto& r : rows)
    EXPECT_EQ(DecodeDenominator(r.w, r.h, r.drawnW, r.drawnH, r.shrink), r.expected)
        << r.w << "x" << r.h << " drawn " << r.drawnW << "x" << r.drawnH;
}

TEST(DecodeToDraw, DecodesSmallYetTellsThePageItsOwnSize) {
  const std::string upright = test::Encode(Plain(1600, 2400), "JPEG", 90);
  const struct {
    const char* name;
    std::string bytes;
    D2D1_SIZE_U drawn;  // 0 x 0: no size given
    D2D1_SIZE_U decoded, page;
    bool toDraw;
  } rows[] = {
      {"JPEG fitted to 1000 rows", upright, {667, 1000}, {800, 1200}, {1600, 2400}, true},
      {"JPEG in a small window", upright, {190, 290}, {200, 300}, {1600, 2400}, true},
      {"JPEG drawn at full size", upright, {1600, 2400}, {1600, 2400}, {1600, 2400}, false},
      {"JPEG without a size", upright, {0, 0}, {1600, 2400}, {1600, 2400}, false},
      {"odd JPEG", test::Encode(Plain(1601, 2403), "JPEG", 90), {400, 600}, {400, 600}, {1601, 2403}, true},
      // Stored 2400 x 1600: the drawn size is the upright page's.
      {"turned JPEG", TurnedJpeg(Plain(2400, 1600)), {400, 600}, {400, 600}, {1600, 2400}, true},
      {"PNG", test::Encode(Plain(1600, 2400), "PNG"), {400, 600}, {1600, 2400}, {1600, 2400}, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    DecodeOptions options;
    D2D1_SIZE_U asked{};
    if (r.drawn.width > 0)
      options.drawnAt = [&](D2D1_SIZE_U page) {
        asked = page;
        return r.drawn;
      };
    ComRef<IWICBitmapSource> pixels;
    ASSERT_EQ(DecodeImage(File(r.bytes).get(), options, pixels), 0);
    UINT w = 0, h = 0;
    pixels->GetSize(&w, &h);
    EXPECT_EQ(w, r.decoded.width);
    EXPECT_EQ(h, r.decoded.height);
    const D2D1_SIZE_U page = PageSizeOf(pixels.get());
    EXPECT_EQ(page.width, r.page.width);
    EXPECT_EQ(page.height, r.page.height);
    if (r.toDraw) {
      EXPECT_EQ(asked.height, r.page.height) << "the drawn size asked for the page as it stands";
    }
    EXPECT_EQ(PageDecodedToDraw(pixels.get()), r.toDraw);
  }
}

// The colour check's pages (a gray page, cream paper, sepia ink, pale
// green, bluish, red squares over and under the spot bound, blue
// lettering), as JPEG, judged the same whether decoded whole or at a half
// or a quarter.
TEST(DecodeToDraw, ColourCheckJudgesASmallDecodeAsTheWholePage) {
  struct Captured {
    std::u16string text;
  } captured;
  SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<Captured*>(c)->text += t; }, &captured);
  const QColor gray(200, 200, 200), cream(240, 225, 200), red(208, 16, 16), blue(32, 64, 192);
  const struct {
    const char* name;
    QColor fill;
    QRect spot;
    QColor ink;
  } pages[] = {
      {"gray", gray, {}, {}},
      {"cream paper", cream, {}, {}},
      {"sepia ink on cream", cream, {100, 100, 400, 400}, QColor(95, 75, 60)},
      {"pale green", QColor(200, 230, 200), {}, {}},
      {"bluish", QColor(208, 216, 232), {}, {}},
      // Just over and just under the spot bound: 0.006 % of the page.
      {"red square of 28 px", gray, {1200, 1808, 28, 28}, red},
      {"red square of 26 px", gray, {1200, 1808, 26, 26}, red},
      {"red square of 24 px", gray, {1200, 1808, 24, 24}, red},
      {"red square of 22 px", gray, {1200, 1808, 22, 22}, red},
      {"blue lettering on cream", cream, {600, 3200, 80, 80}, blue},
  };
  auto judge = [&](const std::string& jpeg, UINT drawnHeight) {
    DecodeOptions options;
    options.colorizing = Colorizing::On;
    if (drawnHeight > 0)
      options.drawnAt = [drawnHeight](D2D1_SIZE_U) { return D2D1_SIZE_U{drawnHeight * 2 / 3, drawnHeight}; };
    ComRef<IWICBitmapSource> pixels;
    captured.text.clear();
    EXPECT_EQ(DecodeImage(File(jpeg).get(), options, pixels), 0);
    return captured.text.substr(0, captured.text.find(u' '));
  };
  for (const auto& page : pages) {
    QImage image(2400, 3600, QImage::Format_RGB32);
    image.fill(page.fill);
    if (!page.spot.isEmpty()) QPainter(&image).fillRect(page.spot, page.ink);
    const std::string jpeg = test::Encode(image, "JPEG", 90);
    const std::u16string whole = judge(jpeg, 0);
    EXPECT_EQ(judge(jpeg, 1800), whole) << page.name << " at a half";
    EXPECT_EQ(judge(jpeg, 900), whole) << page.name << " at a quarter";
  }
  SetDebugOutputSink(nullptr, nullptr);
}

}  // namespace
