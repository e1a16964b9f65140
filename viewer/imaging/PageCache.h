// The pages decoded last, ready to draw: at most a fixed number of entries,
// the one used longest ago replaced first, and a budget in bytes besides.
#pragma once

#include <array>
#include <cstdint>

#include "viewer/imaging/PageImage.h"

class CPageCache {
 public:
  static constexpr int kCapacity = 8;
  // What the entries' bitmaps may take in all: three full pages as large as
  // the decoder keeps them, or many times eight pages drawn at screen size.
  // Over it, pages off screen give up their full pixels, then whole
  // entries go, the oldest first; never the pages on screen, nor the two
  // put last (a spread being looked for).
  static constexpr uint64_t kBudgetBytes = 384ull << 20;

  explicit CPageCache(uint64_t budgetBytes = kBudgetBytes) : m_budget(budgetBytes) {}

  // A hit: the slot holding the page, which counts as a use (it becomes the
  // newest, every other entry ages by one). -1 when the page is not held.
  int32_t Find(int32_t page);
  // The page without counting a use; null when not held.
  const PageImage* Peek(int32_t page) const;
  // The same, to add a scaled copy or let pixels go.
  PageImage* Edit(int32_t page);
  // Keeps a new page in the free entry or the oldest one, as the newest;
  // its slot.
  int32_t Put(int32_t page, PageImage image);
  // Lets every page go.
  void Reset();
  // Drops the full pixels of every page but these, the pages on screen
  // (where a scaled copy stands in for them), and their parts made for a
  // zoom: pages off screen keep only what draws them.
  void KeepFullPixelsOf(int32_t first, int32_t second);
  // What the entries' bitmaps take now.
  uint64_t Bytes() const;

 private:
  struct Entry {
    int32_t age = 0;  // 256 when last used, one less at each use of another; 0 free
    int32_t page = 0;
    int32_t reserved = 0;
    PageImage image;
  };
  // Makes `slot` the newest entry.
  void Use(int32_t slot);
  // Brings the entries within the budget, sparing the pages on screen and
  // the two newest entries.
  void Trim();

  std::array<Entry, kCapacity> m_entries{};
  uint64_t m_budget;
  int32_t m_shown[2] = {-1, -1};  // the pages on screen, as last told
};
