// The main window without a display: books from real folders and archives,
// page turning, colorizing, the rendered frames, device loss and resources.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <fstream>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/SevenZipDirectory.h"
#include "viewer/archive/SolidReader.h"
#include "viewer/imaging/WICFormatConverter.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"
#include "viewer/shell/Profile.h"

using test::TempDir;

namespace {

const std::u16string kProduct = kProductTitle;

// Writes an image of one colour (or one gray level) in the given kind.
void SaveImage(const TempDir& dir, const std::string& name, int w, int h, QRgb colour,
               QImage::Format format = QImage::Format_RGB32, const char* kind = "PNG") {
  QImage image(w, h, QImage::Format_ARGB32);
  image.fill(colour);
  ASSERT_TRUE(image.convertToFormat(format).save(QString::fromStdString(dir / name), kind)) << name;
}

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    ScreenDpiX = ScreenDpiY = 96;
    g_moduleDir = GetModuleDirectory();
    SetUserSettingsFile(Utf8ToUtf16(m_settingsDir / "velmora.conf"));
    SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<Window*>(c)->m_debug += t; }, this);
    SetBeepSink([](UINT, void* c) { ++static_cast<Window*>(c)->m_beeps; }, this);
  }
  void TearDown() override {
    m_main.reset();
    SetDebugOutputSink(nullptr, nullptr);
    SetBeepSink(nullptr, nullptr);
    SetUserSettingsFile(u"");
  }

  CMainWindow& Main() {
    if (!m_main) {
      m_main = std::make_unique<CMainWindow>(&m_window);
      EXPECT_EQ(m_main->SetUp(), 0);
      m_main->profile().settings = m_settings;
      m_main->reading().naturalOrder = false;  // names in code-unit order, as these tests list them
    }
    return *m_main;
  }
  // The view settings, now and for a window made later.
  void Mode(PageMode mode) {
    m_settings.pageMode = mode;
    if (m_main) m_main->profile().settings.pageMode = mode;
  }
  void Colorize(int32_t on) {
    m_settings.mono2Color = on;
    if (m_main) m_main->profile().settings.mono2Color = on;
  }
  const std::vector<HistoryEntry>& History() { return Main().profile().history.Entries(); }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    Main().ProcessWindowMessage(&m_window, message, wParam, lParam, result, 0);
    return result;
  }
  int32_t Open(const std::string& path, const char16_t* select = nullptr) {
    return Main().OpenDirectory(Utf8ToUtf16(path).c_str(), select);
  }
  std::u16string Title() const { return m_window.Title(); }
  // (first, second) on screen.
  std::pair<int32_t, int32_t> Shown() { return {Main().book().current, Main().book().second}; }
  // Pages named 0.png ... of the given sizes.
  void MakePages(const std::vector<QSize>& sizes) {
    for (std::size_t i = 0; i < sizes.size(); ++i)
      SaveImage(m_tmp, std::to_string(i) + ".png", sizes[i].width(), sizes[i].height(), qRgb(200, 200, 200));
  }
  // The bounding box of frame pixels whose colour satisfies `match`.
  template <class Match>
  QRect Box(Match match) {
    QRect box;
    for (int y = 0; y < m_window.frameHeight; ++y)
      for (int x = 0; x < m_window.frameWidth; ++x)
        if (match(m_window.Pixel(x, y))) box |= QRect(x, y, 1, 1);
    return box;
  }

  TempDir m_settingsDir;  // the per-user settings, apart from the pages
  TempDir m_tmp;
  COffscreenWindow m_window{800, 600};
  std::unique_ptr<CMainWindow> m_main;
  ViewSettings m_settings{PageMode::Single, 0};
  std::u16string m_debug;
  int m_beeps = 0;
};

// ---- opening a folder ----

TEST_F(Window, OpenDirectoryListsSortsAndReports) {
  m_tmp.MakeFolder("vol1");
  SaveImage(m_tmp, "vol1/b.png", 10, 20, qRgb(1, 2, 3));
  SaveImage(m_tmp, "vol1/A.png", 10, 20, qRgb(1, 2, 3));
  m_tmp.MakeFolder("vol1/Zeta");
  const std::string folder = m_tmp / "vol1";
  Main();
  m_debug.clear();
  ASSERT_EQ(Open(folder), 0);
  const std::u16string path = Utf8ToUtf16(folder) + u"/";
  EXPECT_EQ(m_debug.substr(0, m_debug.find(u"Show Image")),
            u"Open Directory\r\n  Drive : /\r\n  Path  : " + path + u"\r\n  Files : 3\r\n");
  ASSERT_EQ(Main().book().pages.size(), 3u);
  EXPECT_EQ(Main().book().pages[1].name, u"Zeta");
  EXPECT_EQ(Main().book().pages[1].state, PageState::Folder);
  EXPECT_EQ(Main().book().pages[0].path, path + u"A.png");
  EXPECT_EQ(Main().book().displayName, u"vol1");
  EXPECT_EQ(Title(), u"[1/3] A.png <vol1> " + kProduct);
  EXPECT_EQ(History().front().name, Utf8ToUtf16(folder));

  // With a trailing "/": the same pages, only the source differs.
  ASSERT_EQ(Open(folder + "/"), 0);
  EXPECT_EQ(Main().book().pages.size(), 3u);
  EXPECT_EQ(Main().book().source, Utf8ToUtf16(folder + "/"));
  EXPECT_EQ(Main().book().displayName, u"vol1");

  // Relative and empty paths are refused and the book stays.
  EXPECT_EQ(Open("vol1"), 1);
  EXPECT_EQ(Open(""), 1);
  EXPECT_EQ(Main().book().pages.size(), 3u);
}

TEST_F(Window, RootFolderOpens) {
  Main();
  m_debug.clear();
  ASSERT_EQ(Open("/"), 0);
  EXPECT_EQ(Main().book().displayName, u"/");
  EXPECT_EQ(m_debug.find(u"Open Directory\r\n  Drive : /\r\n  Path  : /\r\n"), 0u);
}

TEST_F(Window, FoldersWithoutPagesShowTheUnknownPicture) {
  m_tmp.MakeFolder("empty");
  m_tmp.MakeFolder("subs");
  m_tmp.MakeFolder("subs/a");
  m_tmp.MakeFolder("subs/b");
  Main();
  m_debug.clear();
  ASSERT_EQ(Open(m_tmp / "empty"), 0);
  EXPECT_NE(m_debug.find(u"  Files : 0\r\n"), std::u16string::npos);
  EXPECT_EQ(Main().firstPage(), Main().pictures().unknown.get());
  EXPECT_EQ(Title(), kProduct);
  EXPECT_EQ(m_beeps, 1);

  ASSERT_EQ(Open(m_tmp / "subs"), 0);
  EXPECT_EQ(Main().book().pages.size(), 2u);
  for (const PageEntry& p : Main().book().pages) EXPECT_EQ(p.state, PageState::Folder);
  EXPECT_EQ(Main().firstPage(), Main().pictures().unknown.get());

  // A name that differs only in case is not the name.
  SaveImage(m_tmp, "Page.png", 10, 20, qRgb(9, 9, 9));
  ASSERT_EQ(Open(m_tmp.path(), u"page.png"), 0);
  EXPECT_EQ(Main().firstPage(), Main().pictures().unknown.get());
  ASSERT_EQ(Open(m_tmp.path(), u"Page.png"), 0);
  EXPECT_EQ(Title(), u"[1/3] Page.png <" + Utf8ToUtf16(m_tmp.path().substr(m_tmp.path().rfind('/') + 1)) + u"> " + kProduct);
}

TEST_F(Window, MissingFolderShowsTheErrorPicture) {
  MakePages({{10, 20}});
  ASSERT_EQ(Open(m_tmp.path()), 0);
  m_debug.clear();
  EXPECT_EQ(Open(m_tmp / "missing"), 1);
  EXPECT_EQ(m_debug, u"Error Open Directory\r\n");
  EXPECT_EQ(Main().firstPage(), Main().pictures().error.get());
  EXPECT_EQ(Title(), kProduct);
  EXPECT_TRUE(Main().book().pages.empty());
  EXPECT_FALSE(Main().book().root);
}

// ---- turns the window does not wait for ----

// A turn whose pages the workers have not made at once is made when they
// bring them, in the order asked, with the trace, title, beeps and history
// a window that waits would have: the window never runs a decode itself.
TEST_F(Window, TurnsNotReadyAreMadeLaterInOrderAsIfWaitedFor) {
  // Large enough that a worker takes a while over each.
  SaveImage(m_tmp, "0.png", 1000, 1500, qRgb(1, 1, 1));
  m_tmp.WriteFile("1.txt", "not a picture");
  for (int i = 2; i < 6; ++i) SaveImage(m_tmp, std::to_string(i) + ".png", 1000, 1500, qRgb(1, 1, 1));
  m_tmp.WriteFile("6.txt", "not a picture either");
  struct Run {
    std::u16string trace, title;
    int beeps;
    std::pair<int32_t, int32_t> shown;
  };
  auto run = [&](bool patient) {
    m_main.reset();
    m_beeps = 0;
    Mode(PageMode::Single);
    if (!patient) Main().WaitForPagesAtMost(std::chrono::milliseconds(0));
    Main();
    m_debug.clear();
    EXPECT_EQ(Open(m_tmp.path()), 0);
    EXPECT_EQ(Main().turnsWaiting(), !patient);
    for (int32_t step : {1, 1, -1, 1, 1, 1, 1}) Main().Move(step);
    if (!patient) {
      EXPECT_TRUE(Main().turnsWaiting());
      EXPECT_EQ(m_debug.find(u"Show Image"), std::u16string::npos) << "nothing shown before its pages are made";
      EXPECT_EQ(Main().firstPage(), nullptr);
    }
    Main().FinishLoads();
    EXPECT_FALSE(Main().turnsWaiting());
    Main().GoToPage(7);  // no page from there on: the last one that is
    Main().FinishLoads();
    return Run{m_debug, Title(), m_beeps, Shown()};
  };
  const Run waited = run(true);
  const Run later = run(false);
  EXPECT_EQ(later.trace, waited.trace);
  EXPECT_EQ(later.title, waited.title);
  EXPECT_EQ(later.title, u"[6/7] 5.png <" + Utf8ToUtf16(m_tmp.path().substr(m_tmp.path().rfind('/') + 1)) + u"> " +
                             kProduct);
  EXPECT_EQ(later.beeps, waited.beeps);
  EXPECT_EQ(waited.beeps, 2);  // past the end, and at the page asked for
  EXPECT_EQ(later.shown, waited.shown);

  // A page asked for by its place makes the turns still waiting moot.
  Main().ForgetDecodedPages();
  Send(WM_KEYDOWN, VK_END, 0);
  ASSERT_TRUE(Main().turnsWaiting());
  Main().GoToPage(1);
  Main().FinishLoads();
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
  EXPECT_EQ(m_debug.rfind(u"Index : [6/7]"), later.trace.rfind(u"Index : [6/7]")) << "the last page not shown";

  // A book with no page says why once the workers have tried them all.
  TempDir none;
  none.WriteFile("a.txt", "text");
  m_main.reset();
  Main().WaitForPagesAtMost(std::chrono::milliseconds(0));
  std::u16string why;
  Main().OpenDirectory(Utf8ToUtf16(none.path()).c_str(), nullptr);
  Main().WhenSettled([&] { why = FailureText(Main().failure()); });
  Main().FinishLoads();
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(Main().firstPage(), Main().pictures().unknown.get());
}

// ---- turning pages ----

TEST_F(Window, SingleModeSkipsWhatDoesNotDecodeAndBeepsAtTheEnds) {
  SaveImage(m_tmp, "1.png", 10, 20, qRgb(1, 1, 1));
  m_tmp.MakeFolder("2folder");
  m_tmp.WriteFile("3.txt", "not a picture");
  SaveImage(m_tmp, "4.png", 10, 20, qRgb(1, 1, 1));
  ASSERT_EQ(Open(m_tmp.path()), 0);
  CMainWindow& w = Main();
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
  EXPECT_EQ(w.ShowPage(w.book().current, -1), 1);
  EXPECT_EQ(m_beeps, 1);
  ASSERT_EQ(w.ShowPage(w.book().current, 1), 0);
  EXPECT_EQ(Shown(), std::make_pair(3, -1));
  EXPECT_EQ(w.book().pages[1].state, PageState::Folder);
  EXPECT_EQ(w.book().pages[2].state, PageState::NotImage);
  EXPECT_EQ(w.book().pages[3].state, PageState::Image);
  const std::u16string title = Title();
  EXPECT_EQ(w.ShowPage(w.book().current, 1), 1);
  EXPECT_EQ(m_beeps, 2);
  EXPECT_EQ(Title(), title);
  ASSERT_EQ(w.ShowPage(w.book().current, -2), 0);  // in single mode -2 is -1
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
}

TEST_F(Window, SpreadsPairUprightPagesOnly) {
  Mode(PageMode::SpreadRight);
  // 0 wide, 1 2 upright, 3 square, 4 5 upright, 6 wide
  MakePages({{30, 20}, {20, 30}, {20, 30}, {25, 25}, {20, 30}, {20, 30}, {30, 20}});
  ASSERT_EQ(Open(m_tmp.path()), 0);
  CMainWindow& w = Main();
  EXPECT_EQ(Shown(), std::make_pair(0, -1));  // wide: alone
  ASSERT_EQ(w.ShowPage(w.book().current, 2), 0);
  EXPECT_EQ(Shown(), std::make_pair(1, 2));  // second was -1: start at current + 1
  const std::u16string name = Utf8ToUtf16(m_tmp.path().substr(m_tmp.path().rfind('/') + 1));
  EXPECT_EQ(Title(), u"[2,3/7] 1.png | 2.png <" + name + u"> " + kProduct);
  ASSERT_EQ(w.ShowPage(w.book().current, 2), 0);
  EXPECT_EQ(Shown(), std::make_pair(3, -1));  // square: never paired
  ASSERT_EQ(w.ShowPage(w.book().current, 2), 0);
  EXPECT_EQ(Shown(), std::make_pair(4, 5));
  ASSERT_EQ(w.ShowPage(w.book().current, 1), 0);
  EXPECT_EQ(Shown(), std::make_pair(5, -1));  // its partner 6 is wide
  ASSERT_EQ(w.ShowPage(4, 0), 0);
  ASSERT_EQ(w.ShowPage(w.book().current, 2), 0);
  EXPECT_EQ(Shown(), std::make_pair(6, -1));
  EXPECT_EQ(w.ShowPage(w.book().current, 2), 1);
  EXPECT_EQ(m_beeps, 1);
}

TEST_F(Window, SpreadsStepBack) {
  Mode(PageMode::SpreadLeft);
  MakePages({{20, 30}, {20, 30}, {20, 30}, {20, 30}, {20, 30}});
  ASSERT_EQ(Open(m_tmp.path()), 0);
  CMainWindow& w = Main();
  ASSERT_EQ(w.ShowPage(2, 0), 0);
  EXPECT_EQ(Shown(), std::make_pair(2, 3));
  ASSERT_EQ(w.ShowPage(w.book().current, -2), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1));
  ASSERT_EQ(w.ShowPage(2, 0), 0);
  ASSERT_EQ(w.ShowPage(w.book().current, -1), 0);
  EXPECT_EQ(Shown(), std::make_pair(1, 2));
  ASSERT_EQ(w.ShowPage(w.book().current, -2), 0);  // P = 0, nothing before it
  EXPECT_EQ(Shown(), std::make_pair(0, 1));
  EXPECT_EQ(w.ShowPage(w.book().current, -1), 1);
  EXPECT_EQ(History().front().index, 0);
}

TEST_F(Window, ShowImageTraceNamesBothPages) {
  Mode(PageMode::SpreadRight);
  MakePages({{20, 30}, {20, 30}});
  Main();
  m_debug.clear();
  ASSERT_EQ(Open(m_tmp.path()), 0);
  const std::u16string dir = Utf8ToUtf16(m_tmp.path());
  const PageEntry& p0 = Main().book().pages[0];
  const PageEntry& p1 = Main().book().pages[1];
  const std::u16string trace = u"Show Image\r\n  Index : [1/2]\r\n  Name : " + dir + u"/0.png\r\n    Size : " +
                               Decimal(static_cast<int64_t>(p0.size)) +
                               u"\r\n    Width : 20  Height : 30\r\n  Index : [2/2]\r\n  Name : " + dir +
                               u"/1.png\r\n    Size : " + Decimal(static_cast<int64_t>(p1.size)) +
                               u"\r\n    Width : 20  Height : 30\r\n";
  EXPECT_NE(m_debug.find(trace), std::u16string::npos) << Utf16ToUtf8(m_debug);
}

// Screentone: a page of fine dots shown small must look flat gray, not as
// moiré. Once the workers have scaled the page, it is drawn one to one.
TEST_F(Window, ScreentoneLooksFlatOnceScaled) {
  m_window.Resize(1024, 768);
  auto deviation = [&] {
    // The page fills 512 x 768 in the middle; the middle half of it.
    double sum = 0, squares = 0, n = 0;
    for (int y = 192; y < 576; ++y)
      for (int x = 384; x < 640; ++x) {
        const double v = (m_window.Pixel(x, y) >> 8) & 0xFF;
        sum += v, squares += v * v, ++n;
      }
    const double mean = sum / n;
    return std::sqrt(std::max(0.0, squares / n - mean * mean));
  };
  const struct {
    const char* name;
    std::function<bool(int, int)> ink;
    double limit;
  } tones[] = {
      {"checker", [](int x, int y) { return (x + y) % 2 == 0; }, 6},
      {"halftone",
       [](int x, int y) {
         const double u = (x + y) % 4 + 0.5, v = (x + 4000 - y) % 4 + 0.5;
         return std::hypot(u - 2, v - 2) < 1.3;
       },
       20},
  };
  for (const auto& tone : tones) {
    QImage page(1600, 2400, QImage::Format_Grayscale8);
    for (int y = 0; y < 2400; ++y) {
      uchar* row = page.scanLine(y);
      for (int x = 0; x < 1600; ++x) row[x] = tone.ink(x, y) ? 0 : 255;
    }
    const std::string folder = m_tmp / tone.name;
    m_tmp.MakeFolder(tone.name);
    ASSERT_TRUE(page.save(QString::fromStdString(folder + "/page.png")));
    ASSERT_EQ(Open(folder), 0);
    Main().FinishLoads();
    Main().OnPaint();
    const double flat = deviation();
    EXPECT_LE(flat, tone.limit) << tone.name;
    EXPECT_LE(flat, 2.0) << tone.name << ": the scaler's own aim";
  }
}

// ---- what reaches the screen ----

bool IsWhite(uint32_t argb) { return (argb & 0xFF) > 240 && ((argb >> 8) & 0xFF) > 240; }
bool IsLoupeFrame(uint32_t c) { return ((c >> 16) & 0xFF) > 100 && ((c >> 8) & 0xFF) < 30 && (c & 0xFF) > 100; }

TEST_F(Window, PagesAreFittedAndCentred) {
  SaveImage(m_tmp, "a.png", 100, 150, qRgb(255, 255, 255));
  SaveImage(m_tmp, "b.png", 20, 10, qRgb(255, 255, 255));
  ASSERT_EQ(Open(m_tmp.path()), 0);
  Main().OnPaint();
  EXPECT_EQ(Box(IsWhite), QRect(QPoint(200, 0), QPoint(599, 599)));
  ASSERT_EQ(Main().ShowPage(0, 1), 0);
  Main().OnPaint();
  EXPECT_EQ(Box(IsWhite), QRect(320, 260, 160, 80));  // eight times, no more
}

TEST_F(Window, SpreadsMeetAtTheMiddleOnTheModesSide) {
  SaveImage(m_tmp, "1.png", 100, 150, qRgb(255, 0, 0));
  SaveImage(m_tmp, "2.png", 200, 300, qRgb(0, 0, 255));
  SaveImage(m_tmp, "3.png", 200, 150, qRgb(0, 255, 0));
  auto red = [](uint32_t c) { return ((c >> 16) & 0xFF) > 200 && (c & 0xFF) < 50; };
  auto blue = [](uint32_t c) { return (c & 0xFF) > 200 && ((c >> 16) & 0xFF) < 50; };
  Mode(PageMode::SpreadRight);
  ASSERT_EQ(Open(m_tmp.path()), 0);
  Main().OnPaint();
  EXPECT_EQ(Box(red), QRect(QPoint(400, 0), QPoint(799, 599)));  // the lower index on the right
  EXPECT_EQ(Box(blue), QRect(QPoint(0, 0), QPoint(399, 599)));
  Mode(PageMode::SpreadLeft);
  Main().OnPaint();
  EXPECT_EQ(Box(red), QRect(QPoint(0, 0), QPoint(399, 599)));
  EXPECT_EQ(Box(blue), QRect(QPoint(400, 0), QPoint(799, 599)));

  // Pages of different sizes keep their own proportions: 2 is 200 x 300,
  // 4 is 100 x 300 and is drawn 200 x 600 left of the centre line.
  SaveImage(m_tmp, "4.png", 100, 300, qRgb(255, 0, 0));
  ::unlink((m_tmp / "3.png").c_str());
  Mode(PageMode::SpreadRight);
  ASSERT_EQ(Open(m_tmp.path()), 0);
  ASSERT_EQ(Main().ShowPage(1, 0), 0);
  EXPECT_EQ(Shown(), std::make_pair(1, 2));
  Main().OnPaint();
  EXPECT_EQ(Box(blue), QRect(QPoint(400, 0), QPoint(799, 599)));
  EXPECT_EQ(Box(red), QRect(QPoint(200, 0), QPoint(399, 599)));
}

TEST_F(Window, TheLoupeMagnifiesAndIsFramed) {
  SaveImage(m_tmp, "a.png", 100, 150, qRgb(255, 255, 255));
  ASSERT_EQ(Open(m_tmp.path()), 0);
  CMainWindow& w = Main();
  Send(WM_KEYDOWN, 'L', 1);
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(400, 300));
  w.OnPaint();
  EXPECT_EQ(Box(IsLoupeFrame), QRect(QPoint(208, 108), QPoint(591, 491)));  // 380 square, 4 wide frame
  // Twice the page inside the loupe: white from the loupe's left edge on.
  EXPECT_TRUE(IsWhite(m_window.Pixel(215, 300)));
  EXPECT_FALSE(IsWhite(m_window.Pixel(195, 300)));

  // In the corner it is clipped to the window.
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(0, 0));
  w.OnPaint();
  EXPECT_EQ(Box(IsLoupeFrame), QRect(QPoint(0, 0), QPoint(191, 191)));
}

TEST_F(Window, TheLoupeFollowsTheScreensResolution) {
  ScreenDpiX = ScreenDpiY = 120;
  m_window.Resize(1000, 750);  // 800 x 600 units
  SaveImage(m_tmp, "a.png", 100, 150, qRgb(255, 255, 255));
  ASSERT_EQ(Open(m_tmp.path()), 0);
  CMainWindow& w = Main();
  Send(WM_KEYDOWN, 'L', 1);
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(400, 300));
  w.OnPaint();
  // 475 units wide around (400, 300) units, times 1.25 pixels a unit.
  const QRect box = Box(IsLoupeFrame);
  EXPECT_NEAR(box.left(), (400 - 237.5 - 2) * 1.25, 1.5);
  EXPECT_NEAR(box.right(), (400 + 237.5 + 2) * 1.25, 1.5);
}

TEST_F(Window, ScaledScreensAreDrawnInTheirOwnPixels) {
  // A screen at 200 %: the window is 400 x 300 units, 800 x 600 pixels.
  m_window.Resize(400, 300);
  m_window.pixelRatio = 2;
  SaveImage(m_tmp, "page.png", 1600, 2400, qRgb(255, 255, 255));
  ASSERT_EQ(Open(m_tmp.path()), 0);
  Main().FinishLoads();
  Main().OnPaint();
  EXPECT_EQ(m_window.frameWidth, 800);
  EXPECT_EQ(m_window.frameHeight, 600);
  ASSERT_TRUE(Main().firstImage().scaled);
  const D2D1_SIZE_U scaled = Main().firstImage().scaled->GetPixelSize();
  EXPECT_EQ(scaled.width, 400u) << "the page is made for the pixels it covers, not its units";
  EXPECT_EQ(scaled.height, 600u);
  EXPECT_EQ(Box(IsWhite), QRect(200, 0, 400, 600));
}

// ---- colorizing ----

TEST_F(Window, ColorizingReachesMonochromePagesOnly) {
  SaveImage(m_tmp, "1gray.png", 40, 40, qRgb(128, 128, 128), QImage::Format_Grayscale8);
  {
    // 24-bit gray with one coloured sample in fifty: still monochrome.
    QImage page(80, 40, QImage::Format_RGB32);
    page.fill(qRgb(100, 100, 100));
    page.setPixel(8, 16, qRgb(255, 0, 0));
    ASSERT_TRUE(page.save(QString::fromStdString(m_tmp / "2graybgr.png")));
  }
  SaveImage(m_tmp, "3colour.png", 40, 40, qRgb(200, 40, 40));
  SaveImage(m_tmp, "4rgba.png", 40, 40, qRgba(90, 90, 90, 255), QImage::Format_ARGB32);
  auto centre = [&](int page) {
    EXPECT_EQ(Main().ShowPage(page, 0), 0);
    Main().OnPaint();
    return m_window.Pixel(400, 300) & 0xFFFFFF;
  };
  auto table = [](int level) {
    uint8_t bgra[4];
    std::memcpy(bgra, &g_colorTable[level], 4);
    return static_cast<uint32_t>(bgra[2] << 16 | bgra[1] << 8 | bgra[0]);
  };
  Colorize(1);
  ASSERT_EQ(Open(m_tmp.path()), 0);
  // 128 stretches to 255 * 96 / 160 = 153; 100 to 255 * 68 / 160 = 108.
  EXPECT_EQ(centre(0), table(153));
  EXPECT_EQ(centre(1), table(108));
  EXPECT_EQ(centre(2), 0xC82828u);
  EXPECT_EQ(centre(3), 0x5A5A5Au);  // alpha formats keep their colours

  Colorize(0);
  ASSERT_EQ(Open(m_tmp.path()), 0);
  EXPECT_EQ(centre(0), 0x808080u);
  EXPECT_EQ(centre(1), 0x646464u);
}

// ---- the device ----

TEST_F(Window, ALostDeviceIsRebuiltWithThePageOnScreen) {
  MakePages({{20, 30}, {20, 30}});
  ASSERT_EQ(Open(m_tmp.path()), 0);
  CMainWindow& w = Main();
  // Held here, so that new objects cannot take their addresses.
  ID2D1Bitmap* before = w.firstPage();
  ID2D1Bitmap* title = w.pictures().title.get();
  before->AddRef();
  title->AddRef();
  const std::u16string shownTitle = Title();
  D2D1SimulateDeviceLoss();
  const int invalidations = m_window.invalidations;
  w.OnPaint();
  EXPECT_NE(w.firstPage(), nullptr);
  EXPECT_NE(w.firstPage(), before);
  EXPECT_NE(w.pictures().title.get(), title);
  EXPECT_EQ(Title(), shownTitle);
  w.OnPaint();  // the background tile was made again too
  EXPECT_NE(m_window.Pixel(5, 5) & 0xFFFFFF, 0u);
  EXPECT_GT(m_window.invalidations, invalidations);
  EXPECT_EQ(before->Release(), 0u) << "the old page must have been let go";
  EXPECT_EQ(title->Release(), 0u);

  // A page that no longer decodes gives the unknown picture.
  ::unlink((m_tmp / "0.png").c_str());
  ::unlink((m_tmp / "1.png").c_str());
  w.ForgetDecodedPages();
  D2D1SimulateDeviceLoss();
  w.OnPaint();
  EXPECT_EQ(w.firstPage(), w.pictures().unknown.get());
  EXPECT_EQ(Title(), kProduct);
}

TEST_F(Window, WithoutABookARebuildShowsTheTitle) {
  CMainWindow& w = Main();
  EXPECT_EQ(w.firstPage(), w.pictures().title.get());
  D2D1SimulateDeviceLoss();
  w.OnPaint();
  EXPECT_EQ(w.firstPage(), w.pictures().title.get());
  w.OnPaint();
  EXPECT_EQ(Title(), kProduct);
}

// ---- the resource pack ----

// ---- the page grid ----

// T puts every page in a grid at the page on screen; End and Enter open the
// last, Esc puts it away. The thumbnails are kept on disk, so that the grid
// of a book opened again fills without the workers; a new page's time makes
// its book's thumbnails new.
TEST_F(Window, ThePageGridOpensPagesAndKeepsThumbnailsOnDisk) {
  TempDir cache;
  ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1), 0);
  MakePages({{300, 450}, {300, 450}, {450, 300}, {300, 450}, {300, 450}, {30, 45}});
  ASSERT_EQ(Open(m_tmp.path()), 0);
  Main().GoToPage(2);
  Send(WM_KEYDOWN, 'T', 1);
  Send(WM_KEYDOWN, 'T', 0x40000001);  // held: no second toggle
  ASSERT_TRUE(Main().gridShown());
  EXPECT_EQ(Main().grid().selected(), 1);
  Main().FinishLoads();
  EXPECT_EQ(Main().pages().thumbnails().size(), 6u);
  Send(WM_PAINT, 0, 0);
  // A thumbnail drawn in its cell: the pages' gray inside the frame.
  EXPECT_EQ(qGray(m_window.Pixel(150, 200)), 200);
  Send(WM_KEYDOWN, VK_END, 1);
  Send(WM_KEYDOWN, VK_RETURN, 1);
  EXPECT_FALSE(Main().gridShown());
  EXPECT_FALSE(Main().fullScreen());
  EXPECT_EQ(Shown(), std::make_pair(5, -1));
  Send(WM_KEYDOWN, 'T', 1);
  Send(WM_KEYDOWN, VK_HOME, 1);
  Send(WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_FALSE(Main().gridShown());
  EXPECT_EQ(Shown(), std::make_pair(5, -1));
  // A click on the third cell of the first row opens its page.
  Send(WM_KEYDOWN, 'T', 1);
  Send(WM_LBUTTONDOWN, 0, MAKELPARAM(48 + 2 * 176 + 88, 150));
  Send(WM_LBUTTONUP, 0, MAKELPARAM(48 + 2 * 176 + 88, 150));
  EXPECT_FALSE(Main().gridShown());
  EXPECT_EQ(Shown(), std::make_pair(2, -1));

  // Opened again by a new window: at once from the disk.
  m_main.reset();
  ASSERT_EQ(Open(m_tmp.path()), 0);
  Send(WM_KEYDOWN, 'T', 1);
  EXPECT_EQ(Main().pages().thumbnails().size(), 6u);
  ::unsetenv("XDG_CACHE_HOME");
}

// In a solid archive the thumbnails come in the order of its one pass, a
// screenful at a time, until every page has one: the pass is never started
// again, wherever the grid opens.
TEST_F(Window, ThePageGridOfASolidArchiveFollowsItsPass) {
  TempDir cache;
  ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1), 0);
  m_tmp.MakeFolder("src");
  for (int i = 0; i < 30; ++i) SaveImage(m_tmp, "src/" + std::to_string(100 + i) + ".png", 60, 90, qRgb(9, 9, 9));
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "src") + "' && 7z a -ms=on ../book.7z . >/dev/null").c_str()), 0);
  ASSERT_EQ(Main().OpenFile(Utf8ToUtf16(m_tmp / "book.7z").c_str()), 0);
  auto* archive = dynamic_cast<C7zDirectory*>(Main().book().root.get());
  ASSERT_TRUE(archive != nullptr && archive->IsSolid());
  Send(WM_KEYDOWN, VK_END, 1);
  Send(WM_KEYDOWN, 'T', 1);
  // Each screenful taken in asks for the next, as the workers' messages do.
  for (int round = 0; round < 10 && Main().pages().thumbnails().size() < 30u; ++round) Main().FinishLoads();
  EXPECT_EQ(Main().pages().thumbnails().size(), 30u);
  EXPECT_EQ(archive->solidReader()->passesStarted(), 1u);
  ::unsetenv("XDG_CACHE_HOME");
}

class Resources : public Window {
 protected:
  // Packs the built res/ (less `leaveOut`, with the file `replaced` names
  // holding its bytes when given) as `format` into a folder that becomes
  // the program's.
  void Pack(const std::string& format, const std::string& leaveOut = "",
            const std::pair<std::string, std::string>& replaced = {}) {
    ASSERT_EQ(std::system(("rm -rf '" + (m_tmp / "prog") + "'").c_str()), 0);
    m_tmp.MakeFolder("prog");
    m_tmp.MakeFolder("prog/res");
    for (const char* name : {"back.png", "title.png", "unknown.png", "error.png", "4color4_v0.1.7.amp"}) {
      if (leaveOut == name) continue;
      const std::string from = std::string(VELMORA_SOURCE_DIR) + "/res/" + name;
      ASSERT_EQ(std::system(("cp '" + from + "' '" + (m_tmp / "prog/res/") + "'").c_str()), 0);
    }
    if (!replaced.first.empty()) m_tmp.WriteFile("prog/res/" + replaced.first, replaced.second);
    ASSERT_EQ(std::system(("cd '" + (m_tmp / "prog") + "' && 7z a -t" + format + " res.pack res >/dev/null").c_str()), 0);
    g_moduleDir = Utf8ToUtf16(m_tmp / "prog/");
  }
  int32_t CreateWindow(bool titleAtStart = true) {
    m_main = std::make_unique<CMainWindow>(&m_window);
    m_main->ShowTitleAtStart(titleAtStart);
    return m_main->SetUp();
  }
};

TEST_F(Resources, ZipAndSevenZipPacksBothLoad) {
  Pack("zip");
  EXPECT_EQ(CreateWindow(), 0);
  EXPECT_NE(m_main->pictures().error.get(), nullptr);
  Pack("7z");
  EXPECT_EQ(CreateWindow(), 0);
}

TEST_F(Resources, AMissingPictureOrAShortPaletteStopsStartUp) {
  Pack("zip", "error.png");
  EXPECT_EQ(CreateWindow(), 2);
  Pack("zip", "", {"4color4_v0.1.7.amp", std::string(767, '\x10')});
  EXPECT_EQ(CreateWindow(), 2);
}

// A window that opens a book at once leaves the title undecoded, so that a
// title that does not decode stops only the start that shows it; the title
// is made when first shown.
TEST_F(Resources, TheTitleIsDecodedWhenFirstShown) {
  const struct {
    std::string title;  // the pack's title.png; empty: the built one
    bool atStart;
    int32_t created;
    bool made;
  } cases[] = {{"", true, 0, true}, {"", false, 0, false}, {"not a PNG", true, 2, false}, {"not a PNG", false, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title + (c.atStart ? " at start" : " later"));
    Pack("zip", "", {c.title.empty() ? "" : "title.png", c.title});
    ASSERT_EQ(CreateWindow(c.atStart), c.created);
    EXPECT_EQ(m_main->pictures().title.get() != nullptr, c.made);
    if (c.created != 0) continue;
    EXPECT_EQ(m_main->firstPage(), m_main->pictures().title.get());
    // Shown by a rebuild without a book: made now, if it decodes.
    D2D1SimulateDeviceLoss();
    m_main->OnPaint();
    EXPECT_EQ(m_main->pictures().title.get() != nullptr, c.title.empty());
    EXPECT_EQ(m_main->firstPage(), m_main->pictures().title.get());
  }
}

TEST_F(Resources, ALongerPaletteUsesItsFirst768Bytes) {
  std::string palette(1024, '\0');
  palette[7] = 70;          // red of level 7
  palette[512 + 7] = 90;    // blue of level 7
  palette[800] = '\x7F';    // past the three planes: ignored
  Pack("zip", "", {"4color4_v0.1.7.amp", palette});
  ASSERT_EQ(CreateWindow(), 0);
  uint8_t bgra[4];
  std::memcpy(bgra, &g_colorTable[7], 4);
  EXPECT_EQ(bgra[0], 90);
  EXPECT_EQ(bgra[2], 70);
  EXPECT_EQ(bgra[3], 255);
}

TEST_F(Resources, NoPackNoWindow) {
  g_moduleDir = Utf8ToUtf16(m_tmp.path() + "/");
  EXPECT_EQ(CreateWindow(), 2);
}

}  // namespace

namespace {

// ---- opening files and archives ----

class Files : public Window {
 protected:
  void Zip(const std::string& archive, const std::string& files, const std::string& type = "zip") {
    ASSERT_EQ(std::system(("cd '" + m_tmp.path() + "' && 7z a -t" + type + " '" + archive + "' " + files +
                           " >/dev/null")
                              .c_str()),
              0);
  }
  int32_t OpenFile(const std::string& path) { return Main().OpenFile(Utf8ToUtf16(path).c_str()); }
};

TEST_F(Files, AnImageOpensItsFolderAtThatImage) {
  // Colour pages: each decode writes one colour-check line.
  Colorize(1);
  for (int i = 0; i < 3; ++i) SaveImage(m_tmp, std::to_string(i) + ".png", 20, 30, qRgb(200, 40, 40));
  Main();
  m_debug.clear();
  ASSERT_EQ(OpenFile(m_tmp / "1.png"), 0);
  EXPECT_EQ(Shown().first, 1);
  EXPECT_EQ(Main().book().kind, BookKind::Folder);
  EXPECT_FALSE(Main().book().InSeries());
  auto count = [&](const std::u16string& text) {
    std::size_t n = 0;
    for (std::size_t at = m_debug.find(text); at != std::u16string::npos; at = m_debug.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(u"Open Directory"), 1u);
  // Decoded once: the test of the file is the page its folder shows.
  EXPECT_EQ(count(u"Color Image"), 1u) << Utf16ToUtf8(m_debug);
  EXPECT_LT(m_debug.find(u"Color Image"), m_debug.find(u"Open Directory"));

  // A JPEG named .zip is an image; a Zip named .jpg is an archive.
  SaveImage(m_tmp, "photo.zip", 30, 20, qRgb(5, 5, 5), QImage::Format_RGB32, "JPEG");
  ASSERT_EQ(OpenFile(m_tmp / "photo.zip"), 0);
  EXPECT_EQ(Main().book().pages[static_cast<std::size_t>(Shown().first)].name, u"photo.zip");
  Zip("pack.jpg", "0.png 1.png");
  m_debug.clear();
  ASSERT_EQ(OpenFile(m_tmp / "pack.jpg"), 0);
  EXPECT_EQ(Main().book().kind, BookKind::Archive);
  EXPECT_TRUE(Main().book().InSeries());
  EXPECT_EQ(Main().book().displayName, u"pack.jpg");
  EXPECT_EQ(m_debug.find(u"Open File\r\n  Type : Archive\r\n  Drive : /\r\n  Path  : " + Utf8ToUtf16(m_tmp / "pack.jpg") +
                         u"\r\n  Files : 2\r\n"),
            0u)
      << Utf16ToUtf8(m_debug);
  EXPECT_EQ(Main().book().archiveFolder.folder, Utf8ToUtf16(m_tmp.path() + "/"));
  EXPECT_EQ(Main().book().archiveFolder.entries[static_cast<std::size_t>(Main().book().archiveFolder.current)].name,
            u"pack.jpg");
}

TEST_F(Files, FailuresShowTheirPictures) {
  m_tmp.WriteFile("notes.txt", "neither an image nor an archive");
  {
    // A valid 7z archive with no items: the signature header and nothing else.
    std::string tail(20, '\0');
    std::string header("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    test::PutLE(header, test::Crc32(tail), 4);
    m_tmp.WriteFile("empty.7z", header + tail);
  }
  Main();
  m_debug.clear();
  EXPECT_EQ(OpenFile(m_tmp / "notes.txt"), 1);
  EXPECT_EQ(m_debug, u"Error Open File\r\n");
  EXPECT_EQ(Main().firstPage(), Main().pictures().unknown.get());
  EXPECT_EQ(OpenFile(m_tmp / "missing.zip"), 1);
  EXPECT_EQ(Main().firstPage(), Main().pictures().error.get());
  EXPECT_TRUE(Main().book().pages.empty());
  EXPECT_EQ(Title(), kProduct);
  m_debug.clear();
  EXPECT_EQ(OpenFile(m_tmp / "empty.7z"), 1);  // opens, but an empty table lists nothing
  EXPECT_EQ(m_debug, u"Error Open File\r\n");
  EXPECT_EQ(Main().firstPage(), Main().pictures().error.get());
  EXPECT_EQ(OpenFile("relative.zip"), 1);
  EXPECT_FALSE(Main().book().InSeries());
}

TEST_F(Files, NextArchiveSkipsWhatIsNoArchive) {
  MakePages({{20, 30}});
  Zip("a.zip", "0.png");
  m_tmp.WriteFile("b.txt", "text");
  Zip("c.zip", "0.png");
  const std::string xdg = m_tmp / "data";
  ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  ASSERT_EQ(OpenFile(m_tmp / "a.zip"), 0);
  m_debug.clear();
  ASSERT_EQ(Main().OpenNextArchive(), 0);
  EXPECT_EQ(Main().book().displayName, u"c.zip");
  EXPECT_EQ(Main().book().source, Utf8ToUtf16(m_tmp / "c.zip"));
  EXPECT_EQ(m_debug.find(u"Open File\r\n  Type : Archive\r\n  Next  : c.zip\r\n  Files : 1\r\n"), 0u);
  // Registered with the recent documents.
  std::ifstream recent(xdg + "/recently-used.xbel");
  const std::string xbel((std::istreambuf_iterator<char>(recent)), std::istreambuf_iterator<char>());
  EXPECT_NE(xbel.find("c.zip"), std::string::npos);
  ::unsetenv("XDG_DATA_HOME");

  // From the last one: nothing tried, the book and picture stay.
  ID2D1Bitmap* shown = Main().firstPage();
  m_debug.clear();
  EXPECT_EQ(Main().OpenNextArchive(), 1);
  EXPECT_EQ(m_debug, u"Not Found Archive File\r\n");
  EXPECT_FALSE(Main().book().CanStepToArchive(+1));
  EXPECT_TRUE(Main().book().CanStepToArchive(-1)) << "only the way that found nothing is given up";
  EXPECT_EQ(Main().book().pages.size(), 1u);
  EXPECT_EQ(Main().firstPage(), shown);
  EXPECT_EQ(Main().OpenNextArchive(), 1);  // the flag is down now
}

TEST_F(Files, NextArchiveStopsAtASubfolderAndKeepsTheBook) {
  MakePages({{20, 30}, {20, 30}, {20, 30}});
  Zip("a.zip", "0.png 1.png 2.png");
  m_tmp.MakeFolder("b");
  Zip("c.zip", "0.png");
  m_tmp.WriteFile("d.txt", "after the volumes");
  ASSERT_EQ(OpenFile(m_tmp / "a.zip"), 0);
  ASSERT_EQ(Main().ShowPage(Main().book().current, 1), 0);
  const std::u16string title = Title();
  ID2D1Bitmap* shown = Main().firstPage();
  m_debug.clear();
  const int invalidations = m_window.invalidations;
  EXPECT_EQ(Main().OpenNextArchive(), 1);
  EXPECT_EQ(m_debug, u"Not Found Archive File\r\n");
  EXPECT_EQ(m_beeps, 1);
  EXPECT_FALSE(Main().book().CanStepToArchive(+1)) << "the way forward through the folder is given up";
  EXPECT_EQ(m_window.invalidations, invalidations);
  // A candidate was tried, yet the book, its page and its state stay: the
  // keys go on turning it.
  EXPECT_EQ(Main().book().pages.size(), 3u);
  EXPECT_EQ(Main().book().current, 1);
  EXPECT_EQ(Main().firstPage(), shown);
  EXPECT_EQ(Title(), title);
  ASSERT_EQ(Main().ShowPage(Main().book().current, 1), 0);
  EXPECT_EQ(Shown(), std::make_pair(2, -1));
}

}  // namespace
