// The books read last, newest first, each with the page it was left at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct HistoryEntry {
  HistoryEntry() = default;
  HistoryEntry(std::u16string name, int32_t index, std::u16string page = {})
      : name(std::move(name)), index(index), page(std::move(page)) {}

  std::u16string name;  // the book's source path
  int32_t index = 0;    // the page last shown
  // That page's path in the book, so that the place survives a change of
  // page order; empty when not known. Not part of the profile file.
  std::u16string page;
};

class CHistory {
 public:
  static constexpr std::size_t kLength = 20;

  const std::vector<HistoryEntry>& Entries() const { return m_entries; }
  // Replaces the list (as read from the profile); entries past the limit go.
  void Assign(std::vector<HistoryEntry> entries);
  // Moves a known book to the front with its page, or puts a new one there
  // (the oldest dropping out past the limit). True when the book was new.
  bool Add(const std::u16string& name, int32_t index, const std::u16string& page = {});
  // The entry of a book, or null.
  const HistoryEntry* Find(const std::u16string& name) const;
  // Gives the entry of `name` its page path (as read from elsewhere than the
  // profile); nothing when the book is not in the history.
  void SetPage(const std::u16string& name, const std::u16string& page);

 private:
  std::vector<HistoryEntry> m_entries;
};
