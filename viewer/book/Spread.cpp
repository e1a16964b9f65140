#include "viewer/book/Spread.h"

#include <algorithm>

namespace {

struct Found {
  int32_t page = -1;
  PageShape shape = PageShape::NotImage;
  explicit operator bool() const { return page >= 0; }
  bool Upright() const { return shape == PageShape::Upright; }
};

// A partner is taken at the book's word when it is stated wide: it will not
// pair, so it need not decode.
PageShape ShapeOf(IPageShapes& pages, int32_t page, bool partner) {
  if (partner && pages.Stated(page) == PageShape::Wide) return PageShape::Wide;
  return pages.Decode(page);
}

// The first page from `from` on that decodes.
Found SearchForward(IPageShapes& pages, int32_t from, int32_t count, bool partner = false) {
  // Nothing before the first page decodes: a start below it begins there.
  for (int32_t k = std::max(from, 0); k < count; ++k)
    if (const PageShape shape = ShapeOf(pages, k, partner); shape != PageShape::NotImage) return {k, shape};
  return {};
}

// The first page from `from` back to the first that decodes.
Found SearchBack(IPageShapes& pages, int32_t from, bool partner = false) {
  for (int32_t k = from; k >= 0; --k)
    if (const PageShape shape = ShapeOf(pages, k, partner); shape != PageShape::NotImage) return {k, shape};
  return {};
}

}  // namespace

std::optional<Spread> FindSpread(int32_t count, PageMode mode, Spread onScreen, int32_t index, int32_t step,
                                 IPageShapes& pages, int32_t cover) {
  if (mode == PageMode::Single) {
    Found page;
    if (step == 0) {
      if (index >= count) return std::nullopt;
      page = SearchForward(pages, index, count);
    } else if (step > 0) {
      if (index + 1 >= count) return std::nullopt;
      page = SearchForward(pages, index + 1, count);
    } else {
      if (index - 1 < 0) return std::nullopt;
      page = SearchBack(pages, index - 1);
    }
    if (!page) return std::nullopt;
    return Spread{page.page, -1};
  }

  if (step >= 0) {
    int32_t start = index;
    if (step == 2)
      start = onScreen.second != -1 ? onScreen.second + 1 : onScreen.first + 1;
    else if (step > 0)
      start = onScreen.first + 1;
    if (start >= count) return std::nullopt;
    const Found first = SearchForward(pages, start, count);
    if (!first) return std::nullopt;
    // The partner is looked for (and so decoded) even when it turns out
    // not to pair.
    if (first.Upright() && first.page != cover) {
      const Found next = SearchForward(pages, first.page + 1, count, true);
      if (next && next.Upright() && next.page != cover) return Spread{first.page, next.page};
    }
    return Spread{first.page, -1};
  }

  if (index - 1 < 0) return std::nullopt;
  const Found previous = SearchBack(pages, index - 1);
  if (!previous) return std::nullopt;
  // The page that was first on screen before the step.
  const bool shownUpright = index != cover && pages.Known(index) == PageShape::Upright;
  // The cover pairs with nothing: not with the page after it, nor with one
  // before it (a front cover the book names need not be its first page).
  const bool previousPairs = previous.Upright() && previous.page != cover;
  if (step == -1) {
    if (previousPairs && shownUpright) return Spread{previous.page, index};
  } else if (step == -2 && previousPairs) {
    const Found before = previous.page > 0 ? SearchBack(pages, previous.page - 1, true) : Found{};
    if (before) {
      if (before.Upright() && before.page != cover) return Spread{before.page, previous.page};
    } else if (shownUpright) {
      return Spread{previous.page, index};
    }
  }
  return Spread{previous.page, -1};
}
