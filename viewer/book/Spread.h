// Which page or pair of pages a turn shows: the pairing rules on their own,
// over whatever can tell a page's shape.
#pragma once

#include <cstdint>
#include <optional>

#include "viewer/book/PageMode.h"

enum class PageShape {
  NotImage,  // does not decode
  Wide,      // as wide as high, or wider: never paired
  Upright,
};

// The first page on screen and the second of a pair (-1 when alone); the
// first always has the lower index.
struct Spread {
  int32_t first = 0;
  int32_t second = -1;
  bool operator==(const Spread&) const = default;
};

class IPageShapes {
 public:
  // The shape of page i, decoding it when needed (NotImage when it does not).
  virtual PageShape Decode(int32_t page) = 0;
  // The shape of a page already decoded, without decoding; Wide when it is
  // not at hand.
  virtual PageShape Known(int32_t page) const = 0;
  // The shape the book states for a page not decoded yet; nothing when it
  // states none, or the page has decoded (the pixels then say).
  virtual std::optional<PageShape> Stated(int32_t /*page*/) const { return std::nullopt; }

 protected:
  ~IPageShapes() = default;
};

// The pages a turn shows, or nothing (the caller beeps) when no page can
// be shown that way. `index` is where a step of 0 starts (for other steps
// it is the first page on screen); `step` is -2 or +2 for a spread back or
// forward, -1 or +1 for a page, 0 to show from `index` on. In single-page
// mode a spread step moves one page.
//
// `cover`, when not -1, is the page shown alone in the spread modes (the
// book's first page that decodes, or the one it names its front cover), so
// that the printed book's left and right pages stay paired after it; -1
// pairs it as any other page.
//
// A partner the book states to be wide does not pair, and is not decoded
// to find that out: the turn need not wait for it.
std::optional<Spread> FindSpread(int32_t pageCount, PageMode mode, Spread onScreen, int32_t index, int32_t step,
                                 IPageShapes& pages, int32_t cover = -1);
