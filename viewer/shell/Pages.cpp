// Putting the page or the pair of pages a move asks for on screen: the
// reading unit finds and loads them, the window writes the trace, the
// title and the history. What the user sees, and every debug line, comes
// as if each page were decoded when shown.
#include <string>

#include "platform/debug.h"
#include "platform/winuser.h"
#include "viewer/shell/MainWindow.h"

ReadingSettings CMainWindow::Reading() const {
  return ReadingSettings{m_profile.settings.pageMode, m_profile.settings.colorizing(), m_reading.orientation(),
                         m_loupe.on};
}

int32_t CMainWindow::ShowPage(int32_t index, int32_t step) {
  const std::optional<Spread> found = m_pages.Turn(index, step, CoverPage());
  if (!found) {
    MessageBeep(0);
    return 1;
  }

  const int32_t n = m_book.PageCount();
  std::u16string trace = u"Show Image\r\n";
  auto describe = [&](int32_t page, const PageImage& image) {
    const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
    trace += u"  Index : [" + Decimal(page + 1) + u"/" + Decimal(n) + u"]\r\n";
    trace += u"  Name : " + entry.path + u"\r\n";
    trace += u"    Size : " + Decimal(static_cast<int64_t>(entry.size)) + u"\r\n";
    trace += u"    Width : " + Decimal(image.size.width) + u"  Height : " + Decimal(image.size.height) + u"\r\n";
  };
  describe(found->first, m_pages.first());
  if (found->second >= 0) describe(found->second, m_pages.second());
  OutputDebugStringW(trace.c_str());

  const std::u16string& firstName = m_book.pages[static_cast<std::size_t>(found->first)].name;
  std::u16string title;
  if (found->second >= 0)
    title = u"[" + Decimal(found->first + 1) + u"," + Decimal(found->second + 1) + u"/" + Decimal(n) + u"] " +
            firstName + u" | " + m_book.pages[static_cast<std::size_t>(found->second)].name;
  else
    title = u"[" + Decimal(found->first + 1) + u"/" + Decimal(n) + u"] " + firstName;
  title += u" <" + m_book.displayName + u"> " + kProductTitle;
  SetWindowTextW(m_hWnd, title.c_str());

  m_failure = OpenFailure::None;
  if (m_profile.AddHistory(m_book.source, m_book.current, m_book.pages[static_cast<std::size_t>(m_book.current)].path))
    SaveHistoryPages(m_profile.history);
  // Full screen has no title bar: the page number stands in for it.
  if (m_fullScreen != 0 && m_reading.pageNumber) ShowPageNumber();
  return 0;
}

int32_t CMainWindow::CoverPage() {
  if (!m_reading.coverAlone || m_profile.settings.pageMode == PageMode::Single) return -1;
  return m_pages.FirstPage();
}

void CMainWindow::FinishLoads() {
  if (m_pages.FinishLoads()) Invalidate();
}
