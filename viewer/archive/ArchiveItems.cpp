#include "viewer/archive/ArchiveItems.h"

#include <algorithm>

namespace {

constexpr std::u16string_view kRoot = u"/";

}  // namespace

bool ArchiveItemTable::SegmentLess::operator()(std::u16string_view a, std::u16string_view b) const {
  const std::size_t n = std::min(a.size(), b.size());
  if (const int c = a.substr(0, n).compare(b.substr(0, n)); c != 0) return c < 0;
  if (a.size() == b.size()) return false;
  return a.size() < b.size() ? u'/' < b[n] : a[n] < u'/';
}

ArchiveItemTable::ArchiveItemTable() {
  Folder& root = m_folders.emplace_back();
  root.path = kRoot;
  root.listed = true;
}

uint32_t ArchiveItemTable::Child(uint32_t parent, std::u16string_view name) {
  auto& children = m_folders[parent].children;
  if (auto it = children.find(name); it != children.end()) return it->second;
  const auto id = static_cast<uint32_t>(m_folders.size());
  Folder& child = m_folders.emplace_back();
  child.parent = parent;
  child.name = name;
  m_folders[parent].children.emplace(name, id);  // m_folders may have moved: look the parent up again
  return id;
}

void ArchiveItemTable::Add(int32_t index, uint64_t size, bool folder, std::u16string path) {
  // The full path: "/" and the name, unless the name starts with "/".
  if (path.empty() || path[0] != u'/') path.insert(path.begin(), u'/');
  const std::u16string_view full = m_paths.emplace_back(std::move(path));

  // Down the folders to the one holding the item; each segment is a map
  // lookup, so a path costs its length times a logarithm.
  uint32_t at = 0;
  std::size_t start = 1;
  for (std::size_t slash = full.find(u'/', start); slash != std::u16string_view::npos;
       start = slash + 1, slash = full.find(u'/', start)) {
    at = Child(at, full.substr(start, slash - start));
    if (m_folders[at].path.empty()) m_folders[at].path = full.substr(0, slash + 1);
  }
  const std::u16string_view name = full.substr(start);
  if (folder) m_folders[Child(at, name)].listed = true;
  m_folders[at].entries.push_back(static_cast<uint32_t>(m_raw.size()));
  m_raw.push_back(Raw{index, size, folder, name});
  if (index >= 0) {
    if (m_byIndex.size() <= static_cast<std::size_t>(index)) m_byIndex.resize(static_cast<std::size_t>(index) + 1, 0);
  }
}

void ArchiveItemTable::Finish() {
  // Every folder on the way to an item exists, listed or not.
  for (uint32_t f = 1; f < m_folders.size(); ++f) {
    if (m_folders[f].listed) continue;
    m_folders[m_folders[f].parent].entries.push_back(static_cast<uint32_t>(m_raw.size()));
    m_raw.push_back(Raw{-1, 0, true, m_folders[f].name});
  }

  // Depth first, children in segment order: the folders in the order of
  // their full paths, each before everything under it. An explicit stack,
  // as archive paths may nest thousands deep.
  m_items.clear();
  m_items.reserve(m_raw.size());
  std::vector<uint32_t> stack{0};
  while (!stack.empty()) {
    Folder& folder = m_folders[stack.back()];
    stack.pop_back();
    std::stable_sort(folder.entries.begin(), folder.entries.end(), [&](uint32_t a, uint32_t b) {
      const Raw &x = m_raw[a], &y = m_raw[b];
      if (x.folder != y.folder) return !x.folder;  // files first
      return x.name.compare(y.name) < 0;
    });
    folder.first = m_items.size();
    for (uint32_t r : folder.entries) {
      const Raw& raw = m_raw[r];
      m_items.push_back(ArchiveItem{raw.index, raw.size, raw.folder ? FILE_SYSTEM_ENTRY_FOLDER : 0u, folder.path, raw.name});
    }
    folder.end = m_items.size();
    for (auto it = folder.children.rbegin(); it != folder.children.rend(); ++it) stack.push_back(it->second);
    std::vector<uint32_t>().swap(folder.entries);
  }
  std::vector<Raw>().swap(m_raw);

  for (std::size_t i = m_items.size(); i-- > 0;)  // the first of equal indices wins
    if (m_items[i].index >= 0) m_byIndex[static_cast<std::size_t>(m_items[i].index)] = static_cast<uint32_t>(i + 1);
}

const ArchiveItemTable::Folder* ArchiveItemTable::FindFolder(std::u16string_view path) const {
  if (path.empty() || path.front() != u'/' || path.back() != u'/') return nullptr;
  uint32_t at = 0;
  for (std::size_t start = 1; start < path.size();) {
    const std::size_t slash = path.find(u'/', start);
    const auto& children = m_folders[at].children;
    const auto it = children.find(path.substr(start, slash - start));
    if (it == children.end()) return nullptr;
    at = it->second;
    start = slash + 1;
  }
  return &m_folders[at];
}

bool ArchiveItemTable::List(std::u16string_view folder, std::span<const ArchiveItem>* items) const {
  if (m_items.empty()) return false;
  const Folder* found = FindFolder(folder);
  if (found == nullptr) return false;
  *items = std::span<const ArchiveItem>(m_items).subspan(found->first, found->end - found->first);
  return true;
}

const ArchiveItem* ArchiveItemTable::Find(std::u16string_view path) const {
  const std::size_t slash = path.rfind(u'/');
  if (slash == std::u16string_view::npos) return nullptr;
  std::span<const ArchiveItem> items;
  if (!List(path.substr(0, slash + 1), &items)) return nullptr;
  const std::u16string_view name = path.substr(slash + 1);
  // Files, then folders, each group ordered by name.
  const auto folders = std::partition_point(items.begin(), items.end(), [](const ArchiveItem& i) { return !(i.flags & FILE_SYSTEM_ENTRY_FOLDER); });
  for (auto [begin, end] : {std::pair{items.begin(), folders}, std::pair{folders, items.end()}}) {
    const auto it = std::lower_bound(begin, end, name, [](const ArchiveItem& i, std::u16string_view n) { return i.name < n; });
    if (it != end && it->name == name) return &*it;
  }
  return nullptr;
}

const ArchiveItem* ArchiveItemTable::ByIndex(uint32_t index) const {
  if (index >= m_byIndex.size() || m_byIndex[index] == 0) return nullptr;
  return &m_items[m_byIndex[index] - 1];
}
