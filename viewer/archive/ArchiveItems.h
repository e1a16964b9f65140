// The item table of an archive: its items, the folders their paths imply,
// in listing order, with an index by folder and by archive index. Built
// once when the archive opens, in O(n log n) of the total name length;
// lookups then cost a walk down the path, never a scan of the table.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ordel/FileSystem.h"

// One archive item, or a folder the item paths only imply (index -1). The
// texts point into the table that holds the item.
struct ArchiveItem {
  int32_t index;
  uint64_t size;
  uint32_t flags;               // FILE_SYSTEM_ENTRY_FOLDER: a folder
  std::u16string_view folder;   // "/"-separated, leading and trailing "/"
  std::u16string_view name;
};

class ArchiveItemTable {
 public:
  ArchiveItemTable();
  ArchiveItemTable(const ArchiveItemTable&) = delete;  // items point into it
  ArchiveItemTable& operator=(const ArchiveItemTable&) = delete;

  // One archive item, in archive order; `path` is its name in the archive
  // with "/" separators (a leading "/" is optional).
  void Add(int32_t index, uint64_t size, bool folder, std::u16string path);
  // Adds the implied folders and puts the table in listing order: by
  // folder, then files before folders, then by name (code units; items that
  // compare equal keep their archive order). The table is read-only after.
  void Finish();

  const std::vector<ArchiveItem>& items() const { return m_items; }
  bool empty() const { return m_items.empty(); }

  // The first item, in listing order, whose folder + name is `path`.
  const ArchiveItem* Find(std::u16string_view path) const;
  // The items directly in `folder` (ending in "/"); false when the table
  // has no such folder (an empty folder is one with no items).
  bool List(std::u16string_view folder, std::span<const ArchiveItem>* items) const;
  // The item with this archive index; null for none.
  const ArchiveItem* ByIndex(uint32_t index) const;

 private:
  // A path segment compares as segment + "/", so that the depth-first walk
  // of the folders gives the order of their full paths.
  struct SegmentLess {
    bool operator()(std::u16string_view a, std::u16string_view b) const;
  };
  struct Folder {
    uint32_t parent = 0;
    std::u16string_view name;
    std::u16string_view path;  // with the trailing "/"; set once something is inside
    bool listed = false;       // the archive has a folder item for it
    std::map<std::u16string_view, uint32_t, SegmentLess> children;
    std::vector<uint32_t> entries;  // into m_raw
    std::size_t first = 0, end = 0;  // its items in m_items, after Finish
  };
  struct Raw {
    int32_t index;
    uint64_t size;
    bool folder;
    std::u16string_view name;
  };

  uint32_t Child(uint32_t parent, std::u16string_view name);
  const Folder* FindFolder(std::u16string_view path) const;

  std::deque<std::u16string> m_paths;  // the names the views point into
  std::vector<Folder> m_folders;       // [0] is the root
  std::vector<Raw> m_raw;
  std::vector<ArchiveItem> m_items;
  std::vector<uint32_t> m_byIndex;     // archive index -> position in m_items + 1; 0 for none
};
