// The main window's messages.
#include "platform/debug.h"
#include "platform/system.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"

namespace {
int16_t LowSigned(LPARAM l) { return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))); }
int16_t HighSigned(LPARAM l) { return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))); }
}  // namespace

void CMainWindow::Step(int32_t step) {
  if (m_book.pages.empty()) return;
  ShowPage(m_book.current, step);
  InvalidateRect(m_hwnd, nullptr, TRUE);
}

void CMainWindow::OnIdleTick() {
  if (m_mouseX == m_lastMouseX && m_mouseY == m_lastMouseY) {
    m_mouseIdle = 1;
  } else {
    m_cursorTicks = 10;
    m_mouseIdle = 0;
  }
  m_lastMouseX = m_mouseX;
  m_lastMouseY = m_mouseY;
  if (m_mouseIdle && m_cursorTicks != 0 && m_hitTest == HTCLIENT) {
    if (--m_cursorTicks == 0) SetCursor(nullptr);
  }
}

bool CMainWindow::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                       DWORD) {
  result = 0;
  switch (message) {
    case WM_NCCREATE: {
      m_hwnd = hwnd;
      const int32_t error = SetUp();
      if (error == 1) MessageBoxW(hwnd, u"\u521d\u671f\u5316\u306b\u5931\u6557\uff01", nullptr, MB_OK);
      if (error != 0) PostMessageW(hwnd, WM_CLOSE, 0, 0);
      return false;  // default processing goes on
    }
    case WM_CREATE:
      m_cursorTicks = 10;
      m_mouseIdle = 1;
      LoadProfile();
      DragAcceptFiles(hwnd, TRUE);
      SetTimer(hwnd, IdleTimerId, 200, nullptr);
      return true;
    case WM_DESTROY:
      KillTimer(hwnd, IdleTimerId);
      SaveProfile();
      PostQuitMessage(0);
      return true;
    case WM_SIZE:
      OnSize();
      return true;
    case WM_PAINT:
      OnPaint();
      return true;
    case WM_ERASEBKGND:
      return true;
    case WM_SETCURSOR:
      m_hitTest = LOWORD(static_cast<uintptr_t>(lParam));
      if ((m_loupe || m_cursorTicks == 0) && m_hitTest == HTCLIENT) {
        SetCursor(nullptr);
        result = TRUE;
        return true;
      }
      return false;
    case WM_KEYDOWN:
      switch (LOWORD(wParam)) {
        case VK_RETURN:
          ToggleFullScreen();
          break;
        case VK_LEFT:
          Step(g_pageMode == PageModeSpreadLeft ? -1 : 1);
          break;
        case VK_RIGHT:
          Step(g_pageMode == PageModeSpreadLeft ? 1 : -1);
          break;
        case VK_UP:
          Step(-2);
          break;
        case VK_DOWN:
          Step(2);
          break;
        case 'L':
          m_loupe = !m_loupe;
          InvalidateRect(m_hwnd, nullptr, TRUE);
          break;
        default:
          break;
      }
      return true;
    case WM_TIMER:
      if (wParam == IdleTimerId) OnIdleTick();
      return true;
    case WM_MOUSEMOVE:
      m_mouseX = LowSigned(lParam);
      m_mouseY = HighSigned(lParam);
      if (m_loupe) InvalidateRect(m_hwnd, nullptr, TRUE);
      return true;
    case WM_MBUTTONDOWN:
      if (!m_loupe) {
        m_mouseX = LowSigned(lParam);
        m_mouseY = HighSigned(lParam);
        m_loupe = true;
        SetCursor(nullptr);
      } else {
        m_loupe = false;
      }
      InvalidateRect(m_hwnd, nullptr, TRUE);
      return true;
    case WM_MOUSEWHEEL: {
      const int16_t delta = GET_WHEEL_DELTA_WPARAM(wParam);
      if (delta > 0) Step(-2);
      if (delta < 0) Step(2);
      return true;
    }
    case WM_DROPFILES: {
      const auto drop = reinterpret_cast<HDROP>(wParam);
      char16_t path[260] = {};
      DragQueryFileW(drop, 0, path, 260);
      DragFinish(drop);
      if (GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY)
        OpenDirectory(path, nullptr);
      else
        OpenFile(path);
      return true;
    }
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
