// A file system in memory behind the library's interfaces: folders list
// their entries in the order they were added, files read from a string.
// For tests of what reads books without touching the disk.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "platform/text.h"

namespace test {

class MemoryFile final : public CUnknownImpl<IFile> {
 public:
  explicit MemoryFile(std::shared_ptr<const std::string> bytes) : m_bytes(std::move(bytes)) {}
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    const uint64_t left = m_position < m_bytes->size() ? m_bytes->size() - m_position : 0;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bytes, left));
    if (n > 0) std::memcpy(buffer, m_bytes->data() + m_position, n);
    m_position += n;
    if (bytesRead != nullptr) *bytesRead = n;
    return 0;
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override {
    const int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(m_position)
                                                       : static_cast<int64_t>(m_bytes->size());
    if (origin > 2 || base + distance < 0) return 1;
    m_position = static_cast<uint64_t>(base + distance);
    if (newPosition != nullptr) *newPosition = m_position;
    return 0;
  }
  int32_t GetSize(uint64_t* size) override {
    *size = m_bytes->size();
    return 0;
  }

 private:
  std::shared_ptr<const std::string> m_bytes;
  uint64_t m_position = 0;
};

class MemoryEntries final : public CUnknownImpl<IFileSystemEntries> {
 public:
  explicit MemoryEntries(std::vector<FileSystemEntry> entries) : m_entries(std::move(entries)) {}
  int32_t Reserved() override { return 1; }
  int32_t GetCount(uint32_t* count) override {
    *count = static_cast<uint32_t>(m_entries.size());
    return 0;
  }
  int32_t GetEntry(uint32_t index, FileSystemEntry* entry) override {
    if (index >= m_entries.size()) return 1;
    *entry = m_entries[index];
    return 0;
  }

 private:
  std::vector<FileSystemEntry> m_entries;
};

// Paths are "/"-separated and absolute; "/" is the root folder.
class MemoryDirectory final : public CUnknownImpl<IDirectory> {
 public:
  MemoryDirectory() { m_nodes[u"/"]; }
  // Adds a file (and the folders on its way).
  void AddFile(const std::u16string& path, std::string bytes) {
    AddParents(path);
    m_nodes[path].bytes = std::make_shared<const std::string>(std::move(bytes));
  }
  void AddFolder(const std::u16string& path) {
    AddParents(path);
    m_nodes[path];
  }
  int listings = 0;  // GetEntries calls

  int32_t OpenFile(IFile** out, const char16_t* path, void*) override {
    auto found = m_nodes.find(path);
    if (found == m_nodes.end() || !found->second.bytes) return 1;
    return HandOut(new MemoryFile(found->second.bytes), IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? 0 : 1;
  }
  int32_t Mount(const char16_t*, IDirectory*) override { return 1; }
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override {
    ++listings;
    std::u16string folder(path);
    if (folder.size() > 1 && folder.back() == u'/') folder.pop_back();
    auto found = m_nodes.find(folder);
    if (found == m_nodes.end() || found->second.bytes) return 1;
    std::vector<FileSystemEntry> entries;
    for (const std::u16string& child : found->second.children) {
      const Node& node = m_nodes[child];
      FileSystemEntry entry{};
      const std::u16string name = child.substr(child.rfind(u'/') + 1);
      name.copy(entry.name, std::min<std::size_t>(name.size(), 259));
      entry.flags = node.bytes ? 0 : FILE_SYSTEM_ENTRY_FOLDER;
      entry.size = node.bytes ? node.bytes->size() : 0;
      entries.push_back(entry);
    }
    return HandOut(new MemoryEntries(std::move(entries)), IID_IFileSystemEntries, reinterpret_cast<void**>(out)) == S_OK
               ? 0
               : 1;
  }

 private:
  struct Node {
    std::shared_ptr<const std::string> bytes;  // null: a folder
    std::vector<std::u16string> children;
  };
  void AddParents(const std::u16string& path) {
    const std::size_t slash = path.rfind(u'/');
    const std::u16string parent = slash == 0 ? u"/" : path.substr(0, slash);
    if (parent != u"/" && !m_nodes.count(parent)) AddFolder(parent);
    auto& children = m_nodes[parent].children;
    if (std::find(children.begin(), children.end(), path) == children.end()) children.push_back(path);
  }
  std::map<std::u16string, Node> m_nodes;
};

// Answers every OpenDirectory of "/" with the one directory.
class MemoryFileSystem final : public CUnknownImpl<IFileSystem> {
 public:
  explicit MemoryFileSystem(MemoryDirectory* root) : m_root(root) { m_root->AddRef(); }
  int32_t OpenDirectory(IDirectory** out, const char16_t* path) override {
    if (std::u16string(path) != u"/") return 1;
    m_root->AddRef();
    *out = m_root;
    return 0;
  }

 private:
  ~MemoryFileSystem() override { m_root->Release(); }
  MemoryDirectory* m_root;
};

}  // namespace test
