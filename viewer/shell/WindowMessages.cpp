// The main window's messages.
#include "platform/debug.h"
#include "platform/system.h"
#include "viewer/shell/MainWindow.h"

namespace {
int16_t LowSigned(LPARAM l) { return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))); }
int16_t HighSigned(LPARAM l) { return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))); }
}  // namespace

void CMainWindow::Step(int32_t step) {
  if (m_book.pages.empty()) return;
  ShowPage(m_book.current, step);
  Invalidate();
}

void CMainWindow::KeyStep(int32_t step, LPARAM keyData) {
  const bool repeat = (static_cast<uintptr_t>(keyData) & 0x40000000u) != 0;  // the key was down already
  if (repeat) {
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

void CMainWindow::OnDropFiles(HDROP drop) {
  // The whole path, however long: Linux paths have no 260-unit limit.
  std::u16string path(DragQueryFileW(drop, 0, nullptr, 0), u'\0');
  if (!path.empty()) DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
  DragFinish(drop);
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
      if (error == 1) MessageBoxW(hwnd, u"\u521d\u671f\u5316\u306b\u5931\u6557\uff01", nullptr, MB_OK);
      if (error != 0) PostMessageW(hwnd, WM_CLOSE, 0, 0);
      return false;  // default processing goes on
    }
    case WM_CREATE:
      m_cursorTicks = 10;
      m_mouseIdle = 1;
      m_profile.Load();
      DragAcceptFiles(hwnd, TRUE);
      SetTimer(hwnd, IdleTimerId, 200, nullptr);
      return true;
    case WM_DESTROY:
      KillTimer(hwnd, IdleTimerId);
      m_profile.Save();
      PostQuitMessage(0);
      return true;
    case WM_SIZE:
      m_renderer.ResizeTarget();
      ScaleShownPages();
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
    case WM_KEYDOWN: {
      const bool leftIsBack = m_profile.settings.pageMode == PageMode::SpreadLeft;
      switch (LOWORD(wParam)) {
        case VK_RETURN:
          ToggleFullScreen();
          break;
        case VK_LEFT:
          KeyStep(leftIsBack ? -1 : 1, lParam);
          break;
        case VK_RIGHT:
          KeyStep(leftIsBack ? 1 : -1, lParam);
          break;
        case VK_UP:
          KeyStep(-2, lParam);
          break;
        case VK_DOWN:
          KeyStep(2, lParam);
          break;
        case 'L':
          m_loupe.on = !m_loupe.on;
          ScaleShownPages();
          Invalidate();
          break;
        default:
          break;
      }
      return true;
    }
    case WM_APP_HELD_TURN: {
      const int32_t step = m_heldStep;
      m_heldStep = 0;
      if (step != 0) Step(step);
      return true;
    }
    case WM_TIMER:
      if (wParam == IdleTimerId) OnIdleTick();
      if (wParam == LoaderTimerId) CollectLoads();
      return true;
    case WM_MOUSEMOVE:
      m_loupe.x = LowSigned(lParam);
      m_loupe.y = HighSigned(lParam);
      if (m_loupe.on) Invalidate();
      return true;
    case WM_MBUTTONDOWN:
      if (!m_loupe.on) {
        m_loupe.x = LowSigned(lParam);
        m_loupe.y = HighSigned(lParam);
        m_loupe.on = true;
        SetCursor(nullptr);
      } else {
        m_loupe.on = false;
      }
      ScaleShownPages();
      Invalidate();
      return true;
    case WM_MOUSEWHEEL: {
      const int16_t delta = GET_WHEEL_DELTA_WPARAM(wParam);
      if (delta > 0) Step(-2);
      if (delta < 0) Step(2);
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
