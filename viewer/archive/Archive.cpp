#include "viewer/archive/Archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/LibArchiveDirectory.h"
#include "viewer/archive/RarVolumes.h"
#include "viewer/archive/SevenZipPass.h"
#include "viewer/archive/SolidReader.h"

namespace {

// 7-Zip's multithreaded decoder hands out nothing of a solid block until
// most of the block is decoded: the first page of a large solid 7z came
// after seconds. On one thread each item comes out as soon as it is
// decoded, and a whole pass takes about as long.
void DecodeOnOneThread(IInArchive* archive) {
  ISetProperties* settings = nullptr;
  if (archive->QueryInterface(ISetProperties::iid, reinterpret_cast<void**>(&settings)) != S_OK || settings == nullptr)
    return;
  static const uint32_t kThreads[] = {'m', 't', 0};
  const uint32_t* const names[] = {kThreads};
  PROPVARIANT one{};
  one.vt = VT_UI4;
  one.ulVal = 1;
  settings->SetProperties(names, &one, 1);
  settings->Release();
}


constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;

// The most room made for an item before its bytes arrive.
constexpr uint64_t kExtractReserveBytes = 64ull << 20;

constexpr uint8_t kZip = 0x01, kRar = 0x03, kLzh = 0x06, k7z = 0x07;

void WriteDebug(const char* text) { OutputDebugStringW(AsciiToUtf16(text).c_str()); }

void WriteIndex(UInt32 index) {
  char text[32];
  std::snprintf(text, sizeof text, "Index:%d\n", static_cast<int>(index));
  WriteDebug(text);
}

void WriteOperationResult(Int32 result) {
  switch (result) {
    case 0: WriteDebug("kOK\n"); break;
    case 1: WriteDebug("kUnsupportedMethod\n"); break;
    case 2: WriteDebug("kDataError\n"); break;
    case 3: WriteDebug("kCRCFailed\n"); break;
    default: WriteDebug("kUnknownError\n"); break;
  }
}

// The handler the first bytes name; 7z for anything unrecognised.
uint8_t FormatFromSignature(const BYTE (&head)[8]) {
  static const BYTE kZipSignature[] = {0x50, 0x4B, 0x03, 0x04};
  static const BYTE kRarSignature[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  if (std::memcmp(head, kZipSignature, sizeof kZipSignature) == 0) return kZip;
  if (std::memcmp(head, kRarSignature, sizeof kRarSignature) == 0) return kRar;
  if (head[2] == 0x2D && head[3] == 0x6C && head[4] == 0x68 && head[6] == 0x2D) return kLzh;
  return k7z;
}

// The first bytes of a file, up to `size`, its position left at the start;
// how many there were.
uint32_t ReadHead(IFile* file, BYTE* head, uint32_t size) {
  uint32_t got = 0;
  file->Seek(0, 0, nullptr);
  file->Read(head, size, &got);
  file->Seek(0, 0, nullptr);
  return got;
}

bool IsRar5(const BYTE (&head)[8]) {
  static const BYTE kRar5Signature[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
  return std::memcmp(head, kRar5Signature, sizeof kRar5Signature) == 0;
}

constexpr PROPID kpidEncrypted = 15;
constexpr PROPID kpidSplitBefore = 16;
constexpr PROPID kpidSplitAfter = 17;
constexpr Int32 kWrongPassword = 9;

// An open callback that answers the password question with "none", and
// remembers that it was asked.
class CPasswordProbe final : public CUnknownImpl2<IArchiveOpenCallback, ICryptoGetTextPassword> {
 public:
  HRESULT SetTotal(const UInt64*, const UInt64*) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*, const UInt64*) override { return S_OK; }
  HRESULT CryptoGetTextPassword(BSTR*) override {
    asked = true;
    return E_ABORT;
  }

  bool asked = false;
};

// Whether the first bytes are those of a kind of archive some route reads.
bool LooksLikeArchive(const BYTE* head, std::size_t size) {
  auto at = [&](std::size_t offset, const char* text, std::size_t length) {
    return size >= offset + length && std::memcmp(head + offset, text, length) == 0;
  };
  return at(0, "PK\x03\x04", 4) || at(0, "PK\x05\x06", 4) || at(0, "Rar!\x1A\x07", 6) ||
         at(0, "7z\xBC\xAF\x27\x1C", 6) || (at(2, "-lh", 3) && at(6, "-", 1)) || at(257, "ustar", 5);
}

bool BoolProperty(IInArchive* archive, UInt32 index, PROPID property) {
  SevenZipProperty p;
  archive->GetProperty(index, property, &p.value);
  return p.value.vt == VT_BOOL && p.value.boolVal != 0;
}

bool IsEncrypted(IInArchive* archive, UInt32 index) { return BoolProperty(archive, index, kpidEncrypted); }

// What one volume of a multi-volume archive, opened alone, has of an item that
// spans volumes is only part of it; the library extracts that part and
// calls it whole.
std::u16string SpanDamage() { return u"its data spans another volume of the archive, which is not read with it"; }

// Tests one item with a password: decoded and checked, written nowhere.
class CPasswordTrial final : public CPasswordCallback<IArchiveExtractCallback, IProgress> {
 public:
  explicit CPasswordTrial(ArchivePassword password) : CPasswordCallback(std::move(password)) {}
  HRESULT SetTotal(UInt64) override { return S_OK; }
  HRESULT SetCompleted(const UInt64*) override { return S_OK; }
  HRESULT GetStream(UInt32, ISequentialOutStream** outStream, Int32) override {
    if (outStream != nullptr) *outStream = nullptr;
    return S_OK;
  }
  HRESULT PrepareOperation(Int32) override { return S_OK; }
  HRESULT SetOperationResult(Int32 operationResult) override {
    result = operationResult;
    return S_OK;
  }

  Int32 result = -1;
};

ArchiveTrouble TroubleOfResult(Int32 result) {
  switch (result) {
    case 0: return ArchiveTrouble::None;
    case 1: return ArchiveTrouble::UnsupportedMethod;
    case kWrongPassword: return ArchiveTrouble::NeedsPassword;
    default: return ArchiveTrouble::Damaged;
  }
}

}  // namespace

// Which route reads an archive:
// - RAR 5 (its signature) goes to libarchive: 7-Zip's library here lists
//   it but decodes only stored entries.
// - Everything else goes first to 7-Zip's library, with the handler the
//   signature names. Where that handler opens the file and lists something,
//   7-Zip's library reads it, as always, unless it is RAR 4 with an entry in
//   a method other than "store" (this build of the library has no RAR
//   codec): then libarchive reads it. Where libarchive stops listing early
//   (a solid RAR 4, refused past its first entry), the book is 7-Zip's
//   whole listing, not the few entries before the stop: libarchive reads
//   what it can of it, and the others fail with its reason.
// - Where no handler opens the file, or it lists nothing, libarchive tries
//   every format it reads well: Zip, 7z, LZH, tar, RAR 4 and RAR 5. It
//   takes Zip files whose local headers 7-Zip's library finds odd, and LZH
//   header levels the library does not know.
// - Where 7-Zip's library is missing or refused, libarchive does the same.
// - The first volume of a set of RAR volumes goes to libarchive with the
//   volumes after it, whatever else: one archive across them.
int32_t OpenArchive(IFile* file, IDirectory** out) { return OpenArchive(file, out, ArchiveOptions{}); }

int32_t OpenArchive(IFile* file, IDirectory** out, const ArchiveOptions& options) {
  if (file == nullptr || out == nullptr) return kFailed;
  uint64_t size = 0;
  file->GetSize(&size);
  if (size <= 8) return kFailed;
  BYTE head[8] = {};
  ReadHead(file, head, sizeof head);

  // libarchive's listing of the file; null when it reads no archive there.
  auto listWithLibArchive = [&](LibArchiveFormats formats, ArchiveVolumes volumes = {}, bool missingVolumes = false) {
    ComRef<CLibArchiveDirectory> directory;
    CLibArchiveDirectory* made = new (std::nothrow) CLibArchiveDirectory(file, options.solidBudget, options.password, formats);
    if (made == nullptr) return directory;
    made->AddRef();
    *&directory = made;
    directory->SetVolumes(std::move(volumes), missingVolumes);
    if (directory->LoadArchive() != kOk) directory.Reset();
    return directory;
  };
  auto handOut = [&](IDirectory* directory) {
    return directory != nullptr && directory->QueryInterface(IID_IDirectory, reinterpret_cast<void**>(out)) == S_OK ? kOk : kFailed;
  };
  // The first of a set of RAR volumes: libarchive reads the set as one
  // archive (7-Zip's library would list the first volume alone).
  BYTE start[64] = {};
  if (RarVolumeOf(start, ReadHead(file, start, sizeof start)) == RarVolume::First) {
    ArchiveVolumes volumes;
    for (uint32_t number = 2; options.openVolume != nullptr && number < 1000; ++number) {
      ComRef<IFile> volume;
      if (!options.openVolume(number, &volume) || !volume) break;
      volumes.push_back(std::move(volume));
    }
    const bool missing = volumes.empty();
    return handOut(listWithLibArchive(BindSevenZip() ? LibArchiveFormats::BesideSevenZip : LibArchiveFormats::Instead,
                                      std::move(volumes), missing)
                       .get());
  }
  if (!BindSevenZip()) return handOut(listWithLibArchive(LibArchiveFormats::Instead).get());
  if (IsRar5(head)) return handOut(listWithLibArchive(LibArchiveFormats::BesideSevenZip).get());

  ComRef<C7zDirectory> sevenZip;
  {
    C7zDirectory* made = new (std::nothrow) C7zDirectory(options.solidBudget, options.password);
    if (made == nullptr) return kFailed;
    made->AddRef();
    *&sevenZip = made;
  }
  const bool opened = sevenZip->LoadArchive(file) == kOk;
  if (!opened || sevenZip->items().empty()) {
    if (ComRef<CLibArchiveDirectory> libArchive = listWithLibArchive(LibArchiveFormats::Instead)) return handOut(libArchive.get());
    // An archive with nothing in it is still an archive, as before.
    return opened ? handOut(sevenZip.get()) : kFailed;
  }
  if (sevenZip->format() == kRar && !sevenZip->DecodesEveryItem()) {
    ComRef<CLibArchiveDirectory> libArchive = listWithLibArchive(LibArchiveFormats::BesideSevenZip);
    if (libArchive) {
      if (!libArchive->ListedWhole() && libArchive->items().size() < sevenZip->items().size())
        libArchive->TakeListing(sevenZip->table());
      return handOut(libArchive.get());
    }
  }
  return handOut(sevenZip.get());
}

bool IsRarWithEncryptedList(const BYTE* head, std::size_t size) {
  static const BYTE kRar4[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  static const BYTE kRar5[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
  // RAR 4: the main header (type 0x73) flags a password for the headers.
  if (size >= 12 && std::memcmp(head, kRar4, sizeof kRar4) == 0) return head[9] == 0x73 && (head[10] & 0x80) != 0;
  // RAR 5: the first block after the signature is the archive encryption
  // header (type 4): its CRC, its size and its type, as vints.
  if (size < 14 || std::memcmp(head, kRar5, sizeof kRar5) != 0) return false;
  std::size_t at = 12;
  for (int vint = 0; vint < 2; ++vint) {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      if (at >= size || shift > 63) return false;
      const BYTE b = head[at++];
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) break;
    }
    if (vint == 1) return value == 4;
  }
  return false;
}

ArchiveTrouble DiagnoseArchive(IFile* file) {
  if (file == nullptr) return ArchiveTrouble::NotArchive;
  BYTE head[264] = {};
  const uint32_t got = ReadHead(file, head, sizeof head);
  if (!LooksLikeArchive(head, got)) return ArchiveTrouble::NotArchive;
  // Read by libarchive, which does not open a list it cannot decrypt and
  // says only that it failed.
  if (IsRarWithEncryptedList(head, got)) return ArchiveTrouble::NeedsPassword;
  // A 7z whose list is encrypted asks for a password as it opens.
  if (got >= 8 && BindSevenZip()) {
    BYTE signature[8];
    std::memcpy(signature, head, 8);
    const GUID clsid = SevenZipFormat(FormatFromSignature(signature));
    IInArchive* archive = nullptr;
    if (g_createObject(&clsid, &IInArchive::iid, reinterpret_cast<void**>(&archive)) == S_OK && archive != nullptr) {
      CInFileStream* stream = new (std::nothrow) CInFileStream(file);
      CPasswordProbe* probe = new (std::nothrow) CPasswordProbe;
      bool asked = false;
      if (stream != nullptr && probe != nullptr) {
        stream->AddRef();
        probe->AddRef();
        archive->Open(stream, nullptr, probe);
        archive->Close();
        asked = probe->asked;
      }
      if (probe != nullptr) probe->Release();
      if (stream != nullptr) stream->Release();
      archive->Release();
      file->Seek(0, 0, nullptr);
      if (asked) return ArchiveTrouble::NeedsPassword;
    }
  }
  return ArchiveTrouble::Damaged;
}

ArchiveLock CheckArchiveLock(IDirectory* archive) {
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive)) return sevenZip->Lock();
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive)) return libArchive->Lock();
  return ArchiveLock::None;
}

ArchiveTrouble DiagnoseArchiveItem(IDirectory* archive, const char16_t* path) {
  if (archive == nullptr || path == nullptr) return ArchiveTrouble::None;
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive)) return sevenZip->Trouble(path);
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive)) {
    if (libArchive->IsEncrypted(path)) return ArchiveTrouble::NeedsPassword;
    if (libArchive->IsTooCostly(path)) return ArchiveTrouble::TooLarge;
    // Past where libarchive stopped: in a solid RAR 4, the method it does
    // not decode; elsewhere, damage it could not pass.
    if (libArchive->IsBeyondListing(path))
      return libArchive->IsSolid() ? ArchiveTrouble::UnsupportedMethod : ArchiveTrouble::Damaged;
    ComRef<IFile> file;
    return libArchive->OpenFile(&file, path, nullptr) == kOk ? ArchiveTrouble::None : ArchiveTrouble::Damaged;
  }
  return ArchiveTrouble::None;
}

int32_t ListArchiveFolder(const ArchiveItemTable& table, const char16_t* path, IFileSystemEntries** out) {
  if (path == nullptr || out == nullptr) return kFailed;
  C7zFileSystemEntries* list = new (std::nothrow) C7zFileSystemEntries;
  if (list == nullptr) return kFailed;
  list->AddRef();
  int32_t result = kFailed;
  try {
    std::u16string folder(path);
    if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
    result = list->Collect(folder, table);
  } catch (const std::bad_alloc&) {
  }
  if (result == kOk) result = list->QueryInterface(IID_IFileSystemEntries, reinterpret_cast<void**>(out)) == S_OK ? kOk : kFailed;
  list->Release();
  return result;
}

void TrimSpareCapacity(std::vector<BYTE>& bytes) {
  // Growth by doubling can leave up to half the buffer spare; a held page
  // should cost its size, not its peak.
  if (bytes.capacity() - bytes.size() > bytes.size() / 8 + 4096) {
    try {
      bytes.shrink_to_fit();
    } catch (const std::bad_alloc&) {
    }
  }
}

int32_t HandOutExtracted(ExtractedBytes bytes, IFile** out, std::u16string damage) {
  TrimSpareCapacity(*bytes);
  return HandOutShared(std::move(bytes), out, std::move(damage));
}

int32_t HandOutShared(ExtractedBytes bytes, IFile** out, std::u16string damage) {
  CFile* file = new (std::nothrow) CFile(std::move(bytes), std::move(damage));
  if (file == nullptr) return kFailed;
  return HandOut(static_cast<IFile*>(file), IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? kOk : kFailed;
}

std::u16string ExtractionDamage(int32_t result) {
  switch (result) {
    case 0: return {};
    case 1: return u"compressed with a method not read here";
    case 2: return u"its data is corrupt";
    case 3: return u"its data fails its CRC check";
    case 4: return u"its data is in another volume of the archive";
    case 5: return u"its data ends early: the archive is cut short";
    case 6: return u"more data follows its end";
    case 8: return u"its headers are damaged";
    case kWrongPassword: return u"encrypted, and not decrypted with the password given";
    default: return u"it does not extract whole";
  }
}

bool ExtractionYieldsNothing(int32_t result) { return result == 1 || result == 4 || result == kWrongPassword; }

// ---- C7zDirectory ----

C7zDirectory::C7zDirectory(uint64_t solidBudget, ArchivePassword password)
    : m_solidBudget(solidBudget), m_password(std::move(password)) {}

C7zDirectory::~C7zDirectory() {
  m_solid.reset();  // its pass uses the handler: ended and gone first
  if (m_archive != nullptr) m_archive->Release();
}

int32_t C7zDirectory::LoadArchive(IFile* file) {
  if (!BindSevenZip()) return kFailed;
  m_solid.reset();

  uint64_t size = 0;
  file->GetSize(&size);
  if (size <= 8) return kFailed;

  BYTE head[8] = {};
  ReadHead(file, head, sizeof head);
  m_format = FormatFromSignature(head);

  const GUID clsid = SevenZipFormat(m_format);
  if (m_archive != nullptr) {
    m_archive->Release();
    m_archive = nullptr;
  }
  if (g_createObject(&clsid, &IInArchive::iid, reinterpret_cast<void**>(&m_archive)) != S_OK || m_archive == nullptr) {
    m_archive = nullptr;
    return E_FAIL;
  }

  CInFileStream* stream = new (std::nothrow) CInFileStream(file);
  if (stream == nullptr) return E_FAIL;
  stream->AddRef();
  CArchiveOpenCallback* callback = new (std::nothrow) CArchiveOpenCallback(m_password);
  if (callback == nullptr) {
    stream->Release();
    return E_FAIL;
  }
  callback->AddRef();
  const HRESULT opened = m_archive->Open(stream, nullptr, callback);
  stream->Release();
  callback->Release();
  if (opened != S_OK) return E_FAIL;
  DecodeOnOneThread(m_archive);

  UInt32 count = 0;
  m_archive->GetNumberOfItems(&count);
  const ArchiveNameSource names = m_format == kLzh ? ArchiveNameSource::Lzh : ArchiveNameSource::Plain;
  HRESULT result = S_OK;
  try {
    auto table = std::make_shared<ArchiveItemTable>();
    std::vector<bool> encrypted, spans;
    for (UInt32 i = 0; i < count; ++i) {
      uint64_t itemSize = 0;
      bool folder = false;
      {
        SevenZipProperty p;
        m_archive->GetProperty(i, kpidSize, &p.value);
        if (p.value.vt == VT_UI4 || p.value.vt == VT_I4)
          itemSize = p.value.ulVal;
        else if (p.value.vt == VT_UI8 || p.value.vt == VT_I8)
          itemSize = p.value.uhVal;
      }
      {
        SevenZipProperty p;
        m_archive->GetProperty(i, kpidIsDir, &p.value);
        folder = p.value.vt == VT_BOOL && p.value.boolVal != 0;
      }
      std::u16string path;
      {
        SevenZipProperty p;
        result = m_archive->GetProperty(i, kpidPath, &p.value);
        if (p.value.vt == VT_BSTR && p.value.bstrVal != nullptr)
          for (const uint32_t* unit = p.value.bstrVal; *unit != 0; ++unit) path.push_back(static_cast<char16_t>(*unit));
      }
      path = DecodeArchiveName(path, names);
      std::replace(path.begin(), path.end(), u'\\', u'/');
      table->Add(static_cast<int32_t>(i), itemSize, folder, std::move(path));
      encrypted.push_back(IsEncrypted(m_archive, i));
      spans.push_back(BoolProperty(m_archive, i, kpidSplitBefore) || BoolProperty(m_archive, i, kpidSplitAfter));
    }
    table->Finish();
    m_table = std::move(table);
    m_encrypted = std::move(encrypted);
    m_spans = std::move(spans);

    // Items of a solid archive are decoded from the start of their block
    // each time: read them in one pass instead.
    SevenZipProperty solid;
    m_archive->GetArchiveProperty(kpidSolid, &solid.value);
    m_solid.reset();
    if (solid.value.vt == VT_BOOL && solid.value.boolVal != 0) {
      IInArchive* archive = m_archive;
      const ClaimedSizes claimed = ReadableItems(*m_table);
      const ArchivePassword password = m_password;
      m_solid = std::make_unique<SolidReader>(
          claimed, m_solidBudget, [archive, claimed, password](uint32_t first, SolidReader::Pass& pass) {
            RunSevenZipPass(archive, claimed, first, pass, password);
          });
    }
  } catch (const std::bad_alloc&) {
    m_table = std::make_shared<ArchiveItemTable>();
    m_solid.reset();
    return E_OUTOFMEMORY;
  }
  return result;
}

int32_t C7zDirectory::OpenFile(IFile** out, const char16_t* path, void*) {
  if (out == nullptr || path == nullptr || m_table->empty()) return kFailed;
  const ArchiveItem* found = m_table->Find(path);
  if (found == nullptr || (found->flags & FILE_SYSTEM_ENTRY_FOLDER) || found->index < 0) return kFailed;
  if (found->size > kMaxExtractBytes) return kFailed;

  if (m_solid != nullptr) {
    // The pass prints nothing of its own; a page handed out prints what its
    // own extraction would: its index, the extraction, its result.
    SolidItem item;
    if (!m_solid->Acquire(static_cast<uint32_t>(found->index), &item)) return kFailed;
    if (item.result) {
      WriteIndex(static_cast<UInt32>(found->index));
      WriteDebug("kExtract\n");
      WriteDebug("kExtractingString\n");
      WriteOperationResult(*item.result);
    }
    const Int32 result = item.result ? *item.result : 0;
    if (ExtractionYieldsNothing(result) || (m_password == nullptr && Encrypted(found->index))) return kFailed;
    std::u16string damage = ExtractionDamage(result);
    if (item.bytes != nullptr && item.bytes->size() < found->size) damage = ExtractionDamage(5);
    if (Spans(found->index)) damage = SpanDamage();
    return HandOutShared(std::move(item.bytes), out, std::move(damage));
  }

  const std::lock_guard<std::mutex> hold(m_extractLock);
  CArchiveExtractCallback* callback = new (std::nothrow) CArchiveExtractCallback(m_archive, m_table, m_password);
  if (callback == nullptr) return kFailed;
  callback->AddRef();
  const UInt32 index = static_cast<UInt32>(found->index);
  const HRESULT extracted = m_archive->Extract(&index, 1, 0, callback);
  ExtractedBytes bytes = callback->bytes();
  const Int32 result = callback->operationResult();
  callback->Release();
  // An aborted extraction leaves nothing worth keeping; its bytes go here.
  // So does an item that gave none of its own (an encrypted one without
  // its password gives none, and is no empty file).
  if (extracted != S_OK || ExtractionYieldsNothing(result)) return kFailed;
  if (m_password == nullptr && Encrypted(found->index)) return kFailed;
  if (bytes == nullptr) bytes = std::make_shared<std::vector<BYTE>>();  // no stream asked for: an empty file
  // Bytes that failed their check still show as far as they go, marked.
  std::u16string damage = ExtractionDamage(result);
  // Fewer bytes than listed, whatever the library says: cut short.
  if (bytes->size() < found->size) damage = ExtractionDamage(5);
  if (Spans(found->index)) damage = SpanDamage();
  return HandOutExtracted(std::move(bytes), out, std::move(damage));
}

ArchiveTrouble C7zDirectory::Trouble(const char16_t* path) {
  if (path == nullptr || m_archive == nullptr) return ArchiveTrouble::None;
  const ArchiveItem* found = m_table->Find(path);
  if (found == nullptr || (found->flags & FILE_SYSTEM_ENTRY_FOLDER) || found->index < 0 || found->size > kMaxExtractBytes)
    return ArchiveTrouble::None;
  const UInt32 index = static_cast<UInt32>(found->index);
  // With a password the extraction below tells whether it decrypts.
  if (m_password == nullptr && IsEncrypted(m_archive, index)) return ArchiveTrouble::NeedsPassword;
  if (m_solid != nullptr) {
    SolidItem item;
    if (m_solid->Acquire(index, &item)) return item.result ? TroubleOfResult(*item.result) : ArchiveTrouble::None;
    return item.result ? TroubleOfResult(*item.result) : ArchiveTrouble::Damaged;
  }
  const std::lock_guard<std::mutex> hold(m_extractLock);
  CArchiveExtractCallback* callback = new (std::nothrow) CArchiveExtractCallback(m_archive, m_table, m_password);
  if (callback == nullptr) return ArchiveTrouble::None;
  callback->AddRef();
  const HRESULT extracted = m_archive->Extract(&index, 1, 0, callback);
  const Int32 result = callback->operationResult();
  callback->Release();
  if (result != 0) return TroubleOfResult(result);
  return extracted == S_OK ? ArchiveTrouble::None : ArchiveTrouble::Damaged;
}

ArchiveLock C7zDirectory::Lock() {
  if (m_archive == nullptr) return ArchiveLock::None;
  // The encrypted item cheapest to decode: in a solid archive the first
  // (its block is decoded from the start anyway), otherwise the smallest.
  // An empty item decrypts nothing, so it proves nothing.
  const ArchiveItem* trial = nullptr;
  for (const ArchiveItem& item : m_table->items()) {
    if ((item.flags & FILE_SYSTEM_ENTRY_FOLDER) || item.index < 0 || item.size == 0 || item.size > kMaxExtractBytes) continue;
    if (!IsEncrypted(m_archive, static_cast<UInt32>(item.index))) continue;
    if (trial == nullptr || (m_solid != nullptr ? item.index < trial->index : item.size < trial->size)) trial = &item;
  }
  if (trial == nullptr) return ArchiveLock::None;
  if (m_password == nullptr) return ArchiveLock::Locked;
  const UInt32 index = static_cast<UInt32>(trial->index);
  std::optional<Int32> result;
  if (m_solid != nullptr) {
    // Through the pass, which keeps the item for the page that wants it.
    // A block that does not decrypt reaches none of its items' streams: the
    // item then comes without a result and without its bytes.
    SolidItem item;
    if (m_solid->Acquire(index, &item)) result = item.result;
    if (!result && item.bytes != nullptr && item.bytes->size() != trial->size) result = 2;
  } else {
    // Tested, not written anywhere; silent, as no page is read.
    const std::lock_guard<std::mutex> hold(m_extractLock);
    CPasswordTrial* callback = new (std::nothrow) CPasswordTrial(m_password);
    if (callback == nullptr) return ArchiveLock::CannotDecrypt;
    callback->AddRef();
    if (m_archive->Extract(&index, 1, kTest, callback) == S_OK) result = callback->result;
    callback->Release();
  }
  if (!result) return ArchiveLock::CannotDecrypt;
  switch (*result) {
    case 0: return ArchiveLock::Unlocked;
    case 2:  // a data error
    case 3:  // a CRC error: Zip's traditional encryption lets one wrong password in 256 through its check
    case kWrongPassword: return ArchiveLock::WrongPassword;
    default: return ArchiveLock::CannotDecrypt;
  }
}

bool C7zDirectory::DecodesEveryItem() const {
  // The handler names each item's method; RAR's "store" is "m0".
  for (const ArchiveItem& item : m_table->items()) {
    if ((item.flags & FILE_SYSTEM_ENTRY_FOLDER) || item.index < 0) continue;
    SevenZipProperty p;
    m_archive->GetProperty(static_cast<UInt32>(item.index), kpidMethod, &p.value);
    std::u16string method;
    if (p.value.vt == VT_BSTR && p.value.bstrVal != nullptr)
      for (const uint32_t* unit = p.value.bstrVal; *unit != 0; ++unit) method.push_back(static_cast<char16_t>(*unit));
    if (method.substr(0, 2) != u"m0") return false;
  }
  return true;
}

int32_t C7zDirectory::Mount(const char16_t*, IDirectory*) { return kFailed; }

int32_t C7zDirectory::GetEntries(const char16_t* path, IFileSystemEntries** out) {
  return ListArchiveFolder(*m_table, path, out);
}

// ---- C7zFileSystemEntries ----

int32_t C7zFileSystemEntries::Collect(const std::u16string& path, const ArchiveItemTable& table) {
  std::span<const ArchiveItem> items;
  if (!table.List(path, &items)) return kFailed;
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
  return kOk;
}

int32_t C7zFileSystemEntries::GetCount(uint32_t* count) {
  if (count == nullptr) return kFailed;
  *count = static_cast<uint32_t>(m_entries.size());
  return kOk;
}

int32_t C7zFileSystemEntries::GetEntry(uint32_t index, FileSystemEntry* entry) {
  if (entry == nullptr || index >= m_entries.size()) return kFailed;
  *entry = m_entries[index];
  return kOk;
}

// ---- CFile ----

HRESULT CFile::QueryInterface(REFIID riid, void** out) {
  if (out != nullptr && riid == IID_IFileDamage && !m_damage.empty()) {
    *out = static_cast<IFileDamage*>(this);
    AddRef();
    return S_OK;
  }
  return CUnknownImpl::QueryInterface(riid, out);
}

int32_t CFile::Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  const uint64_t size = m_bytes->size();
  uint32_t n = 0;
  if (m_position < size) {
    n = static_cast<uint32_t>(std::min<uint64_t>(bytes, size - m_position));
    std::memcpy(buffer, m_bytes->data() + m_position, n);
    m_position += n;
  }
  if (bytesRead != nullptr) *bytesRead = n;
  return kOk;
}

int32_t CFile::Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) {
  const int64_t size = static_cast<int64_t>(m_bytes->size());
  int64_t position;
  if (origin == 0)
    position = distance;
  else if (origin == 1)
    position = static_cast<int64_t>(m_position) + distance;
  else if (origin == 2)
    position = size + distance;
  else
    return kFailed;
  m_position = static_cast<uint64_t>(position);  // kept even when out of range: reads then give 0 bytes
  if (position < 0 || position > size) return kFailed;
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(position);
  return kOk;
}

int32_t CFile::GetSize(uint64_t* size) {
  if (size == nullptr) return kFailed;
  *size = m_bytes->size();
  return kOk;
}

// ---- streams and callbacks ----

HRESULT CInFileStream::Read(void* data, UInt32 size, UInt32* processed) {
  uint32_t got = 0;
  m_file->Read(data, size, &got);
  if (processed != nullptr) *processed = got;
  return S_OK;
}

HRESULT CInFileStream::Seek(Int64 offset, UInt32 origin, UInt64* newPosition) {
  if (origin > 2) return STG_E_INVALIDFUNCTION;
  return m_file->Seek(offset, origin, newPosition) == 0 ? S_OK : STG_E_INVALIDFUNCTION;
}

HRESULT COutFileStream::Write(const void* data, UInt32 size, UInt32* processed) {
  if (processed != nullptr) *processed = 0;
  if (m_bytes->size() + size > kMaxExtractBytes) return E_ABORT;  // more than any page: stop
  try {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    m_bytes->insert(m_bytes->end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return E_ABORT;
  }
  if (processed != nullptr) *processed = size;
  return S_OK;
}

CArchiveExtractCallback::CArchiveExtractCallback(IInArchive* archive, std::shared_ptr<const ArchiveItemTable> table,
                                                 ArchivePassword password)
    : CPasswordCallback(std::move(password)), m_archive(archive), m_table(std::move(table)) {
  m_archive->AddRef();
}

HRESULT CArchiveExtractCallback::GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) {
  WriteIndex(index);
  if (outStream == nullptr) return E_INVALIDARG;
  *outStream = nullptr;
  if (askExtractMode != kExtract) return S_OK;

  const ArchiveItem* item = m_table->ByIndex(index);
  if (item == nullptr) item = m_table->empty() ? nullptr : &m_table->items().front();
  if (item == nullptr || (item->flags & FILE_SYSTEM_ENTRY_FOLDER)) return E_FAIL;

  // A fresh buffer: the previous item's bytes belong to whoever took them.
  // The size is only the archive's claim: room for it up to a bound, and
  // beyond that the buffer grows as the bytes come.
  ExtractedBytes bytes = std::make_shared<std::vector<BYTE>>();
  try {
    bytes->reserve(static_cast<std::size_t>(std::min<uint64_t>(item->size, kExtractReserveBytes)));
  } catch (const std::bad_alloc&) {
  }
  COutFileStream* stream = new (std::nothrow) COutFileStream(bytes);
  if (stream == nullptr) return E_OUTOFMEMORY;
  m_bytes = std::move(bytes);
  return HandOut(stream, IID_IOutStream, reinterpret_cast<void**>(outStream));
}

HRESULT CArchiveExtractCallback::PrepareOperation(Int32 askExtractMode) {
  WriteDebug("kExtract\n");
  if (askExtractMode == kExtract) WriteDebug("kExtractingString\n");
  if (askExtractMode == kTest) WriteDebug("kTestingString\n");
  if (askExtractMode == kSkip) WriteDebug("kSkippingString\n");
  return S_OK;
}

HRESULT CArchiveExtractCallback::SetOperationResult(Int32 result) {
  m_result = result;
  WriteOperationResult(result);
  return S_OK;
}
