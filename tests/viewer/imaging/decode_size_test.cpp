// Pages decoded for the size they are drawn at: the fraction chosen, the
// page's own size kept, the colour check's answer unchanged.
#include <gtest/gtest.h>

#include <QtGui/QPainter>

#include <memory>
#include <string>

#include "MemoryFileSystem.h"
#include "QtImages.h"
#include "platform/debug.h"
#include "viewer/imaging/ImageDecoder.h"

namespace {

// `image` decoded as the loader does, for `drawn` (0 x 0: every pixel).
ComRef<IWICBitmapSource> Decode(std::string bytes, D2D1_SIZE_U drawn, Colorizing colorizing = Colorizing::Off) {
  ComRef<IFile> file;
  file.Set(new test::MemoryFile(std::make_shared<const std::string>(std::move(bytes))));
  DecodeOptions options;
  options.colorizing = colorizing;
  if (drawn.width > 0) options.drawnAt = [drawn](D2D1_SIZE_U) { return drawn; };
  ComRef<IWICBitmapSource> pixels;
  EXPECT_EQ(DecodeImage(file.get(), options, pixels), 0);
  return pixels;
}

// libjpeg rounds a scaled side up: 1599 at four eighths is 800 wide. With
// false colour on, four to six eighths only.
TEST(DecodeEighths, FewestEighthsThatStillCover) {
  constexpr auto kJpeg = WICShrinkOnDecode::Eighths;
  constexpr WICFrameSettings::Eighths kColour{4, 6};
  const struct { UINT w, h, drawnW, drawnH; WICShrinkOnDecode shrink; UINT expected; WICFrameSettings::Eighths allowed = {}; } rows[] = {
      {1600, 2400, 667, 1000, kJpeg, 4}, {1600, 2400, 400, 600, kJpeg, 2},  {1600, 2400, 401, 600, kJpeg, 3},
      {1600, 2400, 400, 601, kJpeg, 3},  {1600, 2400, 20, 30, kJpeg, 1},    {1600, 2400, 801, 1000, kJpeg, 5},
      {1601, 2401, 800, 1200, kJpeg, 4}, {1599, 2400, 800, 1000, kJpeg, 4}, {1600, 2400, 0, 0, kJpeg, 8},
      {2400, 1600, 1500, 1000, kJpeg, 5}, {1600, 2400, 512, 768, kJpeg, 3}, {1600, 2400, 1401, 2100, kJpeg, 8},
      {1600, 2400, 1400, 2100, kJpeg, 7}, {1600, 2400, 2000, 3000, kJpeg, 8}, {7, 7, 1, 1, kJpeg, 1},
      {1600, 2400, 200, 300, WICShrinkOnDecode::None, 8},
      {1600, 2400, 512, 768, kJpeg, 4, kColour}, {2400, 1600, 1500, 1000, kJpeg, 5, kColour},
      {1600, 2400, 1200, 1800, kJpeg, 6, kColour}, {1600, 2400, 1201, 1800, kJpeg, 8, kColour},
  };
  for (const auto& r : rows)
    EXPECT_EQ(DecodeEighths(r.w, r.h, r.drawnW, r.drawnH, r.shrink, r.allowed), r.expected) << r.w << " " << r.drawnW;
}

TEST(DecodeToDraw, DecodesSmallYetTellsThePageItsOwnSize) {
  QImage upright(1600, 2400, QImage::Format_RGB32), wide(2400, 1600, QImage::Format_RGB32);
  upright.fill(Qt::gray), wide.fill(Qt::gray);
  // Orientation 6 (a quarter turn): stored wide, an upright page.
  const std::string jpeg = test::Encode(wide, "JPEG", 90),
                    turned = jpeg.substr(0, 2) + std::string("\xFF\xE1\0\x22" "Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0"
                                                             "\x01\0\0\0\x06\0\0\0\0\0\0\0", 36) + jpeg.substr(2);
  const struct { const char* name; std::string bytes; D2D1_SIZE_U drawn, decoded; bool toDraw; UINT pageHeight = 2400; } rows[] = {
      {"fitted to 1000 rows", test::Encode(upright, "JPEG", 90), {667, 1000}, {800, 1200}, true},
      {"no size", test::Encode(upright, "JPEG", 90), {0, 0}, {1600, 2400}, false},
      {"turned", turned, {400, 600}, {400, 600}, true},
      {"in a spread", test::Encode(upright, "JPEG", 90), {512, 768}, {600, 900}, true},
      {"wide at five eighths", jpeg, {1500, 1000}, {1500, 1000}, true, 1600},
      {"PNG", test::Encode(upright, "PNG"), {400, 600}, {1600, 2400}, false},
  };
  for (const auto& r : rows) {
    const ComRef<IWICBitmapSource> pixels = Decode(r.bytes, r.drawn);
    UINT w = 0, h = 0;
    pixels->GetSize(&w, &h);
    EXPECT_EQ(w * 10000 + h, r.decoded.width * 10000 + r.decoded.height) << r.name;
    EXPECT_EQ(PageSizeOf(pixels.get()).height, r.pageHeight) << r.name;
    EXPECT_EQ(PageDecodedToDraw(pixels.get()), r.toDraw) << r.name;
  }
}

// Pages of the colour check (red squares just over and under its spot
// bound, 0.006 % of the page) judged the same decoded whole and small (at
// seven eighths the square just under it is found).
TEST(DecodeToDraw, ColourCheckJudgesASmallDecodeAsTheWholePage) {
  std::u16string said;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &said);
  const struct { const char* name; QColor fill; int side; } pages[] = {
      {"gray", QColor(200, 200, 200), 0}, {"pale green", QColor(200, 230, 200), 0},
      {"28 px", Qt::lightGray, 28}, {"26 px", Qt::lightGray, 26}, {"24 px", Qt::lightGray, 24},
  };
  auto judge = [&](const std::string& jpeg, UINT drawnHeight) {
    said.clear();
    Decode(jpeg, {drawnHeight * 2 / 3, drawnHeight}, Colorizing::On);
    return said.substr(0, said.find(u' '));
  };
  for (const auto& page : pages) {
    QImage image(2400, 3600, QImage::Format_RGB32);
    image.fill(page.fill);
    QPainter(&image).fillRect(1200, 1808, page.side, page.side, QColor(208, 16, 16));
    const std::string jpeg = test::Encode(image, "JPEG", 90);
    const std::u16string whole = judge(jpeg, 0);
    EXPECT_EQ(judge(jpeg, 1800), whole) << page.name << " at a half";
    EXPECT_EQ(judge(jpeg, 900), whole) << page.name << " drawn at a quarter";
    if (page.side == 24 || page.side == 26) {  // the two nearest the bound
      EXPECT_EQ(judge(jpeg, 2250), whole) << page.name << " at five eighths";
      EXPECT_EQ(judge(jpeg, 2700), whole) << page.name << " at six eighths";
    }
  }
  SetDebugOutputSink(nullptr, nullptr);
}

}  // namespace
