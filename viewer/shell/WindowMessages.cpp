// The main window's messages.
#include "platform/debug.h"
#include "platform/system.h"
#include "viewer/catalogue/Url.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Placement.h"

namespace {
int16_t LowSigned(LPARAM l) { return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))); }
int16_t HighSigned(LPARAM l) { return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))); }
// A wheel's notch moves pages larger than the window by a little of it.
constexpr float kWheelShare = 0.15f;
constexpr int32_t kNotch = 120;
// Continuous scroll: Up and Down move by a little of the window, the page
// keys by most of it.
constexpr double kLineShare = 0.1;
constexpr double kScreenShare = 0.9;
// The page grid: a notch scrolls by half a row of thumbnails.
constexpr float kGridNotch = 140;
}  // namespace

void CMainWindow::Step(int32_t step) {
  if (m_book.pages.empty()) return;
  Move(step);
  Invalidate();
}

void CMainWindow::KeyStep(int32_t step, LPARAM keyData) {
  const bool repeat = (static_cast<uintptr_t>(keyData) & 0x40000000u) != 0;  // the key was down already
  if (repeat) {
    // Held while a turn waits for its pages: the repeats in between go.
    if (!m_turns.empty()) return;
    if (m_heldStep != 0) {
      m_heldStep = step;  // merged into the turn still to come
      return;
    }
    if (PostMessageW(m_hWnd, WM_APP_HELD_TURN, 0, 0)) {
      m_heldStep = step;
      return;
    }
  }
  Step(step);
}

void CMainWindow::OnKey(WPARAM key, LPARAM keyData) {
  if (m_gridShown) {
    const KeyModifiers modifiers = CurrentModifiers();
    if (!modifiers.control && !modifiers.alt && !modifiers.shift && OnGridKey(key, keyData)) return;
  }
  Perform(ActionOfKey(key, CurrentModifiers()), keyData);
}

void CMainWindow::Perform(Action action, LPARAM keyData) {
  // What changes the book or how it shows puts the grid away first; full
  // screen, the menu, the about window and quitting leave it up.
  if (m_gridShown && action != Action::PageGrid && action != Action::ToggleFullScreen && action != Action::Quit &&
      action != Action::ContextMenu && action != Action::About && action != Action::None) {
    CloseGrid();
    Invalidate();
  }
  const bool leftIsBack = LeftIsBack();
  if (m_inColumn) {
    // In the column: Left and Right to the previous and next page's top,
    // Up and Down a small step, the page keys most of a window.
    const double height = m_renderer.CurrentScreen().height;
    switch (action) {
      case Action::PageLeft:
      case Action::PageRight:
        Step(action == Action::PageLeft ? -1 : 1);
        return;
      case Action::LineBack:
      case Action::LineForward:
        ScrollColumn((action == Action::LineBack ? -kLineShare : kLineShare) * height);
        return;
      case Action::SpreadBack:
      case Action::SpreadForward:
        ScrollColumn((action == Action::SpreadBack ? -kScreenShare : kScreenShare) * height);
        return;
      default:
        break;
    }
  }
  switch (action) {
    case Action::ToggleFullScreen:
      ToggleFullScreen();
      break;
    case Action::LeaveFullScreen:
      // The help (or the book's description) first, then full screen; a
      // window stays as it is.
      if (m_help)
        ToggleHelp();
      else if (m_info)
        ToggleInfo();
      else if (m_fullScreen != 0)
        ToggleFullScreen();
      break;
    // Over pages larger than the window, the window moves first and the
    // page turns at their edge.
    case Action::PageLeft:
      if (ScrollSideways(-1))
        Invalidate();
      else
        KeyStep(leftIsBack ? -1 : 1, keyData);
      break;
    case Action::PageRight:
      if (ScrollSideways(+1))
        Invalidate();
      else
        KeyStep(leftIsBack ? 1 : -1, keyData);
      break;
    case Action::SpreadBack:
    case Action::LineBack:
      if (ScrollInReadingOrder(-1))
        Invalidate();
      else
        KeyStep(-2, keyData);
      break;
    case Action::SpreadForward:
    case Action::LineForward:
      if (ScrollInReadingOrder(+1))
        Invalidate();
      else
        KeyStep(2, keyData);
      break;
    case Action::FirstPage:
      if (!m_book.pages.empty()) {
        ShowPage(0, 0, DropWaitingTurns());
        Invalidate();
      }
      break;
    case Action::LastPage:
      // As a spread back from past the end: the last page, with the page
      // before it when both are upright.
      if (!m_book.pages.empty()) {
        ShowPage(m_book.PageCount(), -2, DropWaitingTurns());
        Invalidate();
      }
      break;
    case Action::Loupe:
      m_loupe.on = !m_loupe.on;
      m_pages.Rescale();
      Invalidate();
      break;
    case Action::OpenFile:
      OpenFileDialog();
      break;
    case Action::OpenFolder:
      OpenFolderDialog();
      break;
    case Action::Quit:
      SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
      break;
    case Action::NextArchive:
      OpenNextArchive();
      break;
    case Action::PreviousArchive:
      OpenPreviousArchive();
      break;
    case Action::ContextMenu:
      ShowContextMenu(true);
      break;
    case Action::Help:
      ToggleHelp();
      break;
    case Action::BookInfo:
      ToggleInfo();
      break;
    case Action::GoToPage:
      AskForPage();
      break;
    case Action::PageNumber:
      ShowPageNumber();
      Invalidate();
      break;
    case Action::About:
      ShowAbout();
      break;
    case Action::Catalogues:
      ShowCatalogues();
      break;
    case Action::SingleMode:
      SetPageMode(PageMode::Single);
      break;
    case Action::SpreadRightMode:
      SetPageMode(PageMode::SpreadRight);
      break;
    case Action::SpreadLeftMode:
      SetPageMode(PageMode::SpreadLeft);
      break;
    case Action::Colorize:
      ToggleColorizing();
      break;
    case Action::CoverAlone:
      ToggleCoverAlone(true);
      break;
    case Action::ResetBook:
      ResetBook();
      break;
    case Action::ShiftPairs:
      // Single pages have no pairs to shift.
      if (m_book.pages.empty()) break;
      if (PageModeNow() == PageMode::Single)
        MessageBeep(0);
      else
        ToggleCoverAlone(false);
      break;
    case Action::ReadOn:
      ToggleSwitch(&ReaderSettings::readOn);
      break;
    case Action::ExifOrientation:
      ToggleSwitch(&ReaderSettings::exifOrientation);
      break;
    case Action::NaturalOrder:
      ToggleSwitch(&ReaderSettings::naturalOrder);
      break;
    case Action::Resume:
      ToggleSwitch(&ReaderSettings::resume);
      break;
    case Action::PageNumberSwitch:
      ToggleSwitch(&ReaderSettings::pageNumber);
      break;
    case Action::FitBest:
      SetFit(Fit::Best);
      break;
    case Action::FitWidth:
      SetFit(Fit::Width);
      break;
    case Action::FitHeight:
      SetFit(Fit::Height);
      break;
    case Action::FitOriginal:
      SetFit(Fit::Original);
      break;
    case Action::ZoomIn:
    case Action::ZoomOut: {
      const Screen screen = m_renderer.CurrentScreen();
      Zoom(action == Action::ZoomIn ? +1 : -1, screen.width / 2, screen.height / 2);
      break;
    }
    case Action::Continuous:
      ToggleContinuous();
      break;
    case Action::PageGrid:
      // A held T does not open and close the grid over and over.
      if ((static_cast<uintptr_t>(keyData) & 0x40000000u) == 0) ToggleGrid();
      break;
    case Action::None:
      break;
  }
}

void CMainWindow::OnLeftButton(bool down, LPARAM position) {
  if (m_gridShown) {
    // A click on a cell opens its page; nothing under the grid is dragged.
    m_pressed = Third::None;
    m_dragging = false;
    if (down) return;
    const float x = static_cast<float>(LowSigned(position)), y = static_cast<float>(HighSigned(position));
    if (const int32_t page = m_grid.PageAt(x, y); page >= 0) OpenFromGrid(page);
    return;
  }
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const int32_t x = LowSigned(position), w = client.right;
  const Third third = x < 0 || x >= w ? Third::None : x < w / 3 ? Third::Left : x < 2 * w / 3 ? Third::Middle : Third::Right;
  if (down) {
    m_pressed = third;
    const ScaledLayout layout = Layout();
    m_dragging = m_inColumn || (!m_viewScale.Fitted() && (layout.overflowX || layout.overflowY));
    m_dragged = false;
    m_dragX = x;
    m_dragY = HighSigned(position);
    return;
  }
  const Third pressed = m_pressed;
  m_pressed = Third::None;
  m_dragging = false;
  if (m_dragged) {  // the pages were moved, not clicked
    m_dragged = false;
    return;
  }
  // A click while the help or the book's description is up puts it away.
  if (m_help || m_info) {
    m_help ? ToggleHelp() : ToggleInfo();
    return;
  }
  // Down and up in the same side third: a turn, as a tap at that edge.
  if (third != pressed || (third != Third::Left && third != Third::Right)) return;
  const bool leftIsBack = LeftIsBack();
  if (third == Third::Left)
    Step(leftIsBack ? -1 : 1);
  else
    Step(leftIsBack ? 1 : -1);
}

void CMainWindow::OnDropFiles(HDROP drop) {
  // The whole path, however long: Linux paths have no 260-unit limit.
  std::u16string path(DragQueryFileW(drop, 0, nullptr, 0), u'\0');
  if (!path.empty()) DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
  DragFinish(drop);
  // An address (a link dragged from a browser) names no file here: the
  // book on screen stays, whatever the address opens.
  if (IsWebUrl(path)) {
    if (m_addressOpener) m_addressOpener(path);
    return;
  }
  CloseGrid();
  // Attributes that cannot be read mean nothing is there: the file open
  // reports it, rather than a folder open of something that is no folder.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    OpenDirectory(path.c_str(), nullptr);
  else
    OpenFile(path.c_str());
}

void CMainWindow::OnIdleTick() {
  if (m_loupe.x == m_lastMouseX && m_loupe.y == m_lastMouseY) {
    m_mouseIdle = 1;
  } else {
    m_cursorTicks = 10;
    m_mouseIdle = 0;
  }
  m_lastMouseX = m_loupe.x;
  m_lastMouseY = m_loupe.y;
  if (m_mouseIdle && m_cursorTicks != 0 && m_hitTest == HTCLIENT) {
    if (--m_cursorTicks == 0) SetCursor(nullptr);
  }
}

bool CMainWindow::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                       DWORD) {
  result = 0;
  switch (message) {
    case WM_NCCREATE: {
      m_hWnd = hwnd;
      const int32_t error = SetUp();
      if (error == 1) MessageBoxW(hwnd, Text("\u521d\u671f\u5316\u306b\u5931\u6557\uff01").c_str(), nullptr, MB_OK);
      if (error != 0) PostMessageW(hwnd, WM_CLOSE, 0, 0);
      return false;  // default processing goes on
    }
    case WM_CREATE:
      m_cursorTicks = 10;
      m_mouseIdle = 1;
      m_profile.Load();
      m_reading = LoadReaderSettings();
      LoadHistoryPages(m_profile.history);
      DragAcceptFiles(hwnd, TRUE);
      SetTimer(hwnd, IdleTimerId, 200, nullptr);
      return true;
    case WM_DESTROY: {
      KillTimer(hwnd, IdleTimerId);
      // A book still on its way from a server is not shown any more.
      m_openings.Drop();
      ForgetTurns();
      m_pages.DropPages();
      SaveProfile();
      // Where the window was, as a window: full screen is never restored.
      WINDOWPLACEMENT placement{};
      placement.length = sizeof placement;
      if (m_fullScreen != 0)
        RememberWindowPlace(m_savedPlacement, m_wasMaximized != 0);
      else if (GetWindowPlacement(hwnd, &placement))
        RememberWindowPlace(placement, placement.showCmd == SW_SHOWMAXIMIZED);
      PostQuitMessage(0);
      return true;
    }
    case WM_SIZE:
      m_renderer.ResizeTarget();
      if (m_gridShown) {
        LayOutGrid();
        GridMoved();
        return true;
      }
      m_pages.Resized();
      return true;
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_ERASEBKGND:
      return true;
    case WM_SETCURSOR:
      m_hitTest = LOWORD(static_cast<uintptr_t>(lParam));
      if ((m_loupe.on || m_cursorTicks == 0) && m_hitTest == HTCLIENT) {
        SetCursor(nullptr);
        result = TRUE;
        return true;
      }
      return false;
    case WM_KEYDOWN:
      OnKey(LOWORD(wParam), lParam);
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      OnLeftButton(message == WM_LBUTTONDOWN, lParam);
      return true;
    case WM_APP_PAGES_READY: {
      m_readyPosted = false;
      // The turns waiting take their pages first, then the pages on
      // screen what was made sharper.
      const bool waited = !m_turns.empty();
      if (waited) MakeTurns();
      if (m_pages.Collect() || waited) Invalidate();
      // Sizes found may bring another page under the middle.
      if (m_inColumn) ShownInColumn();
      return true;
    }
    case WM_APP_SAVE_HISTORY:
      SaveHistoryIfDue();
      return true;
    case WM_APP_OPENED:
      m_openings.Take();
      return true;
    case WM_APP_HELD_TURN: {
      const int32_t step = m_heldStep;
      m_heldStep = 0;
      if (step != 0) Step(step);
      return true;
    }
    case WM_TIMER:
      if (wParam == IdleTimerId) {
        SaveHistoryIfDue();  // a window that does not paint (minimised) too
        OnIdleTick();
        OnTurnsWaiting();
      }
      if (wParam == GlideTimerId) GlideStep();
      if (wParam == NoVolumeTimerId) {
        KillTimer(hwnd, NoVolumeTimerId);
        m_noVolume = 0;
        Invalidate();
      }
      if (wParam == CatalogueNoticeTimerId) {
        KillTimer(hwnd, CatalogueNoticeTimerId);
        m_catalogueNotice.clear();
        Invalidate();
      }
      if (wParam == PageNumberTimerId) {
        KillTimer(hwnd, PageNumberTimerId);
        m_pageNumber = false;
        Invalidate();
      }
      return true;
    case WM_MOUSEMOVE:
      m_loupe.x = LowSigned(lParam);
      m_loupe.y = HighSigned(lParam);
      if (m_loupe.on) Invalidate();
      OnDrag(m_loupe.x, m_loupe.y);
      return true;
    case WM_MBUTTONDOWN:
      if (m_gridShown) return true;  // no loupe over the grid
      if (!m_loupe.on) {
        m_loupe.x = LowSigned(lParam);
        m_loupe.y = HighSigned(lParam);
        m_loupe.on = true;
        SetCursor(nullptr);
      } else {
        m_loupe.on = false;
      }
      m_pages.Rescale();
      Invalidate();
      return true;
    case WM_MOUSEWHEEL: {
      int32_t delta = GET_WHEEL_DELTA_WPARAM(wParam);
      if (delta == 0) return true;
      if (m_gridShown) {
        if (m_grid.ScrollBy(-static_cast<float>(delta) / kNotch * kGridNotch)) GridMoved();
        return true;
      }
      if (m_inColumn && !CurrentModifiers().control) {
        // Smooth: as far as the wheel or the touchpad went; a touchpad's
        // small deltas come often enough to move at once, a wheel's
        // notches glide.
        const double units = -static_cast<double>(delta) / kNotch * kWheelShare * m_renderer.CurrentScreen().height;
        if (delta % kNotch == 0)
          GlideColumn(units);
        else
          ScrollColumn(units);
        return true;
      }
      // A touchpad's parts of a notch add up to one.
      if (delta > -kNotch && delta < kNotch) {
        m_wheelRest += delta;
        if (m_wheelRest > -kNotch && m_wheelRest < kNotch) return true;
        delta = m_wheelRest;
        m_wheelRest -= delta > 0 ? kNotch : -kNotch;
      }
      const int direction = delta > 0 ? -1 : 1;
      if (CurrentModifiers().control) {
        // Zoomed around the pointer.
        Zoom(-direction, static_cast<float>(m_loupe.x), static_cast<float>(m_loupe.y));
        return true;
      }
      if (ScrollInReadingOrder(direction, kWheelShare)) {
        Invalidate();
        return true;
      }
      Step(2 * direction);
      return true;
    }
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return true;
    case WM_RBUTTONUP:
      ShowContextMenu();
      return true;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return true;
    case WM_TOUCH:
      result = OnTouch(wParam, lParam);
      return true;
    default:
      return false;
  }
}
