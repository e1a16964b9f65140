#include "viewer/book/History.h"

#include <algorithm>

void CHistory::Assign(std::vector<HistoryEntry> entries) {
  m_entries = std::move(entries);
  if (m_entries.size() > kLength) m_entries.resize(kLength);
}

bool CHistory::Add(const std::u16string& name, int32_t index) {
  auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const HistoryEntry& e) { return e.name == name; });
  const bool known = found != m_entries.end();
  if (known) m_entries.erase(found);
  m_entries.insert(m_entries.begin(), HistoryEntry{name, index});
  if (m_entries.size() > kLength) m_entries.pop_back();
  return !known;
}
