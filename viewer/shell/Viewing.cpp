// How large the pages are drawn, and the window moved over pages larger
// than it: fits, zoom steps, scrolling in reading order, dragging. With
// the pages fitted whole (the default) none of this moves anything.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "viewer/shell/MainWindow.h"

namespace {

// A sideways scroll moves by most of the window, keeping a strip of what
// was seen.
constexpr float kScrollShare = 0.9f;
// A left button that moves less than this between down and up clicks.
constexpr int32_t kDragThreshold = 4;

}  // namespace

ScaledLayout CMainWindow::Layout() const {
  return m_view.Layout(m_pages.first().size, m_pages.second().size, PageModeNow());
}

void CMainWindow::SetFit(Fit fit) {
  // A fit ends continuous scroll.
  const bool leaving = m_inColumn;
  if (leaving) LeaveColumn();
  m_viewScale = ViewScale{};
  m_viewScale.fit = fit;
  if (leaving) ShowPage(m_book.current, 0);
  PanToStart();
  m_pages.Rescale();
  Invalidate();
  KeepView();
}

void CMainWindow::KeepView() {
  if (!m_book.source.empty()) SaveBookView(m_book.source, m_viewScale, m_bookChoices);
}

void CMainWindow::Zoom(int direction, float x, float y) {
  if (m_inColumn) {
    ZoomColumn(direction);
    return;
  }
  const Screen screen = m_renderer.CurrentScreen();
  const ScaledLayout was = Layout();
  if (was.width <= 0) return;
  const float zoom = ZoomStep(screen, m_pages.first().size, m_pages.second().size, PageModeNow(),
                              m_viewScale, direction);
  if (zoom == m_viewScale.zoom) return;
  // The point of the pages under (x, y), as a share of their extent.
  const float left = was.overflowX ? -was.panX : (screen.width - was.width) / 2;
  const float top = was.overflowY ? -was.panY : (screen.height - was.height) / 2;
  const float shareX = was.width > 0 ? (x - left) / was.width : 0.5f;
  const float shareY = was.height > 0 ? (y - top) / was.height : 0.5f;
  m_viewScale.zoom = zoom;
  const ScaledLayout now = Layout();
  m_viewScale.panX = shareX * now.width - x;
  m_viewScale.panY = shareY * now.height - y;
  Pan(0, 0);  // kept within the pages
  m_pages.Rescale();
  Invalidate();
  KeepView();
}

bool CMainWindow::Pan(float dx, float dy) {
  const ScaledLayout before = Layout();
  m_viewScale.panX = before.panX + dx;
  m_viewScale.panY = before.panY + dy;
  const ScaledLayout after = Layout();
  m_viewScale.panX = after.panX;
  m_viewScale.panY = after.panY;
  const bool moved = std::fabs(after.panX - before.panX) > 0.25f || std::fabs(after.panY - before.panY) > 0.25f;
  // Over a page zoomed too far to scale whole, the parts that come into view.
  if (moved) m_pages.Panned();
  return moved;
}

void CMainWindow::PanToStart() {
  // Kept within the pages when laid out: the far right is as far as it goes.
  m_viewScale.panX = LeftIsBack() ? 0.0f : 1e9f;
  m_viewScale.panY = 0;
  if (!m_viewScale.Fitted()) Pan(0, 0);
}

bool CMainWindow::ScrollInReadingOrder(int direction, float share) {
  if (m_viewScale.Fitted()) return false;
  const Screen screen = m_renderer.CurrentScreen();
  const ScaledLayout now = Layout();
  // Down the column first, then to the next column the way the book reads.
  if (now.overflowY && Pan(0, static_cast<float>(direction) * share * screen.height)) return true;
  if (!now.overflowX) return false;
  const float across = static_cast<float>(LeftIsBack() ? direction : -direction) * kScrollShare * screen.width;
  if (!Pan(across, 0)) return false;
  m_viewScale.panY = direction > 0 ? 0.0f : 1e9f;  // the top of the next column, the bottom of the one before
  Pan(0, 0);
  return true;
}

bool CMainWindow::ScrollSideways(int direction) {
  if (m_viewScale.Fitted() || !Layout().overflowX) return false;
  return Pan(static_cast<float>(direction) * kScrollShare * m_renderer.CurrentScreen().width, 0);
}

void CMainWindow::OnDrag(int32_t x, int32_t y) {
  if (!m_dragging) return;
  if (!m_dragged && std::abs(x - m_dragX) + std::abs(y - m_dragY) < kDragThreshold) return;
  m_dragged = true;
  if (m_inColumn) {
    // Sideways too, over a column zoomed wider than the window.
    const bool across = m_column.PanBy(static_cast<double>(m_dragX - x) * m_column.screen().dpiX / 96.0);
    if (!ScrollColumn(static_cast<double>(m_dragY - y)) && across) {
      m_pages.ShowColumn(&m_column, +1);  // the parts of a page in parts that come into view
      Invalidate();
    }
    m_dragX = x;
    m_dragY = y;
    return;
  }
  // The pages follow the pointer.
  if (Pan(static_cast<float>(m_dragX - x), static_cast<float>(m_dragY - y))) Invalidate();
  m_dragX = x;
  m_dragY = y;
}
