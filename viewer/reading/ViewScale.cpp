#include "viewer/reading/ViewScale.h"

#include <algorithm>
#include <cmath>

namespace {

float Width(const D2D1_RECT_F& r) { return r.right - r.left; }
float Height(const D2D1_RECT_F& r) { return r.bottom - r.top; }

// The factor over the fitted size that the fit asks for.
float FitFactor(const Screen& screen, const Placement& fitted, D2D1_SIZE_U first, const D2D1_RECT_F& all, Fit fit) {
  switch (fit) {
    case Fit::Best: return 1.0f;
    case Fit::Width: return screen.width / Width(all);
    case Fit::Height: return screen.height / Height(all);
    case Fit::Original: {
      const D2D1_SIZE_U& pixels = fitted.first.pixels.width > 0 ? fitted.first.pixels : fitted.second.pixels;
      return pixels.width > 0 ? static_cast<float>(first.width) / static_cast<float>(pixels.width) : 1.0f;
    }
  }
  return 1.0f;
}

// Device pixels per image pixel of the first page at this factor.
float PixelScale(const Placement& fitted, D2D1_SIZE_U first, float factor) {
  const D2D1_SIZE_U& pixels = fitted.first.pixels.width > 0 ? fitted.first.pixels : fitted.second.pixels;
  return first.width > 0 ? factor * static_cast<float>(pixels.width) / static_cast<float>(first.width) : factor;
}

PagePlace Scaled(const Screen& screen, const PagePlace& fitted, float factor, float dx, float dy,
                 const D2D1_RECT_F& all) {
  if (fitted.pixels.width == 0) return {};
  const D2D1_RECT_F& r = fitted.rect;
  PagePlace place = screen.PlaceAt({(r.left - all.left) * factor + dx, (r.top - all.top) * factor + dy,
                                    (r.right - all.left) * factor + dx, (r.bottom - all.top) * factor + dy});
  const uint64_t area = static_cast<uint64_t>(place.pixels.width) * place.pixels.height;
  if (area > kMostScaledPixels) {
    // Made smaller: the painter enlarges it.
    const double k = std::sqrt(static_cast<double>(kMostScaledPixels) / static_cast<double>(area));
    place.pixels = {std::max<UINT>(1, static_cast<UINT>(place.pixels.width * k)),
                    std::max<UINT>(1, static_cast<UINT>(place.pixels.height * k))};
  }
  return place;
}

// The rectangle both fitted pages cover, and the page that leads the
// scale (the first, or the second alone); false when there is none.
bool Bounds(const Placement& fitted, D2D1_SIZE_U first, D2D1_SIZE_U second, D2D1_RECT_F* all, D2D1_SIZE_U* lead) {
  const bool hasFirst = fitted.first.pixels.width > 0, hasSecond = fitted.second.pixels.width > 0;
  if (!hasFirst && !hasSecond) return false;
  *all = hasFirst ? fitted.first.rect : fitted.second.rect;
  if (hasFirst && hasSecond) {
    const D2D1_RECT_F& b = fitted.second.rect;
    *all = {std::min(all->left, b.left), std::min(all->top, b.top), std::max(all->right, b.right),
            std::max(all->bottom, b.bottom)};
  }
  *lead = hasFirst ? first : second;
  return true;
}

// Centred where the pages are smaller than the window, else at the pan
// kept within them.
float Offset(float window, float extent, float& pan, bool& overflow) {
  overflow = extent > window + 0.5f;
  if (!overflow) {
    pan = 0;
    return (window - extent) / 2;
  }
  pan = std::clamp(pan, 0.0f, extent - window);
  return -pan;
}

}  // namespace

ScaledLayout LayOut(const Screen& screen, D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode, const ViewScale& scale) {
  ScaledLayout layout;
  const Placement fitted = screen.Place(first, second, mode);
  D2D1_RECT_F all{};
  D2D1_SIZE_U lead{};
  const bool any = Bounds(fitted, first, second, &all, &lead);
  if (scale.Fitted() || !any) {
    layout.placement = fitted;
    layout.width = any ? Width(all) : 0;
    layout.height = any ? Height(all) : 0;
    return layout;
  }
  float factor = FitFactor(screen, fitted, lead, all, scale.fit) * scale.zoom;
  // Within the bounds against the page's own pixels.
  const float pixelScale = PixelScale(fitted, lead, factor);
  if (pixelScale > kMostZoom) factor *= kMostZoom / pixelScale;
  if (pixelScale < kLeastZoom) factor *= kLeastZoom / pixelScale;
  layout.width = Width(all) * factor;
  layout.height = Height(all) * factor;
  layout.panX = scale.panX;
  layout.panY = scale.panY;
  const float dx = Offset(screen.width, layout.width, layout.panX, layout.overflowX);
  const float dy = Offset(screen.height, layout.height, layout.panY, layout.overflowY);
  layout.placement.first = Scaled(screen, fitted.first, factor, dx, dy, all);
  layout.placement.second = Scaled(screen, fitted.second, factor, dx, dy, all);
  return layout;
}

float ZoomStep(const Screen& screen, D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode, const ViewScale& scale,
               int direction) {
  const Placement fitted = screen.Place(first, second, mode);
  D2D1_RECT_F all{};
  D2D1_SIZE_U lead{};
  if (!Bounds(fitted, first, second, &all, &lead)) return scale.zoom;
  const float fit = FitFactor(screen, fitted, lead, all, scale.fit);
  const float zoom = direction > 0 ? scale.zoom * kZoomStep : scale.zoom / kZoomStep;
  const float pixelScale = PixelScale(fitted, lead, fit * zoom);
  if (pixelScale > kMostZoom) return kMostZoom / PixelScale(fitted, lead, fit);
  if (pixelScale < kLeastZoom) return kLeastZoom / PixelScale(fitted, lead, fit);
  // A step that lands near the fit's own size lands on it.
  return std::fabs(zoom - 1.0f) < 0.02f ? 1.0f : zoom;
}
