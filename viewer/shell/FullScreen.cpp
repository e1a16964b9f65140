// Switching between the framed window and a frameless one over its monitor.
#include "viewer/shell/MainWindow.h"

void CMainWindow::ToggleFullScreen() {
  if (m_fullScreen == 0) {
    m_fullScreen = 1;
    const LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    m_savedPlacement.length = sizeof m_savedPlacement;
    GetWindowPlacement(m_hWnd, &m_savedPlacement);
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, WS_POPUP);
    m_wasMaximized = (style & WS_MAXIMIZE) != 0 ? 1 : 0;
    ShowWindow(m_hWnd, SW_SHOWMAXIMIZED);
  } else {
    m_fullScreen = 0;
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, WS_OVERLAPPEDWINDOW);
    SetWindowPlacement(m_hWnd, &m_savedPlacement);
    ShowWindow(m_hWnd, m_wasMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
  }
}
