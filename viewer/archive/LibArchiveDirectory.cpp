#include "viewer/archive/LibArchiveDirectory.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/ArchiveLimits.h"
#include "viewer/archive/ArchiveListing.h"
#include "viewer/archive/ArchiveNames.h"
#include "viewer/archive/LazyFile.h"
#include "viewer/archive/Rar4Headers.h"
#include "viewer/archive/Rar4Join.h"
#include "viewer/archive/RarMainHeader.h"
#include "viewer/archive/SolidReader.h"
#include "viewer/archive/UnarrPass.h"
#include "viewer/archive/UnarrStream.h"

namespace {

constexpr char16_t kTooCostly[] = u"Archive error: too large to read\n";
constexpr char16_t kMissingVolumes[] = u"Archive error: continued in the archive's next volume, which is not beside it\n";
constexpr char16_t kMissingTarget[] = u"Archive error: a hard link to an entry the archive does not hold\n";

constexpr std::size_t kReadChunk = 64 << 10;

// How a read of an entry's bytes ended.
enum class ReadEnd { Done, TooBig, Failed };

// UTF-8 as the thread's character set while libarchive reads: it converts
// the Unicode names of RAR 3 and later to that set, and in the "C" locale
// a program starts in, a name beyond ASCII does not convert and the entry
// comes without one.
class Utf8Names {
 public:
  Utf8Names() {
    if (const locale_t utf8 = Utf8(); utf8 != static_cast<locale_t>(nullptr)) m_before = uselocale(utf8);
  }
  ~Utf8Names() {
    if (m_before != static_cast<locale_t>(nullptr)) uselocale(m_before);
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  // Made once and kept for the program's life: every reader on every
  // thread uses the same one, instead of glibc loading and unloading the
  // locale's data for each.
  static locale_t Utf8() {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return utf8;
  }
  locale_t m_before = static_cast<locale_t>(nullptr);
};

// One pass of libarchive over the archive file, from its first byte. In a
// solid archive's pass, the pass's stop ends the reading at the next block
// of input.
class Reader {
 public:
  // `base`: where in the file the archive (for libarchive) starts; a tar
  // read from one of its headers on is a tar of the entries from there.
  // `volumes`: the files that follow `file` in a set of volumes, in order.
  Reader(IFile* file, LibArchiveFormats formats, const SolidReader::Pass* pass = nullptr,
         const std::u16string* password = nullptr, uint64_t base = 0, const ArchiveVolumes* volumes = nullptr)
      : m_file(file), m_formats(formats), m_pass(pass), m_password(password), m_base(base), m_volumes(volumes),
        m_input(kReadChunk), m_output(kReadChunk) {}
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
    if (m_formats == LibArchiveFormats::Instead) {
      archive_read_support_format_zip(m_archive);
      archive_read_support_format_7zip(m_archive);
      archive_read_support_format_lha(m_archive);
    }
    archive_read_set_seek_callback(m_archive, &Reader::SeekCallback);
    if (m_password != nullptr) {
      std::string passphrase = Utf16ToUtf8(*m_password);
      const int added = archive_read_add_passphrase(m_archive, passphrase.c_str());  // libarchive keeps a copy
      WipeUnits(passphrase);
      if (added != ARCHIVE_OK) return false;
    }
    // Each file libarchive reads is a part of its own: a set of volumes
    // reads as one archive, switching at each file's end.
    m_parts.push_back({this, m_file, m_base});
    if (m_volumes != nullptr)
      for (const ComRef<IFile>& volume : *m_volumes) m_parts.push_back({this, volume.get(), 0});
    for (const Part& part : m_parts)
      if (part.file->Seek(static_cast<int64_t>(part.base), 0, nullptr) != 0) return false;
    archive_read_set_read_callback(m_archive, &Reader::ReadCallback);
    archive_read_set_skip_callback(m_archive, &Reader::SkipCallback);
    archive_read_set_callback_data(m_archive, &m_parts[0]);
    for (std::size_t i = 1; i < m_parts.size(); ++i)
      archive_read_append_callback_data(m_archive, &m_parts[i]);
    if (archive_read_open1(m_archive) == ARCHIVE_OK) return true;
    // Trying a file that is no archive is no error worth a word; a pass
    // keeps the text for whoever waits.
    if (m_pass != nullptr) Report();
    return false;
  }

  // The next entry header; false at the end or at the first error.
  bool Next(archive_entry** entry) {
    const int r = archive_read_next_header(m_archive, entry);
    if (r == ARCHIVE_OK || r == ARCHIVE_WARN) return true;
    if (r != ARCHIVE_EOF) {
      m_stopped = true;
      Report();
    }
    return false;
  }

  // Whether a header did not read: the entries so far are not the whole.
  bool stopped() const { return m_stopped; }

  // The current entry's bytes; Failed at the first error (libarchive must
  // not be asked again after one: a damaged RAR 5 crashed it), TooBig past
  // the cap (the next entry can still be read); Done also once `head` bytes
  // came (0: read to the end).
  ReadEnd ReadData(std::vector<BYTE>& out, std::size_t head = 0) {
    for (;;) {
      const std::size_t want = head > 0 ? std::min(m_output.size(), head - out.size()) : m_output.size();
      const la_ssize_t got = archive_read_data(m_archive, m_output.data(), want);
      if (got == 0) return ReadEnd::Done;
      if (got < 0) {
        Report();
        return ReadEnd::Failed;
      }
      if (out.size() + static_cast<uint64_t>(got) > kMaxExtractBytes) return ReadEnd::TooBig;
      out.insert(out.end(), m_output.begin(), m_output.begin() + got);
      CountExtracted(static_cast<uint64_t>(got));
      if (head > 0 && out.size() == head) return ReadEnd::Done;
    }
  }

  // No debug text of its own: a head's read says nothing, the whole read
  // after it says what there is to say.
  void Quiet() { m_quiet = true; }

  // The archive's format, as libarchive names it (once a header is read).
  int format() const { return archive_format(m_archive); }
  // Where the header read last began (its extensions, such as a tar's pax
  // header, included), from the start of the file.
  uint64_t headerPosition() const { return m_base + static_cast<uint64_t>(archive_read_header_position(m_archive)); }

  // The last error's debug text. A pass keeps it for the page that needs
  // it; a one-entry read writes it at once.
  const std::u16string& error() const { return m_error; }

 private:
  void Report() {
    if (m_pass != nullptr && m_pass->Stopping()) return;  // the stop, not the archive
    const char* text = archive_error_string(m_archive);
    m_error = u"Archive error: " + Utf8ToUtf16(text != nullptr ? text : "unknown") + u"\n";
    if (m_pass == nullptr && !m_quiet) OutputDebugStringW(m_error.c_str());
  }

  struct Part {
    Reader* reader;
    IFile* file;
    uint64_t base;
  };

  static la_ssize_t ReadCallback(archive*, void* data, const void** buffer) {
    auto* part = static_cast<Part*>(data);
    Reader* self = part->reader;
    if (self->m_pass != nullptr && self->m_pass->Stopping()) return -1;
    uint32_t got = 0;
    if (part->file->Read(self->m_input.data(), static_cast<uint32_t>(self->m_input.size()), &got) != 0) return -1;
    *buffer = self->m_input.data();
    return static_cast<la_ssize_t>(got);
  }
  static la_int64_t SkipCallback(archive*, void* data, la_int64_t request) {
    IFile* file = static_cast<Part*>(data)->file;
    uint64_t before = 0, size = 0, after = 0;
    if (file->Seek(0, 1, &before) != 0 || file->GetSize(&size) != 0) return 0;
    const la_int64_t step = std::min<la_int64_t>(request, static_cast<la_int64_t>(size > before ? size - before : 0));
    if (file->Seek(step, 1, &after) != 0) return 0;
    return static_cast<la_int64_t>(after - before);
  }
  static la_int64_t SeekCallback(archive*, void* data, la_int64_t offset, int whence) {
    auto* part = static_cast<Part*>(data);
    const uint32_t origin = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? 1 : 2;
    if (origin == 0) offset += static_cast<la_int64_t>(part->base);
    uint64_t position = 0;
    if (part->file->Seek(offset, origin, &position) != 0 || position < part->base) return ARCHIVE_FATAL;
    return static_cast<la_int64_t>(position - part->base);
  }

  Utf8Names m_names;  // first in, last out: around all of libarchive's work
  IFile* m_file;
  const LibArchiveFormats m_formats;
  const SolidReader::Pass* m_pass;
  const std::u16string* m_password;
  const uint64_t m_base;
  const ArchiveVolumes* m_volumes;
  std::vector<Part> m_parts;  // the file, then the volumes after it; fixed once open
  std::vector<BYTE> m_input;   // the file's bytes, as libarchive asks for them
  std::vector<BYTE> m_output;  // an entry's bytes, as they come
  archive* m_archive = nullptr;
  std::u16string m_error;
  bool m_stopped = false;
  bool m_quiet = false;
};

// Whether libarchive decrypts entries of an archive in `format`.
bool LibArchiveDecrypts(int format) { return (format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP; }

// Why an entry's bytes are not whole when fewer came than its header
// lists: libarchive ends the data of an entry cut short, or of one that
// goes on in the next volume of a multi-volume archive, without an error.
std::u16string ShortOf(const std::vector<BYTE>& bytes, uint64_t listed) {
  if (bytes.size() >= listed) return {};
  return u"its data ends early: the archive is cut short, or the item goes on in a volume not read with it";
}

// A solid archive's pass: every readable entry from `first` on, in order.
void RunLibArchivePass(IFile* file, const ArchiveVolumes& volumes, LibArchiveFormats formats, const ClaimedSizes& claimed,
                       uint32_t first, SolidReader::Pass& pass, const ArchivePassword& password) {
  Reader reader(file, formats, &pass, password.get(), 0, &volumes);
  if (!reader.Open()) return pass.Note(reader.error());
  archive_entry* entry = nullptr;
  for (uint32_t index = 0; reader.Next(&entry); ++index) {
    // Entries before `first` and those no page is read from are skipped
    // by the next header read.
    if (index < first || index >= claimed.size() || !claimed[index]) continue;
    const SolidReader::Pass::Next next = pass.Reach(index);
    if (next == SolidReader::Pass::Next::Stop) return;
    if (next == SolidReader::Pass::Next::Skip) continue;
    auto bytes = std::make_shared<std::vector<BYTE>>();
    try {
      bytes->reserve(static_cast<std::size_t>(std::min<uint64_t>(*claimed[index], kReserveBytes)));
    } catch (const std::bad_alloc&) {
    }
    switch (reader.ReadData(*bytes)) {
      case ReadEnd::Done:
        // Told to stop mid-entry, libarchive may take the failed read for
        // the entry's end: what it gave is not the whole item.
        if (pass.Stopping()) return;
        pass.Deliver(index, std::move(bytes), std::nullopt);
        break;
      case ReadEnd::TooBig: pass.Fail(index, {}); break;
      case ReadEnd::Failed:
        // Nothing more from this reader: a later request starts again.
        if (!pass.Stopping()) pass.Fail(index, reader.error());
        return;
    }
  }
  pass.Note(reader.error());  // a header that did not read ends the pass
}

}  // namespace

bool IsSolidRar(const BYTE* bytes, std::size_t size) {
  const std::optional<RarMainHeader> header = ReadRarMainHeader(bytes, size);
  return header && (header->flags & (header->rar5 ? 0x0004 : 0x0008)) != 0;
}

CLibArchiveDirectory::CLibArchiveDirectory(IFile* file, uint64_t solidBudget, ArchivePassword password,
                                           LibArchiveFormats formats, SpillPlace spill)
    : m_file(file),
      m_formats(formats),
      m_password(std::move(password)),
      m_solidBudget(solidBudget),
      m_spill(std::move(spill)) {
  m_file->AddRef();
}

CLibArchiveDirectory::~CLibArchiveDirectory() {
  m_solid.reset();  // its pass reads m_file: ended first
  m_file->Release();
}

int32_t CLibArchiveDirectory::LoadArchive() {
  m_solid.reset();
  try {
    BYTE head[64] = {};
    uint32_t got = 0;
    if (m_file->Seek(0, 0, nullptr) != 0 || m_file->Read(head, sizeof head, &got) != 0) return FILE_SYSTEM_FAILED;
    const std::optional<RarMainHeader> rar = ReadRarMainHeader(head, got);
    const bool solid = IsSolidRar(head, got) || (m_formats == LibArchiveFormats::Instead && StartsAsSevenZip(head, got));
    Reader reader(m_file, m_formats, nullptr, m_password.get(), 0, &m_volumes);
    if (!reader.Open()) return FILE_SYSTEM_FAILED;
    auto table = std::make_shared<ArchiveItemTable>();
    std::vector<bool> encrypted;
    std::vector<uint64_t> offsets;
    // The listing, kept until hard links know the entries they stand for.
    struct Row {
      uint32_t index;
      uint64_t size;
      bool folder;
      std::u16string path;
      std::optional<std::u16string> link;  // a hard link without bytes of its own: its target's path
    };
    std::vector<Row> rows;
    std::unordered_map<std::u16string, std::size_t> files;  // path to row
    bool tar = false;
    uint32_t index = 0;
    archive_entry* entry = nullptr;
    const auto decodeName = [](const char* name) {
      std::u16string path = DecodeArchiveName(ArchiveBytesToUnits(name), ArchiveNameSource::Plain);
      std::replace(path.begin(), path.end(), u'\\', u'/');
      return path;
    };
    for (; reader.Next(&entry); ++index) {
      if (index == 0) {
        m_decrypts = LibArchiveDecrypts(reader.format());
        tar = (reader.format() & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
      }
      if (tar) offsets.push_back(reader.headerPosition());
      encrypted.push_back(archive_entry_is_encrypted(entry) != 0);
      const mode_t type = archive_entry_filetype(entry);
      const char* target = archive_entry_hardlink_utf8(entry);
      if (target == nullptr) target = archive_entry_hardlink(entry);
      // Symbolic links, devices and the like hold no page; a hard link (a
      // tar's has no file type) holds its target's.
      if (type != AE_IFREG && type != AE_IFDIR && !(type == 0 && target != nullptr)) continue;
      const char* name = archive_entry_pathname_utf8(entry);
      if (name == nullptr) name = archive_entry_pathname(entry);  // raw bytes (tar)
      if (name == nullptr) continue;
      std::u16string path = decodeName(name);
      const bool folder = type == AE_IFDIR;
      // A folder in a tar is named with a trailing "/": the folder itself.
      if (folder && path.size() > 1 && path.back() == u'/') path.pop_back();
      const uint64_t size = archive_entry_size_is_set(entry) && !folder ? static_cast<uint64_t>(archive_entry_size(entry)) : 0;
      std::optional<std::u16string> link;
      if (!folder && target != nullptr && size == 0) link = decodeName(target);
      if (!folder && !link) files[path] = rows.size();
      rows.push_back({index, size, folder, std::move(path), std::move(link)});
    }
    std::vector<int64_t> linkTargets;
    for (Row& row : rows) {
      if (!row.link) {
        table->Add(static_cast<int32_t>(row.index), row.size, row.folder, std::move(row.path));
        continue;
      }
      if (linkTargets.size() <= row.index) linkTargets.resize(row.index + 1, kNoLink);
      const auto target = files.find(*row.link);
      linkTargets[row.index] = target != files.end() ? rows[target->second].index : kMissingLink;
      table->Add(static_cast<int32_t>(row.index), target != files.end() ? rows[target->second].size : 0, false,
                 std::move(row.path));
    }
    if (index == 0) return FILE_SYSTEM_FAILED;  // no archive, or nothing in it
    m_listedWhole = !reader.stopped();
    table->Finish();
    // libarchive sets up what a RAR 4 entry's headers ask for and decodes
    // as much as they claim: the claims are weighed first. Its entries are
    // its file headers, in order.
    bool walkedWhole = false;
    std::vector<Rar4Entry> headers = ReadRar4Entries(m_file, &walkedWhole);
    // libarchive refuses an entry that continues the one before it (and
    // every entry after): where one does, unarr reads the archive. In a set
    // of volumes such entries may come only in the volumes after this one.
    constexpr uint64_t kVolume = 0x0001;
    const bool continued = std::any_of(headers.begin(), headers.end(), [](const Rar4Entry& e) { return e.solid; });
    const bool volume = rar && !rar->rar5 && (rar->flags & kVolume);
    m_unarr = solid && rar && !rar->rar5 && (volume || continued) && UnarrStreamsWork();
    // unarr reads no volumes: it is given the set joined as one archive,
    // and its file headers are the joined ones.
    if (m_unarr && volume) {
      std::vector<IFile*> files{m_file};
      for (const ComRef<IFile>& next : m_volumes) files.push_back(next.get());
      if (std::optional<JoinedRar4> joined = JoinRar4Volumes(files)) {
        headers = std::move(joined->entries);
        m_joined = std::move(joined->file);
        walkedWhole = joined->whole;
        m_missingVolumes = m_missingVolumes || !joined->whole;
      }
    }
    // Where libarchive stopped, and no other reader's listing will be taken
    // (7-Zip's library is not used, or lists no volumes), the headers list
    // the archive.
    const bool othersList = m_formats == LibArchiveFormats::BesideSevenZip && !volume;
    if (m_unarr && reader.stopped() && !othersList && headers.size() > index) {
      table = std::make_shared<ArchiveItemTable>();
      encrypted.clear();
      linkTargets.clear();
      for (std::size_t i = 0; i < headers.size(); ++i) {
        const Rar4Entry& e = headers[i];
        encrypted.push_back(e.encrypted);
        if (!e.name.empty()) table->Add(static_cast<int32_t>(i), e.folder ? 0 : e.unpacked, e.folder, e.name);
      }
      table->Finish();
      index = static_cast<uint32_t>(headers.size());
      m_listedWhole = walkedWhole;
    }
    std::vector<bool> tooCostly;
    for (const Rar4Entry& claim : headers) tooCostly.push_back(Rar4TooCostly(claim));
    // Past where libarchive stopped, the headers say which entries are
    // encrypted (for a fuller listing taken later).
    for (std::size_t i = encrypted.size(); i < headers.size(); ++i) encrypted.push_back(headers[i].encrypted);
    if (m_unarr) m_rar4 = std::move(headers);
    m_table = std::move(table);
    m_encrypted = std::move(encrypted);
    m_tooCostly = std::move(tooCostly);
    m_offsets = std::move(offsets);
    m_linkTargets = std::move(linkTargets);
    m_listed = index;
    if (solid) StartPass();
  } catch (const std::bad_alloc&) {
    m_solid.reset();
    return FILE_SYSTEM_FAILED;
  }
  return FILE_SYSTEM_OK;
}

void CLibArchiveDirectory::StartPass() {
  // Encrypted entries that cannot be read: the pass passes them by.
  // Hard links have no bytes of their own: their targets are read instead.
  const ClaimedSizes claimed = ReadableItems(*m_table, [&](uint32_t i) { return Unreadable(i) || LinkTarget(i) != kNoLink; });
  IFile* file = m_file;
  if (m_unarr) {
    const bool missing = m_missingVolumes;
    IFile* joined = m_joined ? m_joined.get() : file;
    m_solid = std::make_unique<SolidReader>(
        claimed, m_solidBudget, [joined, headers = m_rar4, missing, claimed](uint32_t first, SolidReader::Pass& pass) {
          RunUnarrPass(joined, headers, missing, claimed, first, pass);
        },
        m_spill);
    return;
  }
  const ArchiveVolumes volumes = m_volumes;
  const LibArchiveFormats formats = m_formats;
  const ArchivePassword password = m_password;
  m_solid = std::make_unique<SolidReader>(
      claimed, m_solidBudget, [file, volumes, formats, claimed, password](uint32_t first, SolidReader::Pass& pass) {
        RunLibArchivePass(file, volumes, formats, claimed, first, pass, password);
      },
      m_spill);
}

void CLibArchiveDirectory::TakeListing(std::shared_ptr<const ArchiveItemTable> table, bool cutShort) {
  const bool solid = m_solid != nullptr;
  m_solid.reset();
  m_table = std::move(table);
  m_tookListing = true;
  m_takenCutShort = cutShort;
  if (solid) StartPass();
}

bool CLibArchiveDirectory::IsBeyondListing(const char16_t* path) const {
  const ArchiveItem* found = path != nullptr ? m_table->Find(path) : nullptr;
  return found != nullptr && found->index >= 0 && static_cast<uint32_t>(found->index) >= m_listed;
}

int32_t CLibArchiveDirectory::ReadEntry(uint32_t index, ExtractedBytes* bytes, std::size_t head) {
  // A tar's entry is read from its own header: walking the headers before
  // it, for every entry, made a large tar quadratic.
  const bool fromHeader = index < m_offsets.size();
  Reader reader(m_file, m_formats, nullptr, m_password.get(), fromHeader ? m_offsets[index] : 0, &m_volumes);
  if (head > 0) reader.Quiet();
  if (!reader.Open()) return FILE_SYSTEM_FAILED;
  archive_entry* entry = nullptr;
  for (uint32_t i = fromHeader ? index : 0; i <= index; ++i)
    if (!reader.Next(&entry)) return FILE_SYSTEM_FAILED;
  auto out = std::make_shared<std::vector<BYTE>>();
  if (reader.ReadData(*out, head) != ReadEnd::Done) return FILE_SYSTEM_FAILED;
  *bytes = std::move(out);
  return FILE_SYSTEM_OK;
}

int32_t CLibArchiveDirectory::OpenFile(IFile** out, const char16_t* path, void*) {
  if (out == nullptr || path == nullptr || m_table->empty()) return FILE_SYSTEM_FAILED;
  const ArchiveItem* found = m_table->Find(path);
  if (found == nullptr || (found->flags & FILE_SYSTEM_ENTRY_FOLDER) || found->index < 0) return FILE_SYSTEM_FAILED;
  auto index = static_cast<uint32_t>(found->index);
  // A hard link reads as the entry it stands for.
  if (const int64_t target = LinkTarget(index); target != kNoLink) {
    if (target == kMissingLink) {
      OutputDebugStringW(kMissingTarget);
      return FILE_SYSTEM_FAILED;
    }
    index = static_cast<uint32_t>(target);
  }
  if (TooCostly(index)) {
    OutputDebugStringW(kTooCostly);
    return FILE_SYSTEM_FAILED;
  }
  // Encrypted and not to be decrypted: nothing to read, and nothing to wait for.
  if (found->size > kMaxExtractBytes || Unreadable(index)) return FILE_SYSTEM_FAILED;
  if (m_solid != nullptr) {
    SolidItem item;
    if (m_solid->Acquire(index, &item)) {
      std::u16string damage = item.bytes ? ShortOf(*item.bytes, found->size) : std::u16string();
      return HandOutShared(std::move(item.bytes), out, std::move(damage));
    }
    // The pass's words on why, written by whoever asked.
    if (!item.error.empty()) OutputDebugStringW(item.error.c_str());
    if (m_missingVolumes) OutputDebugStringW(kMissingVolumes);
    return FILE_SYSTEM_FAILED;
  }
  // An entry larger than its head comes with its head alone: one that no
  // decoder takes is never read whole.
  const uint64_t size = found->size;
  if (size > kHeadBytes) {
    try {
      ExtractedBytes head;
      int32_t read = FILE_SYSTEM_FAILED;
      {
        const std::lock_guard<std::mutex> hold(m_readLock);
        read = ReadEntry(index, &head, kHeadBytes);
      }
      if (read == FILE_SYSTEM_OK && head->size() == kHeadBytes) {
        ComRef<CLibArchiveDirectory> self;
        self.Set(this);
        return HandOutLazy(
            std::move(head), size, [self, index, size](IFile** whole) { return self->ReadWhole(index, size, whole); }, out);
      }
    } catch (const std::bad_alloc&) {
      return FILE_SYSTEM_FAILED;
    }
  }
  return ReadWhole(index, size, out);
}

int32_t CLibArchiveDirectory::ReadWhole(uint32_t index, uint64_t size, IFile** out) {
  try {
    const std::lock_guard<std::mutex> hold(m_readLock);
    ExtractedBytes bytes;
    if (ReadEntry(index, &bytes) != FILE_SYSTEM_OK) {
      if (m_missingVolumes) OutputDebugStringW(kMissingVolumes);
      return FILE_SYSTEM_FAILED;
    }
    std::u16string damage = ShortOf(*bytes, size);
    return HandOutExtracted(std::move(bytes), out, std::move(damage));
  } catch (const std::bad_alloc&) {
    return FILE_SYSTEM_FAILED;
  }
}

bool CLibArchiveDirectory::IsEncrypted(const char16_t* path) const {
  const ArchiveItem* found = path != nullptr ? m_table->Find(path) : nullptr;
  if (found == nullptr || found->index < 0) return false;
  const auto index = static_cast<uint32_t>(found->index);
  return index < m_encrypted.size() && m_encrypted[index];
}

bool CLibArchiveDirectory::IsTooCostly(const char16_t* path) const {
  const ArchiveItem* found = path != nullptr ? m_table->Find(path) : nullptr;
  return found != nullptr && found->index >= 0 && TooCostly(static_cast<uint32_t>(found->index));
}

bool CLibArchiveDirectory::Unreadable(uint32_t index) const {
  if (TooCostly(index)) return true;
  return index < m_encrypted.size() && m_encrypted[index] && (m_password == nullptr || !m_decrypts);
}

ArchiveLock CLibArchiveDirectory::Lock() {
  // The smallest encrypted entry that has bytes to decrypt.
  const ArchiveItem* trial = nullptr;
  bool encrypted = false;
  for (const ArchiveItem& item : m_table->items()) {
    if ((item.flags & FILE_SYSTEM_ENTRY_FOLDER) || item.index < 0) continue;
    const auto index = static_cast<uint32_t>(item.index);
    if (index >= m_encrypted.size() || !m_encrypted[index]) continue;
    encrypted = true;
    if (item.size > 0 && item.size <= kMaxExtractBytes && (trial == nullptr || item.size < trial->size)) trial = &item;
  }
  if (!encrypted) return ArchiveLock::None;
  if (!m_decrypts) return ArchiveLock::CannotDecrypt;
  if (trial == nullptr) return ArchiveLock::None;
  if (m_password == nullptr) return ArchiveLock::Locked;
  // A wrong password fails the read (libarchive checks what it decrypts).
  if (m_solid != nullptr) {
    SolidItem item;
    return m_solid->Acquire(static_cast<uint32_t>(trial->index), &item) ? ArchiveLock::Unlocked : ArchiveLock::WrongPassword;
  }
  try {
    const std::lock_guard<std::mutex> hold(m_readLock);
    ExtractedBytes bytes;
    return ReadEntry(static_cast<uint32_t>(trial->index), &bytes) == FILE_SYSTEM_OK ? ArchiveLock::Unlocked : ArchiveLock::WrongPassword;
  } catch (const std::bad_alloc&) {
    return ArchiveLock::CannotDecrypt;
  }
}

int32_t CLibArchiveDirectory::Mount(const char16_t*, IDirectory*) { return FILE_SYSTEM_FAILED; }

int32_t CLibArchiveDirectory::GetEntries(const char16_t* path, IFileSystemEntries** out) {
  return ListArchiveFolder(*m_table, path, out);
}
