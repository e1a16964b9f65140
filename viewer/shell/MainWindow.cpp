#include "viewer/shell/MainWindow.h"

#include <string>

#include "ordel/Ordel.h"
#include "platform/text.h"
#include "viewer/shell/DataPaths.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/Settings.h"

std::u16string Decimal(int64_t value) { return AsciiToUtf16(std::to_string(value)); }

void ShowAboutAtStart(CMainWindow& window) { window.ShowAbout(); }

void CMainWindow::ShowAbout() { m_aboutDialog.Show(m_hWnd); }

void CMainWindow::ShowCatalogues() {
  if (!m_secrets) m_secrets = std::make_unique<SecretStore>();
  CCatalogues catalogues(*m_secrets);
  const std::optional<std::size_t> row = ShowCatalogueDialog(m_hWnd, CatalogueTexts(), catalogues);
  if (!row) return;
  const OpenedCatalogue opened = catalogues.Opened(*row);
  if (m_catalogueOpener) return m_catalogueOpener(opened);
  m_catalogueNotice = opened.catalogue.name + u": " + CatalogueNoticeText();
  SetTimer(m_hWnd, CatalogueNoticeTimerId, kCatalogueNoticeMilliseconds, nullptr);
  Invalidate();
}

std::optional<HttpCredentials> CMainWindow::CredentialsForAddress(const std::u16string& url) {
  const std::vector<Catalogue> kept = LoadCatalogues();
  const Catalogue* catalogue = CatalogueOfAddress(kept, url);
  if (catalogue == nullptr) return std::nullopt;
  // The store is asked only for an address of a catalogue's: a start, or an
  // address of no catalogue's, asks no keychain anything.
  if (!m_secrets) m_secrets = std::make_unique<SecretStore>();
  return HttpCredentials{catalogue->user, KeptPassword(*m_secrets, *catalogue)};
}

CMainWindow::~CMainWindow() {
  // Pages and pictures go before the device objects they were made on.
  m_pages.Reset();
  m_pictures = BuiltInPictures{};
  m_book = Book{};
}

int32_t CMainWindow::SetUp() {
  m_loupe.on = false;
  if (FAILED(m_renderer.CreateFactory())) return 1;
  m_renderer.CreateTarget(m_hWnd, ScreenDpiX, ScreenDpiY);
  if (!m_fileSystem) {
    OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&m_fileSystem));
    if (LoadResources() != 0) return 2;
  }
  if (m_titleAtStart) {
    if (MakeTitle(m_renderer, m_pictures) != 0) return 2;
    m_pages.ShowPicture(m_pictures.title.get());
  }
  m_pages.GiveWayWhen(TerminationRequested);
  // Said from a worker: one message at a time brings the window to take in
  // what the workers made (a window without a message queue collects when
  // asked to, as tests do).
  m_pages.WhenReady([this] {
    if (!m_readyPosted.exchange(true) && !PostMessageW(m_hWnd, WM_APP_PAGES_READY, 0, 0)) m_readyPosted = false;
  });
  return 0;
}

int32_t CMainWindow::LoadResources() {
  const int32_t loaded =
      ::LoadResources(m_fileSystem.get(), DataFolder(g_moduleDir, kResourcePack), m_renderer, m_pictures);
  m_pages.ShowDamagedPagesAs(m_pictures.error.get());
  return loaded;
}

Overlay CMainWindow::overlay() const {
  Overlay words;
  words.caption = FailureText(m_failure);
  // A page that is not whole says why over what of it could be shown.
  for (const int32_t page : {m_book.current, m_book.second})
    if (words.caption.empty() && m_failure == OpenFailure::None && page >= 0 && page < m_book.PageCount())
      words.caption = DamageText(m_book.pages[static_cast<std::size_t>(page)].damage);
  // A book whose archive broke off says so where it begins and where the
  // pages that remain end.
  if (words.caption.empty() && m_failure == OpenFailure::None && m_book.pagesMissing &&
      (m_book.current == 0 || m_book.current == m_book.PageCount() - 1 || m_book.second == 0 ||
       m_book.second == m_book.PageCount() - 1))
    words.caption = PagesMissingText();
  if (words.caption.empty() && m_noVolume != 0) words.caption = NoVolumeText(m_noVolume);
  if (words.caption.empty()) words.caption = m_catalogueNotice;
  if (m_help) words.help = HelpLines();
  if (m_info && m_book.info) words.info = InfoLines(*m_book.info);
  if (m_waitingShown && m_pages.waitingFor() >= 0) {
    // The page a turn waits for, and that it is on its way.
    words.corner = Decimal(m_pages.waitingFor() + 1) + u" / " + Decimal(m_book.PageCount()) + u" \u2026";
  } else if (m_pageNumber && m_failure == OpenFailure::None && m_book.current >= 0 &&
             m_book.current < m_book.PageCount()) {
    words.corner = Decimal(m_book.current + 1);
    if (m_book.second >= 0) words.corner += u"-" + Decimal(m_book.second + 1);
    words.corner += u" / " + Decimal(m_book.PageCount());
  }
  return words;
}

void CMainWindow::ShowPageNumber() {
  if (m_book.pages.empty()) return;
  m_pageNumber = true;
  SetTimer(m_hWnd, PageNumberTimerId, kPageNumberMilliseconds, nullptr);  // a new turn starts the time again
}

void CMainWindow::OnPaint() {
  const HRESULT painted = m_gridShown ? m_renderer.PaintGrid(GridPicture())
                          : m_inColumn ? m_renderer.Paint(m_pages.ColumnShown(), m_loupe, overlay())
                                     : m_renderer.Paint(m_pages.first(), m_pages.second(), m_pages.Placed(), m_loupe,
                                                        overlay());
  if (painted != S_OK) {
    ReleaseDevice();
    RebuildDevice();
  }
  m_pages.FrameDrawn();
  if (m_historyUnsaved || m_remotePlacesUnsaved) PostMessageW(m_hWnd, WM_APP_SAVE_HISTORY, 0, 0);
}

void CMainWindow::ForgetDecodedPages() {
  m_pages.DropPages();
  for (PageEntry& page : m_book.pages)
    if (page.state != PageState::Folder) page.state = PageState::Unknown;
}

void CMainWindow::ShowPicture(ID2D1Bitmap* picture, OpenFailure why) {
  CloseGrid();
  if (m_inColumn) LeaveColumn();
  m_pages.ShowPicture(picture);
  m_failure = why;
  SetWindowTextW(m_hWnd, kProductTitle);
}

void CMainWindow::ToggleHelp() {
  m_help = !m_help;
  m_info = false;
  Invalidate();
}

void CMainWindow::ToggleInfo() {
  if (!m_info && (!m_book.info || InfoLines(*m_book.info).empty())) {
    MessageBeep(0);
    return;
  }
  m_info = !m_info;
  m_help = false;
  Invalidate();
}

void CMainWindow::ReleaseDevice() {
  CloseGrid();  // its thumbnails went with the device
  m_pages.Reset();
  m_pages.ShowDamagedPagesAs(nullptr);
  m_pictures = BuiltInPictures{};
  m_renderer.ReleaseDeviceObjects();
}

int32_t CMainWindow::RebuildDevice() {
  m_renderer.CreateTarget(m_hWnd, ScreenDpiX, ScreenDpiY);
  if (LoadResources() != 0) return 1;
  m_pages.DropPages();
  if (!m_book.pages.empty()) {
    Move(0, Otherwise::ShowNoPage);
  } else {
    ShowPicture(Title());
  }
  Invalidate();
  return 0;
}
