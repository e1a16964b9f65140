// Opening books from the window: the opener makes the book, the window
// shows its first page or a picture saying it could not.
#include <mutex>

#include "platform/debug.h"
#include "platform/shell.h"
#include "viewer/book/BookOpener.h"
#include "viewer/shell/MainWindow.h"

void CMainWindow::ShowFirstPage(int32_t index) {
  if (ShowPage(index, 0) != 0) ShowPicture(m_pictures.unknown.get());
  Invalidate();
}

void CMainWindow::ShowOpenFailure(bool notArchive) {
  ShowPicture(notArchive ? m_pictures.unknown.get() : m_pictures.error.get());
  Invalidate();
}

int32_t CMainWindow::OpenDirectory(const char16_t* path, const char16_t* selectName) {
  return OpenDirectoryAt(path, selectName, nullptr);
}

int32_t CMainWindow::OpenDirectoryAt(const char16_t* path, const char16_t* selectName, LoadedPage* decoded) {
  if (path == nullptr) return 1;
  // Any open gives up the way to the next archive, even a refused one.
  m_book.archiveFolder = ArchiveFolder{};
  BookOpening opened = CBookOpener(m_fileSystem.get()).OpenFolder(path);
  if (opened.status == OpenStatus::Refused) return 1;

  DropLoads();
  m_firstPage = PageImage{};
  m_secondPage = PageImage{};
  m_book = std::move(opened.book);
  if (opened.status != OpenStatus::Opened) {
    ShowPicture(m_pictures.error.get());
    Invalidate();
    return 1;
  }
  m_pageCache.Reset();

  if (selectName == nullptr) {
    ShowFirstPage(0);
    return 0;
  }
  for (std::size_t i = 0; i < m_book.pages.size(); ++i)
    if (m_book.pages[i].name == selectName) {
      // The image a file open has just decoded is that page: kept, not
      // decoded a second time.
      if (decoded != nullptr && decoded->decoded && m_book.pages[i].state == PageState::Unknown) {
        m_book.pages[i].state = PageState::Image;
        m_pageCache.Put(static_cast<int32_t>(i), std::move(decoded->image));
      }
      ShowFirstPage(static_cast<int32_t>(i));
      return 0;
    }
  ShowPicture(m_pictures.unknown.get());
  Invalidate();
  return 0;
}

int32_t CMainWindow::OpenFile(const char16_t* path) {
  if (path == nullptr) return 1;
  m_book.archiveFolder = ArchiveFolder{};
  LoadedPage probe;
  const ImageTest isImage = [&](IDirectory* root, const std::u16string& file) {
    PageRequest request;
    request.root.Set(root);
    request.path = file;
    request.colorizing = m_profile.settings.colorizing();
    request.keepFull = true;
    request.make = m_renderer.Maker();
    std::mutex unshared;  // the disk's root, used by nobody else meanwhile
    probe = LoadPage(request, unshared);
    // Its debug lines are written as it is decoded.
    if (!probe.trace.empty()) OutputDebugStringW(probe.trace.c_str());
    return probe.decoded;
  };
  BookOpening opened = CBookOpener(m_fileSystem.get()).OpenFile(path, isImage);
  if (opened.status == OpenStatus::Refused) return 1;
  DropLoads();
  m_firstPage = PageImage{};
  m_secondPage = PageImage{};
  m_book = Book{};
  m_pageCache.Reset();

  switch (opened.status) {
    case OpenStatus::IsImage:
      OpenDirectoryAt(opened.folder.c_str(), opened.name.c_str(), &probe);
      return 0;
    case OpenStatus::Opened:
      m_book = std::move(opened.book);
      ShowFirstPage(0);
      return 0;
    default:
      // An archive whose folder could not be listed stays open behind the error.
      m_book = std::move(opened.book);
      ShowOpenFailure(opened.status == OpenStatus::NotArchive);
      return 1;
  }
}

int32_t CMainWindow::OpenNextArchive() {
  if (!m_book.CanStepToNextArchive()) return 1;
  DropLoads();
  m_pageCache.Reset();
  BookOpening opened = CBookOpener(m_fileSystem.get()).OpenNextArchive(m_book.archiveFolder);
  if (opened.status != OpenStatus::Opened) {
    // Once a later entry was tried the open book is gone; either way the
    // folder cannot be stepped through any more.
    if (opened.triedAny) m_book = Book{};
    m_book.archiveFolder = ArchiveFolder{};
    MessageBeep(0);
    return 1;
  }
  m_book = std::move(opened.book);
  SHAddToRecentDocs(SHARD_PATHW, m_book.source.c_str());
  ShowFirstPage(0);
  return 0;
}
