#include "viewer/imaging/ThumbnailCache.h"

ID2D1Bitmap* CThumbnailCache::Find(int32_t page) {
  auto entry = m_entries.find(page);
  if (entry == m_entries.end()) return nullptr;
  m_uses.splice(m_uses.end(), m_uses, entry->second.use);
  return entry->second.bitmap.get();
}

void CThumbnailCache::Put(int32_t page, ID2D1Bitmap* thumbnail) {
  if (thumbnail == nullptr) return;
  if (auto old = m_entries.find(page); old != m_entries.end()) Forget(old);
  const D2D1_SIZE_U pixels = thumbnail->GetPixelSize();
  Entry entry;
  entry.bitmap.Set(thumbnail);
  entry.bytes = 4ull * pixels.width * pixels.height;
  entry.use = m_uses.insert(m_uses.end(), page);
  m_bytes += entry.bytes;
  m_entries.emplace(page, std::move(entry));
  while (m_bytes > m_budget && m_uses.front() != page) Forget(m_entries.find(m_uses.front()));
}

void CThumbnailCache::Forget(std::map<int32_t, Entry>::iterator entry) {
  m_bytes -= entry->second.bytes;
  m_uses.erase(entry->second.use);
  m_entries.erase(entry);
}

void CThumbnailCache::Reset() {
  m_entries.clear();
  m_uses.clear();
  m_bytes = 0;
}
