// The viewer's main window: owns the renderer, the open book, the file
// system and the page bitmaps. Everything here runs without a display when
// given an offscreen window.
#pragma once

#include "platform/winuser.h"
#include "viewer/book/Book.h"
#include "viewer/shell/AboutDialog.h"
#include "viewer/imaging/D2D.h"

// The product name, ending every window title.
inline constexpr char16_t kProductTitle[] = u"Velmora -Image Viewer- \u6c38\u9060\u306eBeta";

struct CachedPage {
  int32_t age = 0;  // 256 when last used, one less at each use of another
  int32_t page = 0;
  int32_t reserved = 0;
  ID2D1Bitmap* bitmap = nullptr;
};
constexpr int kPageCacheSize = 8;

constexpr UINT_PTR IdleTimerId = 30000;

// Command ids of the context menu.
constexpr UINT IDM_OPEN_FILE = 32771;
constexpr UINT IDM_OPEN_DIRECTORY = 32773;
constexpr UINT IDM_FULL_SCREEN = 32780;
constexpr UINT IDM_EXIT = 32783;
constexpr UINT IDM_ABOUT = 32784;
constexpr UINT IDM_EMPTY = 32786;
constexpr UINT IDM_SINGLE = 32787;
constexpr UINT IDM_SPREAD_RIGHT = 32788;
constexpr UINT IDM_SPREAD_LEFT = 32789;
constexpr UINT IDM_MANUAL = 32790;
constexpr UINT IDM_MONO2COLOR = 32791;
constexpr UINT IDM_OPEN_NEXT_ARCHIVE = 32792;
constexpr UINT IDM_HISTORY_FIRST = 10000;

struct CMenu;
// The menu resource: a menu whose first popup is the context menu.
CMenu* LoadContextMenu();

class CMainWindow : public CWindowImpl, public D2D {
 public:
  // A window made later with CWindowImpl::Create (the program's way).
  CMainWindow() = default;
  // Over an existing window (one without a display, in tests): the set-up
  // of WM_NCCREATE then runs through SetUp().
  explicit CMainWindow(HWND window);
  ~CMainWindow() override;
  CMainWindow(const CMainWindow&) = delete;
  CMainWindow& operator=(const CMainWindow&) = delete;

  bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId) override;

  // The drawing half of window creation: factory, target, file system,
  // resources, then the title picture on screen. 0, or 1 when the factory
  // cannot be made, 2 when the resources cannot be loaded.
  int32_t SetUp();
  void OnPaint() { Paint(m_firstPage, m_secondPage); }
  void OnSize() { ResizeTarget(); }
  void ToggleFullScreen();
  LRESULT OnTouch(WPARAM wParam, LPARAM lParam);
  void ShowContextMenu();
  void OnCommand(UINT id);
  void OpenFileDialog();
  void OpenFolderDialog();
  void ShowAbout();

  int32_t OpenDirectory(const char16_t* path, const char16_t* selectName);
  int32_t OpenFile(const char16_t* path);
  int32_t OpenNextArchive();
  int32_t DecodePage(int32_t index, int32_t* slot);
  int32_t ShowPage(int32_t index, int32_t step);
  int32_t LoadResources();
  void ReleaseDevice() override;
  int32_t RebuildDevice() override;
  // Releases every cached bitmap and leaves 8 empty entries.
  void ResetPageCache();

  Book m_book;
  IFileSystem* m_fileSystem = nullptr;
  ID2D1Bitmap* m_firstPage = nullptr;
  ID2D1Bitmap* m_secondPage = nullptr;
  ID2D1Bitmap* m_unknownImage = nullptr;
  ID2D1Bitmap* m_titleImage = nullptr;
  ID2D1Bitmap* m_errorImage = nullptr;
  CachedPage m_pageCache[kPageCacheSize];
  int32_t m_fullScreen = 0;
  int32_t m_wasMaximized = 0;
  WINDOWPLACEMENT m_savedPlacement{};
  int32_t m_lastMouseX = 0;
  int32_t m_lastMouseY = 0;
  LRESULT m_hitTest = 0;
  int32_t m_cursorTicks = 0;
  int32_t m_mouseIdle = 0;
  CAboutDialog m_aboutDialog;

 private:
  void SetPageMode(int32_t mode);
  // A page move by the arrows, wheel and taps: nothing without pages.
  void Step(int32_t step);
  void OnIdleTick();
  // The error picture (code 1) or the unknown one (code 2) after a failed open.
  void ShowOpenFailure(int code);
  // Shows a built-in picture alone with the plain product title.
  void ShowPicture(ID2D1Bitmap* picture);
  // Whether the cached bitmap of a page is upright; false when not cached.
  bool IsUpright(int32_t page) const;
  int32_t SearchForward(int32_t from);
  int32_t SearchBack(int32_t from);
};

// A start without a path shows the about window over the main window.
void ShowAboutAtStart(CMainWindow& window);

// Decimal text of a number, for titles and debug lines.
std::u16string Decimal(int64_t value);
