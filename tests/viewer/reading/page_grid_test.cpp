// The page grid as tables: the selection moved by keys, columns for a
// width, what is in view after a selection, hits, and what is wanted first.
#include <gtest/gtest.h>

#include <vector>

#include "viewer/reading/PageGrid.h"

namespace {

TEST(PageGrid, KeysMoveTheSelectionWithinTheCells) {
  using K = GridKey;
  const struct {
    int32_t from;
    GridKey key;
    int32_t count, columns, rows;
    int32_t to;
  } cases[] = {
      {0, K::Left, 10, 4, 2, 0},       {3, K::Left, 10, 4, 2, 2},      {9, K::Right, 10, 4, 2, 9},
      {4, K::Right, 10, 4, 2, 5},      {2, K::Up, 10, 4, 2, 2},        {6, K::Up, 10, 4, 2, 2},
      {5, K::Down, 10, 4, 2, 9},       {7, K::Down, 10, 4, 2, 9},      {9, K::Down, 10, 4, 2, 9},
      {4, K::Down, 8, 4, 2, 4},        {1, K::PageDown, 30, 4, 2, 9},  {27, K::PageDown, 30, 4, 2, 29},
      {3, K::PageUp, 30, 4, 2, 0},     {20, K::PageUp, 30, 4, 2, 12},  {5, K::Home, 10, 4, 2, 0},
      {5, K::End, 10, 4, 2, 9},        {0, K::End, 0, 4, 2, -1},       {42, K::Left, 10, 4, 2, 8},
      {0, K::Down, 3, 0, 0, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GridMove(c.from, c.key, c.count, c.columns, c.rows), c.to)
        << "from " << c.from << " key " << static_cast<int>(c.key) << " of " << c.count;
}

TEST(PageGrid, LayoutViewAndHits) {
  // 800 x 600 at 96 dpi: cells of 176 x 274, four to a row from x = 48;
  // two whole rows under a header of 40.
  const struct {
    const char* what;
    Screen screen;
    int32_t count, select;
    int32_t columns;
    std::vector<int32_t> visible;
    float hitX, hitY;
    int32_t hit;
  } cases[] = {
      {"the start", {800, 600, 96, 96}, 50, 0, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 60, 50, 0},
      {"the header is no cell", {800, 600, 96, 96}, 50, 0, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 60, 30, -1},
      {"the margin is no cell", {800, 600, 96, 96}, 50, 0, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 20, 50, -1},
      {"the last page brought into view", {800, 600, 96, 96}, 50, 49, 4, {40, 41, 42, 43, 44, 45, 46, 47, 48, 49},
       60 + 176, 600 - 10, 49},
      {"twice the pixels: half the units", {800, 600, 192, 192}, 9, 0, 8, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 800 - 60, 50, 7},
      {"narrower than a cell: one column", {100, 600, 96, 96}, 3, 2, 1, {0, 1, 2}, 50, 590, 2},
  };
  for (const auto& c : cases) {
    PageGrid grid;
    grid.SetScreen(c.screen, 40);
    grid.Reset(c.count, c.select);
    EXPECT_EQ(grid.columns(), c.columns) << c.what;
    std::vector<int32_t> visible;
    for (const GridCell& cell : grid.Visible()) visible.push_back(cell.page);
    EXPECT_EQ(visible, c.visible) << c.what;
    EXPECT_EQ(grid.PageAt(c.hitX, c.hitY), c.hit) << c.what;
  }
}

TEST(PageGrid, ThumbnailsFitTheirBoxAndTheViewIsWantedFirst) {
  const struct {
    D2D1_SIZE_U page, thumb;
  } sizes[] = {{{1600, 2400}, {160, 240}}, {{3000, 1500}, {160, 80}}, {{100, 50}, {100, 50}}, {{10, 9000}, {1, 240}},
               {{0, 10}, {0, 0}}};
  for (const auto& s : sizes) {
    const D2D1_SIZE_U thumb = PageGrid::ThumbPixels(s.page);
    EXPECT_EQ(thumb.width, s.thumb.width) << s.page.width << "x" << s.page.height;
    EXPECT_EQ(thumb.height, s.thumb.height) << s.page.width << "x" << s.page.height;
  }
  PageGrid grid;
  grid.SetScreen({800, 600, 96, 96}, 40);
  grid.Reset(100, 50);  // in view: rows 10 (its foot) to 12, pages 40 to 51
  const std::vector<int32_t> wanted = grid.Wanted();
  ASSERT_GE(wanted.size(), 13u);
  EXPECT_EQ(wanted.front(), 40);
  EXPECT_EQ(wanted[12], 52);  // what is in view comes whole before the rest
  EXPECT_EQ(wanted.back(), 28);  // a screen behind, last
  // A scroll moves the view, kept within the cells.
  EXPECT_TRUE(grid.ScrollBy(-1e6f));
  EXPECT_EQ(grid.offset(), 0);
  EXPECT_FALSE(grid.ScrollBy(-1));
}

}  // namespace
