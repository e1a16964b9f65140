// Continuous scroll: the book's pages in one column, scrolled by the wheel,
// the keys and a drag; the page under the middle of the window is the
// current page for the title, the history and going to a page. Off (the
// default), nothing here runs.
#include <algorithm>
#include <cmath>

#include "platform/debug.h"
#include "viewer/shell/MainWindow.h"

void CMainWindow::ToggleContinuous() {
  ForgetTurns();
  const Fit fit = m_viewScale.fit;
  const bool on = !m_viewScale.continuous;
  // The zoom of one way means nothing to the other.
  m_viewScale = ViewScale{};
  m_viewScale.fit = fit;
  m_viewScale.continuous = on;
  if (!m_book.pages.empty() && m_failure == OpenFailure::None) {
    if (on) {
      EnterColumn(m_book.current);
    } else {
      LeaveColumn();
      ShowPage(m_book.current, 0);
    }
  }
  KeepView();
  Invalidate();
}

void CMainWindow::EnterColumn(int32_t page) {
  m_pages.ShowColumn(nullptr, +1);
  m_column.Reset(m_book.PageCount());
  m_column.SetZoom(m_viewScale.zoom);
  m_inColumn = true;
  m_columnShown = -1;
  m_pages.ShowColumn(&m_column, +1);  // the sizes known already, the window
  m_column.ScrollToPage(std::clamp(page, 0, std::max(m_book.PageCount() - 1, 0)));
  ColumnMoved(+1);
}

void CMainWindow::LeaveColumn() {
  StopGlide();
  m_inColumn = false;
  m_columnShown = -1;
  m_pages.ShowColumn(nullptr, +1);
}

int32_t CMainWindow::ColumnTurn(const PendingTurn& turn) {
  const int32_t n = m_book.PageCount();
  if (n == 0) return 1;
  const int32_t way = turn.step < 0 ? -1 : turn.step > 0 ? 1 : 0;
  // Asked again where it stands (a new mode, new colours): made again there.
  if (!turn.index && way == 0 && m_inColumn && m_column.count() == n) {
    ColumnMoved(+1);
    return 0;
  }
  const int32_t page = turn.index ? std::clamp(*turn.index + way, 0, n - 1) : m_book.current + way;
  if (page < 0 || page >= n) {
    if (!turn.index && turn.otherwise == Otherwise::Beep && ReadsOn(way))
      return OpenArchiveNear(way, Start{way > 0 ? Start::At::First : Start::At::Last, {}});
    MessageBeep(0);
    return 1;
  }
  if (!m_inColumn || m_column.count() != n) {
    EnterColumn(page);
    return 0;
  }
  const int32_t was = m_column.Current();
  m_column.ScrollToPage(page);
  ColumnMoved(page >= was ? +1 : -1);
  return 0;
}

bool CMainWindow::ScrollColumn(double units) {
  if (!m_column.ScrollBy(units * m_column.screen().dpiY / 96.0)) return false;
  ColumnMoved(units >= 0 ? +1 : -1);
  return true;
}

void CMainWindow::GlideColumn(double units) {
  // Against the way it glides: the new way at once.
  if (m_glide.left * units < 0) m_glide.left = 0;
  const bool idle = m_glide.left == 0;
  m_glide.left += units;
  if (!idle) return;
  m_glide.last = std::chrono::steady_clock::now() - std::chrono::milliseconds(kGlideMilliseconds);
  SetTimer(m_hWnd, GlideTimerId, kGlideMilliseconds, nullptr);
  GlideStep();
}

void CMainWindow::GlideStep() {
  // Each frame takes the share of what is left that the time since the last
  // one gives, so the glide ends in about 0.1 s whatever the frame rate.
  constexpr double kTimeConstantMs = 30;
  const auto now = std::chrono::steady_clock::now();
  const double ms = std::chrono::duration<double, std::milli>(now - m_glide.last).count();
  m_glide.last = now;
  double step = m_glide.left * (1 - std::exp(-std::max(ms, 1.0) / kTimeConstantMs));
  if (std::abs(m_glide.left - step) < 0.5) step = m_glide.left;
  m_glide.left -= step;
  if (!m_inColumn || m_gridShown) return StopGlide();
  // A step too small to count as a move still moves; only the column's end stops it.
  const double before = m_column.offset();
  ScrollColumn(step);
  if (m_column.offset() == before || m_glide.left == 0) StopGlide();
}

void CMainWindow::StopGlide() {
  if (m_glide.left == 0 && m_glide.last == std::chrono::steady_clock::time_point{}) return;
  m_glide = Glide{};
  KillTimer(m_hWnd, GlideTimerId);
}

void CMainWindow::ZoomColumn(int direction) {
  const float zoom = m_column.ZoomStep(direction);
  if (zoom == m_column.zoom()) return;
  m_column.SetZoom(zoom);
  m_viewScale.zoom = zoom;
  ColumnMoved(direction);
  KeepView();
}

void CMainWindow::ColumnMoved(int direction) {
  m_pages.ShowColumn(&m_column, direction);
  ShownInColumn();
  Invalidate();
}

void CMainWindow::ShownInColumn() {
  const int32_t page = m_column.Current();
  if (page < 0 || page >= m_book.PageCount() || page == m_columnShown) return;
  m_columnShown = page;
  m_book.current = page;
  m_book.second = -1;
  const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
  const std::u16string place = u"[" + Decimal(page + 1) + u"/" + Decimal(m_book.PageCount()) + u"]";
  OutputDebugStringW((u"Scroll To Page\r\n  Index : " + place + u"\r\n  Name : " + entry.path + u"\r\n").c_str());
  SetWindowTextW(m_hWnd, (place + u" " + entry.name + u" <" + m_book.displayName + u"> " + kProductTitle).c_str());
  m_failure = OpenFailure::None;
  // Written after the frame, as a turn's is: the disk should not hold the column up.
  NoteShown(page, entry.path);
  if (m_fullScreen != 0 && m_reading.pageNumber) ShowPageNumber();
}
