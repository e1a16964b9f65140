// The page grid: every page of the book as a thumbnail over the window, the
// page on screen selected; the arrows, the page keys, Home and End move the
// selection, Enter or a click opens its page, Esc or T puts it away. Closed
// (the default), nothing here runs and nothing else changes.
#include "viewer/shell/DataPaths.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"

void CMainWindow::ToggleGrid() {
  if (m_gridShown) {
    CloseGrid();
    Invalidate();
    return;
  }
  if (m_book.pages.empty() || m_failure != OpenFailure::None) {
    MessageBeep(0);
    return;
  }
  if (!m_thumbnailStore) {
    const std::u16string folder = ThumbnailFolderOfUser();
    if (!folder.empty()) m_thumbnailStore = std::make_shared<CThumbnailStore>(folder);
    m_pages.KeepThumbnailsIn(m_thumbnailStore);
  }
  ForgetTurns();
  m_help = m_info = false;
  m_gridShown = true;
  m_grid.Reset(m_book.PageCount(), m_book.current);
  LayOutGrid();
  GridMoved();
}

void CMainWindow::CloseGrid() {
  if (!m_gridShown) return;
  m_gridShown = false;
  m_pages.ShowGrid(nullptr);
}

void CMainWindow::LayOutGrid() {
  const std::size_t rows = m_book.info ? InfoLines(*m_book.info, false).size() : 0;
  m_grid.SetScreen(m_renderer.CurrentScreen(), D2D::GridHeaderHeight(rows));
}

void CMainWindow::GridMoved() {
  m_pages.ShowGrid(&m_grid);
  Invalidate();
}

void CMainWindow::OpenFromGrid(int32_t page) {
  CloseGrid();
  GoToPage(page + 1);
}

bool CMainWindow::OnGridKey(WPARAM key, LPARAM keyData) {
  GridKey move{};
  switch (key) {
    case VK_ESCAPE:
    case 'T':
      // The press that opened it, held, does not close it.
      if ((static_cast<uintptr_t>(keyData) & 0x40000000u) == 0) ToggleGrid();
      return true;
    case VK_RETURN:
      OpenFromGrid(m_grid.selected());
      return true;
    case VK_LEFT:
      move = GridKey::Left;
      break;
    case VK_RIGHT:
      move = GridKey::Right;
      break;
    case VK_UP:
      move = GridKey::Up;
      break;
    case VK_DOWN:
      move = GridKey::Down;
      break;
    case VK_PRIOR:
      move = GridKey::PageUp;
      break;
    case VK_NEXT:
      move = GridKey::PageDown;
      break;
    case VK_HOME:
      move = GridKey::Home;
      break;
    case VK_END:
      move = GridKey::End;
      break;
    default:
      return false;
  }
  if (m_grid.Move(move)) GridMoved();
  return true;
}

GridFrame CMainWindow::GridPicture() {
  GridFrame frame;
  frame.title = m_book.displayName + u"  (" + Decimal(m_book.PageCount()) + u")";
  if (m_book.info) frame.header = InfoLines(*m_book.info, false);
  for (const GridCell& cell : m_grid.Visible()) {
    GridFrame::Cell drawn;
    drawn.box = cell.box;
    drawn.label = cell.label;
    drawn.number = Decimal(cell.page + 1);
    drawn.selected = cell.page == m_grid.selected();
    drawn.current = cell.page == m_book.current || cell.page == m_book.second;
    const PageState state = m_book.pages[static_cast<std::size_t>(cell.page)].state;
    drawn.noPage = state == PageState::NotImage || state == PageState::Folder;
    frame.cells.push_back(std::move(drawn));
  }
  frame.thumbnails = m_pages.GridShown();
  return frame;
}
