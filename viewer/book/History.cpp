#include "viewer/book/History.h"

#include <algorithm>

void CHistory::Assign(std::vector<HistoryEntry> entries) {
  m_entries = std::move(entries);
  if (m_entries.size() > kLength) m_entries.resize(kLength);
}

bool CHistory::Add(const std::u16string& name, int32_t index, const std::u16string& page) {
  auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const HistoryEntry& e) { return e.name == name; });
  const bool known = found != m_entries.end();
  if (known) m_entries.erase(found);
  m_entries.insert(m_entries.begin(), HistoryEntry{name, index, page});
  if (m_entries.size() > kLength) m_entries.pop_back();
  return !known;
}

const HistoryEntry* CHistory::Find(const std::u16string& name) const {
  auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const HistoryEntry& e) { return e.name == name; });
  return found != m_entries.end() ? &*found : nullptr;
}

void CHistory::SetPage(const std::u16string& name, const std::u16string& page) {
  for (HistoryEntry& entry : m_entries)
    if (entry.name == name) {
      entry.page = page;
      return;
    }
}
