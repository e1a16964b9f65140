// The column of continuous scroll as tables: where the pages go, which page
// is current, what is wanted ahead and behind, and estimates corrected
// without the page under the middle moving.
#include <gtest/gtest.h>

#include <vector>

#include "viewer/reading/ContinuousLayout.h"

namespace {

constexpr D2D1_SIZE_U kUpright{600, 900}, kWide{1600, 800}, kScreenful{800, 600};

ContinuousLayout Column(const std::vector<D2D1_SIZE_U>& sizes, Screen screen = {800, 600, 96, 96}) {
  ContinuousLayout column;
  column.SetScreen(screen);
  column.Reset(static_cast<int32_t>(sizes.size()));
  for (std::size_t k = 0; k < sizes.size(); ++k)
    if (sizes[k].width > 0) column.SetSize(static_cast<int32_t>(k), sizes[k]);
    else column.SetNoPage(static_cast<int32_t>(k));
  return column;
}

TEST(ContinuousLayout, PlacesAndCurrentPage) {
  const struct {
    const char* what;
    std::vector<D2D1_SIZE_U> sizes;
    Screen screen;
    float zoom;
    double offset;
    std::vector<int32_t> visible;
    D2D1_RECT_F firstRect;  // of the first page visible
    D2D1_SIZE_U firstPixels;
    int32_t current;
  } cases[] = {
      {"one to one, centred", {kUpright, kUpright}, {800, 600, 96, 96}, 1, 0, {0}, {100, 0, 700, 900}, {600, 900}, 0},
      {"two pages across the middle", {kUpright, kUpright}, {800, 600, 96, 96}, 1, 700, {0, 1},
       {100, -700, 700, 200}, {600, 900}, 1},
      {"wider than the window: shrunk", {kWide, kWide, kWide}, {800, 600, 96, 96}, 1, 0, {0, 1}, {0, 0, 800, 400},
       {800, 400}, 0},
      {"zoomed in", {kUpright}, {800, 600, 96, 96}, 2, 0, {0}, {-200, 0, 1000, 1800}, {1200, 1800}, 0},
      {"zoom bounded", {{100, 100}}, {800, 600, 96, 96}, 100, 0, {0}, {0, 0, 800, 800}, {800, 800}, 0},
      {"a scaled screen: device pixels", {kUpright}, {800, 600, 192, 192}, 1, 0, {0}, {250, 0, 550, 450},
       {600, 900}, 0},
      {"an entry that is no page takes no room", {kUpright, {}, kUpright}, {800, 600, 96, 96}, 1, 700, {0, 2},
       {100, -700, 700, 200}, {600, 900}, 2},
  };
  for (const auto& c : cases) {
    ContinuousLayout column = Column(c.sizes, c.screen);
    column.SetZoom(c.zoom);
    column.ScrollToPage(0);
    column.ScrollBy(c.offset);
    const std::vector<ColumnPlace> visible = column.Visible();
    std::vector<int32_t> pages;
    for (const ColumnPlace& place : visible) pages.push_back(place.page);
    EXPECT_EQ(pages, c.visible) << c.what;
    ASSERT_FALSE(visible.empty()) << c.what;
    const PagePlace& first = visible.front().place;
    EXPECT_NEAR(first.rect.left, c.firstRect.left, 0.01) << c.what;
    EXPECT_NEAR(first.rect.top, c.firstRect.top, 0.01) << c.what;
    EXPECT_NEAR(first.rect.right, c.firstRect.right, 0.01) << c.what;
    EXPECT_NEAR(first.rect.bottom, c.firstRect.bottom, 0.01) << c.what;
    EXPECT_EQ(first.pixels.width, c.firstPixels.width) << c.what;
    EXPECT_EQ(first.pixels.height, c.firstPixels.height) << c.what;
    EXPECT_EQ(column.Current(), c.current) << c.what;
  }
}

// Ten pages of a screen each, the window over the fourth.
TEST(ContinuousLayout, PagesWantedAheadAndBehind) {
  const uint64_t page = ContinuousLayout::BytesOf(kScreenful);
  const struct {
    const char* what;
    double offset;
    int direction;
    uint64_t budget;
    std::vector<int32_t> wanted;
  } cases[] = {
      {"down: two screens ahead, one behind", 1800, +1, 100 * page, {3, 4, 5, 2}},
      {"up: the same the other way", 1800, -1, 100 * page, {3, 2, 1, 4}},
      {"across two pages", 1500, +1, 100 * page, {2, 3, 4, 5, 1}},
      {"the budget: ahead first", 1800, +1, 2 * page, {3, 4}},
      {"the pages on screen whatever the budget", 1800, +1, 0, {3}},
      {"at the start nothing behind", 0, -1, 100 * page, {0, 1}},
  };
  for (const auto& c : cases) {
    ContinuousLayout column = Column(std::vector<D2D1_SIZE_U>(10, kScreenful));
    column.ScrollBy(c.offset);
    EXPECT_EQ(column.Wanted(c.direction, c.budget), c.wanted) << c.what;
  }
}

// Pages not known yet take the shape of the last known one; when their
// sizes come, the page under the middle stays where it is on screen (its
// top where it was).
TEST(ContinuousLayout, EstimatesCorrectedKeepTheMiddlePageInPlace) {
  const struct {
    const char* what;
    int32_t page;
    D2D1_SIZE_U size;
  } cases[] = {
      {"a taller page above", 2, {600, 1800}},
      {"a shorter page above", 1, {600, 300}},
      {"a page below", 7, {600, 3000}},
      {"a wider page above: all shrink", 3, {1600, 900}},
      {"the page itself", 5, {600, 1200}},
  };
  for (const auto& c : cases) {
    ContinuousLayout column;
    column.SetScreen({800, 600, 96, 96});
    column.Reset(10);
    column.SetSize(0, kUpright);
    EXPECT_EQ(column.PixelsOf(6).height, 900u) << "estimated from the last known page";
    column.ScrollBy(5 * 900 + 450 - 300);  // the middle of page 5 at the window's middle
    ASSERT_EQ(column.Current(), 5);
    column.SetSize(c.page, c.size);
    const std::vector<ColumnPlace> visible = column.Visible();
    ASSERT_FALSE(visible.empty()) << c.what;
    EXPECT_EQ(visible.front().page, 5) << c.what;
    EXPECT_NEAR(visible.front().place.rect.top, -150, 1) << c.what;
  }
}

TEST(ContinuousLayout, ScrollsWithinTheColumnAndToPages) {
  ContinuousLayout column = Column(std::vector<D2D1_SIZE_U>(4, D2D1_SIZE_U{800, 200}));
  EXPECT_FALSE(column.ScrollBy(-50)) << "at the top";
  column.ScrollToPage(3);
  EXPECT_EQ(column.offset(), 600) << "the last page's top at the window's top";
  EXPECT_EQ(column.Current(), 3);
  EXPECT_FALSE(column.ScrollBy(100)) << "at the end";
  column.ScrollToPage(1);
  EXPECT_EQ(column.Current(), 2) << "the page under the middle";
  EXPECT_GT(column.ZoomStep(+1), 1.0f);
  column.SetZoom(1000);
  EXPECT_EQ(column.ZoomStep(+1), 8.0f) << "within the bounds";
  // Zoomed wider than the window: sideways as far as the column's edge.
  column.SetZoom(2);
  EXPECT_TRUE(column.PanBy(5000));
  EXPECT_NEAR(column.Visible().front().place.rect.right, 800, 0.01);
  EXPECT_FALSE(column.PanBy(1));
}

}  // namespace
