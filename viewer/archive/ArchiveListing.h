// The list of one folder of an archive, as any archive route gives it.
#pragma once

#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/archive/ArchiveItems.h"

// The entries of one folder of an item table (any archive route).
class C7zFileSystemEntries final : public CUnknownImpl<IFileSystemEntries> {
 public:
  int32_t Reserved() override { return 1; }
  int32_t GetCount(uint32_t* count) override;
  int32_t GetEntry(uint32_t index, FileSystemEntry* entry) override;

  // Fills the list with the items directly in `path` (ending in "/"); 1 when
  // the table is empty or no such folder exists.
  int32_t Collect(const std::u16string& path, const ArchiveItemTable& table);

 private:
  std::vector<FileSystemEntry> m_entries;
};

// GetEntries for any archive route: the list of one folder of `table`.
int32_t ListArchiveFolder(const ArchiveItemTable& table, const char16_t* path, IFileSystemEntries** out);
