#include "ordel/fs/DiskFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/text.h"

namespace {

int32_t LastErrorStatus() { return HRESULT_FROM_WIN32(errno); }

bool StartsWith(const char16_t* text, const std::u16string& prefix) {
  for (char16_t unit : prefix) {
    if (*text != unit) return false;  // also stops at the text's NUL
    ++text;
  }
  return true;
}

}  // namespace

// ---- CFileSystem ----

int32_t CFileSystem::OpenDirectory(IDirectory** out, const char16_t* path) {
  // Only absolute paths name a folder here; nothing on disk is consulted.
  if (out == nullptr || path == nullptr || path[0] != u'/') return FILE_SYSTEM_FAILED;
  std::u16string root(path);
  if (root.back() != u'/') root.push_back(u'/');
  CDirectory* directory = new (std::nothrow) CDirectory(std::move(root));
  if (directory == nullptr) return FILE_SYSTEM_FAILED;
  return HandOut(directory, IID_IDirectory, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
}

// ---- CDirectory ----

CDirectory::~CDirectory() {
  for (MountRecord& record : m_mounts) record.directory->Release();
}

int32_t CDirectory::OpenFile(IFile** out, const char16_t* path, void* reserved) {
  if (out == nullptr || path == nullptr) return FILE_SYSTEM_FAILED;

  // The first mount whose whole prefix starts the path takes the request,
  // even when a later one would match more of it.
  for (const MountRecord& record : m_mounts) {
    if (StartsWith(path, record.prefix))
      return record.directory->OpenFile(out, path + record.prefix.size(), reserved);
  }

  std::u16string full = m_root;
  if (path[0] == u'/') full.pop_back();  // exactly one "/" joins root and path
  full += path;

  // O_NONBLOCK so that naming a FIFO never waits for a writer; only regular
  // files are accepted after the open.
  const int fd = ::open(Utf16ToUtf8(full).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return FILE_SYSTEM_FAILED;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return FILE_SYSTEM_FAILED;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  CFile* file = new (std::nothrow) CFile(fd);
  if (file == nullptr) {
    ::close(fd);
    return FILE_SYSTEM_FAILED;
  }
  return HandOut(file, IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
}

int32_t CDirectory::Mount(const char16_t* prefix, IDirectory* directory) {
  // A record without a directory would fail every later open through it.
  if (prefix == nullptr || directory == nullptr) return FILE_SYSTEM_FAILED;
  for (MountRecord& record : m_mounts) {
    if (record.prefix == prefix) {
      directory->AddRef();
      record.directory->Release();
      record.directory = directory;
      return FILE_SYSTEM_OK;
    }
  }
  try {
    m_mounts.push_back(MountRecord{directory, prefix});
  } catch (const std::bad_alloc&) {
    return FILE_SYSTEM_FAILED;
  }
  directory->AddRef();
  return FILE_SYSTEM_OK;
}

int32_t CDirectory::GetEntries(const char16_t* path, IFileSystemEntries** out) {
  if (path == nullptr || out == nullptr) return FILE_SYSTEM_FAILED;
  std::u16string folder(m_root, 0, m_root.size() - 1);
  if (path[0] != u'/') folder.push_back(u'/');
  folder += path;

  EntryList entries;
  try {
    if (!ListDiskFolder(Utf16ToUtf8(folder), entries)) return FILE_SYSTEM_FAILED;
  } catch (const std::bad_alloc&) {
    return FILE_SYSTEM_FAILED;
  }
  CFileSystemEntries* list = new (std::nothrow) CFileSystemEntries(nullptr, std::move(entries));
  if (list == nullptr) return FILE_SYSTEM_FAILED;
  return HandOut(list, IID_IFileSystemEntries, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK
                                                                                     : FILE_SYSTEM_FAILED;
}

bool ListDiskFolder(const std::string& folder, EntryList& entries) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  const int dirFd = ::dirfd(dir);

  // One pass: the list is only what this pass saw, whatever the folder does
  // meanwhile.
  struct Closer {
    DIR* dir;
    ~Closer() { ::closedir(dir); }
  } closer{dir};

  while (const dirent* d = ::readdir(dir)) {
    const char* name = d->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;

    EntryList::Item item{static_cast<uint32_t>(entries.names.size()), 0, 0};
    if (d->d_type == DT_DIR) {
      item.flags = FILE_SYSTEM_ENTRY_FOLDER;
    } else if (d->d_type == DT_REG || d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
      // Links are followed: a link to a folder or file is one; a broken link
      // or a loop is skipped.
      struct stat st;
      if (::fstatat(dirFd, name, &st, 0) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        item.flags = FILE_SYSTEM_ENTRY_FOLDER;
      } else if (S_ISREG(st.st_mode)) {
        item.size = static_cast<uint64_t>(st.st_size);
      } else {
        continue;
      }
    } else {
      continue;  // FIFOs, sockets, devices
    }

    AppendUtf8AsUtf16(name, entries.names);
    // A name that does not fit a record could not be asked for again.
    if (entries.names.size() - item.nameOffset >= std::size(FileSystemEntry{}.name)) {
      entries.names.resize(item.nameOffset);
      continue;
    }
    entries.names.push_back(u'\0');
    entries.items.push_back(item);
  }
  return true;
}

void EntryList::CopyTo(std::size_t index, FileSystemEntry& entry) const {
  const Item& item = items[index];
  const char16_t* name = names.data() + item.nameOffset;
  const std::size_t length = std::char_traits<char16_t>::length(name);
  std::copy(name, name + length, entry.name);
  std::fill(entry.name + length, std::end(entry.name), u'\0');
  entry.flags = item.flags;
  entry.size = item.size;
}

// ---- CFileSystemEntries ----

CFileSystemEntries::CFileSystemEntries(IDirectory* directory, EntryList entries)
    : m_directory(directory), m_entries(std::move(entries)) {
  if (m_directory != nullptr) m_directory->AddRef();
}

CFileSystemEntries::~CFileSystemEntries() {
  if (m_directory != nullptr) m_directory->Release();
}

int32_t CFileSystemEntries::GetCount(uint32_t* count) {
  if (count == nullptr) return FILE_SYSTEM_FAILED;
  *count = static_cast<uint32_t>(m_entries.items.size());
  return FILE_SYSTEM_OK;
}

int32_t CFileSystemEntries::GetEntry(uint32_t index, FileSystemEntry* entry) {
  if (entry == nullptr || index >= m_entries.items.size()) return FILE_SYSTEM_FAILED;
  m_entries.CopyTo(index, *entry);
  return FILE_SYSTEM_OK;
}

// ---- CFile ----

CFile::~CFile() { ::close(m_fd); }

int32_t CFile::Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  // A regular file may hand back less than asked for in one call; keep
  // reading until the count is met or the file ends, as a synchronous
  // Windows read does.
  auto* p = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  int32_t status = FILE_SYSTEM_OK;
  while (done < bytes) {
    const ssize_t n = ::read(m_fd, p + done, bytes - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      status = LastErrorStatus();
      break;
    }
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return status;
}

int32_t CFile::Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  const off_t position = ::lseek(m_fd, static_cast<off_t>(distance), whence);
  if (position < 0) return LastErrorStatus();
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(position);
  return FILE_SYSTEM_OK;
}

int32_t CFile::GetSize(uint64_t* size) {
  if (size == nullptr) return FILE_SYSTEM_FAILED;
  struct stat st;
  if (::fstat(m_fd, &st) != 0) return LastErrorStatus();
  *size = static_cast<uint64_t>(st.st_size);
  return FILE_SYSTEM_OK;
}
