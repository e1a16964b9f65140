#include "viewer/shell/MainWindow.h"

#include <string>

#include "ordel/Ordel.h"
#include "platform/text.h"

std::u16string Decimal(int64_t value) { return AsciiToUtf16(std::to_string(value)); }

CMainWindow::CMainWindow(HWND window) { m_hwnd = window; }

void ShowAboutAtStart(CMainWindow& window) { window.ShowAbout(); }

void CMainWindow::ShowAbout() { m_aboutDialog.Show(m_hWnd); }

CMainWindow::~CMainWindow() {
  ResetPageCache();
  SafeRelease(m_firstPage);
  SafeRelease(m_secondPage);
  SafeRelease(m_unknownImage);
  SafeRelease(m_titleImage);
  SafeRelease(m_errorImage);
  m_book.root.Reset();
  m_book.archiveFolder.root.Reset();
  SafeRelease(m_fileSystem);
}

int32_t CMainWindow::SetUp() {
  m_loupe = false;
  if (FAILED(CreateFactory())) return 1;
  CreateTarget();
  if (m_fileSystem == nullptr) {
    OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&m_fileSystem));
    if (LoadResources() != 0) return 2;
  }
  Assign(m_firstPage, m_titleImage);
  return 0;
}

void CMainWindow::ResetPageCache() {
  for (CachedPage& entry : m_pageCache) {
    SafeRelease(entry.bitmap);
    entry = CachedPage{};
  }
}

void CMainWindow::ShowPicture(ID2D1Bitmap* picture) {
  Assign(m_firstPage, picture);
  SafeRelease(m_secondPage);
  SetWindowTextW(m_hwnd, kProductTitle);
}

void CMainWindow::ReleaseDevice() {
  ResetPageCache();
  SafeRelease(m_errorImage);
  SafeRelease(m_titleImage);
  SafeRelease(m_unknownImage);
  SafeRelease(m_firstPage);
  SafeRelease(m_secondPage);
  ReleaseRendererObjects();
}

int32_t CMainWindow::RebuildDevice() {
  CreateTarget();
  if (LoadResources() != 0) return 1;
  ResetPageCache();
  if (!m_book.pages.empty()) {
    if (ShowPage(m_book.current, 0) == 0) {
      InvalidateRect(m_hwnd, nullptr, TRUE);
      return 0;
    }
    ShowPicture(m_unknownImage);
  } else {
    ShowPicture(m_titleImage);
  }
  InvalidateRect(m_hwnd, nullptr, TRUE);
  return 0;
}
