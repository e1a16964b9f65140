#include "viewer/shell/AboutDialog.h"

#include <algorithm>

#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/ReaderSettings.h"
#include "viewer/shell/Settings.h"

std::u16string AboutPageAddress(const std::u16string& site) {
  if (site.empty()) return {};
  std::u16string base = site;
  while (!base.empty() && base.back() == u'/') base.pop_back();
  return base + kAboutPagePath;
}

CAboutDialog::~CAboutDialog() {
  if (m_hWnd != nullptr) DestroyDialogWindow(m_hWnd);
  m_hWnd = nullptr;
}

void CAboutDialog::Show(HWND owner) {
  m_owner = owner;
  if (m_hWnd != nullptr) {
    ShowWindow(m_hWnd, SW_SHOW);
    CenterWindowOver(m_hWnd, owner);
    return;
  }
  // The dialog template: 309 x 311 dialog units, caption "About".
  if (CreateDialogWindow(this, owner, Text("About").c_str(), DialogUnitsToPixelsX(309), DialogUnitsToPixelsY(311)) !=
      nullptr)
    ShowWindow(m_hWnd, SW_SHOW);
}

bool CAboutDialog::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM, LRESULT& result, DWORD) {
  result = 0;
  switch (message) {
    case WM_INITDIALOG: {
      RECT client{};
      GetClientRect(hwnd, &client);
      const int width = ScreenDpiX * 800 / 96;
      MoveWindow(hwnd, 0, 0, width, client.bottom, TRUE);
      CenterWindowOver(hwnd, m_owner);
      // The placeholder of the template only gives the browser its height.
      const int browserHeight = DialogUnitsToPixelsY(288);
      m_browser = CreateBrowser(hwnd, IDC_BROWSER);
      HWND ok = CreatePushButton(hwnd, IDOK, u"OK");
      MoveWindow(m_browser, 0, 0, width, browserHeight, TRUE);
      MoveWindow(ok, 0, browserHeight, width, client.bottom - browserHeight, TRUE);
      BrowserNavigate(m_browser, AboutPageAddress(AboutSite()).c_str(), kAboutCopy);
      SetTimer(hwnd, AboutTimerId, 1000, nullptr);
      EnableWindow(ok, FALSE);
      return true;
    }
    case WM_TIMER:
      EnableWindow(GetDlgItem(hwnd, IDOK), TRUE);
      KillTimer(hwnd, AboutTimerId);
      return true;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ShowWindow(hwnd, SW_HIDE);
        return true;
      }
      return false;
    case WM_BROWSER_DOCUMENT_COMPLETE:
      BrowserSetZoom(m_browser, std::clamp(ScreenDpiX * ScreenDpiX * 100 / 9216, 50, 500));
      return true;
    default:
      return false;
  }
}
