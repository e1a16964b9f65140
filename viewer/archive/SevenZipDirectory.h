// An archive read through 7-Zip's library, as a directory; the streams and
// callbacks the library reads and extracts through.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/archive/ArchiveItems.h"
#include "viewer/archive/ArchiveLimits.h"
#include "viewer/archive/ArchiveLock.h"
#include "viewer/archive/ArchiveTrouble.h"
#include "viewer/archive/MemoryFile.h"
#include "viewer/archive/PasswordCallback.h"
#include "viewer/archive/Passwords.h"
#include "viewer/archive/SevenZip.h"
#include "viewer/archive/SpillFile.h"

class SolidReader;

class C7zDirectory final : public CUnknownImpl<IDirectory> {
 public:
  explicit C7zDirectory(uint64_t solidBudget = kDefaultSolidBudget, ArchivePassword password = {}, SpillPlace spill = {});
  int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) override;
  int32_t Mount(const char16_t* prefix, IDirectory* directory) override;
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override;

  // 0 when the library opens `file` with the handler its signature names
  // (format() is that handler's number once this has run). A solid archive
  // is then read in one pass, the first time a file is opened.
  int32_t LoadArchive(IFile* file);
  const std::vector<ArchiveItem>& items() const { return m_table->items(); }
  const std::shared_ptr<const ArchiveItemTable>& table() const { return m_table; }
  uint8_t format() const { return m_format; }
  // The handlers format() names.
  static constexpr uint8_t kZip = 0x01, kRar = 0x03, kLzh = 0x06, k7z = 0x07;
  // Whether the library here can decode every item (RAR: stored entries only).
  bool DecodesEveryItem() const;
  // Whether the library's list of the items broke off before the archive's
  // end (a file cut short, headers that do not read): items past the break
  // are missing.
  bool ListingCutShort() const { return m_listingCutShort; }
  // Whether items are read by one pass (the archive says it is solid).
  bool IsSolid() const { return m_solid != nullptr; }
  const SolidReader* solidReader() const { return m_solid.get(); }
  SolidReader* solidReader() { return m_solid.get(); }
  // Why the item at `path` does not read (extracting it once more).
  ArchiveTrouble Trouble(const char16_t* path);
  ArchiveLock Lock();

 private:
  ~C7zDirectory() override;
  // The first kHeadBytes of the item at archive `index`, from an
  // extraction stopped there and silent; fewer when it ended before.
  ExtractedBytes ExtractHead(UInt32 index);
  // The item at archive `index`, listed with `size` bytes, extracted whole.
  int32_t ExtractWhole(int32_t index, uint64_t size, IFile** out);

  std::shared_ptr<const ArchiveItemTable> m_table = std::make_shared<ArchiveItemTable>();
  IInArchive* m_archive = nullptr;
  uint8_t m_format = 0;
  bool m_listingCutShort = false;
  const uint64_t m_solidBudget;
  const ArchivePassword m_password;
  const SpillPlace m_spill;
  std::unique_ptr<SolidReader> m_solid;  // a solid archive's pass; the only user of m_archive then
  std::mutex m_extractLock;              // one extraction at a time otherwise
  // By archive index, as listed: the pass may not be asked while it runs.
  std::vector<bool> m_encrypted;
  std::vector<bool> m_spans;  // the item continues from or into another volume
  static bool At(const std::vector<bool>& flags, int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < flags.size() && flags[static_cast<std::size_t>(index)];
  }
  bool Encrypted(int32_t index) const { return At(m_encrypted, index); }
  bool Spans(int32_t index) const { return At(m_spans, index); }
};

// What an extraction's result says of the item's bytes, in one line: empty
// for a whole item (0).
std::u16string ExtractionDamage(int32_t result);
// Whether an item with that result has no bytes worth handing out at all
// (encrypted, a method not decoded here, data in another volume).
bool ExtractionYieldsNothing(int32_t result);

// Whether the handler the first bytes of `file` name asks for a password as
// it opens the file (a 7z whose list is encrypted); false without the library.
bool SevenZipAsksPassword(IFile* file, const BYTE (&head)[8]);

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

// 7-Zip's output into one item's bytes, stopping at kMaxExtractBytes, or
// once `head` bytes came (0: no such stop).
class COutFileStream final : public CUnknownImpl<IOutStream, ISequentialOutStream> {
 public:
  explicit COutFileStream(ExtractedBytes bytes, uint64_t head = 0) : m_bytes(std::move(bytes)), m_head(head) {}
  HRESULT Write(const void* data, UInt32 size, UInt32* processed) override;
  HRESULT Seek(Int64, UInt32, UInt64*) override { return S_OK; }
  HRESULT SetSize(UInt64) override { return S_OK; }

 private:
  ExtractedBytes m_bytes;
  const uint64_t m_head;
};

class CArchiveOpenCallback final : public CPasswordCallback<IArchiveOpenCallback> {
 public:
  explicit CArchiveOpenCallback(ArchivePassword password = {}) : CPasswordCallback(std::move(password)) {}
  HRESULT SetTotal(const UInt64*, const UInt64*) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*, const UInt64*) override { return S_OK; }
};

// Extracts into a fresh buffer per item; bytes() is the item extracted last.
// With `head`, only the first `head` bytes of each item, without a word of
// debug text: what it extracts is not the item.
class CArchiveExtractCallback final : public CPasswordCallback<IArchiveExtractCallback, IProgress> {
 public:
  CArchiveExtractCallback(IInArchive* archive, std::shared_ptr<const ArchiveItemTable> table,
                          ArchivePassword password = {}, uint64_t head = 0);
  HRESULT SetTotal(UInt64) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*) override { return S_OK; }
  HRESULT GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) override;
  HRESULT PrepareOperation(Int32 askExtractMode) override;
  HRESULT SetOperationResult(Int32 result) override;

  const ExtractedBytes& bytes() const { return m_bytes; }
  // The result the library reported for the item extracted last.
  Int32 operationResult() const { return m_result; }

 private:
  ~CArchiveExtractCallback() override { m_archive->Release(); }
  IInArchive* m_archive;
  std::shared_ptr<const ArchiveItemTable> m_table;
  ExtractedBytes m_bytes;
  Int32 m_result = 0;
  const uint64_t m_head;
};
