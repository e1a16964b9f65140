// The pages decoded last, ready to draw: a fixed number of entries, the one
// used longest ago replaced first.
#pragma once

#include <array>
#include <cstdint>

#include "viewer/imaging/PageImage.h"

class CPageCache {
 public:
  static constexpr int kCapacity = 8;

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
  // Drops the full pixels of every page but these (where a scaled copy
  // stands in for them): pages off screen keep only what draws them.
  void KeepFullPixelsOf(int32_t first, int32_t second);

 private:
  struct Entry {
    int32_t age = 0;  // 256 when last used, one less at each use of another; 0 free
    int32_t page = 0;
    int32_t reserved = 0;
    PageImage image;
  };
  // Makes `slot` the newest entry.
  void Use(int32_t slot);

  std::array<Entry, kCapacity> m_entries{};
};
