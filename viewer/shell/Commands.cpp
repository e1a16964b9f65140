// The context menu, its commands, and the open dialogs.
#include <algorithm>

#include "platform/debug.h"
#include "platform/menu.h"
#include "platform/shobjidl.h"
#include "platform/system.h"
#include "platform/wincodec.h"
#include "viewer/shell/MainWindow.h"

HMENU LoadContextMenu() {
  HMENU history = CreatePopupMenu();
  AppendMenuW(history, MF_STRING | MF_GRAYED, IDM_EMPTY, u"Empty");
  HMENU show = CreatePopupMenu();
  AppendMenuW(show, MF_STRING, IDM_SINGLE, u"1\u679a");
  AppendMenuW(show, MF_STRING, IDM_SPREAD_RIGHT, u"\u898b\u958b\u304d \u53f3\u958b\u304d");
  AppendMenuW(show, MF_STRING, IDM_SPREAD_LEFT, u"\u898b\u958b\u304d \u5de6\u958b\u304d");
  AppendMenuW(show, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(show, MF_STRING, IDM_MONO2COLOR, u"\u30e2\u30ce\u30af\u30ed\u753b\u50cf\u306e\u30ab\u30e9\u30fc\u5316");
  HMENU help = CreatePopupMenu();
  AppendMenuW(help, MF_STRING | MF_GRAYED, IDM_MANUAL, u"Manual");
  AppendMenuW(help, MF_STRING, IDM_ABOUT, u"About");

  HMENU popup = CreatePopupMenu();
  AppendMenuW(popup, MF_STRING, IDM_OPEN_FILE, u"Open File...");
  AppendMenuW(popup, MF_STRING, IDM_OPEN_DIRECTORY, u"Open Directory...");
  AppendMenuW(popup, MF_STRING, IDM_OPEN_NEXT_ARCHIVE, u"Open Next Archive File");
  AppendMenuW(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(history), u"History");
  AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(show), u"Show");
  AppendMenuW(popup, MF_STRING, IDM_FULL_SCREEN, u"Window/Full Screen");
  AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(help), u"Help");
  AppendMenuW(popup, MF_STRING, IDM_EXIT, u"Exit");

  HMENU menu = CreatePopupMenu();  // the resource: its first popup is the menu
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), u"Menu");
  return menu;
}

void CMainWindow::ShowContextMenu() {
  POINT at{};
  GetCursorPos(&at);
  HMENU menu = LoadContextMenu();
  HMENU popup = GetSubMenu(menu, 0);
  const ViewSettings& settings = m_profile.settings;
  // A stored mode outside the three checks the left-opening spread.
  CheckMenuItem(menu, settings.pageMode == PageMode::Single        ? IDM_SINGLE
                      : settings.pageMode == PageMode::SpreadRight ? IDM_SPREAD_RIGHT
                                                                   : IDM_SPREAD_LEFT,
                MF_CHECKED);
  if (settings.mono2Color != 0) CheckMenuItem(menu, IDM_MONO2COLOR, MF_CHECKED);
  if (!m_book.CanStepToNextArchive()) EnableMenuItem(popup, IDM_OPEN_NEXT_ARCHIVE, MF_GRAYED);
  const std::vector<HistoryEntry>& books = m_profile.history.Entries();
  if (!books.empty()) {
    HMENU history = GetSubMenu(popup, 3);
    DeleteMenu(history, 0, MF_BYPOSITION);
    for (std::size_t i = 0; i < books.size(); ++i) {
      std::u16string name = books[i].name;
      MENUITEMINFOW item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_ID | MIIM_STRING;
      item.wID = IDM_HISTORY_FIRST + static_cast<UINT>(i);
      item.dwTypeData = name.data();
      InsertMenuItemW(history, static_cast<UINT>(i), TRUE, &item);
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

void CMainWindow::SetPageMode(PageMode mode) {
  m_profile.settings.pageMode = mode;
  m_profile.Save();
  ShowPage(m_book.current, 0);
  Invalidate();
}

void CMainWindow::ToggleColorizing() {
  int32_t& mono2Color = m_profile.settings.mono2Color;
  mono2Color = mono2Color != 0 ? 0 : 1;
  m_profile.Save();
  DropLoads();
  m_pageCache.Reset();
  ShowPage(m_book.current, 0);
  Invalidate();
}

void CMainWindow::OpenHistoryEntry(std::size_t i) {
  const std::vector<HistoryEntry>& books = m_profile.history.Entries();
  if (i >= books.size()) return;
  const HistoryEntry entry = books[i];  // the open changes the list
  const int32_t opened = (GetFileAttributesW(entry.name.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
                             ? OpenDirectory(entry.name.c_str(), nullptr)
                             : OpenFile(entry.name.c_str());
  // A remembered page outside the book (a book that changed, a profile
  // edited by hand) shows the first page.
  const bool inside = entry.index >= 0 && entry.index < m_book.PageCount();
  if (opened == 0) ShowPage(inside ? entry.index : 0, 0);
}

void CMainWindow::OnCommand(UINT id) {
  switch (id) {
    case IDM_OPEN_FILE:
      OpenFileDialog();
      break;
    case IDM_OPEN_DIRECTORY:
      OpenFolderDialog();
      break;
    case IDM_OPEN_NEXT_ARCHIVE:
      OpenNextArchive();
      break;
    case IDM_SINGLE:
      SetPageMode(PageMode::Single);
      break;
    case IDM_SPREAD_RIGHT:
      SetPageMode(PageMode::SpreadRight);
      break;
    case IDM_SPREAD_LEFT:
      SetPageMode(PageMode::SpreadLeft);
      break;
    case IDM_MONO2COLOR:
      ToggleColorizing();
      break;
    case IDM_FULL_SCREEN:
      ToggleFullScreen();
      break;
    case IDM_ABOUT:
      ShowAbout();
      break;
    case IDM_EXIT:
      SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
      break;
    default:
      if (id >= IDM_HISTORY_FIRST && id < IDM_HISTORY_FIRST + CHistory::kLength) OpenHistoryEntry(id - IDM_HISTORY_FIRST);
      break;  // the manual and anything else: nothing
  }
}

namespace {
// The dialog's path, or empty when it was cancelled or failed.
std::u16string AskForPath(HWND owner, bool folders) {
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(&dialog))))
    return {};
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

void CMainWindow::OpenFileDialog() {
  const std::u16string path = AskForPath(m_hWnd, false);
  if (path.empty()) return;
  OutputDebugStringW(path.c_str());
  OutputDebugStringW(u"\n");
  OpenFile(path.c_str());
}

void CMainWindow::OpenFolderDialog() {
  const std::u16string path = AskForPath(m_hWnd, true);
  if (!path.empty()) OpenDirectory(path.c_str(), nullptr);
}
