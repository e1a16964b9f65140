// The context menu, its commands, and the open dialogs.
#include <algorithm>

#include "platform/debug.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/shobjidl.h"
#include "platform/system.h"
#include "platform/wincodec.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"

namespace {
// A command with its text from the table of actions; a popup or separator
// with the text given (as the Japanese menus show it).
void Append(HMENU menu, UINT id) { AppendMenuW(menu, MF_STRING, id, MenuText(id).c_str()); }
void Append(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
  AppendMenuW(menu, flags, id, text != nullptr ? Text(text).c_str() : nullptr);
}
}  // namespace

HMENU LoadContextMenu() {
  HMENU history = CreatePopupMenu();
  AppendMenuW(history, MF_STRING | MF_GRAYED, IDM_EMPTY, MenuText(IDM_EMPTY).c_str());
  HMENU show = CreatePopupMenu();
  for (UINT id : {IDM_SINGLE, IDM_SPREAD_RIGHT, IDM_SPREAD_LEFT, IDM_SHIFT_PAIRS, IDM_RESET_BOOK}) Append(show, id);
  Append(show, MF_SEPARATOR, 0, nullptr);
  Append(show, IDM_MONO2COLOR);
  // The reader's own switches, after the view's.
  Append(show, MF_SEPARATOR, 0, nullptr);
  for (UINT id : {IDM_COVER_ALONE, IDM_EXIF_ORIENTATION, IDM_NATURAL_ORDER, IDM_RESUME, IDM_READ_ON, IDM_PAGE_NUMBER})
    Append(show, id);
  HMENU size = CreatePopupMenu();
  for (UINT id : {IDM_FIT_BEST, IDM_FIT_WIDTH, IDM_FIT_HEIGHT, IDM_FIT_ORIGINAL}) Append(size, id);
  Append(size, MF_SEPARATOR, 0, nullptr);
  for (UINT id : {IDM_ZOOM_IN, IDM_ZOOM_OUT}) Append(size, id);
  Append(size, MF_SEPARATOR, 0, nullptr);
  Append(size, IDM_CONTINUOUS);
  Append(size, IDM_PAGE_GRID);
  HMENU help = CreatePopupMenu();
  AppendMenuW(help, MF_STRING | MF_GRAYED, IDM_MANUAL, MenuText(IDM_MANUAL).c_str());
  Append(help, IDM_KEYS);
  Append(help, IDM_BOOK_INFO);
  Append(help, IDM_ABOUT);

  HMENU popup = CreatePopupMenu();
  for (UINT id : {IDM_OPEN_FILE, IDM_OPEN_DIRECTORY, IDM_OPEN_NEXT_ARCHIVE, IDM_OPEN_PREVIOUS_ARCHIVE, IDM_GO_TO_PAGE})
    Append(popup, id);
  Append(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(history), "History");
  Append(popup, IDM_CATALOGUES);
  Append(popup, MF_SEPARATOR, 0, nullptr);
  Append(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(show), "Show");
  Append(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(size), "View");
  Append(popup, IDM_FULL_SCREEN);
  Append(popup, MF_SEPARATOR, 0, nullptr);
  Append(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "Help");
  Append(popup, IDM_EXIT);

  HMENU menu = CreatePopupMenu();  // the resource: its first popup is the menu
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), u"Menu");
  return menu;
}

void CMainWindow::ShowContextMenu(bool fromKeyboard) {
  POINT at{};
  GetCursorPos(&at);
  if (fromKeyboard) {
    // Over the window's upper left, where a keyboard's menu is looked for.
    RECT client{};
    GetClientRect(m_hWnd, &client);
    at = POINT{client.right / 8, client.bottom / 8};
    ClientToScreen(m_hWnd, &at);
  }
  HMENU menu = LoadContextMenu();
  HMENU popup = GetSubMenu(menu, 0);
  const ViewSettings& settings = m_profile.settings;
  // A stored mode outside the three checks the left-opening spread.
  const PageMode mode = PageModeNow();
  CheckMenuItem(menu, mode == PageMode::Single        ? IDM_SINGLE
                      : mode == PageMode::SpreadRight ? IDM_SPREAD_RIGHT
                                                      : IDM_SPREAD_LEFT,
                MF_CHECKED);
  if (settings.mono2Color != 0) CheckMenuItem(menu, IDM_MONO2COLOR, MF_CHECKED);
  if (CoverAloneNow()) CheckMenuItem(menu, IDM_COVER_ALONE, MF_CHECKED);
  if (m_reading.exifOrientation) CheckMenuItem(menu, IDM_EXIF_ORIENTATION, MF_CHECKED);
  if (m_reading.naturalOrder) CheckMenuItem(menu, IDM_NATURAL_ORDER, MF_CHECKED);
  if (m_reading.resume) CheckMenuItem(menu, IDM_RESUME, MF_CHECKED);
  if (m_reading.readOn) CheckMenuItem(menu, IDM_READ_ON, MF_CHECKED);
  if (m_reading.pageNumber) CheckMenuItem(menu, IDM_PAGE_NUMBER, MF_CHECKED);
  if (m_viewScale.continuous) CheckMenuItem(menu, IDM_CONTINUOUS, MF_CHECKED);
  if (m_viewScale.zoom == 1.0f && !m_viewScale.continuous) {
    const Fit fit = m_viewScale.fit;
    CheckMenuItem(menu, fit == Fit::Best    ? IDM_FIT_BEST
                        : fit == Fit::Width ? IDM_FIT_WIDTH
                        : fit == Fit::Height ? IDM_FIT_HEIGHT
                                             : IDM_FIT_ORIGINAL,
                  MF_CHECKED);
  }
  if (!m_book.CanStepToArchive(+1)) EnableMenuItem(popup, IDM_OPEN_NEXT_ARCHIVE, MF_GRAYED);
  if (!m_book.CanStepToArchive(-1)) EnableMenuItem(popup, IDM_OPEN_PREVIOUS_ARCHIVE, MF_GRAYED);
  if (m_book.pages.empty()) EnableMenuItem(popup, IDM_GO_TO_PAGE, MF_GRAYED);
  // Only spreads have pairs to shift.
  if (m_book.pages.empty() || PageModeNow() == PageMode::Single)
    EnableMenuItem(popup, IDM_SHIFT_PAIRS, MF_GRAYED);
  if (m_book.source.empty() || m_book.pages.empty()) EnableMenuItem(popup, IDM_RESET_BOOK, MF_GRAYED);
  if (m_book.pages.empty() || m_failure != OpenFailure::None) EnableMenuItem(popup, IDM_PAGE_GRID, MF_GRAYED);
  if (m_gridShown) CheckMenuItem(menu, IDM_PAGE_GRID, MF_CHECKED);
  if (m_help) CheckMenuItem(menu, IDM_KEYS, MF_CHECKED);
  if (!m_book.info || InfoLines(*m_book.info).empty()) EnableMenuItem(popup, IDM_BOOK_INFO, MF_GRAYED);
  if (m_info) CheckMenuItem(menu, IDM_BOOK_INFO, MF_CHECKED);
  const std::vector<HistoryEntry>& books = m_profile.history.Entries();
  const std::vector<RemotePlace> remote = RemoteHistory();
  if (!books.empty() || !remote.empty()) {
    HMENU history = GetSubMenu(popup, kHistoryPosition);
    DeleteMenu(history, 0, MF_BYPOSITION);
    const auto add = [history](std::u16string name, UINT id, std::size_t at) {
      MENUITEMINFOW item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_ID | MIIM_STRING;
      item.wID = id;
      item.dwTypeData = name.data();
      InsertMenuItemW(history, static_cast<UINT>(at), TRUE, &item);
    };
    for (std::size_t i = 0; i < books.size(); ++i) add(books[i].name, IDM_HISTORY_FIRST + static_cast<UINT>(i), i);
    for (std::size_t i = 0; i < remote.size(); ++i) {
      const std::u16string& name = remote[i].title.empty() ? remote[i].url : remote[i].title;
      add(name, IDM_REMOTE_HISTORY_FIRST + static_cast<UINT>(i), books.size() + i);
    }
  }
  // Off every monitor, x is brought into the nearest work area.
  if (MonitorFromPoint(at, MONITOR_DEFAULTTONULL) == nullptr) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &info))
      at.x = std::clamp(at.x, info.rcWork.left, info.rcWork.right);
  }
  TrackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, nullptr);
  DestroyMenu(menu);
}

void CMainWindow::SaveProfile() {
  m_historyUnsaved = false;
  m_profile.Save();
  SaveHistoryPages(m_profile.history);
  SaveRemotePlaces();
}

void CMainWindow::SaveRemotePlaces() {
  if (!m_remotePlacesUnsaved || !m_remotePlaces) return;
  m_remotePlacesUnsaved = false;
  SetUserSettingTexts(kRemotePlacesKey, RecordsOfRemotePlaces(*m_remotePlaces));
}

void CMainWindow::SaveHistoryIfDue() {
  if (m_historyUnsaved) SaveProfile();
  SaveRemotePlaces();
}

namespace {

ReadingDirection DirectionOf(const Book& book) { return book.info ? book.info->direction : ReadingDirection::Unknown; }

}  // namespace

PageMode CMainWindow::PageModeNow() const {
  // Picked for this book: the reader's word over the book's own.
  if (m_bookChoices.mode) return *m_bookChoices.mode;
  const PageMode mode = m_profile.settings.pageMode;
  const ReadingDirection way = DirectionOf(m_book);
  if (way == ReadingDirection::Unknown || (mode != PageMode::SpreadRight && mode != PageMode::SpreadLeft)) return mode;
  return way == ReadingDirection::RightToLeft ? PageMode::SpreadRight : PageMode::SpreadLeft;
}

bool CMainWindow::LeftIsBack() const {
  const PageMode mode = PageModeNow();
  const ReadingDirection way = DirectionOf(m_book);
  const bool leftOpening = way == ReadingDirection::Unknown ? m_reading.leftOpening : way == ReadingDirection::LeftToRight;
  return mode == PageMode::SpreadLeft || (mode == PageMode::Single && leftOpening);
}

void CMainWindow::SetPageMode(PageMode mode) {
  if (mode != PageMode::Single && m_book.info) m_book.info->direction = ReadingDirection::Unknown;
  // The direction of the spread left or picked is the one single pages keep.
  const PageMode spread = mode != PageMode::Single ? mode : m_profile.settings.pageMode;
  if (spread != PageMode::Single && m_reading.leftOpening != (spread == PageMode::SpreadLeft)) {
    m_reading.leftOpening = spread == PageMode::SpreadLeft;
    SaveReaderSettings(m_reading);
  }
  // The mode of books without their own stays the last one picked; the
  // books read before keep the one they were read in.
  if (mode != m_profile.settings.pageMode) {
    std::vector<std::u16string> read;
    for (const HistoryEntry& entry : m_profile.history.Entries())
      if (entry.name != m_book.source) read.push_back(entry.name);
    KeepModeOfBooks(read, m_profile.settings.pageMode);
  }
  m_profile.settings.pageMode = mode;
  SaveProfile();
  if (!m_book.pages.empty()) {
    m_bookChoices.mode = mode;
    if (!m_book.source.empty()) SaveBookChoices(m_book.source, m_viewScale, m_bookChoices);
  }
  Move(0);
  Invalidate();
}

void CMainWindow::ToggleColorizing() {
  int32_t& mono2Color = m_profile.settings.mono2Color;
  mono2Color = mono2Color != 0 ? 0 : 1;
  SaveProfile();
  m_pages.DropPages();
  Move(0);
  Invalidate();
}

void CMainWindow::ToggleSwitch(bool ReaderSettings::*which) {
  m_reading.*which = !(m_reading.*which);
  SaveReaderSettings(m_reading);
  if (which == &ReaderSettings::naturalOrder) {
    ReopenInOrder();
  } else if (which == &ReaderSettings::exifOrientation) {
    // Pages decoded the other way are decoded again.
    m_pages.DropPages();
    if (!m_book.pages.empty() && Move(0) == 0) Invalidate();
  }
}

void CMainWindow::ResetBook() {
  if (m_book.source.empty() || m_book.pages.empty()) return;
  // Read again as a book never read: its description, then the defaults.
  ForgetBook(m_book.source);
  ShowFirstPage(m_book.current, 0);
}

void CMainWindow::ToggleCoverAlone(bool asDefault) {
  const bool alone = !CoverAloneNow();
  if (asDefault) {
    m_reading.coverAlone = alone;
    SaveReaderSettings(m_reading);
  }
  if (m_book.pages.empty()) return;
  m_bookChoices.coverAlone = alone;
  if (!m_book.source.empty()) SaveBookChoices(m_book.source, m_viewScale, m_bookChoices);
  if (asDefault) {
    if (Move(0) == 0) Invalidate();
    return;
  }
  // The pairs shifted around the pair on screen, as they fall when read
  // from the start: with the first page alone, the first page on screen
  // pairs with the one before it; without, the second with the one after.
  const int32_t first = m_book.current, second = m_book.second;
  const int32_t made = second < 0 || first == 0 ? Move(0) : alone ? ShowPage(first, -1) : ShowPage(second, 0);
  if (made == 0) Invalidate();
}

void CMainWindow::OpenHistoryEntry(std::size_t i) {
  const std::vector<HistoryEntry>& books = m_profile.history.Entries();
  if (i >= books.size()) return;
  const HistoryEntry entry = books[i];  // the open changes the list
  // Opened at its first page, then its remembered page is shown.
  const Start first{Start::At::First, {}};
  const int32_t opened = (GetFileAttributesW(entry.name.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                             ? OpenDirectoryAt(entry.name.c_str(), nullptr, nullptr, first)
                             : OpenFileAt(entry.name.c_str(), first);
  // Found by name where the page is known that way; a remembered page
  // outside the book (a book that changed, a profile edited by hand) shows
  // the first page.
  const bool inside = entry.index >= 0 && entry.index < m_book.PageCount();
  if (opened == 0) ShowPage(IndexOfPage(entry.page, inside ? entry.index : 0), 0);
}

void CMainWindow::GoToPage(int32_t number) {
  const int32_t n = m_book.PageCount();
  if (n == 0) return;
  const int32_t index = std::clamp(number, 1, n) - 1;
  // Nothing from there on shows (the last entries are no images): the
  // last page that does.
  DropWaitingTurns();
  ShowPage(index, 0, Otherwise::ShowLastPages);
  Invalidate();
}

void CMainWindow::AskForPage() {
  const int32_t n = m_book.PageCount();
  if (n == 0) return;
  std::u16string label = Text("\u30da\u30fc\u30b8 (1 - %1):");
  label.replace(label.find(u"%1"), 2, Decimal(n));
  int number = 0;
  if (AskForNumber(m_hWnd, Text("\u30da\u30fc\u30b8\u3078\u79fb\u52d5").c_str(), label.c_str(), m_book.current + 1, 1, n,
                   &number))
    GoToPage(number);
}

std::vector<RemotePlace> CMainWindow::RemoteHistory() {
  // The latest first; a streamed book kept without its page count (before
  // it was kept) has a template and no address to open.
  std::vector<RemotePlace> shown;
  const std::vector<RemotePlace>& places = RemotePlaces();
  for (auto place = places.rbegin(); place != places.rend(); ++place)
    if (place->count > 0 || place->url.find(u"{pageNumber}") == std::u16string::npos) shown.push_back(*place);
  return shown;
}

void CMainWindow::OpenRemotePlace(const RemotePlace& place) {
  // An archive is asked again what it is, and opened at its remembered page.
  if (place.count <= 0) return OpenAddress(place.url);
  // A streamed book needs no asking: its pages are fetched by their
  // numbers, as wide as the window is now, and it opens at its place.
  if (!m_remoteFetch) return;
  RemoteBook book;
  book.url = place.url;
  book.title = place.title.empty() ? RemoteBookName(place.url) : place.title;
  book.stream = PseStream{place.url, place.count, std::nullopt, {}};
  book.credentials = CredentialsForAddress(place.url);
  book.fetch = m_remoteFetch;
  OpenRemoteBook(book);
}

void CMainWindow::OnCommand(UINT id) {
  if (id >= IDM_HISTORY_FIRST && id < IDM_HISTORY_FIRST + CHistory::kLength) {
    OpenHistoryEntry(id - IDM_HISTORY_FIRST);
    return;
  }
  if (id >= IDM_REMOTE_HISTORY_FIRST && id < IDM_REMOTE_HISTORY_FIRST + kMaxRemotePlaces) {
    const std::vector<RemotePlace> remote = RemoteHistory();
    if (const std::size_t i = id - IDM_REMOTE_HISTORY_FIRST; i < remote.size()) OpenRemotePlace(remote[i]);
    return;
  }
  Perform(ActionOfCommand(id));  // the manual and anything else: nothing
}

namespace {
// The dialog's path, or empty when it was cancelled or failed. It starts
// in `folder` when one is given.
std::u16string AskForPath(HWND owner, bool folders, const std::u16string& folder) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(&dialog))))
    return {};
  IFileDialogFolder* start = nullptr;
  if (!folder.empty() && SUCCEEDED(dialog->QueryInterface(IFileDialogFolder::iid, reinterpret_cast<void**>(&start)))) {
    start->SetFolder(folder.c_str());
    start->Release();
  }
  if (folders) {
    dialog->SetOptions(FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  } else {
    const COMDLG_FILTERSPEC all{u"All Files (*.*)", u"*.*"};
    dialog->SetFileTypes(1, &all);
    dialog->SetOptions(FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST);
  }
  std::u16string path;
  IShellItem* item = nullptr;
  char16_t* name = nullptr;
  if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item)) &&
      SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
    path = name;
    CoTaskMemFree(name);
  }
  if (item != nullptr) item->Release();
  dialog->Release();
  return path;
}
}  // namespace

namespace {
// The folder that holds the open book (a folder book's parent, an
// archive's folder); empty without a book.
std::u16string FolderAround(const Book& book) {
  if (book.source.empty()) return {};
  std::u16string path = book.source;
  while (path.size() > 1 && path.back() == u'/') path.pop_back();
  const std::size_t slash = path.rfind(u'/');
  if (slash == std::u16string::npos) return {};
  return slash == 0 ? u"/" : path.substr(0, slash);
}
}  // namespace

void CMainWindow::OpenFileDialog() {
  // Among the open book's files: a folder book's own folder, an archive's.
  const std::u16string path =
      AskForPath(m_hWnd, false, m_book.kind == BookKind::Folder ? m_book.source : FolderAround(m_book));
  if (path.empty()) return;
  OutputDebugStringW(path.c_str());
  OutputDebugStringW(u"\n");
  OpenFile(path.c_str());
}

void CMainWindow::OpenFolderDialog() {
  // Beside the open book: the folders of the other volumes.
  const std::u16string path = AskForPath(m_hWnd, true, FolderAround(m_book));
  if (!path.empty()) OpenDirectory(path.c_str(), nullptr);
}
