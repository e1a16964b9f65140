#include "viewer/book/BookOpener.h"

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/book/Archive.h"

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

// The archive in `file` as a book of its whole tree; the status says why not.
OpenStatus ReadArchive(IFile* file, Book& book) {
  if (OpenArchive(file, &book.root) != 0) return OpenStatus::NotArchive;
  book.current = 0;
  book.folder.clear();
  book.kind = BookKind::Archive;
  return AppendTree(book, u"/") == 0 ? OpenStatus::Opened : OpenStatus::Failed;
}

}  // namespace

std::u16string FolderDisplayName(const std::u16string& path) {
  std::u16string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == u'/') trimmed.pop_back();
  if (trimmed == u"/") return trimmed;
  return trimmed.substr(trimmed.rfind(u'/') + 1);
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
    return result;
  }
  book.kind = BookKind::Folder;
  book.folder = folder;
  SortByName(book.pages);
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
  auto fail = [&](OpenStatus status) {
    OutputDebugStringW(u"Error Open File\r\n");
    result.status = status;
    return result;
  };

  // Image test: the file as the one entry of a book rooted at the drive.
  ComRef<IDirectory> disk;
  if (m_fileSystem == nullptr || m_fileSystem->OpenDirectory(&disk, drive.c_str()) != 0) return fail(OpenStatus::Failed);
  const std::size_t slash = path.rfind(u'/');
  if (isImage(disk.get(), underRoot)) {
    result.status = OpenStatus::IsImage;
    result.folder = slash == 0 ? u"/" : path.substr(0, slash);
    result.name = path.substr(slash + 1);
    return result;
  }

  // Not an image: an archive?
  Book& book = result.book;
  book.source = path;
  {
    ComRef<IFile> file;
    if (disk->OpenFile(&file, underRoot.c_str(), nullptr) != 0) return fail(OpenStatus::Failed);
    const OpenStatus read = ReadArchive(file.get(), book);
    if (read != OpenStatus::Opened) {
      book = Book{};
      return fail(read);
    }
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
    // The archive book stays behind the error, without a folder to step through.
    book.archiveFolder.drive = around.drive;
    book.archiveFolder.folder = around.folder;
    return fail(OpenStatus::Failed);
  }
  SortByName(around.entries);
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

BookOpening CBookOpener::OpenNextArchive(const ArchiveFolder& around) const {
  BookOpening result;
  for (std::size_t i = static_cast<std::size_t>(around.current) + 1; around.root && i < around.entries.size(); ++i) {
    result.triedAny = true;
    const PageEntry& entry = around.entries[i];
    ComRef<IFile> file;
    if (around.root->OpenFile(&file, (around.folder + entry.name).c_str(), nullptr) != 0) break;
    Book book;
    book.source = around.windowsFolder + entry.name;
    const OpenStatus read = ReadArchive(file.get(), book);
    if (read == OpenStatus::NotArchive) continue;  // not an archive: the next one
    if (read != OpenStatus::Opened) break;
    book.archiveFolder = around;
    book.archiveFolder.current = static_cast<int32_t>(i);
    OutputDebugStringW((u"Open File\r\n  Type : Archive\r\n  Next  : " + entry.name + u"\r\n  Files : " +
                        Decimal(book.pages.size()) + u"\r\n")
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
