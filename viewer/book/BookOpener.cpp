#include "viewer/book/BookOpener.h"

#include <algorithm>
#include <cstring>

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/DiskFile.h"
#include "viewer/archive/RarVolumes.h"
#include "viewer/archive/SevenZipModule.h"
#include "viewer/book/BookInfo.h"

namespace {

std::u16string Decimal(std::size_t value) { return AsciiToUtf16(std::to_string(value)); }

// Paths here are absolute POSIX paths: the drive root is "/" and the folder
// path is the path itself, with a final "/". Anything else is refused.
bool SplitFolderPath(const std::u16string& path, std::u16string& drive, std::u16string& folder) {
  if (path.empty() || path[0] != u'/') return false;
  drive = u"/";
  folder = path;
  if (folder.back() != u'/') folder.push_back(u'/');
  return true;
}

// A file's path: absolute, not ending in "/"; the path under the drive root
// is the path itself.
bool SplitFilePath(const std::u16string& path, std::u16string& drive, std::u16string& underRoot) {
  if (path.size() < 2 || path[0] != u'/' || path.back() == u'/') return false;
  drive = u"/";
  underRoot = path;
  return true;
}

// The archive opened as `root` as a book of its whole tree; the status says
// why not.
OpenStatus FillArchiveBook(ComRef<IDirectory> root, Book& book, NameOrder order) {
  book.root = std::move(root);
  book.current = 0;
  book.folder.clear();
  book.kind = BookKind::Archive;
  book.pagesMissing = ArchiveListingCutShort(book.root.get());
  if (AppendTree(book, u"/", order) != 0) return OpenStatus::Failed;
  ApplyComicInfo(book);
  return OpenStatus::Opened;
}

// The first bytes of an opened file.
std::size_t ReadHead(IFile* file, BYTE* head, uint32_t size) {
  uint32_t got = 0;
  file->Seek(0, 0, nullptr);
  if (file->Read(head, size, &got) != 0) got = 0;
  file->Seek(0, 0, nullptr);
  return got;
}

// The archive in `file` opened with `password` (or none) in *root, and how
// it stands with encryption; no root when it is no archive.
ArchiveLock OpenWithPassword(IFile* file, const ArchivePassword& password, ComRef<IDirectory>& root,
                             ArchiveOptions options) {
  options.password = password;
  if (OpenArchive(file, &root, options) != 0) {
    // An encrypted list does not open without the right password; a RAR's
    // does not open with any, here.
    if (DiagnoseArchive(file) != ArchiveTrouble::NeedsPassword) return ArchiveLock::None;
    BYTE head[16] = {};
    if (IsRarWithEncryptedList(head, ReadHead(file, head, sizeof head))) return ArchiveLock::CannotDecrypt;
    return password != nullptr ? ArchiveLock::WrongPassword : ArchiveLock::Locked;
  }
  return CheckArchiveLock(root.get());
}

OpenFailure FailureOf(ArchiveTrouble trouble) {
  switch (trouble) {
    case ArchiveTrouble::NeedsPassword: return OpenFailure::NeedsPassword;
    case ArchiveTrouble::Damaged: return OpenFailure::Damaged;
    case ArchiveTrouble::UnsupportedMethod: return OpenFailure::UnsupportedCompression;
    case ArchiveTrouble::TooLarge: return OpenFailure::TooLarge;
    case ArchiveTrouble::NotArchive: return OpenFailure::NotImageOrArchive;
    case ArchiveTrouble::None: break;
  }
  return OpenFailure::None;
}

// A file that no route opened: a damaged image or archive, an encrypted
// archive, or neither an image nor an archive. Without 7-Zip's library only
// libarchive tried, and what the library would have made of the file is
// not known: the user is told that instead.
OpenFailure WhyNoArchive(IFile* file) {
  BYTE head[64] = {};
  const std::size_t got = ReadHead(file, head, sizeof head);
  if (LooksLikeImage(head, got)) return OpenFailure::Damaged;
  // Read by libarchive with or without 7-Zip's library: its lack is not why.
  if (IsRarWithEncryptedList(head, got)) return OpenFailure::NeedsPassword;
  switch (FindSevenZip()) {
    case SevenZipAvailability::Missing: return OpenFailure::ArchiveLibraryMissing;
    case SevenZipAvailability::Refused: return OpenFailure::ArchiveLibraryRefused;
    case SevenZipAvailability::Bound: break;
  }
  return FailureOf(DiagnoseArchive(file));
}

// Which of two reasons tells the user more.
int Weight(OpenFailure why) {
  switch (why) {
    case OpenFailure::NeedsPassword: return 5;
    case OpenFailure::UnsupportedCompression:
    case OpenFailure::TooLarge: return 4;
    case OpenFailure::Damaged: return 3;
    case OpenFailure::NoPermission: return 2;
    default: return 0;
  }
}

}  // namespace

bool LooksLikeImage(const BYTE* head, std::size_t size) {
  auto at = [&](std::size_t offset, const char* text, std::size_t length) {
    return size >= offset + length && std::memcmp(head + offset, text, length) == 0;
  };
  if (at(0, "\xFF\xD8\xFF", 3) || at(0, "\x89PNG\r\n\x1A\n", 8) || at(0, "GIF87a", 6) || at(0, "GIF89a", 6) ||
      at(0, "BM", 2) || at(0, "II*\0", 4) || at(0, "MM\0*", 4) || at(0, "\xFF\x0A", 2) ||
      at(0, "\0\0\0\x0CJXL \r\n\x87\n", 12))
    return true;
  if (at(0, "RIFF", 4) && at(8, "WEBP", 4)) return true;
  // AVIF and HEIF: an ISO media file whose brand names a picture.
  if (at(4, "ftyp", 4))
    for (const char* brand : {"avif", "avis", "heic", "heix", "mif1", "msf1"})
      if (at(8, brand, 4)) return true;
  return false;
}

std::u16string FolderDisplayName(const std::u16string& path) {
  std::u16string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == u'/') trimmed.pop_back();
  if (trimmed == u"/") return trimmed;
  return trimmed.substr(trimmed.rfind(u'/') + 1);
}

OpenStatus CBookOpener::ReadArchive(IFile* file, const std::u16string& path, Book& book) const {
  if (m_opened.root && path == m_opened.path) return FillArchiveBook(m_opened.root, book, m_order);
  // A RAR volume's set: the other volumes, by name, beside it.
  ArchiveOptions options;
  options.spill.folder = m_spillFolder;
  IFileSystem* fileSystem = m_fileSystem;
  options.openVolume = [fileSystem, path](uint32_t number, IFile** out) {
    const std::size_t slash = path.rfind(u'/');
    const std::optional<std::u16string> name = RarVolumeName(path.substr(slash + 1), number);
    std::u16string drive, underRoot;
    if (fileSystem == nullptr || !name || !SplitFilePath(path.substr(0, slash + 1) + *name, drive, underRoot)) return false;
    ComRef<IDirectory> disk;
    return fileSystem->OpenDirectory(&disk, drive.c_str()) == 0 && disk->OpenFile(out, underRoot.c_str(), nullptr) == 0;
  };
  const std::u16string* kept = m_passwords != nullptr ? m_passwords->Find(path) : nullptr;
  if (m_ask || kept != nullptr) {
    ArchivePassword password = kept != nullptr ? MakeArchivePassword(*kept) : nullptr;
    for (;;) {
      ComRef<IDirectory> root;
      const ArchiveLock lock = OpenWithPassword(file, password, root, options);
      if (lock != ArchiveLock::Locked && lock != ArchiveLock::WrongPassword) {
        if (lock == ArchiveLock::Unlocked && m_passwords != nullptr) m_passwords->Keep(path, *password);
        if (!root) return OpenStatus::NotArchive;
        return FillArchiveBook(std::move(root), book, m_order);
      }
      // The one kept no longer opens it: the file changed since.
      if (lock == ArchiveLock::WrongPassword && m_passwords != nullptr) m_passwords->Forget(path);
      std::optional<std::u16string> answer;
      if (m_ask) answer = m_ask(path, lock == ArchiveLock::WrongPassword);
      if (!answer) break;
      password = MakeArchivePassword(*answer);
      WipeUnits(*answer);
    }
  }
  // Given up, or nobody to ask: as archives always opened, without one.
  ComRef<IDirectory> root;
  if (OpenArchive(file, &root, options) != 0) return OpenStatus::NotArchive;
  return FillArchiveBook(std::move(root), book, m_order);
}

ComRef<IDirectory> OpenArchiveAhead(const std::u16string& path, const std::string& spillFolder) {
  ComRef<IFile> file;
  if (OpenDiskFile(path, &file) != 0) return {};
  BYTE head[8] = {};
  if (!StartsAsSevenZip(head, ReadHead(file.get(), head, sizeof head))) return {};
  ArchiveOptions options;
  options.spill.folder = spillFolder;
  options.sevenZipOnly = true;  // what the book's real opening says stays its own
  ComRef<IDirectory> root;
  if (OpenArchive(file.get(), &root, options) != 0 || CheckArchiveLock(root.get()) != ArchiveLock::None) return {};
  BeginSolidArchivePass(root.get());
  return root;
}

BookOpening CBookOpener::OpenFolder(const std::u16string& path) const {
  BookOpening result;
  std::u16string drive, folder;
  if (!SplitFolderPath(path, drive, folder)) {
    result.status = OpenStatus::Refused;
    return result;
  }
  Book& book = result.book;
  book.source = path;
  if (m_fileSystem == nullptr || m_fileSystem->OpenDirectory(&book.root, drive.c_str()) != 0 ||
      ListEntries(book.root.get(), folder, book.pages) != 0) {
    OutputDebugStringW(u"Error Open Directory\r\n");
    result.book = Book{};
    result.status = OpenStatus::Failed;
    result.why = Probe(path, OpenFailure::NotFound);
    return result;
  }
  book.kind = BookKind::Folder;
  book.folder = folder;
  SortByName(book.pages, m_order);
  book.displayName = FolderDisplayName(path);
  OutputDebugStringW((u"Open Directory\r\n  Drive : " + drive + u"\r\n  Path  : " + folder + u"\r\n  Files : " +
                      Decimal(book.pages.size()) + u"\r\n")
                         .c_str());
  result.status = OpenStatus::Opened;
  return result;
}

BookOpening CBookOpener::OpenFile(const std::u16string& path, const ImageTest& isImage) const {
  BookOpening result;
  std::u16string drive, underRoot;
  if (!SplitFilePath(path, drive, underRoot)) {
    result.status = OpenStatus::Refused;
    return result;
  }
  auto fail = [&](OpenStatus status, OpenFailure why) {
    OutputDebugStringW(u"Error Open File\r\n");
    result.status = status;
    result.why = why;
    return result;
  };

  // Image test: the file as the one entry of a book rooted at the drive.
  ComRef<IDirectory> disk;
  if (m_fileSystem == nullptr || m_fileSystem->OpenDirectory(&disk, drive.c_str()) != 0)
    return fail(OpenStatus::Failed, Probe(path, OpenFailure::NotFound));
  const std::size_t slash = path.rfind(u'/');
  // A file that starts as an archive is not decoded as an image first:
  // Qt's readers, asked to guess, would each be loaded to look at it.
  ComRef<IFile> file;
  const bool opened = disk->OpenFile(&file, underRoot.c_str(), nullptr) == 0;
  BYTE head[262] = {};
  const bool archiveHead = opened && LooksLikeArchive(head, ReadHead(file.get(), head, sizeof head));
  if (!archiveHead && isImage(disk.get(), underRoot)) {
    result.status = OpenStatus::IsImage;
    result.folder = slash == 0 ? u"/" : path.substr(0, slash);
    result.name = path.substr(slash + 1);
    return result;
  }

  // Not an image: an archive?
  Book& book = result.book;
  book.source = path;
  if (!opened) return fail(OpenStatus::Failed, Probe(path, OpenFailure::NotFound));
  const OpenStatus read = ReadArchive(file.get(), path, book);
  if (read != OpenStatus::Opened) {
    book = Book{};
    // An archive that opens but lists nothing has no page to show.
    return fail(read, read == OpenStatus::NotArchive ? WhyNoArchive(file.get()) : OpenFailure::NoImages);
  }
  OutputDebugStringW((u"Open File\r\n  Type : Archive\r\n  Drive : " + drive + u"\r\n  Path  : " + underRoot +
                      u"\r\n  Files : " + Decimal(book.pages.size()) + u"\r\n")
                         .c_str());
  book.displayName = path.substr(slash + 1);

  // The folder around the archive, for the next archive.
  ArchiveFolder around;
  const std::size_t split = underRoot.rfind(u'/');
  const std::u16string archiveName = underRoot.substr(split + 1);
  around.drive = drive;
  around.folder = underRoot.substr(0, split + 1);
  if (ListEntries(disk.get(), around.folder, around.entries) != 0) {
    // The archive book stays behind the error, without a folder to step
    // through: its file opened, so its folder may be entered, not listed.
    book.archiveFolder.drive = around.drive;
    book.archiveFolder.folder = around.folder;
    return fail(OpenStatus::Failed, OpenFailure::NoPermission);
  }
  SortByName(around.entries, m_order);
  for (std::size_t i = 0; i < around.entries.size(); ++i)
    if (around.entries[i].name == archiveName) {
      around.current = static_cast<int32_t>(i);
      break;
    }
  around.windowsFolder = path.substr(0, slash + 1);
  around.root = disk;
  book.archiveFolder = std::move(around);
  result.status = OpenStatus::Opened;
  return result;
}

BookOpening CBookOpener::OpenRemoteArchive(IFile* file, const std::u16string& url, const std::u16string& name) const {
  BookOpening result;
  Book& book = result.book;
  book.source = url;
  book.remote = true;
  const OpenStatus read = file != nullptr ? ReadArchive(file, url, book) : OpenStatus::Failed;
  if (read != OpenStatus::Opened) {
    OutputDebugStringW(u"Error Open Remote\r\n");
    book = Book{};
    result.status = read;
    // No file: the server did not give the book.
    result.why = file == nullptr                  ? OpenFailure::NotFound
                 : read == OpenStatus::NotArchive ? WhyNoArchive(file)
                                                  : OpenFailure::NoImages;
    return result;
  }
  OutputDebugStringW((u"Open Remote\r\n  URL : " + url + u"\r\n  Files : " + Decimal(book.pages.size()) + u"\r\n").c_str());
  book.displayName = name;
  result.status = OpenStatus::Opened;
  return result;
}

BookOpening CBookOpener::OpenStreamedBook(ComRef<IDirectory> pages, const std::u16string& url,
                                          const std::u16string& name) const {
  BookOpening result;
  Book& book = result.book;
  if (!pages || FillArchiveBook(std::move(pages), book, m_order) != OpenStatus::Opened) {
    OutputDebugStringW(u"Error Open Stream\r\n");
    result.book = Book{};
    result.why = OpenFailure::NotFound;
    return result;
  }
  book.source = url;
  book.remote = true;
  book.displayName = name;
  OutputDebugStringW((u"Open Stream\r\n  URL : " + url + u"\r\n  Files : " + Decimal(book.pages.size()) + u"\r\n").c_str());
  result.status = OpenStatus::Opened;
  return result;
}

BookOpening CBookOpener::OpenNextArchive(const ArchiveFolder& around) const { return OpenArchiveNear(around, +1); }

BookOpening CBookOpener::OpenPreviousArchive(const ArchiveFolder& around) const { return OpenArchiveNear(around, -1); }

BookOpening CBookOpener::OpenFirstChapter(const Book& folder) const {
  BookOpening result;
  result.status = OpenStatus::Refused;
  const bool allFolders = std::all_of(folder.pages.begin(), folder.pages.end(),
                                      [](const PageEntry& entry) { return entry.state == PageState::Folder; });
  if (folder.kind != BookKind::Folder || folder.pages.empty() || !allFolders || !folder.root) return result;
  ArchiveFolder around;
  around.root = folder.root;
  around.drive = u"/";
  around.folder = folder.folder;
  around.windowsFolder = folder.folder;
  around.entries = folder.pages;  // sorted as the book is
  around.chapters = true;
  around.current = -1;  // before the first: a step forward finds the first chapter
  result = OpenChapterNear(around, +1);
  if (result.status != OpenStatus::Opened) result.status = OpenStatus::Refused;
  return result;
}

BookOpening CBookOpener::OpenChapterNear(const ArchiveFolder& around, int direction) const {
  BookOpening result;
  const int64_t count = static_cast<int64_t>(around.entries.size());
  for (int64_t i = static_cast<int64_t>(around.current) + direction; i >= 0 && i < count; i += direction) {
    const PageEntry& entry = around.entries[static_cast<std::size_t>(i)];
    if (entry.state != PageState::Folder) continue;
    result.triedAny = true;
    BookOpening chapter = OpenFolder(around.windowsFolder + entry.name);
    if (chapter.status != OpenStatus::Opened) continue;
    const bool hasFile = std::any_of(chapter.book.pages.begin(), chapter.book.pages.end(),
                                     [](const PageEntry& page) { return page.state != PageState::Folder; });
    if (!hasFile) continue;  // an empty chapter, or one of folders only: the next one
    chapter.book.archiveFolder = around;
    chapter.book.archiveFolder.current = static_cast<int32_t>(i);
    return chapter;
  }
  OutputDebugStringW(u"Not Found Archive File\r\n");
  result.status = OpenStatus::NotFound;
  return result;
}

BookOpening CBookOpener::OpenArchiveNear(const ArchiveFolder& around, int direction) const {
  if (around.chapters) return OpenChapterNear(around, direction);
  BookOpening result;
  const int64_t count = static_cast<int64_t>(around.entries.size());
  for (int64_t i = static_cast<int64_t>(around.current) + direction; around.root && i >= 0 && i < count; i += direction) {
    result.triedAny = true;
    const PageEntry& entry = around.entries[static_cast<std::size_t>(i)];
    ComRef<IFile> file;
    if (around.root->OpenFile(&file, (around.folder + entry.name).c_str(), nullptr) != 0) break;
    Book book;
    book.source = around.windowsFolder + entry.name;
    const OpenStatus read = ReadArchive(file.get(), book.source, book);
    if (read == OpenStatus::NotArchive) continue;  // not an archive: the next one
    if (read != OpenStatus::Opened) break;
    book.archiveFolder = around;
    book.archiveFolder.current = static_cast<int32_t>(i);
    OutputDebugStringW((u"Open File\r\n  Type : Archive\r\n" + std::u16string(direction > 0 ? u"  Next  : " : u"  Prev  : ") +
                        entry.name + u"\r\n  Files : " + Decimal(book.pages.size()) + u"\r\n")
                           .c_str());
    book.displayName = entry.name;
    result.book = std::move(book);
    result.status = OpenStatus::Opened;
    return result;
  }
  OutputDebugStringW(u"Not Found Archive File\r\n");
  result.status = OpenStatus::NotFound;
  return result;
}

OpenFailure CBookOpener::DiagnosePages(const Book& book) const {
  // A few of the entries that failed are enough to tell; the most telling
  // reason among them wins.
  constexpr int kLookedAt = 16;
  OpenFailure why = OpenFailure::NoImages;
  int looked = 0;
  for (const PageEntry& entry : book.pages) {
    if (entry.state == PageState::Damaged) {  // its load has said why already
      if (Weight(OpenFailure::Damaged) > Weight(why)) why = OpenFailure::Damaged;
      continue;
    }
    if (entry.state != PageState::NotImage) continue;
    if (++looked > kLookedAt || !book.root) break;
    OpenFailure found = OpenFailure::None;
    if (book.kind == BookKind::Archive) found = FailureOf(DiagnoseArchiveItem(book.root.get(), entry.path.c_str()));
    if (found == OpenFailure::None) {
      ComRef<IFile> file;
      if (book.root->OpenFile(&file, entry.path.c_str(), nullptr) != 0) {
        // On disk a page that does not open may say why; in an archive the
        // look above has said all it can.
        if (book.kind != BookKind::Archive) found = Probe(entry.path, OpenFailure::None);
      } else {
        BYTE head[64] = {};
        if (LooksLikeImage(head, ReadHead(file.get(), head, sizeof head))) found = OpenFailure::Damaged;
      }
    }
    if (Weight(found) > Weight(why)) why = found;
  }
  return why;
}
