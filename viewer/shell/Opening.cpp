// Opening books from the window: the opener makes the book, the window
// shows its first page (or the page the reader left it at) or a picture
// saying it could not, and why.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>

#include "platform/debug.h"
#include "platform/dialog.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "viewer/book/BookOpener.h"
#include "viewer/catalogue/PseBook.h"
#include "viewer/shell/DataPaths.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"

namespace {

OpenFailure FailureOfErrno(int error, OpenFailure guess) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return OpenFailure::NotFound;
    case EACCES:
    case EPERM:
      return OpenFailure::NoPermission;
    default:
      return guess;
  }
}

// What the disk says of a path that failed: missing, or not to be read.
OpenFailure ProbeDisk(const std::u16string& path, OpenFailure guess) {
  const std::string name = Utf16ToUtf8(path);
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return FailureOfErrno(errno, guess);
  if (S_ISDIR(st.st_mode)) {
    DIR* folder = ::opendir(name.c_str());
    if (folder == nullptr) return FailureOfErrno(errno, guess);
    ::closedir(folder);
    return guess;
  }
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FailureOfErrno(errno, guess);
  ::close(fd);
  return guess;
}

// The user's password for the archive at `path`; nothing when they give up.
std::optional<std::u16string> AskArchivePassword(HWND owner, const std::u16string& path, bool wrongBefore) {
  std::u16string prompt = Text("\u300c%1\u300d\u306e\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u5165\u529b\u3057\u3066\u304f\u3060\u3055\u3044:");
  if (const std::size_t at = prompt.find(u"%1"); at != std::u16string::npos)
    prompt.replace(at, 2, path.substr(path.rfind(u'/') + 1));
  const std::u16string wrong = Text("\u30d1\u30b9\u30ef\u30fc\u30c9\u304c\u9055\u3044\u307e\u3059\u3002");
  std::optional<std::u16string> password(std::in_place);
  if (!AskForPassword(owner, Text("\u30d1\u30b9\u30ef\u30fc\u30c9").c_str(), prompt.c_str(),
                      wrongBefore ? wrong.c_str() : nullptr, &*password))
    return std::nullopt;
  return password;
}

}  // namespace

CBookOpener CMainWindow::Opener() {
  CBookOpener opener(m_fileSystem.get(), m_reading.order(), ProbeDisk);
  if (const std::u16string cache = CacheFolderOfUser(); !cache.empty()) opener.SpillSolidArchivesIn(Utf16ToUtf8(cache));
  opener.UsePasswords(&m_passwords, [owner = m_hWnd](const std::u16string& path, bool wrongBefore) {
    return AskArchivePassword(owner, path, wrongBefore);
  });
  if (m_ahead.root) opener.UseOpenedArchive(m_ahead);
  return opener;
}

void CMainWindow::ShowFirstPage(int32_t index, int32_t step) {
  // As large as this book was read last, or as the last book.
  const KeptBook book = LoadKeptBook(m_book.source);
  const ViewScale& kept = book.view;
  m_bookChoices = book.choices;
  m_viewScale = ViewScale{};
  m_viewScale.fit = kept.fit;
  m_viewScale.zoom = kept.zoom;
  m_viewScale.continuous = kept.continuous;
  // Another book: its own column, or none.
  if (m_inColumn) LeaveColumn();
  ShowPage(index, step, Otherwise::ShowNoPage);
  Invalidate();
}

bool CMainWindow::ReadsOn(int32_t way) const {
  return m_reading.readOn && way != 0 && m_book.CanStepToArchive(way < 0 ? -1 : +1);
}

void CMainWindow::ShowNoPage() { ShowPicture(m_pictures.unknown.get(), Opener().DiagnosePages(m_book)); }

void CMainWindow::ShowOpenFailure(bool notArchive, OpenFailure why) {
  ShowPicture(notArchive ? m_pictures.unknown.get() : m_pictures.error.get(), why);
  Invalidate();
}

void CMainWindow::LetBookGo() {
  // An opening still waiting on a server is moot: this one came after it.
  m_openings.Drop();
  CloseGrid();
  m_pages.Reset();
  ForgetTurns();
  m_book = Book{};
  m_bookChoices = {};
  m_remote = RemoteBook{};  // its file and blocks too, when it was read from a server
}

int32_t CMainWindow::IndexOfPage(const std::u16string& path, int32_t fallback) const {
  const int32_t found = path.empty() ? -1 : m_book.IndexOf(path);
  return found >= 0 ? found : fallback;
}

int32_t CMainWindow::RememberedPage(const Book& book) const {
  int32_t index = 0;
  std::u16string page;
  if (book.remote) {
    const std::vector<RemotePlace> places =
        m_remotePlaces ? *m_remotePlaces : RemotePlacesFromRecords(GetUserSettingTexts(kRemotePlacesKey));
    const auto place = std::find_if(places.begin(), places.end(), [&](const RemotePlace& p) { return p.url == book.source; });
    if (place == places.end()) return 0;
    index = place->index;
    page = place->page;
  } else {
    const HistoryEntry* entry = m_profile.history.Find(book.source);
    if (entry == nullptr) return 0;
    index = entry->index;
    page = entry->page;
  }
  // By name first: the place survives pages added, removed or reordered.
  if (const int32_t byName = page.empty() ? -1 : book.IndexOf(page); byName >= 0) return byName;
  // A remembered page outside the book (a book that changed, a profile
  // edited by hand) is the first page.
  return index >= 0 && index < book.PageCount() ? index : 0;
}

std::vector<RemotePlace>& CMainWindow::RemotePlaces() {
  if (!m_remotePlaces) m_remotePlaces = RemotePlacesFromRecords(GetUserSettingTexts(kRemotePlacesKey));
  return *m_remotePlaces;
}

void CMainWindow::NoteShown(int32_t page, const std::u16string& path) {
  if (!m_book.remote) {
    if (m_profile.NoteHistory(m_book.source, page, path)) m_historyUnsaved = true;
    return;
  }
  RemotePlace place{m_book.source, page, path};
  // A streamed book's template alone does not open it again.
  if (m_remote.stream) {
    place.count = m_remote.stream->count;
    place.title = m_remote.title;
  } else if (m_remote.title != RemoteBookName(m_book.source)) {
    place.title = m_remote.title;  // its catalogue's name for it
  }
  if (NoteRemotePlace(RemotePlaces(), std::move(place))) m_remotePlacesUnsaved = true;
}

void CMainWindow::OpenRemoteBook(const RemoteBook& remote) { OpenRemoteBookAt(remote, Start{}); }

void CMainWindow::OpenRemoteBookAt(const RemoteBook& given, const Start& start) {
  RemoteBook remote = given;
  // An address alone names an archive by its last segment (calibre's
  // server: "lib" for every book); the name its catalogue gave is kept
  // with its place.
  if (!remote.stream && remote.title == RemoteBookName(remote.url))
    for (const RemotePlace& place : RemotePlaces())
      if (place.url == remote.url && !place.title.empty()) remote.title = place.title;
  m_book.archiveFolder = ArchiveFolder{};
  // Pages as wide as the window's device pixels, where the server scales them.
  int32_t width = 1;
  if (remote.stream) {
    RECT client{};
    GetClientRect(m_hWnd, &client);
    width = std::max(static_cast<int32_t>(static_cast<float>(client.right) * GetWindowPixelRatio(m_hWnd) + 0.5f), 1);
  }
  // The archive's directory comes over range requests, each as slow as the
  // server: read on the opening's thread, with a password kept for it in
  // this run, and any asked for over the window on the window's thread.
  auto passwords = std::make_shared<SessionPasswords>();
  if (const std::u16string* kept = m_passwords.Find(remote.url)) passwords->Keep(remote.url, *kept);
  const std::u16string cache = CacheFolderOfUser();
  m_openings.Start([this, fileSystem = m_fileSystem, order = m_reading.order(), cache, passwords, owner = m_hWnd,
                    remote, start, width](const CRemoteOpenings::Ticket& ticket) -> CRemoteOpenings::Then {
    CBookOpener opener(fileSystem.get(), order, ProbeDisk);
    if (!cache.empty()) opener.SpillSolidArchivesIn(Utf16ToUtf8(cache));
    opener.UsePasswords(passwords.get(), [&ticket, owner](const std::u16string& path, bool wrongBefore) {
      std::optional<std::u16string> password;
      ticket.OnWindowThread([&] { password = AskArchivePassword(owner, path, wrongBefore); });
      return password;
    });
    Start from = start;
    auto opened = std::make_shared<BookOpening>();
    if (remote.stream) {
      ComRef<IDirectory> pages;
      OpenStreamedPages(*remote.stream, remote.credentials, remote.fetch, width, &pages);
      *opened = opener.OpenStreamedBook(std::move(pages), remote.url, remote.title);
      // The server's own note of the page last read, from 1, goes first.
      if (const auto last = remote.stream->lastRead; start.at == Start::At::Remembered && last && *last >= 1)
        from = Start{Start::At::Page, StreamedPageName(*last - 1)};
    } else {
      *opened = opener.OpenRemoteArchive(remote.file.get(), remote.url, remote.title);
    }
    return [this, remote, from, opened, passwords] {
      FinishRemoteOpening(remote, from, std::move(*opened), *passwords);
    };
  });
}

void CMainWindow::FinishRemoteOpening(const RemoteBook& remote, const Start& start, BookOpening opened,
                                      const SessionPasswords& passwords) {
  if (const std::u16string* given = passwords.Find(remote.url))
    m_passwords.Keep(remote.url, *given);
  else
    m_passwords.Forget(remote.url);
  if (opened.status == OpenStatus::Refused) return;
  LetBookGo();
  m_remote = remote;
  if (opened.status != OpenStatus::Opened) {
    m_remote = RemoteBook{};
    ShowOpenFailure(opened.status == OpenStatus::NotArchive, opened.why);
    return;
  }
  m_book = std::move(opened.book);
  ShowFirstPage(StartIndex(m_book, start));
}

int32_t CMainWindow::StartIndex(const Book& book, const Start& start) const {
  switch (start.at) {
    case Start::At::Remembered:
      return m_reading.resume ? RememberedPage(book) : 0;
    case Start::At::Page:
      return std::max(book.IndexOf(start.page), 0);
    case Start::At::Last:
      return std::max(book.PageCount() - 1, 0);
    case Start::At::First:
      break;
  }
  return 0;
}

int32_t CMainWindow::OpenDirectory(const char16_t* path, const char16_t* selectName) {
  return OpenDirectoryAt(path, selectName, nullptr, Start{});
}

int32_t CMainWindow::OpenDirectoryAt(const char16_t* path, const char16_t* selectName, LoadedPage* decoded,
                                     const Start& start) {
  if (path == nullptr) return 1;
  // Any open gives up the way to the next archive, even a refused one.
  m_book.archiveFolder = ArchiveFolder{};
  const CBookOpener opener = Opener();
  BookOpening opened = opener.OpenFolder(path);
  if (opened.status == OpenStatus::Refused) return 1;
  // A folder of chapters reads as its first chapter, the others a step away.
  if (opened.status == OpenStatus::Opened && selectName == nullptr)
    if (BookOpening chapter = opener.OpenFirstChapter(opened.book); chapter.status == OpenStatus::Opened)
      opened = std::move(chapter);

  LetBookGo();
  m_book = std::move(opened.book);
  if (opened.status != OpenStatus::Opened) {
    ShowPicture(m_pictures.error.get(), opened.why);
    Invalidate();
    return 1;
  }

  if (selectName == nullptr) {
    ShowFirstPage(StartIndex(m_book, start));
    return 0;
  }
  for (std::size_t i = 0; i < m_book.pages.size(); ++i)
    if (m_book.pages[i].name == selectName) {
      // The image a file open has just decoded is that page: kept, not
      // decoded a second time.
      if (decoded != nullptr && decoded->decoded && m_book.pages[i].state == PageState::Unknown) {
        m_book.pages[i].state = PageState::Image;
        m_pages.Adopt(static_cast<int32_t>(i), std::move(decoded->image));
      }
      ShowFirstPage(static_cast<int32_t>(i));
      return 0;
    }
  ShowPicture(m_pictures.unknown.get(), OpenFailure::NotFound);
  Invalidate();
  return 0;
}

int32_t CMainWindow::OpenFile(const char16_t* path) { return OpenFileAt(path, Start{}); }

int32_t CMainWindow::OpenFileAt(const char16_t* path, const Start& start) {
  if (path == nullptr) return 1;
  m_book.archiveFolder = ArchiveFolder{};
  LoadedPage probe;
  const ImageTest isImage = [&](IDirectory* root, const std::u16string& file) {
    PageRequest request;
    request.root.Set(root);
    request.path = file;
    request.colorizing = m_profile.settings.colorizing();
    request.orientation = m_reading.orientation();
    request.keepFull = true;
    request.make = m_renderer.Maker();
    std::mutex unshared;  // the disk's root, used by nobody else meanwhile
    probe = LoadPage(request, unshared);
    // Its debug lines are written as it is decoded.
    if (!probe.trace.empty()) OutputDebugStringW(probe.trace.c_str());
    return probe.decoded;
  };
  BookOpening opened = Opener().OpenFile(path, isImage);
  m_ahead = {};  // taken by this opening, or of no use to any other
  if (opened.status == OpenStatus::Refused) return 1;
  LetBookGo();

  switch (opened.status) {
    case OpenStatus::IsImage:
      // An image opened by name opens at that image, whatever is remembered.
      OpenDirectoryAt(opened.folder.c_str(), opened.name.c_str(), &probe, start);
      return 0;
    case OpenStatus::Opened:
      m_book = std::move(opened.book);
      ShowFirstPage(StartIndex(m_book, start));
      return 0;
    default:
      // An archive whose folder could not be listed stays open behind the error.
      m_book = std::move(opened.book);
      ShowOpenFailure(opened.status == OpenStatus::NotArchive, opened.why);
      return 1;
  }
}

int32_t CMainWindow::OpenNextArchive() { return OpenArchiveNear(+1, Start{}); }

int32_t CMainWindow::OpenPreviousArchive() { return OpenArchiveNear(-1, Start{}); }

int32_t CMainWindow::OpenArchiveNear(int direction, const Start& start) {
  if (!m_book.CanStepToArchive(direction)) return 1;
  const CBookOpener opener = Opener();
  BookOpening opened =
      direction > 0 ? opener.OpenNextArchive(m_book.archiveFolder) : opener.OpenPreviousArchive(m_book.archiveFolder);
  if (opened.status != OpenStatus::Opened) {
    // The book on screen stays readable, its page and pages as they were;
    // only this way through its folder is given up, the other stays.
    (direction > 0 ? m_book.noArchiveAfter : m_book.noArchiveBefore) = true;
    MessageBeep(0);
    return 1;
  }
  m_openings.Drop();
  CloseGrid();
  m_pages.DropPages();
  ForgetTurns();
  m_book = std::move(opened.book);
  SHAddToRecentDocs(SHARD_PATHW, m_book.source.c_str());
  if (start.at == Start::At::Last) {
    // As End does: the last page, with its partner in a spread, or the
    // last one that shows when the last entries are no pages.
    ShowFirstPage(m_book.PageCount(), -2);
    return 0;
  }
  ShowFirstPage(StartIndex(m_book, start));
  return 0;
}

void CMainWindow::ReopenInOrder() {
  if (m_book.pages.empty() || m_book.source.empty()) return;
  // Listed again from its source, at the page that was on screen wherever
  // the new order puts it.
  const std::u16string source = m_book.source;
  const Start start{Start::At::Page, m_book.pages[static_cast<std::size_t>(m_book.current)].path};
  if (m_book.remote)
    OpenRemoteBookAt(RemoteBook(m_remote), start);
  else if (m_book.kind == BookKind::Archive)
    OpenFileAt(source.c_str(), start);
  else
    OpenDirectoryAt(source.c_str(), nullptr, nullptr, start);
}
