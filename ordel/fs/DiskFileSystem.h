// The file-system interfaces over disk folders and files (POSIX).
#pragma once

#include <string>
#include <vector>

#include "ordel/FileSystem.h"

// The root object: turns an absolute folder path into a CDirectory.
class CFileSystem final : public CUnknownImpl<IFileSystem> {
 public:
  int32_t OpenDirectory(IDirectory** out, const char16_t* path) override;
};

// A disk folder as a tree of files, with directories mounted under path
// prefixes that take precedence when files are opened.
class CDirectory final : public CUnknownImpl<IDirectory> {
 public:
  explicit CDirectory(std::u16string root) : m_root(std::move(root)) {}

  int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) override;
  int32_t Mount(const char16_t* prefix, IDirectory* directory) override;
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override;

 private:
  ~CDirectory() override;

  struct MountRecord {
    IDirectory* directory;  // one reference held
    std::u16string prefix;
  };

  std::u16string m_root;  // absolute, always ending in "/"
  std::vector<MountRecord> m_mounts;  // in the order prefixes were first mounted
};

// One folder's direct children, kept compact: a large folder's records are
// 536 bytes each, its names a few dozen, so the names share one buffer and
// GetEntry builds the record on demand.
struct EntryList {
  struct Item {
    uint32_t nameOffset;  // into names; each name ends in a NUL
    uint32_t flags;
    uint64_t size;
  };
  std::u16string names;
  std::vector<Item> items;

  // Copies item `index` into the record whole: name, zeroed tail, flags, size.
  void CopyTo(std::size_t index, FileSystemEntry& entry) const;
};

// A snapshot of one folder's direct children.
class CFileSystemEntries final : public CUnknownImpl<IFileSystemEntries> {
 public:
  CFileSystemEntries(IDirectory* directory, EntryList entries);

  int32_t Reserved() override { return 1; }
  int32_t GetCount(uint32_t* count) override;
  int32_t GetEntry(uint32_t index, FileSystemEntry* entry) override;

 private:
  ~CFileSystemEntries() override;

  IDirectory* m_directory;  // released with the list; the disk listing keeps none
  EntryList m_entries;
};

// An open regular file, read-only, with the descriptor's position.
class CFile final : public CUnknownImpl<IFile> {
 public:
  explicit CFile(int fd) : m_fd(fd) {}

  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override;
  int32_t GetSize(uint64_t* size) override;

 private:
  ~CFile() override;

  int m_fd;
};

// Lists the folder at an absolute POSIX path (UTF-8 bytes), in the order the
// system returns the entries, skipping ".", "..", and whatever is neither a
// folder nor a regular file once links are followed. False when the folder
// cannot be opened.
bool ListDiskFolder(const std::string& folder, EntryList& entries);
