// Archives (Zip, RAR before 5, LZH, 7z) read through 7-Zip's library and
// presented through the file-system interfaces, so that a book in an
// archive reads exactly like a book in a folder.
#pragma once

#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "platform/system.h"
#include "viewer/book/SevenZip.h"
#include "viewer/book/SevenZipModule.h"

// One archive item, or a folder the item paths only imply (index -1).
struct ArchiveItem {
  int32_t index;
  uint64_t size;
  uint32_t flags;         // bit 0: a folder
  std::u16string folder;  // "/"-separated, leading and trailing "/"
  std::u16string name;
};

// The bytes of the file extracted last, from any archive, and the read
// position that every extracted CFile shares.
extern std::vector<BYTE> g_extractBuffer;
extern uint64_t g_extractPosition;

// An entry larger than this is never extracted: no page needs it, and a
// decompression bomb must not take the machine's memory.
constexpr uint64_t kMaxExtractBytes = 1ull << 30;

// 0 and the archive in `file` as a directory in *out; 1 when the library is
// missing or the file is no archive it can open (*out untouched).
int32_t OpenArchive(IFile* file, IDirectory** out);

// An item name from the library (UTF-16 units), with raw bytes that were
// not UTF-8 (U+EF80..U+EFFF) decoded as Shift-JIS where they form it.
std::u16string DecodeArchiveName(const std::u16string& units);

class C7zDirectory final : public CUnknownImpl<IDirectory> {
 public:
  int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) override;
  int32_t Mount(const char16_t* prefix, IDirectory* directory) override;
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override;

  int32_t LoadArchive(IFile* file);
  const std::vector<ArchiveItem>& items() const { return m_items; }

 private:
  ~C7zDirectory() override;

  std::vector<ArchiveItem> m_items;
  IInArchive* m_archive = nullptr;
};

class C7zFileSystemEntries final : public CUnknownImpl<IFileSystemEntries> {
 public:
  int32_t Reserved() override { return 1; }
  int32_t GetCount(uint32_t* count) override;
  int32_t GetEntry(uint32_t index, FileSystemEntry* entry) override;

  // Fills the list with the items directly in `path` (ending in "/"); 1 when
  // the table is empty or no such folder exists.
  int32_t Collect(const std::u16string& path, const std::vector<ArchiveItem>& items);

 private:
  std::vector<FileSystemEntry> m_entries;
};

// The file extracted last: g_extractBuffer, read at g_extractPosition.
class CFile final : public CUnknownImpl<IFile> {
 public:
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override;
  int32_t GetSize(uint64_t* size) override;
};

// An IFile as 7-Zip's input stream.
class CInFileStream final : public CUnknownImpl<IInStream, ISequentialInStream> {
 public:
  explicit CInFileStream(IFile* file) : m_file(file) { m_file->AddRef(); }
  HRESULT Read(void* data, UInt32 size, UInt32* processed) override;
  HRESULT Seek(Int64 offset, UInt32 origin, UInt64* newPosition) override;

 private:
  ~CInFileStream() override { m_file->Release(); }
  IFile* m_file;
};

// 7-Zip's output into g_extractBuffer.
class COutFileStream final : public CUnknownImpl<IOutStream, ISequentialOutStream> {
 public:
  HRESULT Write(const void* data, UInt32 size, UInt32* processed) override;
  HRESULT Seek(Int64, UInt32, UInt64*) override { return S_OK; }
  HRESULT SetSize(UInt64) override { return S_OK; }
};

class CArchiveOpenCallback final : public CUnknownImpl<IArchiveOpenCallback> {
 public:
  HRESULT SetTotal(const UInt64*, const UInt64*) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*, const UInt64*) override { return S_OK; }
};

class CArchiveExtractCallback final : public CUnknownImpl<IArchiveExtractCallback, IProgress> {
 public:
  CArchiveExtractCallback(IInArchive* archive, std::vector<ArchiveItem> items);
  HRESULT SetTotal(UInt64) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*) override { return S_OK; }
  HRESULT GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) override;
  HRESULT PrepareOperation(Int32 askExtractMode) override;
  HRESULT SetOperationResult(Int32 result) override;

 private:
  ~CArchiveExtractCallback() override { m_archive->Release(); }
  IInArchive* m_archive;
  std::vector<ArchiveItem> m_items;
};
