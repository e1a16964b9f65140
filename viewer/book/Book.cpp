#include "viewer/book/Book.h"

#include <algorithm>

int32_t g_bookIsArchive = 0;

void Book::Clear() {
  current = 0;
  root.Reset();
  source.clear();
  folder.clear();
  displayName.clear();
  pages.clear();
  if (g_bookIsArchive == 0) {
    archiveFolder.entries.clear();
    archiveFolder.root.Reset();
    archiveFolder.drive.clear();
    archiveFolder.folder.clear();
    archiveFolder.windowsFolder.clear();
  }
}

void SortByName(std::vector<PageEntry>& entries) {
  // The same order as an exchange sort from the end: by code unit, entries
  // with equal names keeping their order.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const PageEntry& a, const PageEntry& b) { return a.name.compare(b.name) < 0; });
}

int32_t AppendTree(Book& book, const std::u16string& folder) {
  IFileSystemEntries* list = nullptr;
  if (book.root->GetEntries(folder.c_str(), &list) != 0) return 1;
  uint32_t count = 0;
  if (list->GetCount(&count) != 0) {
    list->Release();
    return 1;
  }
  std::vector<FileSystemEntry> records(count);
  for (uint32_t i = 0; i < count; ++i) list->GetEntry(i, &records[i]);
  list->Release();

  for (const FileSystemEntry& record : records) {
    const bool isFolder = (record.flags & 1) != 0;
    PageEntry entry{folder + record.name, record.name, record.size, isFolder ? PageStateFolder : PageStateUnknown};
    const std::u16string below = entry.path + u"/";
    book.pages.push_back(std::move(entry));
    if (isFolder && AppendTree(book, below) != 0) return 1;
  }
  return 0;
}
