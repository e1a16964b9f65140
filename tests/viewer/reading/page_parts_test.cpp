// Pages made in parts as tables: the grid over a page's cover, the parts a
// zoomed view and the column want, and what the decode for them may take.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "viewer/reading/ContinuousLayout.h"
#include "viewer/reading/PageParts.h"

namespace {

using Parts = std::vector<std::pair<int32_t, int32_t>>;  // the parts' corners

Parts Corners(const std::vector<WICRect>& parts) {
  Parts corners;
  for (const WICRect& part : parts) corners.emplace_back(part.X, part.Y);
  return corners;
}

TEST(PageParts, Grid) {
  const struct {
    D2D1_SIZE_U cover;
    bool inParts;
    std::size_t count;
    WICRect last;
    uint64_t mostBytes;
  } cases[] = {
      {{800, 30000}, false, 15, {0, 28672, 800, 1328}, 4ull * 800 * 2048},
      {{800, 60000}, true, 30, {0, 59392, 800, 608}, 4ull * 800 * 2048},
      {{12800, 19200}, true, 40, {9600, 18432, 3200, 768}, 4ull * 3200 * 2048},
      {{4097, 8192}, true, 8, {2049, 6144, 2048, 2048}, 4ull * 2049 * 2048},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InParts(c.cover), c.inParts) << c.cover.width << "x" << c.cover.height;
    const std::vector<WICRect> parts = PartsOf(c.cover);
    ASSERT_EQ(parts.size(), c.count) << c.cover.width << "x" << c.cover.height;
    uint64_t most = 0, area = 0;
    for (const WICRect& part : parts) most = std::max(most, BytesOf(part)), area += BytesOf(part) / 4;
    EXPECT_EQ(most, c.mostBytes);
    EXPECT_EQ(area, uint64_t{c.cover.width} * c.cover.height) << "the parts tile the page";
    EXPECT_EQ(Corners({parts.back()}), Corners({c.last}));
    EXPECT_EQ(parts.back().Width, c.last.Width);
    EXPECT_EQ(parts.back().Height, c.last.Height);
  }
}

TEST(PageParts, InView) {
  // A 1600 x 2400 page at 800 %: 12800 x 19200 in 13 columns of 985 and rows
  // of 1024, on a window of 1600 x 1000 grown by 400 x 250 on each side.
  const struct {
    const char* what;
    int64_t left, top;
    bool margin;
    Parts parts;
  } cases[] = {
      {"top left", 0, 0, false, {{0, 0}, {985, 0}}},
      {"top left and the margin", 0, 0, true, {{0, 0}, {985, 0}, {1970, 0}, {0, 1024}, {985, 1024}, {1970, 1024}}},
      {"bottom right", -(12800 - 1600), -(19200 - 1000), false, {{10835, 17408}, {11820, 17408}, {10835, 18432},
                                                                 {11820, 18432}}},
      {"off the page", 2000, 0, true, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Corners(PartsInView({12800, 19200}, c.left, c.top, {1600, 1000}, c.margin)), c.parts) << c.what;
}

TEST(PageParts, WantedInTheColumn) {
  // One strip of 800 x 60000 at one to one on a window of 800 x 1000.
  const struct {
    const char* what;
    double offset;
    int direction;
    Parts parts;
  } cases[] = {
      {"top, down", 0, +1, {{0, 0}, {0, 2048}}},
      {"across a band's end, down", 1500, +1, {{0, 0}, {0, 2048}, {0, 4096}}},
      {"further, down: one behind", 4500, +1, {{0, 4096}, {0, 6144}, {0, 2048}}},
      {"further, up: two behind", 4500, -1, {{0, 4096}, {0, 2048}, {0, 6144}}},
  };
  for (const auto& c : cases) {
    ContinuousLayout column;
    column.SetScreen({800, 1000, 96, 96});
    column.Reset(2);
    column.SetSize(0, {800, 60000});
    column.SetSize(1, {800, 1200});
    column.ScrollBy(c.offset);
    EXPECT_EQ(Corners(column.PartsWanted(0, c.direction)), c.parts) << c.what;
    EXPECT_TRUE(column.PartsWanted(1, c.direction).empty()) << c.what << ": a page made whole";
  }
  // The budget counts the parts wanted, not the page: the next page fits.
  ContinuousLayout column;
  column.SetScreen({800, 1000, 96, 96});
  column.Reset(2);
  column.SetSize(0, {800, 60000});
  column.SetSize(1, {800, 1200});
  column.ScrollBy(60000 - 1000);
  EXPECT_EQ(column.Wanted(+1, 16ull << 20), (std::vector<int32_t>{0, 1}));
}

TEST(PageParts, SourceBytes) {
  const struct {
    D2D1_SIZE_U page, cover;
    uint64_t least, bytes;
  } cases[] = {
      {{800, 60000}, {800, 60000}, 128ull << 20, 4ull * 800 * 60000},
      {{800, 60000}, {400, 30000}, 0, 4ull * 400 * 30000},
      {{800, 60000}, {399, 29999}, 0, 4ull * 400 * 30000},
      {{800, 60000}, {401, 30001}, 0, 4ull * 800 * 60000},
      {{1600, 2400}, {12800, 19200}, 128ull << 20, 128ull << 20},  // enlarged: its own pixels, within the budget
      {{16000, 16000}, {3000, 3000}, 0, 4ull * 4000 * 4000},
  };
  for (const auto& c : cases) EXPECT_EQ(PartSourceBytes(c.page, c.cover, c.least), c.bytes);
}

}  // namespace
