// Putting the page or the pair of pages a move asks for on screen: the
// reading unit finds and loads them, the window writes the trace, the
// title and the history. What the user sees, and every debug line, comes
// as if each page were decoded when shown.
#include <string>
#include <utility>

#include "platform/debug.h"
#include "platform/winuser.h"
#include "viewer/shell/MainWindow.h"

ReadingSettings CMainWindow::Reading() const {
  return ReadingSettings{PageModeNow(), m_profile.settings.colorizing(), m_reading.orientation(),
                         m_loupe.on, !m_viewScale.Fitted()};
}

int32_t CMainWindow::ShowPage(int32_t index, int32_t step, Otherwise otherwise) {
  return Queue(PendingTurn{index, step, otherwise});
}

int32_t CMainWindow::Move(int32_t step, Otherwise otherwise) { return Queue(PendingTurn{std::nullopt, step, otherwise}); }

int32_t CMainWindow::Queue(const PendingTurn& turn) {
  // A column has no turns to wait for: it scrolls at once.
  if (m_viewScale.continuous && !m_book.pages.empty()) return ColumnTurn(turn);
  const bool first = m_turns.empty();
  m_turns.push_back(turn);
  return first ? MakeTurns() : 2;
}

CMainWindow::Otherwise CMainWindow::DropWaitingTurns() {
  Otherwise otherwise = Otherwise::Beep;
  for (const PendingTurn& moot : m_turns)
    if (moot.otherwise == Otherwise::ShowNoPage) otherwise = Otherwise::ShowNoPage;
  ForgetTurns();
  return otherwise;
}

int32_t CMainWindow::MakeTurns() {
  int32_t made = 2;
  int32_t onward = 0;  // a turn past an end that reads on into the volume that way
  while (!m_turns.empty()) {
    const PendingTurn turn = m_turns.front();
    const bool coverAlone = CoverAloneNow() && PageModeNow() != PageMode::Single;
    const TurnResult result = m_pages.Turn(turn.index.value_or(m_book.current), turn.step, coverAlone);
    if (result.state == TurnState::Waiting) {
      if (made != 2 || m_waitingSince == std::chrono::steady_clock::time_point{})
        m_waitingSince = std::chrono::steady_clock::now();
      return 2;
    }
    m_turns.pop_front();
    m_waitingSince = {};
    m_waitingShown = false;
    if (result.state == TurnState::Shown) {
      Shown(result.spread);
      made = 0;
      continue;
    }
    // The reader's own turn past an end (not one to a page by its place).
    if (!turn.index && turn.otherwise == Otherwise::Beep && ReadsOn(turn.step)) {
      onward = turn.step < 0 ? -1 : +1;
      ForgetTurns();  // the turns after it were for this book
      break;
    }
    MessageBeep(0);
    made = 1;
    if (!turn.index && turn.otherwise == Otherwise::Beep && m_reading.readOn && turn.step != 0)
      NoteNoVolume(turn.step < 0 ? -1 : +1);
    if (turn.otherwise == Otherwise::ShowNoPage) ShowNoPage();
    // Nothing from there on shows: the last page that does.
    if (turn.otherwise == Otherwise::ShowLastPages) m_turns.push_front(PendingTurn{m_book.PageCount(), -2});
  }
  if (onward != 0) {
    // The next volume from its first page, the previous from its last; the
    // open beeps when none opens.
    made = OpenArchiveNear(onward, Start{onward > 0 ? Start::At::First : Start::At::Last, {}}) == 0 ? 0 : 1;
    if (made != 0) NoteNoVolume(onward);
    if (!m_turns.empty()) return 2;
  }
  if (m_settled) std::exchange(m_settled, nullptr)();
  return made;
}

void CMainWindow::NoteNoVolume(int way) {
  m_noVolume = way;
  SetTimer(m_hWnd, NoVolumeTimerId, kNoVolumeMilliseconds, nullptr);
  Invalidate();
}

void CMainWindow::ForgetTurns() {
  m_turns.clear();
  m_waitingSince = {};
  m_waitingShown = false;
}

void CMainWindow::WhenSettled(std::function<void()> settled) {
  if (m_turns.empty())
    settled();
  else
    m_settled = std::move(settled);
}

void CMainWindow::OnTurnsWaiting() {
  if (m_turns.empty()) return;
  const bool said = m_waitingShown;
  const std::size_t waiting = m_turns.size();
  MakeTurns();  // in case a page came without word
  // Past a moment's wait, the place waited for is said where the page
  // number goes, so that a slow archive does not look like a dead window.
  constexpr auto kSayAfter = std::chrono::milliseconds(300);
  const bool say = !m_turns.empty() && std::chrono::steady_clock::now() - m_waitingSince >= kSayAfter;
  if (say || say != said || m_turns.size() != waiting) Invalidate();
  m_waitingShown = say;
}

void CMainWindow::Shown(const Spread& spread) {
  PanToStart();
  if (m_noVolume != 0) m_noVolume = 0, KillTimer(m_hWnd, NoVolumeTimerId);
  const int32_t n = m_book.PageCount();
  std::u16string trace = u"Show Image\r\n";
  auto describe = [&](int32_t page, const PageImage& image) {
    const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
    trace += u"  Index : [" + Decimal(page + 1) + u"/" + Decimal(n) + u"]\r\n";
    trace += u"  Name : " + entry.path + u"\r\n";
    trace += u"    Size : " + Decimal(static_cast<int64_t>(entry.size)) + u"\r\n";
    trace += u"    Width : " + Decimal(image.size.width) + u"  Height : " + Decimal(image.size.height) + u"\r\n";
  };
  describe(spread.first, m_pages.first());
  if (spread.second >= 0) describe(spread.second, m_pages.second());
  OutputDebugStringW(trace.c_str());

  const std::u16string& firstName = m_book.pages[static_cast<std::size_t>(spread.first)].name;
  std::u16string title;
  if (spread.second >= 0)
    title = u"[" + Decimal(spread.first + 1) + u"," + Decimal(spread.second + 1) + u"/" + Decimal(n) + u"] " +
            firstName + u" | " + m_book.pages[static_cast<std::size_t>(spread.second)].name;
  else
    title = u"[" + Decimal(spread.first + 1) + u"/" + Decimal(n) + u"] " + firstName;
  title += u" <" + m_book.displayName + u"> " + kProductTitle;
  SetWindowTextW(m_hWnd, title.c_str());

  m_failure = OpenFailure::None;
  // A new book is written to the profile once its page is on screen: the
  // write waits for the disk, the page should not.
  NoteShown(m_book.current, m_book.pages[static_cast<std::size_t>(m_book.current)].path);
  // Full screen has no title bar: the page number stands in for it.
  if (m_fullScreen != 0 && m_reading.pageNumber) ShowPageNumber();
}

void CMainWindow::FinishLoads() {
  bool repaint = m_pages.FinishLoads();
  // Each round brings a waiting turn at least one page further.
  for (int32_t round = 0; !m_turns.empty() && round <= m_book.PageCount(); ++round) {
    MakeTurns();
    m_pages.FinishLoads();
    repaint = true;
  }
  if (repaint) Invalidate();
}
