// The pages decoded last, ready to draw: a fixed number of entries, the one
// used longest ago replaced first.
#pragma once

#include <array>
#include <cstdint>

#include "platform/d2d1.h"

class CPageCache {
 public:
  static constexpr int kCapacity = 8;

  CPageCache() = default;
  ~CPageCache() { Reset(); }
  CPageCache(const CPageCache&) = delete;
  CPageCache& operator=(const CPageCache&) = delete;

  // A hit: the slot holding the page, which counts as a use (it becomes the
  // newest, every other entry ages by one). -1 when the page is not held.
  int32_t Find(int32_t page);
  // The page's bitmap without counting a use; null when not held.
  ID2D1Bitmap* Peek(int32_t page) const;
  // Keeps a new page (with a reference of its own) in the free entry or the
  // oldest one, as the newest; its slot.
  int32_t Put(int32_t page, ID2D1Bitmap* bitmap);
  // Lets every page go.
  void Reset();

 private:
  struct Entry {
    int32_t age = 0;  // 256 when last used, one less at each use of another; 0 free
    int32_t page = 0;
    int32_t reserved = 0;
    ID2D1Bitmap* bitmap = nullptr;
  };
  // Makes `slot` the newest entry.
  void Use(int32_t slot);

  std::array<Entry, kCapacity> m_entries{};
};
