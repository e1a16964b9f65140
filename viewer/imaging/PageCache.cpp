#include "viewer/imaging/PageCache.h"


namespace {

constexpr int32_t kNewest = 256;

// What a page's bitmaps take (a bitmap held twice counts once).
uint64_t BytesOf(const PageImage& image) {
  auto bytes = [](const ComRef<ID2D1Bitmap>& bitmap) -> uint64_t {
    if (!bitmap) return 0;
    const D2D1_SIZE_U pixels = bitmap->GetPixelSize();
    return uint64_t{pixels.width} * pixels.height * 4;
  };
  uint64_t parts = 0;
  for (const PagePart& part : image.parts) parts += bytes(part.bitmap);
  return bytes(image.full) + (image.scaled.get() != image.full.get() ? bytes(image.scaled) : 0) + parts;
}

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
  Trim();
  return chosen;
}

void CPageCache::Reset() {
  m_entries.fill(Entry{});
  m_shown[0] = m_shown[1] = -1;
}

void CPageCache::KeepFullPixelsOf(int32_t first, int32_t second) {
  m_shown[0] = first;
  m_shown[1] = second;
  for (Entry& entry : m_entries)
    if (entry.age > 0 && entry.page != first && entry.page != second) {
      entry.image.DropFullPixels();
      entry.image.parts.clear();  // made for the view they were on screen in
    }
  Trim();
}

uint64_t CPageCache::Bytes() const {
  uint64_t bytes = 0;
  for (const Entry& entry : m_entries)
    if (entry.age > 0) bytes += BytesOf(entry.image);
  return bytes;
}

void CPageCache::Trim() {
  uint64_t bytes = Bytes();
  if (bytes <= m_budget) return;
  // The two newest entries: the pages of a spread being looked for.
  int32_t newest = -1, next = -1;
  for (int32_t i = 0; i < kCapacity; ++i) {
    const int32_t age = m_entries[static_cast<std::size_t>(i)].age;
    if (age == 0) continue;
    if (newest < 0 || age > m_entries[static_cast<std::size_t>(newest)].age) {
      next = newest;
      newest = i;
    } else if (next < 0 || age > m_entries[static_cast<std::size_t>(next)].age) {
      next = i;
    }
  }
  auto age = [&](int32_t i) { return m_entries[static_cast<std::size_t>(i)].age; };
  auto spared = [&](int32_t i) {
    const Entry& entry = m_entries[static_cast<std::size_t>(i)];
    return entry.age == 0 || i == newest || i == next || entry.page == m_shown[0] || entry.page == m_shown[1];
  };
  // Oldest first: the full pixels a scaled copy stands in for, then whole
  // entries.
  for (const bool whole : {false, true}) {
    std::array<bool, kCapacity> done{};
    while (bytes > m_budget) {
      int32_t oldest = -1;
      for (int32_t i = 0; i < kCapacity; ++i)
        if (!spared(i) && !done[static_cast<std::size_t>(i)] && (oldest < 0 || age(i) < age(oldest))) oldest = i;
      if (oldest < 0) break;
      done[static_cast<std::size_t>(oldest)] = true;
      Entry& entry = m_entries[static_cast<std::size_t>(oldest)];
      bytes -= BytesOf(entry.image);
      if (whole) {
        entry = Entry{};
      } else {
        entry.image.DropFullPixels();
        bytes += BytesOf(entry.image);
      }
    }
  }
}

void CPageCache::Use(int32_t slot) {
  for (int32_t j = 0; j < kCapacity; ++j)
    if (j != slot && m_entries[j].age > 0) --m_entries[j].age;
  m_entries[static_cast<std::size_t>(slot)].age = kNewest;
}
