// Opening a file: an image opens its folder at that image, anything else
// is tried as an archive; and stepping to the next archive of the folder.
#include <string>

#include "platform/debug.h"
#include "platform/shell.h"
#include "viewer/book/Archive.h"
#include "viewer/shell/MainWindow.h"

namespace {
// A file's path: absolute, the drive root "/", the path under it the path itself.
bool SplitFilePath(const std::u16string& path, std::u16string& drive, std::u16string& underRoot) {
  if (path.size() < 2 || path[0] != u'/' || path.back() == u'/') return false;
  drive = u"/";
  underRoot = path;
  return true;
}
}  // namespace

void CMainWindow::ShowOpenFailure(int code) {
  OutputDebugStringW(u"Error Open File\r\n");
  ShowPicture(code == 2 ? m_unknownImage : m_errorImage);
  InvalidateRect(m_hwnd, nullptr, TRUE);
}

int32_t CMainWindow::OpenFile(const char16_t* path) {
  g_bookIsArchive = 0;
  if (path == nullptr) return 1;
  const std::u16string source(path);
  std::u16string drive, underRoot;
  if (!SplitFilePath(source, drive, underRoot)) return 1;

  SafeRelease(m_firstPage);
  SafeRelease(m_secondPage);
  m_book.Clear();
  ResetPageCache();

  try {
    // Image test: the file as the one entry of a book rooted at the drive.
    Book book;
    book.current = 0;
    book.kind = BookKindFolder;
    book.folder = u"/";
    book.pages.push_back(PageEntry{underRoot, underRoot, 0, PageStateUnknown});
    if (m_fileSystem == nullptr || m_fileSystem->OpenDirectory(book.root.Receive(), drive.c_str()) != 0) throw 1;
    m_book = book;
    int32_t slot;
    if (DecodePage(0, &slot) == 0) {
      const std::size_t slash = source.rfind(u'/');
      const std::u16string folder = slash == 0 ? u"/" : source.substr(0, slash);
      const std::u16string name = source.substr(slash + 1);
      OpenDirectory(folder.c_str(), name.c_str());
      return 0;
    }

    // Not an image: an archive?
    m_book.Clear();
    DirectoryRef disk = book.root;
    book.Clear();
    book.source = source;
    IFile* file = nullptr;
    if (disk->OpenFile(&file, underRoot.c_str(), nullptr) != 0) throw 1;
    const int32_t opened = OpenArchive(file, book.root.Receive());
    file->Release();
    if (opened != 0) throw 2;
    book.current = 0;
    book.folder.clear();
    book.kind = BookKindArchive;
    if (AppendTree(book, u"/") != 0) throw 1;
    m_book.Clear();
    m_book = book;

    OutputDebugStringW((u"Open File\r\n  Type : Archive\r\n  Drive : " + drive + u"\r\n  Path  : " + underRoot +
                        u"\r\n  Files : " + Decimal(static_cast<int64_t>(m_book.pages.size())) + u"\r\n")
                           .c_str());
    m_book.displayName = source.substr(source.rfind(u'/') + 1);

    ArchiveFolder& around = m_book.archiveFolder;
    const std::size_t slash = underRoot.rfind(u'/');
    const std::u16string archiveName = underRoot.substr(slash + 1);
    around.drive = drive;
    around.folder = underRoot.substr(0, slash + 1);
    around.current = 0;
    IFileSystemEntries* list = nullptr;
    if (disk->GetEntries(around.folder.c_str(), &list) != 0) throw 1;  // the archive book stays behind the error
    uint32_t count = 0;
    list->GetCount(&count);
    around.entries.clear();
    for (uint32_t i = 0; i < count; ++i) {
      FileSystemEntry record{};
      list->GetEntry(i, &record);
      around.entries.push_back(PageEntry{around.folder + record.name, record.name, record.size,
                                         (record.flags & 1) ? PageStateFolder : PageStateUnknown});
    }
    list->Release();
    SortByName(around.entries);
    for (std::size_t i = 0; i < around.entries.size(); ++i)
      if (around.entries[i].name == archiveName) {
        around.current = static_cast<int32_t>(i);
        break;
      }
    around.windowsFolder = source.substr(0, source.rfind(u'/') + 1);
    around.root = disk;
    g_bookIsArchive = 1;

    if (ShowPage(0, 0) != 0) ShowPicture(m_unknownImage);
    InvalidateRect(m_hwnd, nullptr, TRUE);
    return 0;
  } catch (int code) {
    ShowOpenFailure(code);
    return 1;
  }
}

int32_t CMainWindow::OpenNextArchive() {
  if (g_bookIsArchive == 0) return 1;
  ResetPageCache();
  ArchiveFolder& around = m_book.archiveFolder;
  for (std::size_t i = static_cast<std::size_t>(around.current) + 1; i < around.entries.size(); ++i) {
    m_book.Clear();  // the flag is 1: the archive folder stays
    Book book;
    const PageEntry& entry = around.entries[i];
    book.source = around.windowsFolder + entry.name;
    IFile* file = nullptr;
    if (around.root->OpenFile(&file, (around.folder + entry.name).c_str(), nullptr) != 0) break;
    if (OpenArchive(file, book.root.Receive()) != 0) {
      file->Release();
      continue;  // not an archive: the next one
    }
    book.current = 0;
    book.folder.clear();
    book.kind = BookKindArchive;
    if (AppendTree(book, u"/") != 0) {
      file->Release();
      break;
    }
    m_book.Clear();
    around.current = static_cast<int32_t>(i);
    book.archiveFolder = around;
    m_book = book;

    const std::u16string name = m_book.archiveFolder.entries[i].name;
    OutputDebugStringW((u"Open File\r\n  Type : Archive\r\n  Next  : " + name + u"\r\n  Files : " +
                        Decimal(static_cast<int64_t>(m_book.pages.size())) + u"\r\n")
                           .c_str());
    m_book.displayName = name;
    SHAddToRecentDocs(SHARD_PATHW, m_book.source.c_str());
    file->Release();
    if (ShowPage(0, 0) != 0) ShowPicture(m_unknownImage);
    InvalidateRect(m_hwnd, nullptr, TRUE);
    return 0;
  }
  OutputDebugStringW(u"Not Found Archive File\r\n");
  MessageBeep(0);
  g_bookIsArchive = 0;
  return 1;
}
