// The virtual file system shared by the library and the viewer: four
// interfaces whose vtables cross between modules slot for slot, and the
// record that a listing fills. Statuses: 0 success, 1 ordinary failure, a
// negative HRESULT for a disk error.
#pragma once

#include <cstdint>

#include "platform/com.h"

struct IFile;
struct IFileSystemEntries;

struct FileSystemEntry {
  char16_t name[260];  // the entry's own name, NUL-terminated
  uint32_t flags;      // bit 0: a folder
  uint64_t size;       // bytes; 0 for folders on disk
};
static_assert(sizeof(FileSystemEntry) == 536);

constexpr uint32_t FILE_SYSTEM_ENTRY_FOLDER = 1;

// What the interfaces' calls return, unless they say otherwise.
constexpr int32_t FILE_SYSTEM_OK = 0;
constexpr int32_t FILE_SYSTEM_FAILED = 1;

struct IDirectory : IUnknown {
  static constexpr GUID iid = MakeGuid("{0AE7818C-7EA2-4F59-A553-C6484A26E561}");
  virtual int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) = 0;
  virtual int32_t Mount(const char16_t* prefix, IDirectory* directory) = 0;
  virtual int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) = 0;
};

struct IFileSystem : IUnknown {
  static constexpr GUID iid = MakeGuid("{FE20D19E-FF64-4B6F-B412-9EF4C5DEE88D}");
  virtual int32_t OpenDirectory(IDirectory** out, const char16_t* path) = 0;
};

struct IFileSystemEntries : IUnknown {
  static constexpr GUID iid = MakeGuid("{4FD30E3E-7153-4C59-9866-A9C149767FE1}");
  virtual int32_t Reserved() = 0;
  virtual int32_t GetCount(uint32_t* count) = 0;
  virtual int32_t GetEntry(uint32_t index, FileSystemEntry* entry) = 0;
};

struct IFile : IUnknown {
  static constexpr GUID iid = MakeGuid("{7FB017F8-D3AF-4590-BE28-86846C988E45}");
  virtual int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) = 0;
  virtual int32_t Reserved() = 0;
  virtual int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) = 0;
  virtual int32_t GetSize(uint64_t* size) = 0;
};

inline constexpr const GUID& IID_IFileSystem = IFileSystem::iid;
inline constexpr const GUID& IID_IDirectory = IDirectory::iid;
inline constexpr const GUID& IID_IFileSystemEntries = IFileSystemEntries::iid;
inline constexpr const GUID& IID_IFile = IFile::iid;
