// The books read last, newest first, each with the page it was left at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct HistoryEntry {
  std::u16string name;  // the book's source path
  int32_t index = 0;    // the page last shown
};

class CHistory {
 public:
  static constexpr std::size_t kLength = 20;

  const std::vector<HistoryEntry>& Entries() const { return m_entries; }
  // Replaces the list (as read from the profile); entries past the limit go.
  void Assign(std::vector<HistoryEntry> entries);
  // Moves a known book to the front with its page, or puts a new one there
  // (the oldest dropping out past the limit). True when the book was new.
  bool Add(const std::u16string& name, int32_t index);

 private:
  std::vector<HistoryEntry> m_entries;
};
