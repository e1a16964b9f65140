// The reading unit over books in memory, counting how often each page is
// read: what it decodes, what it keeps, and what a new book leaves behind.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "HeldDirectory.h"
#include "MemoryFileSystem.h"
#include "QtImages.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "platform/window.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/SevenZipDirectory.h"
#include "viewer/archive/SolidReader.h"
#include "viewer/reading/ReadingUnit.h"

namespace {

bool Is(D2D1_SIZE_U size, D2D1_SIZE_U expected) {
  return size.width == expected.width && size.height == expected.height;
}

class Reading : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_renderer.CreateFactory(), S_OK);
    m_renderer.CreateTarget(&m_window, 96, 96);
    SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<Reading*>(c)->m_debug += t; }, this);
  }
  void TearDown() override {
    SetDebugOutputSink(nullptr, nullptr);
    // Its workers must not be left waiting on a read.
    if (m_held)
      for (const PageEntry& page : m_book.pages) m_held->Unblock(page.path);
  }
  // A book of pages /pa.png ... of the given sizes, each a colour of its own.
  Book MakeBook(const std::vector<D2D1_SIZE_U>& sizes) {
    ComRef<test::MemoryDirectory> root;
    root.Set(new test::MemoryDirectory);
    Book book;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      QImage page(static_cast<int>(sizes[k].width), static_cast<int>(sizes[k].height), QImage::Format_RGB32);
      page.fill(qRgb(static_cast<int>(20 * k % 256), 100, 200));
      const std::u16string path = u"/p" + std::u16string(1, static_cast<char16_t>(u'a' + k)) + u".png";
      root->AddFile(path, test::Encode(page, "PNG"));
      book.pages.push_back(PageEntry{path, path.substr(1), 0, PageState::Unknown});
    }
    m_held.Set(new test::HeldDirectory(root.get()));
    book.root.Set(m_held.get());
    return book;
  }
  TurnState Turn(int32_t index, int32_t step) { return m_unit.Turn(index, step, false).state; }
  static std::u16string PathOf(int32_t page) { return u"/p" + std::u16string(1, static_cast<char16_t>(u'a' + page)) + u".png"; }
  void Resize(int width, int height) {
    m_window.Resize(width, height);
    m_renderer.ResizeTarget();
  }
  // Whether the pages on screen are drawn from copies made for their place.
  void ExpectSharp(const char* why) {
    const Placement placed = m_unit.Placed();
    ASSERT_TRUE(m_unit.first().scaled) << why;
    EXPECT_TRUE(Is(m_unit.first().scaled->GetPixelSize(), placed.first.pixels)) << why;
    if (m_book.second < 0) return;
    ASSERT_TRUE(m_unit.second().scaled) << why;
    EXPECT_TRUE(Is(m_unit.second().scaled->GetPixelSize(), placed.second.pixels)) << why;
  }

  COffscreenWindow m_window{800, 600};
  D2D m_renderer;
  CFittedView m_view{m_renderer};
  ReadingSettings m_settings;
  Book m_book;
  ComRef<test::HeldDirectory> m_held;
  std::u16string m_debug;
  CReadingUnit m_unit{m_book, m_renderer, m_view, [this] { return m_settings; }};
};

// Read from the first page to the last, each turn after the workers are
// done: every page is read from its file once, the page after a wide one
// included (loaded for the turn that shows the wide page alone).
TEST_F(Reading, ABookReadThroughDecodesEachPageOnce) {
  constexpr D2D1_SIZE_U kUpright{60, 90}, kWide{90, 60};
  const struct {
    PageMode mode;
    int32_t step;
  } ways[] = {{PageMode::SpreadRight, 2}, {PageMode::SpreadLeft, 2}, {PageMode::Single, 1}};
  for (const auto& way : ways) {
    m_unit.Reset();
    std::vector<D2D1_SIZE_U> sizes;
    for (int k = 0; k < 12; ++k) sizes.push_back(k % 5 == 0 ? kWide : kUpright);
    m_book = MakeBook(sizes);
    m_settings.mode = way.mode;
    ASSERT_EQ(Turn(0, 0), TurnState::Shown);
    int turns = 0;
    do {
      m_unit.FinishLoads();
      ++turns;
    } while (Turn(m_book.current, way.step) == TurnState::Shown && turns < 20);
    EXPECT_EQ(m_book.current, 11) << "the last page, alone";
    for (const PageEntry& page : m_book.pages)
      EXPECT_EQ(m_held->Opens(page.path), 1) << static_cast<int>(way.mode) << " " << page.path.size();
  }
}

// Once a page of a solid archive is on screen and the workers are idle, its
// pass reads on to the end, spilling: every page from the one pass, though
// it keeps only about two pages in memory.
TEST_F(Reading, ASolidArchiveIsReadOnToItsEndOncePagesAreOnScreen) {
  test::TempDir tmp;
  tmp.MakeFolder("pages");
  uint64_t total = 0;
  for (int32_t k = 0; k < 12; ++k) {
    QImage page(60, 90, QImage::Format_RGB32);
    page.fill(qRgb(40 * k, 100, 200));
    const std::string bytes = test::Encode(page, "PNG");
    total += bytes.size();
    tmp.WriteFile("pages/" + Utf16ToUtf8(PathOf(k).substr(1)), bytes);
  }
  ASSERT_EQ(std::system(("cd '" + (tmp / "pages") + "' && 7z a -mx1 -ms=on ../book.7z . >/dev/null").c_str()), 0);
  ComRef<test::MemoryDirectory> disk;
  disk.Set(new test::MemoryDirectory);
  disk->AddFile(u"/book.7z", tmp.ReadFile("book.7z"));
  ComRef<IFile> file;
  ASSERT_EQ(disk->OpenFile(&file, u"/book.7z", nullptr), 0);
  ArchiveOptions options{total / 6, nullptr};
  options.spill.folder = tmp / "cache";
  ASSERT_EQ(OpenArchive(file.get(), &m_book.root, options), 0);
  auto* archive = dynamic_cast<C7zDirectory*>(m_book.root.get());
  ASSERT_TRUE(archive != nullptr && archive->IsSolid());
  m_book.kind = BookKind::Archive;
  for (int32_t k = 0; k < 12; ++k) m_book.pages.push_back(PageEntry{PathOf(k), PathOf(k).substr(1), 0, PageState::Unknown});

  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  m_unit.FinishLoads();
  ASSERT_TRUE(archive->solidReader()->WaitForPasses(std::chrono::seconds(10)));
  EXPECT_EQ(archive->solidReader()->spilledBytes(), total);
  EXPECT_EQ(archive->solidReader()->passesStarted(), 1u);
  m_unit.Reset();
}

// The pages on screen end drawn at the device pixels the view gives them,
// also after the window changed size.
TEST_F(Reading, ThePagesOnScreenAreMadeForTheirPlace) {
  const PageMode modes[] = {PageMode::SpreadRight, PageMode::Single};
  for (PageMode mode : modes) {
    m_unit.Reset();
    Resize(800, 600);
    m_book = MakeBook({{600, 900}, {600, 900}, {600, 900}, {600, 900}});
    m_settings.mode = mode;
    ASSERT_EQ(Turn(0, 0), TurnState::Shown);
    ASSERT_EQ(Turn(m_book.current, 1), TurnState::Shown);  // pages made ahead come on screen
    m_unit.FinishLoads();
    ExpectSharp("made ahead");
    Resize(500, 700);
    m_unit.Resized();
    m_unit.FinishLoads();
    ExpectSharp("after a resize");
  }
}

// Pages loaded ahead for the size of the moment, and the window resized
// while they are read: shown, they still end at their new place's size.
TEST_F(Reading, PagesLoadedAheadForAnOldSizeEndSharp) {
  m_settings.mode = PageMode::SpreadRight;
  m_book = MakeBook({{600, 900}, {600, 900}, {600, 900}, {600, 900}, {600, 900}});
  m_held->Block(PathOf(2));
  m_held->Block(PathOf(3));
  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  ASSERT_TRUE(m_held->WaitForOpen(PathOf(2)));  // asked for ahead, and held
  Resize(500, 700);
  m_unit.Resized();
  m_held->Unblock(PathOf(2));
  m_held->Unblock(PathOf(3));
  ASSERT_EQ(Turn(m_book.current, 2), TurnState::Shown);
  ASSERT_EQ(m_book.current, 2);
  m_unit.FinishLoads();
  ExpectSharp("shown after the resize");
}

// A turn's page whose copy was scaled for another place than it takes (an
// upright page guessed paired, shown alone as the last): drawn from its
// full pixels at once, then sharp; one whose copy fits has no full pixels
// made for it. The book is read once either way.
TEST_F(Reading, APageShownAsNotGuessedHasItsFullPixelsAtOnce) {
  const struct {
    PageMode mode;
    bool full;
  } cases[] = {{PageMode::SpreadRight, true}, {PageMode::Single, false}};
  for (const auto& c : cases) {
    m_unit.Reset();
    m_settings.mode = c.mode;
    m_book = MakeBook({{90, 100}});  // upright; in a half of the window, narrower than alone
    ASSERT_EQ(Turn(0, 0), TurnState::Shown);
    EXPECT_EQ(static_cast<bool>(m_unit.first().full), c.full) << static_cast<int>(c.mode);
    m_unit.FinishLoads();
    ExpectSharp("made for the place taken");
    EXPECT_EQ(m_held->Opens(PathOf(0)), 1);
  }
}

// With the loads ahead after the frame: a turn's next pages are not read
// until the window has drawn it, then once.
TEST_F(Reading, LoadsAheadAfterTheFrameWaitForIt) {
  m_settings.mode = PageMode::Single;
  m_book = MakeBook(std::vector<D2D1_SIZE_U>(4, D2D1_SIZE_U{20, 30}));
  m_unit.LoadAheadAfterFrames(true);
  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  m_unit.FinishLoads();
  EXPECT_EQ(m_held->Opens(PathOf(1)), 0) << "before the frame";
  m_unit.FrameDrawn();
  m_unit.FinishLoads();
  ASSERT_EQ(Turn(m_book.current, 1), TurnState::Shown);
  EXPECT_EQ(m_held->Opens(PathOf(1)), 1);
}

// The cache keeps the eight pages shown last; the ninth turn lets the
// first go.
TEST_F(Reading, TheCacheHoldsTheLastEightPages) {
  m_settings.mode = PageMode::Single;
  m_book = MakeBook(std::vector<D2D1_SIZE_U>(10, D2D1_SIZE_U{20, 30}));
  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  for (int k = 1; k < 8; ++k) ASSERT_EQ(Turn(m_book.current, 1), TurnState::Shown);
  EXPECT_NE(m_unit.cache().Peek(0), nullptr);
  ASSERT_EQ(Turn(m_book.current, 1), TurnState::Shown);
  EXPECT_EQ(m_unit.cache().Peek(0), nullptr);
  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  EXPECT_NE(m_unit.cache().Peek(0), nullptr);
}

// A page loaded ahead writes its debug lines when a turn shows it, not
// when the worker made it; the page is not read again.
TEST_F(Reading, PagesLoadedAheadWriteTheirLinesWhenShown) {
  m_settings.mode = PageMode::Single;
  m_settings.colorizing = Colorizing::On;  // the colour check writes a line per page
  m_book = MakeBook({{20, 30}, {20, 30}, {20, 30}});
  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  m_unit.FinishLoads();
  auto lines = [&] {
    std::size_t n = 0;
    for (std::size_t at = m_debug.find(u"Color Image"); at != std::u16string::npos; at = m_debug.find(u"Color Image", at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(lines(), 1u) << "only the page shown";
  ASSERT_EQ(Turn(m_book.current, 1), TurnState::Shown);
  EXPECT_EQ(lines(), 2u);
  EXPECT_EQ(m_held->Opens(PathOf(1)), 1);
  EXPECT_EQ(m_book.pages[1].state, PageState::Image);
}

// A jump while the workers load ahead for the old place: the loads that
// had not started give way, and those pages are never read.
TEST_F(Reading, AJumpWithdrawsTheLoadsAheadNotStarted) {
  m_settings.mode = PageMode::Single;
  m_book = MakeBook(std::vector<D2D1_SIZE_U>(12, D2D1_SIZE_U{20, 30}));
  const int32_t ahead[] = {6, 7, 4, 3};  // in the order asked for
  for (int32_t page : ahead) m_held->Block(PathOf(page));
  ASSERT_EQ(Turn(5, 0), TurnState::Shown);
  // As many under way as the loader has workers: one a core, four at most.
  const int busy = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
  for (int k = 0; k < busy; ++k) ASSERT_TRUE(m_held->WaitForOpen(PathOf(ahead[k])));
  m_unit.WaitForPagesAtMost(std::chrono::milliseconds(0));
  EXPECT_EQ(Turn(12, -2), TurnState::Waiting);  // End
  for (int32_t page : ahead) m_held->Unblock(PathOf(page));
  m_unit.FinishLoads();
  m_unit.WaitForPagesAtMost(CReadingUnit::kNoLimit);
  ASSERT_EQ(Turn(12, -2), TurnState::Shown);
  m_unit.FinishLoads();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(m_held->Opens(PathOf(ahead[k])), k < busy ? 1 : 0) << ahead[k];
}

// A new book while a page of the old one is still being read: the turn
// that waited for it is moot, and nothing of the old book comes back.
TEST_F(Reading, ANewBookWhileAPageIsReadShowsNothingOfTheOldOne) {
  m_unit.WaitForPagesAtMost(std::chrono::milliseconds(0));
  m_book = MakeBook({{60, 90}, {60, 90}});
  ComRef<test::HeldDirectory> old = m_held;
  old->Block(u"/pa.png");
  EXPECT_EQ(Turn(0, 0), TurnState::Waiting);
  EXPECT_EQ(m_unit.waitingFor(), 0);
  ASSERT_TRUE(old->WaitForOpen(u"/pa.png"));

  m_unit.Reset();
  m_book = MakeBook({{90, 60}});
  old->Unblock(u"/pa.png");
  ASSERT_TRUE(m_unit.WaitForWorkers(std::chrono::seconds(20)));
  m_unit.FinishLoads();
  m_unit.WaitForPagesAtMost(CReadingUnit::kNoLimit);
  ASSERT_EQ(Turn(0, 0), TurnState::Shown);
  EXPECT_TRUE(Is(m_unit.first().size, {90, 60})) << "the new book's page";
  EXPECT_TRUE(Is(m_unit.cache().Peek(0)->size, {90, 60}));
  EXPECT_EQ(Turn(0, 1), TurnState::NothingThere);
}

// Continuous scroll down a book of pages two to a screen, a little at a
// time: the pages below the window are made before they come on screen,
// those left behind are let go, what is held stays within the budget and
// is made for its place, and each page is read once.
TEST_F(Reading, ScrollingAColumnDecodesAheadAndDropsBehind) {
  constexpr D2D1_SIZE_U kPage{200, 300};
  const uint64_t budget = 5 * ContinuousLayout::BytesOf(kPage);
  m_book = MakeBook(std::vector<D2D1_SIZE_U>(16, kPage));
  ContinuousLayout column;
  column.Reset(m_book.PageCount());
  m_unit.KeepColumnWithin(budget);
  m_unit.ShowColumn(&column, +1);
  auto settle = [&] {
    for (int round = 0; round < 10 && m_unit.FinishLoads(); ++round) {
    }
  };
  settle();
  int32_t lastHeld = 0;
  do {
    const std::vector<int32_t> wanted = column.Wanted(+1, budget);
    uint64_t bytes = 0;
    for (const auto& [page, image] : m_unit.columnPages()) {
      EXPECT_NE(std::find(wanted.begin(), wanted.end(), page), wanted.end()) << page << " held, not wanted";
      ASSERT_TRUE(image.scaled) << page;
      EXPECT_TRUE(Is(image.scaled->GetPixelSize(), column.PixelsOf(page))) << page;
      bytes += ContinuousLayout::BytesOf(image.scaled->GetPixelSize());
      lastHeld = std::max(lastHeld, page);
    }
    EXPECT_LE(bytes, budget);
    const int32_t below = column.Visible().back().page + 1;
    if (below < m_book.PageCount()) {
      EXPECT_NE(m_unit.columnPages().count(below), 0u) << "made ahead: " << below;
    }
    EXPECT_EQ(m_unit.ColumnShown().size(), column.Visible().size());
    const bool moved = column.ScrollBy(100);
    m_unit.ShowColumn(&column, +1);
    settle();
    if (!moved) break;
  } while (true);
  EXPECT_EQ(column.Current(), 15);
  EXPECT_EQ(lastHeld, 15);
  EXPECT_EQ(m_unit.columnPages().count(0), 0u) << "let go behind";
  for (const PageEntry& page : m_book.pages) EXPECT_EQ(m_held->Opens(page.path), 1) << page.path.size();
}

}  // namespace
