// The main window's messages: the dispatch driven with messages on a
// window without a display, and the translation from Qt's events on a
// real widget under the offscreen platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QImage>
#include <QtGui/QWheelEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"
#include "viewer/shell/StartUp.h"

using test::TempDir;

extern int32_t g_touchGesture;

namespace {

void SavePage(const TempDir& dir, const std::string& name, int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(qRgb(180, 180, 180));
  ASSERT_TRUE(image.save(QString::fromStdString(dir / name)));
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_touchGesture = 0;
    g_moduleDir = GetModuleDirectory();
    SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<Messages*>(c)->m_debug += t; }, this);
    SetBeepSink([](UINT, void*) {}, nullptr);
    m_main = std::make_unique<CMainWindow>(&m_window);
    ASSERT_EQ(m_main->SetUp(), 0);
    Send(WM_CREATE, 0, 0);  // reads whatever profile lies next to the tests: settings come after
    g_pageMode = PageModeSingle;
    g_mono2Color = 0;
  }
  void TearDown() override {
    m_main.reset();
    SetDebugOutputSink(nullptr, nullptr);
    SetBeepSink(nullptr, nullptr);
  }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam, bool* handled = nullptr) {
    LRESULT result = 0;
    const bool done = m_main->ProcessWindowMessage(&m_window, message, wParam, lParam, result, 0);
    if (handled != nullptr) *handled = done;
    return result;
  }
  void OpenPages(int count, int w = 20, int h = 30) {
    for (int i = 0; i < count; ++i) SavePage(m_tmp, std::to_string(i) + ".png", w, h);
    ASSERT_EQ(m_main->OpenDirectory(Utf8ToUtf16(m_tmp.path()).c_str(), nullptr), 0);
  }
  int32_t Current() const { return m_main->m_book.current; }
  LRESULT Touch(std::initializer_list<TOUCHINPUT> records) {
    const std::vector<TOUCHINPUT> list(records);
    return Send(WM_TOUCH, list.size(), reinterpret_cast<LPARAM>(MakeTouchInput(list.data(), static_cast<UINT>(list.size()))));
  }
  static TOUCHINPUT Point(int x, int y, DWORD flags, DWORD id = 1) {
    return TOUCHINPUT{x * 100, y * 100, nullptr, id, flags, 0, 0, 0, 0, 0};
  }

  TempDir m_tmp;
  COffscreenWindow m_window{800, 600};
  std::unique_ptr<CMainWindow> m_main;
  std::u16string m_debug;
};

TEST_F(Messages, WithoutABookOnlyTheLoupeReacts) {
  const int before = m_window.invalidations;
  for (WPARAM key : {VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN}) Send(WM_KEYDOWN, key, 1);
  Send(WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint16_t>(-120)) << 16, 0);
  Touch({Point(400, 590, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(400, 590, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(m_window.invalidations, before) << "no repaint without pages";
  Send(WM_KEYDOWN, 'L', 1);
  EXPECT_TRUE(m_main->m_loupe);
  EXPECT_EQ(m_window.invalidations, before + 1);
  Send(WM_MBUTTONDOWN, 0, MAKELPARAM(10, 20));
  EXPECT_FALSE(m_main->m_loupe);
  Send(WM_MBUTTONDOWN, 0, MAKELPARAM(-5, 300));  // signed words
  EXPECT_TRUE(m_main->m_loupe);
  EXPECT_EQ(m_main->m_mouseX, -5);
  EXPECT_EQ(m_main->m_mouseY, 300);
}

TEST_F(Messages, ArrowsFollowTheBindingOfTheMode) {
  OpenPages(6);
  Send(WM_KEYDOWN, VK_LEFT, 1);  // single page: left is forward
  EXPECT_EQ(Current(), 1);
  Send(WM_KEYDOWN, VK_RIGHT, 1);
  EXPECT_EQ(Current(), 0);
  Send(WM_KEYDOWN, VK_DOWN, 1);  // +2 is one page here
  EXPECT_EQ(Current(), 1);
  g_pageMode = PageModeSpreadLeft;
  m_main->ShowPage(2, 0);
  Send(WM_KEYDOWN, VK_LEFT, 1);  // left-opening: left goes back one page
  EXPECT_EQ(Current(), 1);
  Send(WM_KEYDOWN, VK_UP, 1);
  EXPECT_EQ(Current(), 0);
}

TEST_F(Messages, EachWheelMessageMovesOnce) {
  OpenPages(8);
  g_pageMode = PageModeSpreadRight;
  m_main->ShowPage(4, 0);
  ASSERT_EQ(Current(), 4);
  Send(WM_MOUSEWHEEL, static_cast<WPARAM>(120) << 16, 0);
  EXPECT_EQ(Current(), 2);
  Send(WM_MOUSEWHEEL, static_cast<WPARAM>(960) << 16, 0);
  EXPECT_EQ(Current(), 0);
  Send(WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint16_t>(-120)) << 16, 0);
  EXPECT_EQ(Current(), 2);
  Send(WM_MOUSEWHEEL, 0, 0);
  EXPECT_EQ(Current(), 2);
}

TEST_F(Messages, TheIdleCursorHidesOverTheClientAreaOnly) {
  bool handled = false;
  Send(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), &handled);
  EXPECT_FALSE(handled);
  for (int tick = 0; tick < 9; ++tick) Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->m_cursorTicks, 1);
  Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->m_cursorTicks, 0);
  EXPECT_EQ(Send(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), &handled), TRUE);
  EXPECT_TRUE(handled);
  // Moving again: the next tick brings the count back.
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->m_cursorTicks, 10);
  // Over the frame (not the client area) it never counts down.
  Send(WM_SETCURSOR, 0, MAKELPARAM(HTNOWHERE, WM_MOUSEMOVE));
  for (int tick = 0; tick < 20; ++tick) Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->m_cursorTicks, 10);
  // The loupe hides it at once, and every move repaints.
  Send(WM_KEYDOWN, 'L', 1);
  Send(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), &handled);
  EXPECT_TRUE(handled);
  const int before = m_window.invalidations;
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
  EXPECT_EQ(m_window.invalidations, before + 1);
}

TEST_F(Messages, DropsOpenTheFirstPathOnly) {
  SavePage(m_tmp, "a.png", 20, 30);
  m_tmp.MakeFolder("sub");
  SavePage(m_tmp, "sub/b.png", 20, 30);
  const std::u16string paths[] = {Utf8ToUtf16(m_tmp / "sub"), Utf8ToUtf16(m_tmp / "a.png")};
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths, 2)), 0);
  ASSERT_EQ(m_main->m_book.pages.size(), 1u);
  EXPECT_EQ(m_main->m_book.pages[0].name, u"b.png");
  // A path whose attributes cannot be read goes to the folder opening.
  const std::u16string gone = Utf8ToUtf16(m_tmp / "gone");
  m_debug.clear();
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(&gone, 1)), 0);
  EXPECT_EQ(m_debug, u"Error Open Directory\r\n");
}

TEST_F(Messages, TapsTurnPagesByRegion) {
  OpenPages(8);
  g_pageMode = PageModeSpreadRight;
  m_main->ShowPage(4, 0);
  m_debug.clear();
  // Bottom band: +2.
  Touch({Point(400, 580, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY | TOUCHEVENTF_INRANGE)});
  EXPECT_EQ(g_touchGesture, 1);
  Touch({Point(410, 590, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 6);
  EXPECT_EQ(g_touchGesture, 0);
  // The page moves first, then the message is logged.
  EXPECT_EQ(m_debug.substr(0, m_debug.find(u"Show Image")),
            u"OnToouch\r\n  0: ID=1 (x,y)=(400,580)  DOWN INRANGE PRIMARY\r\n");
  EXPECT_LT(m_debug.find(u"Show Image"), m_debug.rfind(u"OnToouch"));
  // Down in the band, up in the centre: nothing, state cleared.
  Touch({Point(400, 580, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(400, 300, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 6);
  EXPECT_EQ(g_touchGesture, 0);
  // Mode 1: the right edge goes back, the left edge forward.
  Touch({Point(790, 100, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(790, 100, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 5);
  Touch({Point(10, 100, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(10, 100, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 6);
  // The centre never moves; a second finger only appears in the log.
  Touch({Point(400, 300, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY), Point(10, 100, TOUCHEVENTF_DOWN, 2)});
  EXPECT_EQ(g_touchGesture, 5);
  m_debug.clear();
  Touch({Point(400, 300, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY), Point(10, 100, TOUCHEVENTF_UP, 2)});
  EXPECT_EQ(Current(), 6);
  EXPECT_EQ(m_debug, u"OnToouch\r\n  0: ID=1 (x,y)=(400,300)  UP PRIMARY\r\n  1: ID=2 (x,y)=(10,100)  UP\r\n");
  // Failed touch information goes to the default processing: no log, no state.
  g_touchGesture = 3;
  m_debug.clear();
  Touch({});
  EXPECT_EQ(m_debug, u"");
  EXPECT_EQ(g_touchGesture, 3);
}

// ---- start-up ----

TEST(StartUp, TheFirstArgumentOfFiveCharactersOrMoreIsTheStartPath) {
  char program[] = "velmora";
  char shortPath[] = "a.jp";
  char fivePath[] = "a.jpg";
  char absolute[] = "/books/My Comic Vol 1";
  char second[] = "/ignored";
  auto path = [&](std::vector<char*> args) { return StartPath(static_cast<int>(args.size()), args.data()); };
  EXPECT_EQ(path({program}), u"");
  EXPECT_EQ(path({program, shortPath}), u"");
  // Spaces stay: the shell has already split and unquoted the arguments.
  EXPECT_EQ(path({program, absolute, second}), u"/books/My Comic Vol 1");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(path({program, fivePath}), Utf8ToUtf16(std::string(cwd) + "/a.jpg"));
}

TEST(StartUp, WithoutDigitizersTheReportSaysSo) {
  static int argc = 1;
  static char name[] = "shell_tests";
  static char* argv[] = {name, nullptr};
  InitApplication(argc, argv);
  std::u16string report;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &report);
  WriteDigitizerReport();
  SetDebugOutputSink(nullptr, nullptr);
  EXPECT_EQ(report, u"  \u5165\u529b\u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\r\n"
                    u"    \u5165\u529b\u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u306b\u30bf\u30c3\u30c1"
                    u"\u6a5f\u80fd\u304c\u3042\u308a\u307e\u305b\u3093\u3002\r\n");
}

// ---- the real widget ----

class Widget : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "shell_tests";
    static char* argv[] = {name, nullptr};
    InitApplication(argc, argv);
  }
  void SetUp() override {
    g_moduleDir = GetModuleDirectory();
    SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
    SetBeepSink([](UINT, void*) {}, nullptr);
    m_main = std::make_unique<CMainWindow>();
    m_hwnd = m_main->Create(kProductTitle, 800, 600);
    ASSERT_NE(m_hwnd, nullptr);
    g_pageMode = PageModeSingle;
    g_mono2Color = 0;
    ShowWindow(m_hwnd, SW_SHOW);
    m_widget = dynamic_cast<QWidget*>(m_hwnd);
    ASSERT_NE(m_widget, nullptr);
    for (int i = 0; i < 8; ++i) SavePage(m_tmp, std::to_string(i) + ".png", 20, 30);
    ASSERT_EQ(m_main->OpenDirectory(Utf8ToUtf16(m_tmp.path()).c_str(), nullptr), 0);
  }
  void TearDown() override {
    m_main.reset();
    SetDebugOutputSink(nullptr, nullptr);
    SetBeepSink(nullptr, nullptr);
  }
  void Wheel(int delta) {
    QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_widget, &event);
  }
  int32_t Current() const { return m_main->m_book.current; }

  TempDir m_tmp;
  std::unique_ptr<CMainWindow> m_main;
  HWND m_hwnd = nullptr;
  QWidget* m_widget = nullptr;
};

TEST_F(Widget, KeysBecomeVirtualKeyMessages) {
  QTest::keyClick(m_widget, Qt::Key_Left);
  EXPECT_EQ(Current(), 1);
  QTest::keyClick(m_widget, Qt::Key_Down);
  EXPECT_EQ(Current(), 2);
  QTest::keyClick(m_widget, Qt::Key_L);
  EXPECT_TRUE(m_main->m_loupe);
}

TEST_F(Widget, OneWheelMessagePerWholeNotch) {
  Wheel(-120);
  EXPECT_EQ(Current(), 1);
  Wheel(-960);  // eight notches in one event: eight moves
  EXPECT_EQ(Current(), 7);
  // A touchpad's small deltas add up to one notch.
  for (int i = 0; i < 3; ++i) Wheel(30);
  EXPECT_EQ(Current(), 7);
  Wheel(30);
  EXPECT_EQ(Current(), 6);
}

TEST_F(Widget, DroppedFilesArriveAsADropHandle) {
  TempDir other;
  SavePage(other, "x.png", 20, 30);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(other.path())), QUrl::fromLocalFile(QString::fromStdString(m_tmp / "0.png")),
                QUrl(QStringLiteral("https://example.invalid/page.png"))});
  EXPECT_TRUE(m_widget->acceptDrops());
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(m_widget, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(m_widget, &drop);
  ASSERT_EQ(m_main->m_book.pages.size(), 1u);
  EXPECT_EQ(m_main->m_book.pages[0].name, u"x.png");
}

TEST_F(Widget, TouchSequencesBecomeTouchRecords) {
  RegisterTouchWindow(m_hwnd, 0);
  static QPointingDevice* screen = QTest::createTouchDevice();
  std::u16string log;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &log);
  // A tap in the bottom band: one step of +2 (one page in single mode).
  const QPoint bottom(400, 580);
  QTest::touchEvent(m_widget, screen).press(0, bottom, m_widget);
  QTest::touchEvent(m_widget, screen).release(0, bottom, m_widget);
  SetDebugOutputSink(nullptr, nullptr);
  EXPECT_EQ(Current(), 1);
  EXPECT_NE(log.find(u"OnToouch\r\n  0: ID="), std::u16string::npos) << Utf16ToUtf8(log);
  EXPECT_NE(log.find(u" DOWN INRANGE PRIMARY\r\n"), std::u16string::npos);
  EXPECT_NE(log.find(u" UP PRIMARY\r\n"), std::u16string::npos);
}

TEST_F(Widget, CloseDestroysTheWindow) {
  // The close box goes through WM_CLOSE to the default processing, which
  // destroys the window: hidden, its idle timer gone.
  m_widget->close();
  EXPECT_FALSE(m_widget->isVisible());
  EXPECT_FALSE(KillTimer(m_hwnd, IdleTimerId));
}

TEST_F(Widget, FullScreenAndBack) {
  m_widget->setGeometry(100, 120, 640, 480);
  const QRect before = m_widget->geometry();
  m_main->ToggleFullScreen();
  EXPECT_TRUE(m_widget->isFullScreen());
  EXPECT_EQ(GetWindowLongPtrW(m_hwnd, GWL_STYLE), WS_POPUP);
  QTest::keyClick(m_widget, Qt::Key_Return);
  EXPECT_FALSE(m_widget->isFullScreen());
  EXPECT_EQ(m_widget->geometry(), before);

  m_widget->showMaximized();
  m_main->ToggleFullScreen();
  EXPECT_EQ(m_main->m_wasMaximized, 1);
  m_main->ToggleFullScreen();
  EXPECT_TRUE(m_widget->isMaximized());
}

}  // namespace
