// Archives (Zip, RAR before 5, LZH, 7z) read through 7-Zip's library and
// presented through the file-system interfaces, so that a book in an
// archive reads exactly like a book in a folder.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/FileDamage.h"
#include "ordel/FileSystem.h"
#include "platform/system.h"
#include "viewer/archive/ArchiveItems.h"
#include "viewer/archive/ArchiveNames.h"
#include "viewer/archive/Passwords.h"
#include "viewer/archive/SevenZip.h"
#include "viewer/archive/SevenZipModule.h"

// An entry larger than this is never extracted: no page needs it, and a
// decompression bomb must not take the machine's memory.
constexpr uint64_t kMaxExtractBytes = 1ull << 30;

// What a solid archive's pass keeps in memory, unless the caller says
// otherwise: twenty or so pages of a scanned book around the one read last
// (the page cache keeps the decoded ones). More kept little speeds reading,
// which goes forward, and cost the viewer its memory bound; a jump further
// back reads the block again from its start.
constexpr uint64_t kDefaultSolidBudget = 32ull << 20;

struct ArchiveOptions {
  // Bytes of extracted items a solid archive keeps at most (an item that
  // someone waits for is kept even beyond it).
  uint64_t solidBudget = kDefaultSolidBudget;
  // What encrypted items are decrypted with. Without one they do not read,
  // and an archive whose list is encrypted does not open.
  ArchivePassword password;
  // Opens volume `number` (2 for the second) of the set a RAR volume is the
  // first of: true and the file in *out, false when it is not there.
  // Without it, or without the next volume, the entries that continue
  // there do not read and say why.
  std::function<bool(uint32_t number, IFile** out)> openVolume = nullptr;
};

// The volumes after the first of a set, in order.
using ArchiveVolumes = std::vector<ComRef<IFile>>;

// 0 and the archive in `file` as a directory in *out; 1 when no route can
// open the file (*out untouched). The directory's OpenFile may be called
// from any thread, one call at a time or not.
int32_t OpenArchive(IFile* file, IDirectory** out);
int32_t OpenArchive(IFile* file, IDirectory** out, const ArchiveOptions& options);

// Why an archive, or an item of one, cannot be read: for telling the user.
enum class ArchiveTrouble {
  None,               // it reads (or it is none of the archive layer's)
  NotArchive,         // no route knows the file
  Damaged,            // a known kind of archive that does not open, or an item that does not extract whole
  NeedsPassword,      // its list or the item is encrypted
  UnsupportedMethod,  // the item is compressed in a way no route here decodes
  TooLarge,           // decoding the item would cost far more memory or time than a page may
};
// After OpenArchive refused `file`: why.
ArchiveTrouble DiagnoseArchive(IFile* file);
// Whether the first bytes of a file are those of a RAR (4 or 5) whose list
// is encrypted: it needs a password, and no route here decrypts RAR, so
// none is asked for.
bool IsRarWithEncryptedList(const BYTE* head, std::size_t size);
// Why the item at `path` of a directory that OpenArchive made does not read.
ArchiveTrouble DiagnoseArchiveItem(IDirectory* archive, const char16_t* path);

// How an opened archive stands with encryption, given the password it was
// opened with (if any). The password is tried on the encrypted item that
// is cheapest to decode, so that a wrong one is known before any page shows.
enum class ArchiveLock {
  None,           // nothing in it is encrypted
  Locked,         // items are encrypted, and no password was given
  Unlocked,       // the password decrypts them
  WrongPassword,  // the password given does not
  CannotDecrypt,  // encrypted, but not in a way this route decrypts, or the trial failed for another reason
};
ArchiveLock CheckArchiveLock(IDirectory* archive);

// The bytes of one extracted item. Once handed out they no longer change:
// files opened on the same item of a solid archive share them, each with
// its own position.
using ExtractedBytes = std::shared_ptr<std::vector<BYTE>>;

class SolidReader;

class C7zDirectory final : public CUnknownImpl<IDirectory> {
 public:
  explicit C7zDirectory(uint64_t solidBudget = kDefaultSolidBudget, ArchivePassword password = {});
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
  // Whether the library here can decode every item (RAR: stored entries only).
  bool DecodesEveryItem() const;
  // Whether items are read by one pass (the archive says it is solid).
  bool IsSolid() const { return m_solid != nullptr; }
  const SolidReader* solidReader() const { return m_solid.get(); }
  // Why the item at `path` does not read (extracting it once more).
  ArchiveTrouble Trouble(const char16_t* path);
  ArchiveLock Lock();

 private:
  ~C7zDirectory() override;

  std::shared_ptr<const ArchiveItemTable> m_table = std::make_shared<ArchiveItemTable>();
  IInArchive* m_archive = nullptr;
  uint8_t m_format = 0;
  const uint64_t m_solidBudget;
  const ArchivePassword m_password;
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

// One extracted item in memory, with its own read position. An item that
// did not extract whole carries why (IFileDamage answers only then).
class CFile final : public CUnknownImpl<IFile>, public IFileDamage {
 public:
  explicit CFile(ExtractedBytes bytes, std::u16string damage = {})
      : m_bytes(std::move(bytes)), m_damage(std::move(damage)) {}
  HRESULT QueryInterface(REFIID riid, void** out) override;
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override;
  int32_t GetSize(uint64_t* size) override;
  const char16_t* Damage() override { return m_damage.c_str(); }

  const std::vector<BYTE>& bytes() const { return *m_bytes; }

 private:
  ExtractedBytes m_bytes;
  const std::u16string m_damage;
  uint64_t m_position = 0;
};

// Hands `bytes` out as a new CFile in *out (0), trimming spare capacity
// first; 1 when there is no memory for it. `damage`: why they are not the
// whole item, when they are not.
int32_t HandOutExtracted(ExtractedBytes bytes, IFile** out, std::u16string damage = {});
// The same for bytes that others may be reading: handed out as they are.
int32_t HandOutShared(ExtractedBytes bytes, IFile** out, std::u16string damage = {});

// What an extraction's result says of the item's bytes, in one line: empty
// for a whole item (0).
std::u16string ExtractionDamage(int32_t result);
// Whether an item with that result has no bytes worth handing out at all
// (encrypted, a method not decoded here, data in another volume).
bool ExtractionYieldsNothing(int32_t result);
// Gives back spare room that growth by doubling left, where it is worth it.
void TrimSpareCapacity(std::vector<BYTE>& bytes);

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

// 7-Zip's output into one item's bytes, stopping at kMaxExtractBytes.
class COutFileStream final : public CUnknownImpl<IOutStream, ISequentialOutStream> {
 public:
  explicit COutFileStream(ExtractedBytes bytes) : m_bytes(std::move(bytes)) {}
  HRESULT Write(const void* data, UInt32 size, UInt32* processed) override;
  HRESULT Seek(Int64, UInt32, UInt64*) override { return S_OK; }
  HRESULT SetSize(UInt64) override { return S_OK; }

 private:
  ExtractedBytes m_bytes;
};

// A callback of the library's that answers its password question with the
// password it was made with. Without one it does not take the question at
// all, as callbacks here did before archives could be unlocked. The answer
// is a face of its own sharing the callback's count, so that the callback
// still has one IUnknown.
template <class I, class... Bases>
class CPasswordCallback : public CUnknownImpl<I, Bases...> {
  using Base = CUnknownImpl<I, Bases...>;

 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && m_password != nullptr && riid == ICryptoGetTextPassword::iid) {
      *out = &m_answer;
      Base::AddRef();
      return S_OK;
    }
    return Base::QueryInterface(riid, out);
  }

 protected:
  explicit CPasswordCallback(ArchivePassword password) : m_password(std::move(password)) {}
  const ArchivePassword m_password;

 private:
  struct Answer final : ICryptoGetTextPassword {
    explicit Answer(CPasswordCallback& owner) : owner(owner) {}
    HRESULT QueryInterface(REFIID riid, void** out) override { return owner.QueryInterface(riid, out); }
    ULONG AddRef() override { return owner.AddRef(); }
    ULONG Release() override { return owner.Release(); }
    HRESULT CryptoGetTextPassword(BSTR* password) override { return AnswerPassword(owner.m_password.get(), password); }
    CPasswordCallback& owner;
  };
  Answer m_answer{*this};
};

class CArchiveOpenCallback final : public CPasswordCallback<IArchiveOpenCallback> {
 public:
  explicit CArchiveOpenCallback(ArchivePassword password = {}) : CPasswordCallback(std::move(password)) {}
  HRESULT SetTotal(const UInt64*, const UInt64*) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*, const UInt64*) override { return S_OK; }
};

// Extracts into a fresh buffer per item; bytes() is the item extracted last.
class CArchiveExtractCallback final : public CPasswordCallback<IArchiveExtractCallback, IProgress> {
 public:
  CArchiveExtractCallback(IInArchive* archive, std::shared_ptr<const ArchiveItemTable> table,
                          ArchivePassword password = {});
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
};
