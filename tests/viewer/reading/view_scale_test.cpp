// The sizes pages are drawn at and where the window stands over them, as a
// table: fits, zoom, the pan kept within the pages, the bound on pixels.
#include <gtest/gtest.h>

#include "viewer/reading/ViewScale.h"

namespace {

TEST(ViewScale, FitsZoomAndPan) {
  const Screen screen{800, 600, 96, 96};
  constexpr D2D1_SIZE_U kUpright{600, 900}, kNone{0, 0};
  const struct {
    const char* what;
    D2D1_SIZE_U second;
    PageMode mode;
    ViewScale scale;
    D2D1_RECT_F first;  // where the first page goes
    D2D1_SIZE_U pixels;
    bool overflowX, overflowY;
  } cases[] = {
      {"best fit", kNone, PageMode::Single, {}, {200, 0, 600, 600}, {400, 600}, false, false},
      {"width", kNone, PageMode::Single, {Fit::Width}, {0, 0, 800, 1200}, {800, 1200}, false, true},
      {"width, pan past the end", kNone, PageMode::Single, {Fit::Width, 1, 0, 5000}, {0, -600, 800, 600}, {800, 1200}, false, true},
      {"height", kNone, PageMode::Single, {Fit::Height}, {200, 0, 600, 600}, {400, 600}, false, false},
      {"original", kNone, PageMode::Single, {Fit::Original}, {100, 0, 700, 900}, {600, 900}, false, true},
      {"zoomed twice", kNone, PageMode::Single, {Fit::Best, 2}, {0, 0, 800, 1200}, {800, 1200}, false, true},
      {"zoomed to the bound, pixels bounded", kNone, PageMode::Single, {Fit::Original, 100},
       {0, 0, 4800, 7200}, {4096, 6144}, true, true},
      {"a spread at its size, from the right", kUpright, PageMode::SpreadRight, {Fit::Original, 1, 1e9f, 0},
       {200, 0, 800, 900}, {600, 900}, true, true},
      {"a spread at its size, from the left", kUpright, PageMode::SpreadLeft, {Fit::Original, 1, 0, 0},
       {0, 0, 600, 900}, {600, 900}, true, true},
  };
  for (const auto& c : cases) {
    const ScaledLayout layout = LayOut(screen, kUpright, c.second, c.mode, c.scale);
    const PagePlace& first = layout.placement.first;
    EXPECT_NEAR(first.rect.left, c.first.left, 0.5) << c.what;
    EXPECT_NEAR(first.rect.top, c.first.top, 0.5) << c.what;
    EXPECT_NEAR(first.rect.right, c.first.right, 0.5) << c.what;
    EXPECT_NEAR(first.rect.bottom, c.first.bottom, 0.5) << c.what;
    EXPECT_NEAR(first.pixels.width, c.pixels.width, 1) << c.what;
    EXPECT_NEAR(first.pixels.height, c.pixels.height, 1) << c.what;
    EXPECT_LE(static_cast<uint64_t>(first.pixels.width) * first.pixels.height, kMostScaledPixels) << c.what;
    EXPECT_EQ(layout.overflowX, c.overflowX) << c.what;
    EXPECT_EQ(layout.overflowY, c.overflowY) << c.what;
  }
}

// Zoom steps stay within a tenth and eight times the page's own pixels,
// and a step that comes back near the fit lands on it.
TEST(ViewScale, ZoomStepsAreBounded) {
  const Screen screen{800, 600, 96, 96};
  constexpr D2D1_SIZE_U kPage{600, 900};
  ViewScale scale;
  for (int k = 0; k < 40; ++k) scale.zoom = ZoomStep(screen, kPage, {}, PageMode::Single, scale, +1);
  EXPECT_NEAR(scale.zoom * 600.0f / 900.0f, 8.0f, 0.01f) << "eight image pixels a pixel";
  for (int k = 0; k < 80; ++k) scale.zoom = ZoomStep(screen, kPage, {}, PageMode::Single, scale, -1);
  EXPECT_NEAR(scale.zoom * 600.0f / 900.0f, 0.1f, 0.001f);
  scale.zoom = 1.0f;
  scale.zoom = ZoomStep(screen, kPage, {}, PageMode::Single, scale, +1);
  scale.zoom = ZoomStep(screen, kPage, {}, PageMode::Single, scale, -1);
  EXPECT_TRUE(scale.Fitted());
}

}  // namespace
