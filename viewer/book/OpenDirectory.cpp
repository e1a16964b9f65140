// Making a disk folder the open book.
#include <string>

#include "platform/debug.h"
#include "viewer/shell/MainWindow.h"

namespace {

// Paths here are absolute POSIX paths: the drive root is "/" and the folder
// path is the path itself, with a final "/". Anything else is refused.
bool SplitDrivePath(const std::u16string& path, std::u16string& drive, std::u16string& folder) {
  if (path.empty() || path[0] != u'/') return false;
  drive = u"/";
  folder = path;
  if (folder.back() != u'/') folder.push_back(u'/');
  return true;
}

// The last component of the path, a trailing "/" ignored; "/" itself for the root.
std::u16string DisplayName(const std::u16string& path) {
  std::u16string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == u'/') trimmed.pop_back();
  if (trimmed == u"/") return trimmed;
  return trimmed.substr(trimmed.rfind(u'/') + 1);
}

}  // namespace

int32_t CMainWindow::OpenDirectory(const char16_t* path, const char16_t* selectName) {
  g_bookIsArchive = 0;
  if (path == nullptr) return 1;
  const std::u16string source(path);
  std::u16string drive, folder;
  if (!SplitDrivePath(source, drive, folder)) return 1;

  SafeRelease(m_firstPage);
  SafeRelease(m_secondPage);
  m_book.Clear();

  Book book;
  book.source = source;
  IFileSystemEntries* list = nullptr;
  if (m_fileSystem == nullptr || m_fileSystem->OpenDirectory(book.root.Receive(), drive.c_str()) != 0 ||
      book.root->GetEntries(folder.c_str(), &list) != 0) {
    OutputDebugStringW(u"Error Open Directory\r\n");
    ShowPicture(m_errorImage);
    InvalidateRect(m_hwnd, nullptr, TRUE);
    return 1;
  }
  book.current = 0;
  book.kind = BookKindFolder;
  book.folder = folder;
  uint32_t count = 0;
  list->GetCount(&count);
  book.pages.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    FileSystemEntry record{};
    list->GetEntry(i, &record);
    PageEntry& entry = book.pages[i];
    entry.path = folder + record.name;
    entry.name = record.name;
    entry.state = (record.flags & 1) ? PageStateFolder : PageStateUnknown;
    entry.size = record.size;
  }
  SortByName(book.pages);
  list->Release();

  m_book.Clear();
  m_book = book;
  m_book.displayName = DisplayName(source);
  ResetPageCache();

  OutputDebugStringW((u"Open Directory\r\n  Drive : " + drive + u"\r\n  Path  : " + folder + u"\r\n  Files : " +
                      Decimal(static_cast<int64_t>(m_book.pages.size())) + u"\r\n")
                         .c_str());

  bool shown = false;
  if (selectName == nullptr) {
    shown = ShowPage(0, 0) == 0;
  } else {
    for (std::size_t i = 0; i < m_book.pages.size(); ++i) {
      if (m_book.pages[i].name == selectName) {
        shown = ShowPage(static_cast<int32_t>(i), 0) == 0;
        break;
      }
    }
  }
  if (!shown) ShowPicture(m_unknownImage);
  InvalidateRect(m_hwnd, nullptr, TRUE);
  return 0;
}
