#include "viewer/book/Archive.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/debug.h"
#include "platform/text.h"

std::vector<BYTE> g_extractBuffer;
uint64_t g_extractPosition = 0;

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;

void WriteDebug(const char* text) { OutputDebugStringW(AsciiToUtf16(text).c_str()); }

// Code-unit order, as for page names.
bool ComesBefore(const ArchiveItem& a, const ArchiveItem& b) {
  if (int c = a.folder.compare(b.folder); c != 0) return c < 0;
  const bool aFolder = a.flags & 1, bFolder = b.flags & 1;
  if (aFolder != bFolder) return !aFolder;  // files first
  return a.name.compare(b.name) < 0;
}

// Whether folder + name of the item spell `path` exactly.
bool IsFullPath(const ArchiveItem& item, std::u16string_view path) {
  return item.folder.size() + item.name.size() == path.size() && path.substr(0, item.folder.size()) == item.folder &&
         path.substr(item.folder.size()) == item.name;
}

bool IsShiftJisLead(unsigned byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

}  // namespace

std::u16string DecodeArchiveName(const std::u16string& units) {
  auto isRaw = [](char16_t u) { return u >= 0xEF80 && u <= 0xEFFF; };
  if (std::none_of(units.begin(), units.end(), isRaw)) return units;

  // Back to the stored bytes: raw units are the bytes, the rest was UTF-8.
  // The library turns byte 0x5C into "/" in some formats; right after a
  // Shift-JIS lead byte such a "/" was the second byte of a character.
  std::string bytes;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (isRaw(u)) {
      bytes.push_back(static_cast<char>(u - 0xEF00));
    } else if (u == u'/' && i > 0 && isRaw(units[i - 1]) && IsShiftJisLead(units[i - 1] - 0xEF00u)) {
      bytes.push_back('\x5C');
    } else {
      bytes += Utf16ToUtf8(std::u16string_view(&units[i], 1));
    }
  }

  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return units;
  std::string utf8(bytes.size() * 3 + 4, '\0');
  char* in = bytes.data();
  std::size_t inLeft = bytes.size();
  char* out = utf8.data();
  std::size_t outLeft = utf8.size();
  const std::size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1) || inLeft != 0) return units;  // not Shift-JIS either
  utf8.resize(utf8.size() - outLeft);
  return Utf8ToUtf16(utf8);
}

int32_t OpenArchive(IFile* file, IDirectory** out) {
  if (file == nullptr || out == nullptr) return kFailed;
  C7zDirectory* directory = new (std::nothrow) C7zDirectory;
  if (directory == nullptr) return kFailed;
  directory->AddRef();
  int32_t result = directory->LoadArchive(file);
  if (result == kOk) result = directory->QueryInterface(IID_IDirectory, reinterpret_cast<void**>(out)) == S_OK ? kOk : kFailed;
  directory->Release();
  return result == kOk ? kOk : kFailed;
}

// ---- C7zDirectory ----

C7zDirectory::~C7zDirectory() {
  if (m_archive != nullptr) m_archive->Release();
}

int32_t C7zDirectory::LoadArchive(IFile* file) {
  if (!BindSevenZip()) return kFailed;

  uint64_t size = 0;
  file->GetSize(&size);
  if (size <= 8) return kFailed;

  BYTE head[8] = {};
  uint32_t got = 0;
  file->Seek(0, 0, nullptr);
  file->Read(head, 8, &got);
  file->Seek(0, 0, nullptr);

  uint8_t format = 0x07;  // 7z, and the try for anything unrecognised
  static const BYTE kZip[] = {0x50, 0x4B, 0x03, 0x04};
  static const BYTE kRar[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  if (std::memcmp(head, kZip, sizeof kZip) == 0)
    format = 0x01;
  else if (std::memcmp(head, kRar, sizeof kRar) == 0)
    format = 0x03;
  else if (head[2] == 0x2D && head[3] == 0x6C && head[4] == 0x68 && head[6] == 0x2D)
    format = 0x06;

  const GUID clsid = SevenZipFormat(format);
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
  CArchiveOpenCallback* callback = new (std::nothrow) CArchiveOpenCallback;
  if (callback == nullptr) {
    stream->Release();
    return E_FAIL;
  }
  callback->AddRef();
  const HRESULT opened = m_archive->Open(stream, nullptr, callback);
  stream->Release();
  callback->Release();
  if (opened != S_OK) return E_FAIL;

  UInt32 count = 0;
  m_archive->GetNumberOfItems(&count);
  m_items.clear();
  std::vector<std::u16string> folders;
  HRESULT result = S_OK;
  try {
    m_items.reserve(count);
    for (UInt32 i = 0; i < count; ++i) {
      ArchiveItem item{static_cast<int32_t>(i), 0, 0, u"", u""};
      {
        SevenZipProperty p;
        m_archive->GetProperty(i, kpidSize, &p.value);
        if (p.value.vt == VT_UI4 || p.value.vt == VT_I4)
          item.size = p.value.ulVal;
        else if (p.value.vt == VT_UI8 || p.value.vt == VT_I8)
          item.size = p.value.uhVal;
      }
      {
        SevenZipProperty p;
        m_archive->GetProperty(i, kpidIsDir, &p.value);
        if (p.value.vt == VT_BOOL && p.value.boolVal != 0) item.flags = 1;
      }
      std::u16string path;
      {
        SevenZipProperty p;
        result = m_archive->GetProperty(i, kpidPath, &p.value);
        if (p.value.vt == VT_BSTR && p.value.bstrVal != nullptr)
          for (const uint32_t* unit = p.value.bstrVal; *unit != 0; ++unit) path.push_back(static_cast<char16_t>(*unit));
      }
      path = DecodeArchiveName(path);
      std::replace(path.begin(), path.end(), u'\\', u'/');

      const std::size_t k = path.rfind(u'/');
      if (k == 0) {
        item.folder.assign(1, u'/');
        item.name.assign(path, 1);
      } else {
        if (path.empty() || path[0] != u'/') item.folder.assign(1, u'/');
        if (k != std::u16string::npos) item.folder.append(path, 0, k + 1);
        item.name.assign(path, k == std::u16string::npos ? 0 : k + 1);
        if (item.folder.size() > 1) {
          std::u16string folder = item.folder.substr(0, item.folder.size() - 1);
          if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
        }
      }
      m_items.push_back(std::move(item));
    }

    // Every folder on the way to an item exists, listed or not.
    for (std::size_t f = 0; f < folders.size(); ++f) {
      const std::u16string path = folders[f];
      for (std::size_t slash = path.find(u'/', 2); slash != std::u16string::npos; slash = path.find(u'/', slash + 1)) {
        std::u16string ancestor = path.substr(0, slash);
        if (std::find(folders.begin(), folders.end(), ancestor) == folders.end()) folders.push_back(ancestor);
      }
    }
    for (const std::u16string& path : folders) {
      const bool listed = std::any_of(m_items.begin(), m_items.end(),
                                      [&](const ArchiveItem& item) { return (item.flags & 1) && IsFullPath(item, path); });
      if (listed) continue;
      const std::size_t last = path.rfind(u'/');
      m_items.push_back(ArchiveItem{-1, 0, 1, path.substr(0, last + 1), path.substr(last + 1)});
    }
  } catch (const std::bad_alloc&) {
    m_items.clear();
    return E_OUTOFMEMORY;
  }

  // Stable, so items that compare equal keep their archive order, as an
  // exchange sort would leave them.
  std::stable_sort(m_items.begin(), m_items.end(), ComesBefore);
  return result;
}

int32_t C7zDirectory::OpenFile(IFile** out, const char16_t* path, void*) {
  if (out == nullptr || path == nullptr || m_items.empty()) return kFailed;
  const ArchiveItem* found = nullptr;
  for (const ArchiveItem& item : m_items) {
    if (IsFullPath(item, path)) {
      found = &item;
      break;
    }
  }
  if (found == nullptr || (found->flags & 1) || found->index < 0) return kFailed;
  if (found->size > kMaxExtractBytes) return kFailed;

  CArchiveExtractCallback* callback = nullptr;
  try {
    callback = new CArchiveExtractCallback(m_archive, m_items);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
  callback->AddRef();
  CFile* file = new (std::nothrow) CFile;
  if (file == nullptr) {
    callback->Release();
    return kFailed;
  }
  file->AddRef();
  const UInt32 index = static_cast<UInt32>(found->index);
  const HRESULT extracted = m_archive->Extract(&index, 1, 0, callback);
  callback->Release();
  int32_t result = kFailed;
  if (extracted == S_OK) {
    result = file->QueryInterface(IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? kOk : kFailed;
  } else {
    // An aborted extraction leaves nothing worth keeping; free its memory.
    std::vector<BYTE>().swap(g_extractBuffer);
    g_extractPosition = 0;
  }
  file->Release();
  return result;
}

int32_t C7zDirectory::Mount(const char16_t*, IDirectory*) { return kFailed; }

int32_t C7zDirectory::GetEntries(const char16_t* path, IFileSystemEntries** out) {
  if (path == nullptr || out == nullptr) return kFailed;
  std::u16string folder(path);
  if (folder.empty() || folder.back() != u'/') folder.push_back(u'/');
  C7zFileSystemEntries* list = new (std::nothrow) C7zFileSystemEntries;
  if (list == nullptr) return kFailed;
  list->AddRef();
  int32_t result = kFailed;
  try {
    result = list->Collect(folder, m_items);
  } catch (const std::bad_alloc&) {
  }
  if (result == kOk) result = list->QueryInterface(IID_IFileSystemEntries, reinterpret_cast<void**>(out)) == S_OK ? kOk : kFailed;
  list->Release();
  return result;
}

// ---- C7zFileSystemEntries ----

int32_t C7zFileSystemEntries::Collect(const std::u16string& path, const std::vector<ArchiveItem>& items) {
  if (items.empty()) return kFailed;
  const bool exists = std::any_of(items.begin(), items.end(), [&](const ArchiveItem& item) {
    return item.folder == path || IsFullPath(item, std::u16string_view(path).substr(0, path.size() - 1));
  });
  if (!exists) return kFailed;
  for (const ArchiveItem& item : items) {
    if (item.folder != path) continue;
    FileSystemEntry entry{};
    // A name that does not fit the record stays out of the list rather than
    // being cut into a name that opens nothing.
    if (item.name.size() >= std::size(entry.name)) continue;
    item.name.copy(entry.name, item.name.size());
    entry.flags = item.flags & 1;
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

int32_t CFile::Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  const uint64_t size = g_extractBuffer.size();
  uint32_t n = 0;
  if (g_extractPosition < size) {
    n = static_cast<uint32_t>(std::min<uint64_t>(bytes, size - g_extractPosition));
    std::memcpy(buffer, g_extractBuffer.data() + g_extractPosition, n);
    g_extractPosition += n;
  }
  if (bytesRead != nullptr) *bytesRead = n;
  return kOk;
}

int32_t CFile::Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) {
  const int64_t size = static_cast<int64_t>(g_extractBuffer.size());
  int64_t position;
  if (origin == 0)
    position = distance;
  else if (origin == 1)
    position = static_cast<int64_t>(g_extractPosition) + distance;
  else if (origin == 2)
    position = size + distance;
  else
    return kFailed;
  g_extractPosition = static_cast<uint64_t>(position);  // kept even when out of range: reads then give 0 bytes
  if (position < 0 || position > size) return kFailed;
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(position);
  return kOk;
}

int32_t CFile::GetSize(uint64_t* size) {
  if (size == nullptr) return kFailed;
  *size = g_extractBuffer.size();
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
  if (g_extractBuffer.size() + size > kMaxExtractBytes) return E_ABORT;  // more than any page: stop
  try {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    g_extractBuffer.insert(g_extractBuffer.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return E_ABORT;
  }
  if (processed != nullptr) *processed = size;
  return S_OK;
}

CArchiveExtractCallback::CArchiveExtractCallback(IInArchive* archive, std::vector<ArchiveItem> items)
    : m_archive(archive), m_items(std::move(items)) {
  m_archive->AddRef();
}

HRESULT CArchiveExtractCallback::GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) {
  char text[32];
  std::snprintf(text, sizeof text, "Index:%d\n", static_cast<int>(index));
  WriteDebug(text);
  if (outStream == nullptr) return E_INVALIDARG;
  *outStream = nullptr;
  if (askExtractMode != kExtract) return S_OK;

  const ArchiveItem* item = &m_items.front();
  for (const ArchiveItem& candidate : m_items)
    if (candidate.index == static_cast<int32_t>(index)) {
      item = &candidate;
      break;
    }
  if (item->flags & 1) return E_FAIL;

  COutFileStream* stream = new (std::nothrow) COutFileStream;
  if (stream == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = HandOut(stream, IID_IOutStream, reinterpret_cast<void**>(outStream));
  g_extractBuffer.clear();
  g_extractPosition = 0;
  return hr;
}

HRESULT CArchiveExtractCallback::PrepareOperation(Int32 askExtractMode) {
  WriteDebug("kExtract\n");
  if (askExtractMode == kExtract) WriteDebug("kExtractingString\n");
  if (askExtractMode == kTest) WriteDebug("kTestingString\n");
  if (askExtractMode == kSkip) WriteDebug("kSkippingString\n");
  return S_OK;
}

HRESULT CArchiveExtractCallback::SetOperationResult(Int32 result) {
  switch (result) {
    case 0: WriteDebug("kOK\n"); break;
    case 1: WriteDebug("kUnsupportedMethod\n"); break;
    case 2: WriteDebug("kDataError\n"); break;
    case 3: WriteDebug("kCRCFailed\n"); break;
    default: WriteDebug("kUnknownError\n"); break;
  }
  return S_OK;
}
