#include "viewer/book/Book.h"

#include <algorithm>

namespace {

// The value of a digit, or -1: ASCII and full-width digits both count, as
// Japanese names often number volumes in full-width digits.
int DigitValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'\uFF10' && unit <= u'\uFF19') return unit - u'\uFF10';
  return -1;
}

// Letters without case: ASCII, Latin-1 and full-width Latin capitals
// become small letters. A digit stands as its ASCII form, so that every
// number sorts on the same side of any other character.
char16_t Fold(char16_t unit) {
  if (const int digit = DigitValue(unit); digit >= 0) return static_cast<char16_t>(u'0' + digit);
  if (unit >= u'A' && unit <= u'Z') return static_cast<char16_t>(unit + 0x20);
  if (unit >= u'\u00C0' && unit <= u'\u00DE' && unit != u'\u00D7') return static_cast<char16_t>(unit + 0x20);
  if (unit >= u'\uFF21' && unit <= u'\uFF3A') return static_cast<char16_t>(unit + 0x20);
  return unit;
}

}  // namespace

int NaturalCompare(std::u16string_view a, std::u16string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (DigitValue(a[i]) >= 0 && DigitValue(b[j]) >= 0) {
      // Two numbers: leading zeros aside, the longer is the larger; of the
      // same length, the first differing digit decides.
      std::size_t endA = i, endB = j;
      while (endA < a.size() && DigitValue(a[endA]) >= 0) ++endA;
      while (endB < b.size() && DigitValue(b[endB]) >= 0) ++endB;
      std::size_t startA = i, startB = j;
      while (startA + 1 < endA && DigitValue(a[startA]) == 0) ++startA;
      while (startB + 1 < endB && DigitValue(b[startB]) == 0) ++startB;
      const std::size_t lengthA = endA - startA, lengthB = endB - startB;
      if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
      for (std::size_t k = 0; k < lengthA; ++k) {
        const int da = DigitValue(a[startA + k]), db = DigitValue(b[startB + k]);
        if (da != db) return da < db ? -1 : 1;
      }
      i = endA;
      j = endB;
      continue;
    }
    const char16_t ua = Fold(a[i]), ub = Fold(b[j]);
    if (ua != ub) return ua < ub ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  // Equal but for case or leading zeros: code-unit order keeps it total.
  return a.compare(b);
}

void SortByName(std::vector<PageEntry>& entries, NameOrder order) {
  // The same order as an exchange sort from the end: entries with equal
  // names keep their order.
  if (order == NameOrder::Natural)
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PageEntry& a, const PageEntry& b) { return NaturalCompare(a.name, b.name) < 0; });
  else
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

int32_t AppendTree(Book& book, const std::u16string& folder, NameOrder order) {
  // Depth first, pre-order: a folder's entry, everything inside it, then
  // its next sibling. The walk keeps its own stack, so no nesting depth can
  // exhaust the thread's.
  struct Level {
    std::vector<PageEntry> entries;
    std::size_t next = 0;
  };
  // In natural order each listing is sorted again, files staying before
  // folders as the directory lists them.
  auto list = [&](const std::u16string& path, std::vector<PageEntry>& entries) {
    if (ListEntries(book.root.get(), path, entries) != 0) return false;
    if (order == NameOrder::Natural)
      std::stable_sort(entries.begin(), entries.end(), [](const PageEntry& a, const PageEntry& b) {
        const bool folderA = a.state == PageState::Folder, folderB = b.state == PageState::Folder;
        if (folderA != folderB) return folderB;
        return NaturalCompare(a.name, b.name) < 0;
      });
    return true;
  };
  std::vector<Level> stack(1);
  if (!list(folder, stack.back().entries)) return 1;
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
      if (!list(below, inner.entries)) return 1;
      stack.push_back(std::move(inner));
    }
  }
  return 0;
}
