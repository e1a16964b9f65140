// The viewer's main window: turns messages into page moves, opens books,
// and puts pages on screen through the renderer it owns. Everything here
// runs without a display when given an offscreen window.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/winuser.h"
#include "viewer/book/Book.h"
#include "viewer/book/Spread.h"
#include "viewer/imaging/D2D.h"
#include "viewer/imaging/Resources.h"
#include "viewer/book/BookOpener.h"
#include "viewer/catalogue/RemoteBook.h"
#include "viewer/reading/ReadingUnit.h"
#include "viewer/shell/AboutDialog.h"
#include "viewer/shell/Actions.h"
#include "viewer/shell/Catalogues.h"
#include "viewer/shell/Profile.h"
#include "viewer/shell/ReaderSettings.h"
#include "viewer/shell/RemoteOpenings.h"

// The product name, ending every window title.
inline constexpr char16_t kProductTitle[] = u"Velmora -Image Viewer- \u6c38\u9060\u306eBeta";

constexpr UINT_PTR IdleTimerId = 30000;
// The page number over the pages: how long it stays after a turn.
constexpr UINT_PTR PageNumberTimerId = 30002;
constexpr UINT kPageNumberMilliseconds = 1500;
// The column gliding after a wheel's notch: a step every frame.
constexpr UINT_PTR GlideTimerId = 30003;
constexpr UINT kGlideMilliseconds = 15;
// Reading on past an end with no volume there: a line says so, this long.
constexpr UINT_PTR NoVolumeTimerId = 30004;
constexpr UINT kNoVolumeMilliseconds = 2000;
// A catalogue picked with nowhere to browse it: a line says so, this long.
constexpr UINT_PTR CatalogueNoticeTimerId = 30005;
constexpr UINT kCatalogueNoticeMilliseconds = 3000;
// A turn asked for by a held key, done once the keys queued before it are in.
constexpr UINT WM_APP_HELD_TURN = WM_APP + 1;
// Posted by the workers when pages they made wait to be taken in.
constexpr UINT WM_APP_PAGES_READY = WM_APP + 2;
// Posted after a frame when the history waits to be written.
constexpr UINT WM_APP_SAVE_HISTORY = WM_APP + 3;
// Posted from an opening's thread when what it found waits to be taken in.
constexpr UINT WM_APP_OPENED = WM_APP + 4;

// The "History" submenu's position in the menu.
constexpr int kHistoryPosition = 5;

struct CMenu;
// The menu resource: a menu whose first popup is the context menu.
CMenu* LoadContextMenu();

class CMainWindow : public CWindowImpl {
 public:
  // A window made later with CWindowImpl::Create (the program's way).
  CMainWindow() = default;
  // Over an existing window (one without a display, in tests): the set-up
  // of WM_NCCREATE then runs through SetUp().
  explicit CMainWindow(HWND window) { m_hWnd = window; }
  ~CMainWindow() override;
  CMainWindow(const CMainWindow&) = delete;
  CMainWindow& operator=(const CMainWindow&) = delete;

  bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId) override;

  // The drawing half of window creation: factory, target, file system,
  // resources, then the title picture on screen. 0, or 1 when the factory
  // cannot be made, 2 when the resources cannot be loaded.
  int32_t SetUp();
  void OnPaint();
  void ToggleFullScreen();
  void OnCommand(UINT id);
  // What every key, menu command and help line stands for, done.
  void Perform(Action action, LPARAM keyData = 0);
  void ShowAbout();
  // The "Catalogues" dialog; a catalogue picked there goes to the opener.
  void ShowCatalogues();
  // Where a catalogue picked in the dialog goes, with its password; none:
  // a line over the window says that catalogues cannot be browsed yet.
  void SetCatalogueOpener(std::function<void(const OpenedCatalogue&)> opener) {
    m_catalogueOpener = std::move(opener);
  }
  // Where a web address given to the window goes (a catalogue to browse or
  // a book to read, as its server's first answer says), by OpenAddress or
  // dropped on it; without an opener it does nothing.
  void SetAddressOpener(std::function<void(const std::u16string& url)> opener) { m_addressOpener = std::move(opener); }
  void OpenAddress(const std::u16string& url) {
    if (m_addressOpener) m_addressOpener(url);
  }
  // The credentials for requests to `url`: the user name of the catalogue
  // kept for its origin (CatalogueOfAddress) and its password, read from
  // the secret store now; none when no catalogue with a user name is there.
  std::optional<HttpCredentials> CredentialsForAddress(const std::u16string& url);
  // What reads a streamed book picked from the history (none: such an entry
  // does nothing).
  void SetRemoteFetch(BlockingFetch fetch) { m_remoteFetch = std::move(fetch); }
  // Work that waits on a server: `job` runs on a thread of its own, what it
  // returns on the window's thread, unless another book or address was
  // opened meanwhile or the window closed: then it is dropped.
  void OpenLater(std::function<std::function<void()>()> job) {
    m_openings.Start([job = std::move(job)](const CRemoteOpenings::Ticket&) { return job(); });
  }
  // Whether no opening waits on a server any more, within `within`.
  bool OpeningsDone(std::chrono::milliseconds within) { return m_openings.Done(within); }

  // Opening books; each puts the first page, or a picture saying why not,
  // on screen. 0, or 1 when nothing was opened.
  // A book whose path is in the history opens at its remembered page while
  // that switch is on; an image opened by name opens at that image.
  int32_t OpenDirectory(const char16_t* path, const char16_t* selectName);
  int32_t OpenFile(const char16_t* path);
  // An archive opened already (OpenArchiveAhead): the next OpenFile of its
  // path takes it, once.
  void UseOpenedArchive(OpenedArchive opened) { m_ahead = std::move(opened); }
  // A book read from a web server: titled by its name, at the place left
  // in it before (kept by URL in the settings, never in the profile). Its
  // archive's directory is read off the window's thread: the book shows
  // later, when WM_APP_OPENED comes, the one on screen staying till then.
  void OpenRemoteBook(const RemoteBook& remote);
  // When no archive opens, the book on screen stays as it is.
  int32_t OpenNextArchive();
  int32_t OpenPreviousArchive();
  // What a turn that finds nothing to show does after its beep.
  enum class Otherwise { Beep, ShowNoPage, ShowLastPages };
  // The page at `index` (step 0) or a page or spread away from it (steps
  // -2, -1, +1, +2), after the turns still waiting: 0 when shown, 1 after
  // a beep when there is nothing to show that way, 2 when it waits for the
  // workers (it is made when they bring its pages). The caller repaints.
  int32_t ShowPage(int32_t index, int32_t step, Otherwise otherwise = Otherwise::Beep);
  // A move from the page on screen when the turn comes to be made, after
  // the turns still waiting.
  int32_t Move(int32_t step, Otherwise otherwise = Otherwise::Beep);
  // How long a turn keeps the window waiting for pages the workers are
  // making before it answers later: briefly in the program, so that keys,
  // the close box and signals are served; without limit until set.
  void WaitForPagesAtMost(std::chrono::milliseconds patience) { m_pages.WaitForPagesAtMost(patience); }
  // Whether a turn's loads ahead wait until its frame is drawn; at once
  // until set.
  void LoadAheadAfterFrames(bool after) { m_pages.LoadAheadAfterFrames(after); }
  // Whether the window made next shows the title until a book opens; it
  // does until set. One that opens a book at once has no use for it, and
  // its decode would stand before the book's first page.
  void ShowTitleAtStart(bool shown) { m_titleAtStart = shown; }
  // `settled` is called once no turn waits (at once when none does).
  void WhenSettled(std::function<void()> settled);
  bool turnsWaiting() const { return !m_turns.empty(); }
  // Whether the workers ended what they were doing within `within`.
  bool WorkersDone(std::chrono::milliseconds within) { return m_pages.WaitForWorkers(within); }
  // Page `number` (from 1; numbers past either end mean that end), in the
  // spread modes with its partner; the last page that shows when nothing
  // from there on does.
  void GoToPage(int32_t number);
  // The help listing every key and mouse action, over the pages.
  void ToggleHelp();
  // The open book's own description over the pages, in place of the help;
  // a beep for a book that has none.
  void ToggleInfo();
  // The page number and count, briefly, in a corner over the pages.
  void ShowPageNumber();

  // What tests and benchmarks look at.
  const Book& book() const { return m_book; }
  // The bitmaps on screen: a page's full pixels (or its scaled copy), or a
  // built-in picture.
  ID2D1Bitmap* firstPage() const { return Shown(m_pages.first()); }
  ID2D1Bitmap* secondPage() const { return Shown(m_pages.second()); }
  const PageImage& firstImage() const { return m_pages.first(); }
  const BuiltInPictures& pictures() const { return m_pictures; }
  const Loupe& loupe() const { return m_loupe; }
  const ViewScale& viewScale() const { return m_viewScale; }
  // Whether the pages are on screen in one column, scrolled, and that
  // column (continuous scroll).
  bool inColumn() const { return m_inColumn; }
  const ContinuousLayout& column() const { return m_column; }
  // Whether the page grid is over the window, and the grid.
  bool gridShown() const { return m_gridShown; }
  const PageGrid& grid() const { return m_grid; }
  const CReadingUnit& pages() const { return m_pages; }
  CProfile& profile() { return m_profile; }
  ReaderSettings& reading() { return m_reading; }
  // Why the picture on screen stands where a page should (None: it does not).
  OpenFailure failure() const { return m_failure; }
  // The words over the pages: the failure's line, the help.
  Overlay overlay() const;
  bool helpShown() const { return m_help; }
  bool infoShown() const { return m_info; }
  bool pageNumberShown() const { return m_pageNumber; }
  bool fullScreen() const { return m_fullScreen != 0; }
  CAboutDialog& aboutDialog() { return m_aboutDialog; }
  int32_t cursorTicks() const { return m_cursorTicks; }
  int32_t touchGesture() const { return m_touchGesture; }
  bool wasMaximized() const { return m_wasMaximized != 0; }
  // Empties the page cache and forgets which entries decoded (benchmarks).
  void ForgetDecodedPages();
  // Waits for the workers and takes in what they made (tests, benchmarks).
  void FinishLoads();

 private:
  static ID2D1Bitmap* Shown(const PageImage& image) { return image.full ? image.full.get() : image.scaled.get(); }
  // What the reading unit reads pages with now.
  ReadingSettings Reading() const;
  // A turn asked for and not made yet; no index: from the page on screen.
  struct PendingTurn {
    std::optional<int32_t> index;
    int32_t step = 0;
    Otherwise otherwise = Otherwise::Beep;
  };
  // Makes the turn after those still waiting (at once when none is).
  int32_t Queue(const PendingTurn& turn);
  // Makes the turns asked for, in order, until one waits for the workers;
  // what the last one made came to (as ShowPage says).
  int32_t MakeTurns();
  // The turns still to make are moot: another book is on screen.
  void ForgetTurns();
  // The same when the reader asks for a page by its place (End, then Home
  // while the last page is read, is Home at once); what the first page of
  // a book opening does when nothing shows, if one was among them.
  Otherwise DropWaitingTurns();
  // A turn waited for a while: tried again, and its place said on screen.
  void OnTurnsWaiting();
  // The trace, the title and the history of a spread just put on screen.
  void Shown(const Spread& spread);
  void ReleaseDevice();
  int32_t RebuildDevice();
  int32_t LoadResources();
  ID2D1Bitmap* Title() {
    MakeTitle(m_renderer, m_pictures);
    return m_pictures.title.get();
  }

  // A mode picked by the reader, kept for the open book and as the mode of
  // books with none of their own; a spread picked overrides the way the
  // open book says it reads.
  void SetPageMode(PageMode mode);
  // The mode the open book is read in: the one picked for it, else the
  // reader's, a spread turned the way the book says it reads when it says
  // so (the reader's mode kept as it is).
  PageMode PageModeNow() const;
  // Whether the open book's first page stands alone in spreads: as picked
  // for it, else as the reader's switch says.
  // A front cover the book names stands alone unless the reader said
  // otherwise for this book.
  bool CoverAloneNow() const {
    return m_bookChoices.coverAlone.value_or(m_book.statedCover >= 0 || m_reading.coverAlone);
  }
  // The cover alone or not for the open book, and the reader's switch too
  // when `asDefault` (the menu's switch); the spread from the page on
  // screen shown again, or for S (not `asDefault`) the pair on screen
  // shifted by a page.
  void ToggleCoverAlone(bool asDefault);
  // Forgets what the reader picked for the open book (mode, cover, view).
  void ResetBook();
  // Says for a while that reading on found no volume that way.
  void NoteNoVolume(int way);
  // A turn past the end (+1) or before the start (-1) of the open book:
  // whether it goes on into the volume beside it.
  bool ReadsOn(int32_t way) const;
  // Whether the left arrow, a click on the left and a tap there go back:
  // in a spread opening to the left, and on single pages once that way of
  // reading was picked or the book says it reads so.
  bool LeftIsBack() const;
  void ToggleColorizing();
  // A reading switch flipped, saved, and put to work on the book open.
  void ToggleSwitch(bool ReaderSettings::*which);
  // The open book listed again in the order now chosen, at the page shown.
  void ReopenInOrder();
  // The profile, and the pages of its history kept beside it.
  void SaveProfile();
  // Writes the history when a new book waits to be in it on disk.
  void SaveHistoryIfDue();
  // The page a book opens at: its remembered one when the history knows it
  // (by name, else by index), else 0.
  int32_t RememberedPage(const Book& book) const;
  // The index of the page at `path` in the open book, or `fallback`.
  // The open book let go before another takes its place: its grid, pages,
  // turns and choices.
  void LetBookGo();
  int32_t IndexOfPage(const std::u16string& path, int32_t fallback) const;
  void OnKey(WPARAM key, LPARAM keyData);
  void OnLeftButton(bool down, LPARAM position);
  // How large the pages are drawn: a fit, kept from page to page.
  void SetFit(Fit fit);
  // The fit and zoom kept for the open book, and for books never seen.
  void KeepView();
  // One zoom step in (+1) or out (-1), the point (x, y) of the window
  // staying over the same point of the pages.
  void Zoom(int direction, float x, float y);
  // The pages as the view lays them out now.
  ScaledLayout Layout() const;
  // Moves the window over pages larger than it by (dx, dy) drawing units;
  // whether it moved.
  bool Pan(float dx, float dy);
  // Where a page just turned to is read from: its top, on the side the
  // book opens from.
  void PanToStart();
  // A scroll by `share` of the window (most of it for the page keys, a
  // little for a wheel's notch) in reading order (+1 on, -1 back) over
  // pages larger than the window; false at their end: the page turns.
  bool ScrollInReadingOrder(int direction, float share = 0.9f);
  // The same sideways, for the arrows: false at the edge.
  bool ScrollSideways(int direction);
  // A drag with the left button: where it went down and whether it moved.
  void OnDrag(int32_t x, int32_t y);
  // Continuous scroll on or off, kept for the book.
  void ToggleContinuous();
  // The open book's pages in a column, the window at `page`'s top.
  void EnterColumn(int32_t page);
  // Back to pages and spreads (the caller turns to the page to show).
  void LeaveColumn();
  // A turn in the column: to a page's top (the page before or after the
  // current one for a step); 0, or 1 after a beep at either end.
  int32_t ColumnTurn(const PendingTurn& turn);
  // Scrolls the column by `units` drawing units (down when positive);
  // whether it moved.
  bool ScrollColumn(double units);
  // The same over the next frames, quickly and then slowly, as a wheel's
  // notch should (a jump of a fifth of the window reads as a jerk).
  void GlideColumn(double units);
  void GlideStep();
  void StopGlide();
  // One zoom step of the column, the point under the middle kept there.
  void ZoomColumn(int direction);
  // After the column moved (+1 down, -1 up): the pages asked for, the page
  // under the middle said in the title and the history, a repaint.
  void ColumnMoved(int direction);
  // The title and the history of the page under the middle, when it is a
  // new one.
  void ShownInColumn();
  // The page grid over the window, at the page on screen, or put away.
  void ToggleGrid();
  void CloseGrid();
  // The page grid's own keys while it is up; whether the key was one.
  bool OnGridKey(WPARAM key, LPARAM keyData);
  // The grid laid out for the window and its header now.
  void LayOutGrid();
  // After the grid moved: its thumbnails asked for, a repaint.
  void GridMoved();
  // The page picked in the grid on screen, the grid put away.
  void OpenFromGrid(int32_t page);
  // What the grid draws now.
  GridFrame GridPicture();
  void AskForPage();
  // A page move by the arrows, wheel and taps: nothing without pages.
  void Step(int32_t step);
  // A page move by a key: repeats of a held key that arrive while a turn
  // is still to come merge into it, so letting go stops the turning.
  void KeyStep(int32_t step, LPARAM keyData);
  void OnIdleTick();
  void OnDropFiles(HDROP drop);
  LRESULT OnTouch(WPARAM wParam, LPARAM lParam);
  // At the mouse, or over the window when asked for from the keyboard.
  void ShowContextMenu(bool fromKeyboard = false);
  void OpenFileDialog();
  void OpenFolderDialog();
  void OpenHistoryEntry(std::size_t i);

  // The page an open shows first: the remembered one (while that switch is
  // on), the first, or the page at a path in the book.
  struct Start {
    enum class At { Remembered, First, Last, Page } at = At::Remembered;
    std::u16string page;
  };
  int32_t StartIndex(const Book& book, const Start& start) const;
  // A folder opened at the page named `selectName`, which `decoded` may
  // already hold, decoded.
  int32_t OpenDirectoryAt(const char16_t* path, const char16_t* selectName, LoadedPage* decoded, const Start& start);
  int32_t OpenFileAt(const char16_t* path, const Start& start);
  int32_t OpenArchiveNear(int direction, const Start& start);
  void OpenRemoteBookAt(const RemoteBook& remote, const Start& start);
  // The rest on the window's thread, with what the opening's thread read and
  // the archive's password it was given or found wrong.
  void FinishRemoteOpening(const RemoteBook& remote, const Start& start, BookOpening opened,
                           const SessionPasswords& passwords);
  // The page on screen noted as the book's place: in the profile's
  // history, or for a remote book among the remote places.
  void NoteShown(int32_t page, const std::u16string& path);
  // The places left in remote books, read from the settings when first asked.
  std::vector<RemotePlace>& RemotePlaces();
  // Written after the frame, as the profile's history is.
  void SaveRemotePlaces();
  // The remote books in the history menu, the latest first: those to ask
  // again what they are by their address, and the streamed ones kept with
  // what opens them again.
  std::vector<RemotePlace> RemoteHistory();
  void OpenRemotePlace(const RemotePlace& place);
  static constexpr char16_t kRemotePlacesKey[] = u"remote/places";
  // The opener, asking for the passwords of locked archives over the window.
  CBookOpener Opener();
  // Shows a built-in picture alone with the plain product title, with the
  // line saying why when it stands for a page.
  void ShowPicture(ID2D1Bitmap* picture, OpenFailure why = OpenFailure::None);
  // After an open: the first page (or a spread `step` from `index`), or
  // the unknown picture when none decodes.
  void ShowFirstPage(int32_t index, int32_t step = 0);
  // The picture of a failed open: the error picture, or the unknown one
  // for a file no route reads.
  void ShowOpenFailure(bool notArchive, OpenFailure why);
  // The unknown picture for a book none of whose pages shows, saying why.
  void ShowNoPage();
  void Invalidate() { InvalidateRect(m_hWnd, nullptr, TRUE); }

  D2D m_renderer;
  ComRef<IFileSystem> m_fileSystem;
  CProfile m_profile;
  SessionPasswords m_passwords;  // of the archives opened in this run; never saved
  OpenedArchive m_ahead;         // opened before the window, for its first OpenFile
  Book m_book;
  RemoteBook m_remote;  // the open book's file when it is a remote one, to list it again
  std::optional<std::vector<RemotePlace>> m_remotePlaces;
  bool m_remotePlacesUnsaved = false;
  BuiltInPictures m_pictures;
  bool m_titleAtStart = true;
  Loupe m_loupe;

  // Full screen: the placement to go back to.
  int32_t m_fullScreen = 0;
  int32_t m_wasMaximized = 0;
  WINDOWPLACEMENT m_savedPlacement{};

  // The idle cursor: hidden after ten quiet ticks over the client area.
  int32_t m_lastMouseX = 0;
  int32_t m_lastMouseY = 0;
  LRESULT m_hitTest = 0;
  int32_t m_cursorTicks = 0;
  int32_t m_mouseIdle = 0;

  int32_t m_touchGesture = 0;  // region of the last touch-down; 0 none
  int32_t m_heldStep = 0;      // the turn a held key asked for; 0 none pending
  // Where the left button went down: a click turns when it comes up in the
  // same third of the window.
  enum class Third { None, Left, Middle, Right };
  Third m_pressed = Third::None;
  bool m_dragging = false;  // the left button is down over pages larger than the window
  bool m_dragged = false;   // and has moved them: no click
  int32_t m_dragX = 0, m_dragY = 0;
  ViewScale m_viewScale;
  // Continuous scroll: the column, whether it is on screen, the page the
  // title says last, the wheel's part of a notch not used yet.
  ContinuousLayout m_column;
  bool m_inColumn = false;
  int32_t m_columnShown = -1;
  int32_t m_wheelRest = 0;
  // What the notches given have still to move the column, and when it last moved.
  struct Glide {
    double left = 0;
    std::chrono::steady_clock::time_point last;
  } m_glide;
  // The page grid: whether it is up, its layout, the thumbnails' folder on
  // disk (made when the grid first opens).
  PageGrid m_grid;
  bool m_gridShown = false;
  std::shared_ptr<CThumbnailStore> m_thumbnailStore;
  ReaderSettings m_reading;
  BookChoices m_bookChoices;  // the open book's own, over m_reading and the profile
  OpenFailure m_failure = OpenFailure::None;
  bool m_help = false;
  bool m_info = false;  // the open book's description over the pages, until put away
  bool m_pageNumber = false;  // in the corner until its timer runs out
  int m_noVolume = 0;  // +1 / -1: no volume after / before the book to read on into, said until its timer runs out
  CAboutDialog m_aboutDialog;
  // The catalogues' passwords: made when the dialog first shows, so that a
  // start asks no keychain anything.
  std::unique_ptr<SecretStore> m_secrets;
  std::function<void(const OpenedCatalogue&)> m_catalogueOpener;
  std::function<void(const std::u16string& url)> m_addressOpener;
  BlockingFetch m_remoteFetch;
  // The latest opening that waits on a server, and those it dropped.
  CRemoteOpenings m_openings{[this] { return PostMessageW(m_hWnd, WM_APP_OPENED, 0, 0) != FALSE; }};
  std::u16string m_catalogueNotice;  // said over the pages until its timer runs out
  std::atomic<bool> m_readyPosted{false};  // a WM_APP_PAGES_READY is on its way
  bool m_historyUnsaved = false;  // a new book in the history, not on disk yet
  std::deque<PendingTurn> m_turns;  // the first waits for the workers
  std::chrono::steady_clock::time_point m_waitingSince;
  bool m_waitingShown = false;  // the place waited for is said in a corner
  std::function<void()> m_settled;
  // The pages of m_book on their way to the screen. Last, so that its
  // workers stop first.
  CFittedView m_view{m_renderer, &m_viewScale};
  CReadingUnit m_pages{m_book, m_renderer, m_view, [this] { return Reading(); }};
};

// A start without a path shows the about window over the main window.
void ShowAboutAtStart(CMainWindow& window);

// Decimal text of a number, for titles and debug lines.
std::u16string Decimal(int64_t value);
