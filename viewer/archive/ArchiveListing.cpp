#include "viewer/archive/ArchiveListing.h"

#include <new>
#include <span>

int32_t C7zFileSystemEntries::Collect(const std::u16string& path, const ArchiveItemTable& table) {
  std::span<const ArchiveItem> items;
  if (!table.List(path, &items)) return FILE_SYSTEM_FAILED;
  m_entries.reserve(items.size());
  for (const ArchiveItem& item : items) {
    FileSystemEntry entry{};
    // A name that does not fit the record stays out of the list rather than
    // being cut into a name that opens nothing.
    if (item.name.size() >= std::size(entry.name)) continue;
    item.name.copy(entry.name, item.name.size());
    entry.flags = item.flags & FILE_SYSTEM_ENTRY_FOLDER;
    entry.size = item.size;
    m_entries.push_back(entry);
  }
  return FILE_SYSTEM_OK;
}

int32_t C7zFileSystemEntries::GetCount(uint32_t* count) {
  if (count == nullptr) return FILE_SYSTEM_FAILED;
  *count = static_cast<uint32_t>(m_entries.size());
  return FILE_SYSTEM_OK;
}

int32_t C7zFileSystemEntries::GetEntry(uint32_t index, FileSystemEntry* entry) {
  if (entry == nullptr || index >= m_entries.size()) return FILE_SYSTEM_FAILED;
  *entry = m_entries[index];
  return FILE_SYSTEM_OK;
}

int32_t ListArchiveFolder(const ArchiveItemTable& table, const char16_t* path, IFileSystemEntries** out) {
  if (path == nullptr || out == nullptr) return FILE_SYSTEM_FAILED;
  C7zFileSystemEntries* list = new (std::nothrow) C7zFileSystemEntries;
  if (list == nullptr) return FILE_SYSTEM_FAILED;
  list->AddRef();
  int32_t result = FILE_SYSTEM_FAILED;
  try {
    std::u16string folder(path);
    if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
    result = list->Collect(folder, table);
  } catch (const std::bad_alloc&) {
  }
  if (result == FILE_SYSTEM_OK) result = list->QueryInterface(IID_IFileSystemEntries, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
  list->Release();
  return result;
}
