// The page grid's thumbnails of the open book held in memory: by page, the
// one used longest ago let go first once their bitmaps pass a byte bound.
#pragma once

#include <cstdint>
#include <list>
#include <map>

#include "platform/d2d1.h"
#include "platform/com.h"

class CThumbnailCache {
 public:
  // A few screens of a 500-page book's thumbnails, or all of them.
  static constexpr uint64_t kBudgetBytes = 64ull << 20;
  explicit CThumbnailCache(uint64_t budgetBytes = kBudgetBytes) : m_budget(budgetBytes) {}

  // The page's thumbnail, as a use; null when not held.
  ID2D1Bitmap* Find(int32_t page);
  // Keeps the page's thumbnail as the newest, letting the oldest go while
  // the bound is passed (never the one just put).
  void Put(int32_t page, ID2D1Bitmap* thumbnail);
  void Reset();
  uint64_t Bytes() const { return m_bytes; }
  std::size_t size() const { return m_entries.size(); }

 private:
  struct Entry {
    ComRef<ID2D1Bitmap> bitmap;
    uint64_t bytes = 0;
    std::list<int32_t>::iterator use;
  };
  void Forget(std::map<int32_t, Entry>::iterator entry);

  const uint64_t m_budget;
  uint64_t m_bytes = 0;
  std::map<int32_t, Entry> m_entries;
  std::list<int32_t> m_uses;  // oldest first
};
