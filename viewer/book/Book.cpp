#include "viewer/book/Book.h"

#include <algorithm>

void SortByName(std::vector<PageEntry>& entries) {
  // The same order as an exchange sort from the end: by code unit, entries
  // with equal names keeping their order.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const PageEntry& a, const PageEntry& b) { return a.name.compare(b.name) < 0; });
}

int32_t ListEntries(IDirectory* directory, const std::u16string& folder, std::vector<PageEntry>& out) {
  if (directory == nullptr) return 1;
  ComRef<IFileSystemEntries> list;
  if (directory->GetEntries(folder.c_str(), &list) != 0) return 1;
  uint32_t count = 0;
  if (list->GetCount(&count) != 0) return 1;
  out.clear();
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    FileSystemEntry record{};
    list->GetEntry(i, &record);
    const bool isFolder = (record.flags & FILE_SYSTEM_ENTRY_FOLDER) != 0;
    out.push_back(PageEntry{folder + record.name, record.name, record.size,
                            isFolder ? PageState::Folder : PageState::Unknown});
  }
  return 0;
}

int32_t AppendTree(Book& book, const std::u16string& folder) {
  // Depth first, pre-order: a folder's entry, everything inside it, then
  // its next sibling. The walk keeps its own stack, so no nesting depth can
  // exhaust the thread's.
  struct Level {
    std::vector<PageEntry> entries;
    std::size_t next = 0;
  };
  std::vector<Level> stack(1);
  if (ListEntries(book.root.get(), folder, stack.back().entries) != 0) return 1;
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.entries.size()) {
      stack.pop_back();
      continue;
    }
    PageEntry& entry = level.entries[level.next++];
    const bool descend = entry.state == PageState::Folder && entry.path.size() < kMaxWalkedPath;
    std::u16string below = descend ? entry.path + u"/" : std::u16string();
    book.pages.push_back(std::move(entry));
    if (descend) {
      Level inner;
      if (ListEntries(book.root.get(), below, inner.entries) != 0) return 1;
      stack.push_back(std::move(inner));
    }
  }
  return 0;
}
