#include "viewer/imaging/PageCache.h"

namespace {
constexpr int32_t kNewest = 256;
}  // namespace

int32_t CPageCache::Find(int32_t page) {
  // An entry of age 0 is free, so a zeroed entry is never taken for page 0.
  for (int32_t i = 0; i < kCapacity; ++i) {
    if (m_entries[i].age > 0 && m_entries[i].page == page) {
      Use(i);
      return i;
    }
  }
  return -1;
}

const PageImage* CPageCache::Peek(int32_t page) const {
  for (const Entry& entry : m_entries)
    if (entry.age > 0 && entry.page == page) return &entry.image;
  return nullptr;
}

PageImage* CPageCache::Edit(int32_t page) { return const_cast<PageImage*>(Peek(page)); }

int32_t CPageCache::Put(int32_t page, PageImage image) {
  // The first free entry; else the oldest, the first of equals.
  int32_t chosen = -1;
  for (int32_t i = 0; i < kCapacity && chosen < 0; ++i)
    if (m_entries[i].age == 0) chosen = i;
  if (chosen < 0) {
    int32_t lowest = 30000;
    for (int32_t i = 0; i < kCapacity; ++i)
      if (m_entries[i].age < lowest) lowest = m_entries[i].age, chosen = i;
  }
  Entry& entry = m_entries[static_cast<std::size_t>(chosen)];
  entry.image = std::move(image);
  entry.page = page;
  entry.reserved = 0;
  Use(chosen);
  return chosen;
}

void CPageCache::Reset() { m_entries.fill(Entry{}); }

void CPageCache::KeepFullPixelsOf(int32_t first, int32_t second) {
  for (Entry& entry : m_entries)
    if (entry.age > 0 && entry.page != first && entry.page != second) entry.image.DropFullPixels();
}

void CPageCache::Use(int32_t slot) {
  for (int32_t j = 0; j < kCapacity; ++j)
    if (j != slot && m_entries[j].age > 0) --m_entries[j].age;
  m_entries[static_cast<std::size_t>(slot)].age = kNewest;
}
