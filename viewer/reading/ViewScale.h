// How large the pages are drawn: fitted whole (the default), to the
// window's width or height, one image pixel to one device pixel, and zoomed
// in steps from any of these; and where the window stands over pages that
// are larger than it. Pure layout, for any thread and for tests.
#pragma once

#include <cstdint>

#include "viewer/book/PageMode.h"
#include "viewer/imaging/D2D.h"

enum class Fit { Best, Width, Height, Original };

struct ViewScale {
  Fit fit = Fit::Best;
  float zoom = 1.0f;  // over the fit's size
  // Where the window's top left stands over the pages, in drawing units
  // from theirs; only along a side where the pages are larger than the
  // window.
  float panX = 0;
  float panY = 0;
  // The pages stacked in one column and scrolled (ContinuousLayout; the
  // zoom is then over the column's own size, the fit waits for its end).
  bool continuous = false;

  bool Fitted() const { return fit == Fit::Best && zoom == 1.0f; }
};

// The most and least a zoom makes of a page, against its own pixels.
constexpr float kMostZoom = 8.0f;
constexpr float kLeastZoom = 0.1f;
// One zoom step in or out.
constexpr float kZoomStep = 1.25f;
// The pixels a page is scaled to at most: beyond, the painter enlarges a
// smaller copy (a 1600 x 2400 page zoomed eight times would take 1 GiB).
constexpr uint64_t kMostScaledPixels = 24ull << 20;

struct ScaledLayout {
  Placement placement;
  float width = 0;  // the pages' extent, drawing units
  float height = 0;
  float panX = 0;  // the pan as it stands, kept within the pages
  float panY = 0;
  bool overflowX = false;  // the pages are wider than the window
  bool overflowY = false;
};

// Where pages of these sizes go (0 x 0: none) at `scale` on `screen`.
ScaledLayout LayOut(const Screen& screen, D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode, const ViewScale& scale);

// The zoom one step in (+1) or out (-1) from `scale`, within the bounds
// (as a factor over the fit's size, for these pages on this screen).
float ZoomStep(const Screen& screen, D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode, const ViewScale& scale,
               int direction);
