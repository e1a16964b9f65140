// The reading unit over books in memory, counting how often each page is
// read: what it decodes, what it keeps, and what a new book leaves behind.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <chrono>
#include <string>
#include <vector>

#include "HeldDirectory.h"
#include "MemoryFileSystem.h"
#include "QtImages.h"
#include "platform/window.h"
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
  }
  void TearDown() override {
    // Its workers must not be left waiting on a read.
    for (const PageEntry& page : m_book.pages) m_held->Unblock(page.path);
  }
  // A book of pages /p0.png ... of the given sizes, each a colour of its own.
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

  COffscreenWindow m_window{800, 600};
  D2D m_renderer;
  CFittedView m_view{m_renderer};
  ReadingSettings m_settings;
  Book m_book;
  ComRef<test::HeldDirectory> m_held;
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

// The pages on screen end drawn at the device pixels the view gives them,
// also after the window changed size.
TEST_F(Reading, ThePagesOnScreenAreMadeForTheirPlace) {
  const PageMode modes[] = {PageMode::SpreadRight, PageMode::Single};
  for (PageMode mode : modes) {
    m_unit.Reset();
    m_window.Resize(800, 600);
    m_renderer.ResizeTarget();
    m_book = MakeBook({{600, 900}, {600, 900}, {600, 900}, {600, 900}});
    m_settings.mode = mode;
    ASSERT_EQ(Turn(0, 0), TurnState::Shown);
    ASSERT_EQ(Turn(m_book.current, 1), TurnState::Shown);  // pages made ahead come on screen
    for (int size : {0, 1}) {
      if (size == 1) {
        m_window.Resize(500, 700);
        m_renderer.ResizeTarget();
        m_unit.Rescale();
      }
      m_unit.FinishLoads();
      const Placement placed = m_unit.Placed();
      ASSERT_TRUE(m_unit.first().scaled);
      EXPECT_TRUE(Is(m_unit.first().scaled->GetPixelSize(), placed.first.pixels)) << static_cast<int>(mode) << size;
      if (mode == PageMode::Single) continue;
      ASSERT_TRUE(m_unit.second().scaled);
      EXPECT_TRUE(Is(m_unit.second().scaled->GetPixelSize(), placed.second.pixels)) << size;
    }
  }
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

}  // namespace
