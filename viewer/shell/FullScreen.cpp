// Switching between the framed window and a frameless one over its monitor.
#include "viewer/shell/MainWindow.h"

void CMainWindow::ToggleFullScreen() {
  if (m_fullScreen == 0) {
    m_fullScreen = 1;
    const LONG_PTR style = GetWindowLongPtrW(m_hwnd, GWL_STYLE);
    m_savedPlacement.length = sizeof m_savedPlacement;
    GetWindowPlacement(m_hwnd, &m_savedPlacement);
    SetWindowLongPtrW(m_hwnd, GWL_STYLE, WS_POPUP);
    m_wasMaximized = (style & WS_MAXIMIZE) != 0 ? 1 : 0;
    ShowWindow(m_hwnd, SW_SHOWMAXIMIZED);
  } else {
    m_fullScreen = 0;
    SetWindowLongPtrW(m_hwnd, GWL_STYLE, WS_OVERLAPPEDWINDOW);
    SetWindowPlacement(m_hwnd, &m_savedPlacement);
    ShowWindow(m_hwnd, m_wasMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
  }
}
