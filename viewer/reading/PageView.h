// A way of looking at the pages: where the pages on screen go and how many
// device pixels each covers, and the size a page loaded ahead is made for.
// The reading unit loads pages at the sizes its view asks; the renderer
// draws them where the view placed them.
#pragma once

#include <functional>

#include "viewer/book/PageMode.h"
#include "viewer/imaging/D2D.h"
#include "viewer/reading/ViewScale.h"

class IPageView {
 public:
  virtual ~IPageView() = default;
  // Where the page (and its partner; 0 x 0: none) on screen go now.
  virtual Placement Place(D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode) const = 0;
  // The device pixels a page loaded ahead will most likely cover, as a
  // function of its size that a worker may call (it holds what it needs).
  using Sizer = std::function<D2D1_SIZE_U(D2D1_SIZE_U page)>;
  virtual Sizer AheadPixels(PageMode mode) const = 0;
};

// The whole page, or the spread, fitted into the renderer's drawing area,
// or drawn at the scale its owner chose (fit width or height, original
// size, zoomed) with the window over part of it.
class CFittedView final : public IPageView {
 public:
  explicit CFittedView(const D2D& renderer, const ViewScale* scale = nullptr) : m_renderer(renderer), m_scale(scale) {}
  Placement Place(D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode) const override {
    return Layout(first, second, mode).placement;
  }
  ScaledLayout Layout(D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode) const {
    return LayOut(m_renderer.CurrentScreen(), first, second, mode, Scale());
  }
  // An upright page beside its partner in a spread, any other page alone.
  Sizer AheadPixels(PageMode mode) const override {
    return [screen = m_renderer.CurrentScreen(), mode, scale = Scale()](D2D1_SIZE_U page) {
      const bool paired = mode != PageMode::Single && page.width < page.height;
      if (scale.Fitted()) return paired ? screen.PixelsPaired(page) : screen.PixelsAlone(page);
      return LayOut(screen, page, paired ? page : D2D1_SIZE_U{}, paired ? mode : PageMode::Single, scale)
          .placement.first.pixels;
    };
  }

 private:
  ViewScale Scale() const { return m_scale != nullptr ? *m_scale : ViewScale{}; }

  const D2D& m_renderer;
  const ViewScale* m_scale;
};
