// The open book: its entries in page order, the directory their bytes are
// read from, the pages on screen and, for an archive opened from a disk
// folder, that folder's sorted listing for stepping to the next archive.
#pragma once

#include <string>
#include <vector>

#include "ordel/FileSystem.h"

constexpr int32_t PageStateUnknown = 0;
constexpr int32_t PageStateFolder = 1;
constexpr int32_t PageStateNotImage = 16;
constexpr int32_t PageStateImage = 17;

constexpr int32_t BookKindFolder = 1;
constexpr int32_t BookKindArchive = 2;

struct PageEntry {
  std::u16string path;  // under the directory it was listed from
  std::u16string name;
  uint64_t size = 0;
  int32_t state = PageStateUnknown;
};

// An IDirectory reference that copies take a reference of their own on.
class DirectoryRef {
 public:
  DirectoryRef() = default;
  ~DirectoryRef() { Reset(); }
  DirectoryRef(const DirectoryRef& other) : m_p(other.m_p) {
    if (m_p != nullptr) m_p->AddRef();
  }
  DirectoryRef& operator=(const DirectoryRef& other) {
    if (other.m_p != nullptr) other.m_p->AddRef();
    Reset();
    m_p = other.m_p;
    return *this;
  }
  IDirectory* get() const { return m_p; }
  IDirectory* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // The slot for a creating call; whatever was held is released first.
  IDirectory** Receive() {
    Reset();
    return &m_p;
  }
  void Reset() {
    if (m_p != nullptr) m_p->Release();
    m_p = nullptr;
  }

 private:
  IDirectory* m_p = nullptr;
};

// The disk folder that holds the open archive file.
struct ArchiveFolder {
  DirectoryRef root;  // the drive root's directory
  int32_t current = 0;
  std::vector<PageEntry> entries;  // sorted by name
  std::u16string drive;
  std::u16string folder;         // under root, "/" form with leading and trailing "/"
  std::u16string windowsFolder;  // the folder as the user's path, ending in its separator
};

struct Book {
  int32_t current = 0;
  int32_t second = -1;
  DirectoryRef root;
  int32_t kind = 0;
  std::u16string source;
  std::u16string folder;
  std::u16string displayName;
  std::vector<PageEntry> pages;
  ArchiveFolder archiveFolder;

  // Empties the book; the archive folder part only while g_bookIsArchive
  // is 0, so that the next archive can still be found.
  void Clear();
};

// 1 while the open book is an archive opened from a disk folder.
extern int32_t g_bookIsArchive;

// Code-unit order: no case folding, no numbers; stable.
void SortByName(std::vector<PageEntry>& entries);

// Appends the entries of `folder` (ending in "/") of the book's root and,
// depth first, of its subfolders to the pages. 0, or 1 when a listing fails.
int32_t AppendTree(Book& book, const std::u16string& folder);
