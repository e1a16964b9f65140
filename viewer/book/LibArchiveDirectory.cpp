#include "viewer/book/LibArchiveDirectory.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/debug.h"
#include "platform/text.h"

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;

constexpr std::size_t kReadChunk = 64 << 10;

// One pass of libarchive over the archive file, from its first byte.
class Reader {
 public:
  explicit Reader(IFile* file) : m_file(file), m_input(kReadChunk), m_output(kReadChunk) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() {
    if (m_archive != nullptr) archive_read_free(m_archive);
  }

  bool Open() {
    m_archive = archive_read_new();
    if (m_archive == nullptr) return false;
    // Only these formats: libarchive's others would take text files (mtree)
    // or anything at all (raw) for archives, and its filters may run
    // external programs.
    archive_read_support_format_tar(m_archive);
    archive_read_support_format_rar(m_archive);
    archive_read_support_format_rar5(m_archive);
    archive_read_set_seek_callback(m_archive, &Reader::SeekCallback);
    if (m_file->Seek(0, 0, nullptr) != 0) return false;
    return archive_read_open2(m_archive, this, nullptr, &Reader::ReadCallback, &Reader::SkipCallback, nullptr) ==
           ARCHIVE_OK;
  }

  // The next entry header; false at the end or at the first error.
  bool Next(archive_entry** entry) {
    const int r = archive_read_next_header(m_archive, entry);
    if (r == ARCHIVE_OK || r == ARCHIVE_WARN) return true;
    if (r != ARCHIVE_EOF) Report();
    return false;
  }

  // The current entry's bytes; false at the first error (libarchive must
  // not be asked again after one: a damaged RAR 5 crashed it) or past the cap.
  bool ReadData(std::vector<BYTE>& out) {
    for (;;) {
      const la_ssize_t got = archive_read_data(m_archive, m_output.data(), m_output.size());
      if (got == 0) return true;
      if (got < 0) {
        Report();
        return false;
      }
      if (out.size() + static_cast<uint64_t>(got) > kMaxExtractBytes) return false;
      out.insert(out.end(), m_output.begin(), m_output.begin() + got);
    }
  }

 private:
  void Report() {
    const char* text = archive_error_string(m_archive);
    OutputDebugStringW((u"Archive error: " + Utf8ToUtf16(text != nullptr ? text : "unknown") + u"\n").c_str());
  }

  static la_ssize_t ReadCallback(archive*, void* data, const void** buffer) {
    auto* self = static_cast<Reader*>(data);
    uint32_t got = 0;
    if (self->m_file->Read(self->m_input.data(), static_cast<uint32_t>(self->m_input.size()), &got) != 0) return -1;
    *buffer = self->m_input.data();
    return static_cast<la_ssize_t>(got);
  }
  static la_int64_t SkipCallback(archive*, void* data, la_int64_t request) {
    auto* self = static_cast<Reader*>(data);
    uint64_t before = 0, size = 0, after = 0;
    if (self->m_file->Seek(0, 1, &before) != 0 || self->m_file->GetSize(&size) != 0) return 0;
    const la_int64_t step = std::min<la_int64_t>(request, static_cast<la_int64_t>(size > before ? size - before : 0));
    if (self->m_file->Seek(step, 1, &after) != 0) return 0;
    return static_cast<la_int64_t>(after - before);
  }
  static la_int64_t SeekCallback(archive*, void* data, la_int64_t offset, int whence) {
    auto* self = static_cast<Reader*>(data);
    const uint32_t origin = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? 1 : 2;
    uint64_t position = 0;
    if (self->m_file->Seek(offset, origin, &position) != 0) return ARCHIVE_FATAL;
    return static_cast<la_int64_t>(position);
  }

  IFile* m_file;
  std::vector<BYTE> m_input;   // the file's bytes, as libarchive asks for them
  std::vector<BYTE> m_output;  // an entry's bytes, as they come
  archive* m_archive = nullptr;
};

}  // namespace

CLibArchiveDirectory::CLibArchiveDirectory(IFile* file) : m_file(file) { m_file->AddRef(); }

CLibArchiveDirectory::~CLibArchiveDirectory() { m_file->Release(); }

int32_t CLibArchiveDirectory::LoadArchive() {
  try {
    Reader reader(m_file);
    if (!reader.Open()) return kFailed;
    auto table = std::make_shared<ArchiveItemTable>();
    std::vector<bool> encrypted;
    uint32_t index = 0;
    archive_entry* entry = nullptr;
    for (; reader.Next(&entry); ++index) {
      encrypted.push_back(archive_entry_is_encrypted(entry) != 0);
      const mode_t type = archive_entry_filetype(entry);
      // Links, devices and the like hold no page.
      if (type != AE_IFREG && type != AE_IFDIR) continue;
      const char* name = archive_entry_pathname_utf8(entry);
      if (name == nullptr) name = archive_entry_pathname(entry);  // raw bytes (tar)
      if (name == nullptr) continue;
      std::u16string path = DecodeArchiveName(ArchiveBytesToUnits(name), ArchiveNameSource::Plain);
      std::replace(path.begin(), path.end(), u'\\', u'/');
      const bool folder = type == AE_IFDIR;
      // A folder in a tar is named with a trailing "/": the folder itself.
      if (folder && path.size() > 1 && path.back() == u'/') path.pop_back();
      const uint64_t size = archive_entry_size_is_set(entry) && !folder ? static_cast<uint64_t>(archive_entry_size(entry)) : 0;
      table->Add(static_cast<int32_t>(index), size, folder, std::move(path));
    }
    if (index == 0) return kFailed;  // no archive, or nothing in it
    table->Finish();
    m_table = std::move(table);
    m_encrypted = std::move(encrypted);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
  return kOk;
}

int32_t CLibArchiveDirectory::ReadEntry(uint32_t index, ExtractedBytes* bytes) {
  Reader reader(m_file);
  if (!reader.Open()) return kFailed;
  archive_entry* entry = nullptr;
  for (uint32_t i = 0; i <= index; ++i)
    if (!reader.Next(&entry)) return kFailed;
  auto out = std::make_shared<std::vector<BYTE>>();
  if (!reader.ReadData(*out)) return kFailed;
  *bytes = std::move(out);
  return kOk;
}

int32_t CLibArchiveDirectory::OpenFile(IFile** out, const char16_t* path, void*) {
  if (out == nullptr || path == nullptr || m_table->empty()) return kFailed;
  const ArchiveItem* found = m_table->Find(path);
  if (found == nullptr || (found->flags & 1) || found->index < 0) return kFailed;
  const auto index = static_cast<uint32_t>(found->index);
  // libarchive cannot decrypt: nothing to read, and nothing to wait for.
  if (found->size > kMaxExtractBytes || (index < m_encrypted.size() && m_encrypted[index])) return kFailed;
  try {
    ExtractedBytes bytes;
    if (ReadEntry(index, &bytes) != kOk) return kFailed;
    return HandOutExtracted(std::move(bytes), out);
  } catch (const std::bad_alloc&) {
    return kFailed;
  }
}

int32_t CLibArchiveDirectory::Mount(const char16_t*, IDirectory*) { return kFailed; }

int32_t CLibArchiveDirectory::GetEntries(const char16_t* path, IFileSystemEntries** out) {
  return ListArchiveFolder(*m_table, path, out);
}
