#include "viewer/archive/SevenZipDirectory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/ArchiveListing.h"
#include "viewer/archive/ArchiveNames.h"
#include "viewer/archive/FileHead.h"
#include "viewer/archive/LazyFile.h"
#include "viewer/archive/SevenZipModule.h"
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

// The most room made for an item before its bytes arrive.
constexpr uint64_t kExtractReserveBytes = 64ull << 20;

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
  if (std::memcmp(head, kZipSignature, sizeof kZipSignature) == 0) return C7zDirectory::kZip;
  if (std::memcmp(head, kRarSignature, sizeof kRarSignature) == 0) return C7zDirectory::kRar;
  if (head[2] == 0x2D && head[3] == 0x6C && head[4] == 0x68 && head[6] == 0x2D) return C7zDirectory::kLzh;
  return C7zDirectory::k7z;
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

bool SevenZipAsksPassword(IFile* file, const BYTE (&head)[8]) {
  if (!BindSevenZip()) return false;
  const GUID clsid = SevenZipFormat(FormatFromSignature(head));
  IInArchive* archive = nullptr;
  if (g_createObject(&clsid, &IInArchive::iid, reinterpret_cast<void**>(&archive)) != S_OK || archive == nullptr) return false;
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
  return asked;
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

C7zDirectory::C7zDirectory(uint64_t solidBudget, ArchivePassword password, SpillPlace spill)
    : m_solidBudget(solidBudget), m_password(std::move(password)), m_spill(std::move(spill)) {}

C7zDirectory::~C7zDirectory() {
  m_solid.reset();  // its pass uses the handler: ended and gone first
  if (m_archive != nullptr) m_archive->Release();
}

int32_t C7zDirectory::LoadArchive(IFile* file) {
  if (!BindSevenZip()) return FILE_SYSTEM_FAILED;
  m_solid.reset();

  uint64_t size = 0;
  file->GetSize(&size);
  if (size <= 8) return FILE_SYSTEM_FAILED;

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
  // Only a 7z's own signature at the start is looked for: without one the
  // handler would read the whole file in search of it (a tar, a file on a
  // web server read by ranges), and libarchive reads what it does not open.
  const UInt64 noSearch = 0;
  const bool searches = m_format == k7z && !StartsAsSevenZip(head, sizeof head);
  const HRESULT opened = m_archive->Open(stream, searches ? &noSearch : nullptr, callback);
  stream->Release();
  callback->Release();
  if (opened != S_OK) return E_FAIL;
  DecodeOnOneThread(m_archive);
  {
    // The handler lists what it could and flags why it stopped. Only a
    // file that ends early or lacks its start surely loses items; headers
    // it merely found odd may still have listed every one.
    constexpr UInt32 kUnavailableStart = 1u << 3, kUnexpectedEnd = 1u << 5;
    SevenZipProperty errors;
    m_archive->GetArchiveProperty(kpidErrorFlags, &errors.value);
    m_listingCutShort = (errors.value.vt == VT_UI4 || errors.value.vt == VT_I4) &&
                        (errors.value.ulVal & (kUnavailableStart | kUnexpectedEnd)) != 0;
  }

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
          },
          m_spill);
    }
  } catch (const std::bad_alloc&) {
    m_table = std::make_shared<ArchiveItemTable>();
    m_solid.reset();
    return E_OUTOFMEMORY;
  }
  return result;
}

int32_t C7zDirectory::OpenFile(IFile** out, const char16_t* path, void*) {
  if (out == nullptr || path == nullptr || m_table->empty()) return FILE_SYSTEM_FAILED;
  const ArchiveItem* found = m_table->Find(path);
  if (found == nullptr || (found->flags & FILE_SYSTEM_ENTRY_FOLDER) || found->index < 0) return FILE_SYSTEM_FAILED;
  if (found->size > kMaxExtractBytes) return FILE_SYSTEM_FAILED;

  if (m_solid != nullptr) {
    // The pass prints nothing of its own; a page handed out prints what its
    // own extraction would: its index, the extraction, its result.
    SolidItem item;
    if (!m_solid->Acquire(static_cast<uint32_t>(found->index), &item)) return FILE_SYSTEM_FAILED;
    if (item.result) {
      WriteIndex(static_cast<UInt32>(found->index));
      WriteDebug("kExtract\n");
      WriteDebug("kExtractingString\n");
      WriteOperationResult(*item.result);
    }
    const Int32 result = item.result ? *item.result : 0;
    if (ExtractionYieldsNothing(result) || (m_password == nullptr && Encrypted(found->index))) return FILE_SYSTEM_FAILED;
    std::u16string damage = ExtractionDamage(result);
    if (item.bytes != nullptr && item.bytes->size() < found->size) damage = ExtractionDamage(5);
    if (Spans(found->index)) damage = SpanDamage();
    return HandOutShared(std::move(item.bytes), out, std::move(damage));
  }

  // An item larger than its head comes with its head alone: one that no
  // decoder takes is never extracted whole. An item that is encrypted
  // without its password reads nothing either way.
  const int32_t index = found->index;
  const uint64_t size = found->size;
  if (size > kHeadBytes && !(m_password == nullptr && Encrypted(index))) {
    ExtractedBytes head = ExtractHead(static_cast<UInt32>(index));
    if (head != nullptr && head->size() == kHeadBytes) {
      ComRef<C7zDirectory> self;
      self.Set(this);
      return HandOutLazy(
          std::move(head), size, [self, index, size](IFile** whole) { return self->ExtractWhole(index, size, whole); }, out);
    }
  }
  return ExtractWhole(index, size, out);
}

ExtractedBytes C7zDirectory::ExtractHead(UInt32 index) {
  const std::lock_guard<std::mutex> hold(m_extractLock);
  CArchiveExtractCallback* callback =
      new (std::nothrow) CArchiveExtractCallback(m_archive, m_table, m_password, kHeadBytes);
  if (callback == nullptr) return nullptr;
  callback->AddRef();
  m_archive->Extract(&index, 1, 0, callback);  // aborted by its stream once the head is there
  ExtractedBytes bytes = callback->bytes();
  callback->Release();
  return bytes;
}

int32_t C7zDirectory::ExtractWhole(int32_t itemIndex, uint64_t size, IFile** out) {
  const std::lock_guard<std::mutex> hold(m_extractLock);
  CArchiveExtractCallback* callback = new (std::nothrow) CArchiveExtractCallback(m_archive, m_table, m_password);
  if (callback == nullptr) return FILE_SYSTEM_FAILED;
  callback->AddRef();
  const UInt32 index = static_cast<UInt32>(itemIndex);
  const HRESULT extracted = m_archive->Extract(&index, 1, 0, callback);
  ExtractedBytes bytes = callback->bytes();
  const Int32 result = callback->operationResult();
  callback->Release();
  // An aborted extraction leaves nothing worth keeping; its bytes go here.
  // So does an item that gave none of its own (an encrypted one without
  // its password gives none, and is no empty file).
  if (extracted != S_OK || ExtractionYieldsNothing(result)) return FILE_SYSTEM_FAILED;
  if (m_password == nullptr && Encrypted(itemIndex)) return FILE_SYSTEM_FAILED;
  if (bytes == nullptr) bytes = std::make_shared<std::vector<BYTE>>();  // no stream asked for: an empty file
  // Bytes that failed their check still show as far as they go, marked.
  std::u16string damage = ExtractionDamage(result);
  // Fewer bytes than listed, whatever the library says: cut short.
  if (bytes->size() < size) damage = ExtractionDamage(5);
  if (Spans(itemIndex)) damage = SpanDamage();
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

int32_t C7zDirectory::Mount(const char16_t*, IDirectory*) { return FILE_SYSTEM_FAILED; }

int32_t C7zDirectory::GetEntries(const char16_t* path, IFileSystemEntries** out) {
  return ListArchiveFolder(*m_table, path, out);
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
  // A head takes what fits of the bytes that reach past it, and stops the
  // extraction there.
  const bool past = m_head > 0 && m_bytes->size() + size > m_head;
  const UInt32 taken = past ? static_cast<UInt32>(m_head - m_bytes->size()) : size;
  if (m_bytes->size() + taken > kMaxExtractBytes) return E_ABORT;  // more than any page: stop
  try {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    m_bytes->insert(m_bytes->end(), bytes, bytes + taken);
  } catch (const std::bad_alloc&) {
    return E_ABORT;
  }
  CountExtracted(taken);
  if (processed != nullptr) *processed = taken;
  return past ? E_ABORT : S_OK;
}

CArchiveExtractCallback::CArchiveExtractCallback(IInArchive* archive, std::shared_ptr<const ArchiveItemTable> table,
                                                 ArchivePassword password, uint64_t head)
    : CPasswordCallback(std::move(password)), m_archive(archive), m_table(std::move(table)), m_head(head) {
  m_archive->AddRef();
}

HRESULT CArchiveExtractCallback::GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) {
  if (m_head == 0) WriteIndex(index);
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
    const uint64_t room = std::min<uint64_t>(item->size, kExtractReserveBytes);
    bytes->reserve(static_cast<std::size_t>(m_head > 0 ? std::min<uint64_t>(room, m_head) : room));
  } catch (const std::bad_alloc&) {
  }
  COutFileStream* stream = new (std::nothrow) COutFileStream(bytes, m_head);
  if (stream == nullptr) return E_OUTOFMEMORY;
  m_bytes = std::move(bytes);
  return HandOut(stream, IID_IOutStream, reinterpret_cast<void**>(outStream));
}

HRESULT CArchiveExtractCallback::PrepareOperation(Int32 askExtractMode) {
  if (m_head > 0) return S_OK;
  WriteDebug("kExtract\n");
  if (askExtractMode == kExtract) WriteDebug("kExtractingString\n");
  if (askExtractMode == kTest) WriteDebug("kTestingString\n");
  if (askExtractMode == kSkip) WriteDebug("kSkippingString\n");
  return S_OK;
}

HRESULT CArchiveExtractCallback::SetOperationResult(Int32 result) {
  m_result = result;
  if (m_head == 0) WriteOperationResult(result);
  return S_OK;
}
