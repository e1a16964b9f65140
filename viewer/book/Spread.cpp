#include "viewer/book/Spread.h"

#include <algorithm>

namespace {

struct Found {
  int32_t page = -1;
  PageShape shape = PageShape::NotImage;
  explicit operator bool() const { return page >= 0; }
  bool Upright() const { return shape == PageShape::Upright; }
};

// The first page from `from` on that decodes.
Found SearchForward(IPageShapes& pages, int32_t from, int32_t count) {
  // Nothing before the first page decodes: a start below it begins there.
  for (int32_t k = std::max(from, 0); k < count; ++k)
    if (const PageShape shape = pages.Decode(k); shape != PageShape::NotImage) return {k, shape};
  return {};
}

// The first page from `from` back to the first that decodes.
Found SearchBack(IPageShapes& pages, int32_t from) {
  for (int32_t k = from; k >= 0; --k)
    if (const PageShape shape = pages.Decode(k); shape != PageShape::NotImage) return {k, shape};
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
      const Found next = SearchForward(pages, first.page + 1, count);
      if (next && next.Upright()) return Spread{first.page, next.page};
    }
    return Spread{first.page, -1};
  }

  if (index - 1 < 0) return std::nullopt;
  const Found previous = SearchBack(pages, index - 1);
  if (!previous) return std::nullopt;
  // The page that was first on screen before the step.
  const bool shownUpright = pages.Known(index) == PageShape::Upright;
  // The cover pairs with nothing: not with the page after it, and no page
  // before it exists.
  const bool previousPairs = previous.Upright() && previous.page != cover;
  if (step == -1) {
    if (previousPairs && shownUpright) return Spread{previous.page, index};
  } else if (step == -2 && previousPairs) {
    const Found before = previous.page > 0 ? SearchBack(pages, previous.page - 1) : Found{};
    if (before) {
      if (before.Upright() && before.page != cover) return Spread{before.page, previous.page};
    } else if (shownUpright) {
      return Spread{previous.page, index};
    }
  }
  return Spread{previous.page, -1};
}
