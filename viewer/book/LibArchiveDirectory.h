// The archive route through libarchive, for what 7-Zip's library cannot
// decode on this system: compressed RAR 4 (filters included), RAR 5, and
// tar. The same item table and the same memory files as the 7-Zip route,
// behind the same IDirectory.
#pragma once

#include <memory>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/book/Archive.h"

class CLibArchiveDirectory final : public CUnknownImpl<IDirectory> {
 public:
  explicit CLibArchiveDirectory(IFile* file);

  int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) override;
  int32_t Mount(const char16_t* prefix, IDirectory* directory) override;
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override;

  // Lists the archive: 0 when libarchive reads it as tar, RAR 4 or RAR 5
  // and finds at least one entry. Listing stops at the first error, keeping
  // the entries before it.
  int32_t LoadArchive();
  const std::vector<ArchiveItem>& items() const { return m_table->items(); }

 private:
  ~CLibArchiveDirectory() override;

  // The bytes of entry `index` (in archive order). Each read opens the
  // archive again and skips to the entry, which costs little where entries
  // are compressed apart (a skip is a seek). In a solid archive a skip
  // decodes everything before the entry: a single pass that keeps the
  // entries as it goes belongs here.
  int32_t ReadEntry(uint32_t index, ExtractedBytes* bytes);

  IFile* m_file;
  std::shared_ptr<const ArchiveItemTable> m_table = std::make_shared<ArchiveItemTable>();
  std::vector<bool> m_encrypted;  // by archive index
};
