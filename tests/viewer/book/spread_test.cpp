// The pairing rules as one table: page shapes, mode, the pair on screen and
// a step, and what is shown (or a beep). No window, no files: a page's
// shape is a letter, and the table also says which pages a turn decodes.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "viewer/book/Spread.h"

namespace {

// u upright, w wide (or square), x not an image; the book states W wide
// and is right, states F wide and is wrong (it decodes upright).
class Shapes final : public IPageShapes {
 public:
  explicit Shapes(std::string letters) : m_letters(std::move(letters)) {}
  PageShape Decode(int32_t page) override {
    m_decoded += std::to_string(page) + " ";
    return Of(page);
  }
  PageShape Known(int32_t page) const override {
    const PageShape shape = Of(page);
    return shape == PageShape::NotImage ? PageShape::Wide : shape;
  }
  std::optional<PageShape> Stated(int32_t page) const override {
    const bool said = page >= 0 && page < static_cast<int32_t>(m_letters.size()) &&
                      (m_letters[static_cast<std::size_t>(page)] == 'W' || m_letters[static_cast<std::size_t>(page)] == 'F');
    if (!said || (" " + m_decoded).find(" " + std::to_string(page) + " ") != std::string::npos) return std::nullopt;
    return PageShape::Wide;
  }
  const std::string& decoded() const { return m_decoded; }

 private:
  PageShape Of(int32_t page) const {
    if (page < 0 || page >= static_cast<int32_t>(m_letters.size())) return PageShape::NotImage;
    switch (m_letters[static_cast<std::size_t>(page)]) {
      case 'u':
      case 'F': return PageShape::Upright;
      case 'w':
      case 'W': return PageShape::Wide;
      default: return PageShape::NotImage;
    }
  }
  std::string m_letters;
  std::string m_decoded;
};

constexpr Spread kBeep{-9, -9};

struct Turn {
  const char* what;
  const char* pages;
  PageMode mode;
  Spread onScreen;
  int32_t index;  // where step 0 starts; the first page on screen otherwise
  int32_t step;
  Spread shown;          // kBeep: nothing shown
  const char* decoded;   // the pages tried, in order; nullptr: not checked
  int32_t cover = -1;    // the page shown alone as the cover; -1: none
};

constexpr PageMode S = PageMode::Single;
constexpr PageMode R = PageMode::SpreadRight;
constexpr PageMode L = PageMode::SpreadLeft;

const Turn kTurns[] = {
    // Single page.
    {"single: first page", "uuu", S, {0, -1}, 0, 0, {0, -1}, "0 "},
    {"single: past the end", "uuu", S, {2, -1}, 2, 1, kBeep, ""},
    {"single: before the start", "uuu", S, {0, -1}, 0, -1, kBeep, ""},
    {"single: step 0 past the end", "uuu", S, {0, -1}, 3, 0, kBeep, ""},
    {"single: skips what does not decode", "uxxu", S, {0, -1}, 0, 1, {3, -1}, "1 2 3 "},
    {"single: nothing after", "uxx", S, {0, -1}, 0, 1, kBeep, "1 2 "},
    {"single: back skips too", "uxxu", S, {3, -1}, 3, -1, {0, -1}, "2 1 0 "},
    {"single: +2 is one page", "uuuu", S, {1, -1}, 1, 2, {2, -1}, "2 "},
    {"single: -2 is one page", "uuuu", S, {3, -1}, 3, -2, {2, -1}, "2 "},
    {"single: step 0 skips forward", "xxu", S, {0, -1}, 0, 0, {2, -1}, "0 1 2 "},
    {"single: wide pages are shown", "ww", S, {0, -1}, 0, 1, {1, -1}, nullptr},

    // Spreads forward.
    {"spread: two upright pages pair", "uu", R, {0, -1}, 0, 0, {0, 1}, "0 1 "},
    {"spread: a wide first page stands alone", "wu", R, {0, -1}, 0, 0, {0, -1}, "0 "},
    {"spread: +2 after a lone page starts at current + 1", "wuu", R, {0, -1}, 0, 2, {1, 2}, "1 2 "},
    {"spread: +2 after a pair starts after its second", "uuuu", R, {0, 1}, 0, 2, {2, 3}, "2 3 "},
    {"spread: +2 to a wide page", "uuuuuuw", L, {4, 5}, 4, 2, {6, -1}, "6 "},
    {"spread: +1 whose partner is wide", "uuuuuuw", L, {4, 5}, 4, 1, {5, -1}, "5 6 "},
    {"spread: the partner is decoded even when it does not pair", "uw", R, {0, -1}, 0, 0, {0, -1}, "0 1 "},
    {"spread: a square page is never paired", "uwu", R, {0, -1}, 1, 0, {1, -1}, "1 "},
    {"spread: pairing skips what does not decode", "uxxu", R, {0, -1}, 0, 0, {0, 3}, "0 1 2 3 "},
    {"spread: the last page alone", "uuu", R, {0, 1}, 0, 2, {2, -1}, "2 "},
    {"spread: +2 at the end", "uu", R, {0, 1}, 0, 2, kBeep, ""},
    {"spread: +1 at the end", "uu", R, {1, -1}, 1, 1, kBeep, ""},
    {"spread: nothing decodes ahead", "uuxx", R, {0, 1}, 0, 2, kBeep, "2 3 "},
    {"spread: step 0 past the end", "uu", R, {0, 1}, 2, 0, kBeep, ""},
    {"spread: an empty book", "", R, {0, -1}, 0, 0, kBeep, ""},

    // Spreads back.
    {"spread: -2 from (2, 3) shows (0, 1)", "uuuuu", L, {2, 3}, 2, -2, {0, 1}, "1 0 "},
    {"spread: -1 from (2, 3) shows (1, 2)", "uuuuu", L, {2, 3}, 2, -1, {1, 2}, "1 "},
    {"spread: -2 from (1, 2) finds nothing before 0: (0, 1)", "uuuuu", R, {1, 2}, 1, -2, {0, 1}, "0 "},
    {"spread: -1 at the start", "uu", R, {0, 1}, 0, -1, kBeep, ""},
    {"spread: -2 at the start", "uu", R, {0, 1}, 0, -2, kBeep, ""},
    {"spread: -1 to a wide page", "wu", R, {1, -1}, 1, -1, {0, -1}, "0 "},
    {"spread: -1 from a wide page", "uw", R, {1, -1}, 1, -1, {0, -1}, "0 "},
    {"spread: -2 to a wide page", "uwu", R, {2, -1}, 2, -2, {1, -1}, "1 "},
    {"spread: -2 whose earlier page is wide", "wuu", R, {2, -1}, 2, -2, {1, -1}, "1 0 "},
    {"spread: -2 from a wide page back to the start", "uw", R, {1, -1}, 1, -2, {0, -1}, "0 "},
    {"spread: -2 skips what does not decode", "uxuxu", R, {4, -1}, 4, -2, {0, 2}, "3 2 1 0 "},
    {"spread: back finds nothing", "xxu", R, {2, -1}, 2, -1, kBeep, "1 0 "},
    {"spread: other negative steps show one page", "uuu", R, {2, -1}, 2, -3, {1, -1}, "1 "},

    // A start far before the book begins at its first page, at once.
    {"single: a start below the first page", "xuu", S, {0, -1}, INT32_MIN, 0, {1, -1}, "0 1 "},
    {"spread: a start below the first page", "uu", R, {0, -1}, -5, 0, {0, 1}, "0 1 "},

    // A stored mode outside the three pairs like a spread.
    {"mode 5 pairs", "uu", static_cast<PageMode>(5), {0, -1}, 0, 0, {0, 1}, "0 1 "},

    // The cover alone: it pairs with nothing, the pages after it pair on.
    {"cover: shown alone", "uuuu", R, {0, -1}, 0, 0, {0, -1}, "0 ", 0},
    {"cover: the next spread pairs", "uuuu", R, {0, -1}, 0, 2, {1, 2}, "1 2 ", 0},
    {"cover: +1 from it pairs the next two", "uuuu", L, {0, -1}, 0, 1, {1, 2}, "1 2 ", 0},
    {"cover: -2 back to it", "uuuuu", R, {1, 2}, 1, -2, {0, -1}, "0 ", 0},
    {"cover: -1 back to it", "uuuuu", R, {1, 2}, 1, -1, {0, -1}, "0 ", 0},
    {"cover: -2 from (3, 4) pairs (1, 2)", "uuuuu", R, {3, 4}, 3, -2, {1, 2}, "2 1 ", 0},
    {"cover: -2 whose earlier page is the cover", "uuuu", R, {2, 3}, 2, -2, {1, -1}, "1 0 ", 0},
    {"cover: after pages that are no images", "xxuuu", R, {0, -1}, 0, 0, {2, -1}, "0 1 2 ", 2},
    {"cover: single-page mode is unchanged", "uuu", S, {0, -1}, 0, 1, {1, -1}, "1 ", 0},
    {"cover: off pairs the first page", "uuuu", R, {0, -1}, 0, 0, {0, 1}, "0 1 ", -1},
    // A front cover the book names after other pages pairs with neither side.
    {"named cover: the page before it stands alone", "uuuuu", R, {0, -1}, 1, 0, {1, -1}, "1 2 ", 2},
    {"named cover: -1 from it", "uuuuu", R, {2, -1}, 2, -1, {1, -1}, "1 ", 2},
    {"named cover: the pages after it pair", "uuuuu", R, {2, -1}, 2, 2, {3, 4}, "3 4 ", 2},
    // Pages the book states wide: a partner so stated is not waited for.
    {"stated wide partner: not decoded", "uWu", R, {0, -1}, 0, 0, {0, -1}, "0 "},
    {"stated wide partner: reached, it decodes", "uWu", R, {0, -1}, 0, 2, {1, -1}, "1 "},
    {"stated wide, decoded upright: the pixels win", "uFu", R, {0, -1}, 0, 2, {1, 2}, "1 2 "},
    {"stated wide earlier page: -2 does not pair", "Wuuu", R, {2, 3}, 2, -2, {1, -1}, "1 "},
    {"stated wide in single-page mode: decoded", "Wu", S, {0, -1}, 0, 0, {0, -1}, "0 "},
};

TEST(SpreadRules, TheTable) {
  for (const Turn& t : kTurns) {
    Shapes shapes(t.pages);
    const std::optional<Spread> shown =
        FindSpread(static_cast<int32_t>(std::string(t.pages).size()), t.mode, t.onScreen, t.index, t.step, shapes, t.cover);
    const Spread got = shown.value_or(kBeep);
    EXPECT_EQ(got, t.shown) << t.what << ": expected (" << t.shown.first << ", " << t.shown.second << "), got ("
                            << got.first << ", " << got.second << ")";
    if (t.decoded != nullptr) {
      EXPECT_EQ(shapes.decoded(), t.decoded) << t.what;
    }
  }
}

// A page on screen that is no longer at hand counts as wide: a step back
// then never pairs with it.
TEST(SpreadRules, TheShownPageCountsOnlyWhenAtHand) {
  class Forgetful final : public IPageShapes {
   public:
    PageShape Decode(int32_t) override { return PageShape::Upright; }
    PageShape Known(int32_t) const override { return PageShape::Wide; }
  } pages;
  EXPECT_EQ(FindSpread(4, PageMode::SpreadRight, {2, 3}, 2, -1, pages), (Spread{1, -1}));
  EXPECT_EQ(FindSpread(4, PageMode::SpreadRight, {1, 2}, 1, -2, pages), (Spread{0, -1}));
}

}  // namespace
