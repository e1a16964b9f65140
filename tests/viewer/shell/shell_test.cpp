// The main window's messages: the dispatch driven with messages on a
// window without a display, and the translation from Qt's events on a
// real widget under the offscreen platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <tuple>

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QImage>
#include <QtGui/QWheelEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/shobjidl.h"
#include "platform/system.h"
#include "platform/text.h"
#include "viewer/shell/Catalogues.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/AboutDialog.h"
#include "viewer/shell/Profile.h"
#include "viewer/shell/Settings.h"
#include "viewer/shell/StartUp.h"

using test::TempDir;

namespace {

void SavePage(const TempDir& dir, const std::string& name, int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(qRgb(180, 180, 180));
  ASSERT_TRUE(image.save(QString::fromStdString(dir / name)));
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_moduleDir = GetModuleDirectory();
    SetUserSettingsFile(Utf8ToUtf16(m_settingsDir / "velmora.conf"));
    SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<Messages*>(c)->m_debug += t; }, this);
    SetBeepSink([](UINT, void*) {}, nullptr);
    m_main = std::make_unique<CMainWindow>(&m_window);
    ASSERT_EQ(m_main->SetUp(), 0);
    Send(WM_CREATE, 0, 0);  // reads whatever profile lies next to the tests: settings come after
    Settings() = ViewSettings{PageMode::Single, 0};
  }
  ViewSettings& Settings() { return m_main->profile().settings; }
  CHistory& History() { return m_main->profile().history; }
  void TearDown() override {
    m_main.reset();
    SetDebugOutputSink(nullptr, nullptr);
    SetBeepSink(nullptr, nullptr);
    SetUserSettingsFile(u"");
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
  int32_t Current() const { return m_main->book().current; }
  LRESULT Touch(std::initializer_list<TOUCHINPUT> records) {
    const std::vector<TOUCHINPUT> list(records);
    return Send(WM_TOUCH, list.size(), reinterpret_cast<LPARAM>(MakeTouchInput(list.data(), static_cast<UINT>(list.size()))));
  }
  static TOUCHINPUT Point(int x, int y, DWORD flags, DWORD id = 1) {
    return TOUCHINPUT{x * 100, y * 100, nullptr, id, flags, 0, 0, 0, 0, 0};
  }

  TempDir m_settingsDir;  // the per-user settings, apart from the pages
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
  EXPECT_TRUE(m_main->loupe().on);
  EXPECT_EQ(m_window.invalidations, before + 1);
  Send(WM_MBUTTONDOWN, 0, MAKELPARAM(10, 20));
  EXPECT_FALSE(m_main->loupe().on);
  Send(WM_MBUTTONDOWN, 0, MAKELPARAM(-5, 300));  // signed words
  EXPECT_TRUE(m_main->loupe().on);
  EXPECT_EQ(m_main->loupe().x, -5);
  EXPECT_EQ(m_main->loupe().y, 300);
}

TEST_F(Messages, ArrowsFollowTheBindingOfTheMode) {
  OpenPages(6);
  Send(WM_KEYDOWN, VK_LEFT, 1);  // single page: left is forward
  EXPECT_EQ(Current(), 1);
  Send(WM_KEYDOWN, VK_RIGHT, 1);
  EXPECT_EQ(Current(), 0);
  Send(WM_KEYDOWN, VK_DOWN, 1);  // +2 is one page here
  EXPECT_EQ(Current(), 1);
  Settings().pageMode = PageMode::SpreadLeft;
  m_main->ShowPage(2, 0);
  Send(WM_KEYDOWN, VK_LEFT, 1);  // left-opening: left goes back one page
  EXPECT_EQ(Current(), 1);
  Send(WM_KEYDOWN, VK_UP, 1);
  EXPECT_EQ(Current(), 0);
}

TEST_F(Messages, EachWheelMessageMovesOnce) {
  OpenPages(8);
  Settings().pageMode = PageMode::SpreadRight;
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
  EXPECT_EQ(m_main->cursorTicks(), 1);
  Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->cursorTicks(), 0);
  EXPECT_EQ(Send(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE), &handled), TRUE);
  EXPECT_TRUE(handled);
  // Moving again: the next tick brings the count back.
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->cursorTicks(), 10);
  // Over the frame (not the client area) it never counts down.
  Send(WM_SETCURSOR, 0, MAKELPARAM(HTNOWHERE, WM_MOUSEMOVE));
  for (int tick = 0; tick < 20; ++tick) Send(WM_TIMER, IdleTimerId, 0);
  EXPECT_EQ(m_main->cursorTicks(), 10);
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
  ASSERT_EQ(m_main->book().pages.size(), 1u);
  EXPECT_EQ(m_main->book().pages[0].name, u"b.png");
  // A path whose attributes cannot be read is nothing there: the file
  // open reports it (it used to be taken for a folder).
  const std::u16string gone = Utf8ToUtf16(m_tmp / "gone");
  m_debug.clear();
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(&gone, 1)), 0);
  EXPECT_EQ(m_debug, u"Error Open File\r\n");
  EXPECT_EQ(m_main->firstPage(), m_main->pictures().error.get());

  // A path of more than 259 units opens whole.
  std::string deep = m_tmp.path();
  while (deep.size() < 300) {
    deep += "/a-rather-long-folder-name";
    m_tmp.MakeFolder(deep.substr(m_tmp.path().size() + 1));
  }
  SavePage(m_tmp, deep.substr(m_tmp.path().size() + 1) + "/deep.png", 20, 30);
  const std::u16string longPath = Utf8ToUtf16(deep);
  ASSERT_GT(longPath.size(), 259u);
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(&longPath, 1)), 0);
  ASSERT_EQ(m_main->book().pages.size(), 1u);
  EXPECT_EQ(m_main->book().pages[0].name, u"deep.png");
}

// A web address dropped goes to the opener, the book staying; without an
// opener it is ignored.
TEST_F(Messages, DroppedAddressesGoToTheOpener) {
  SavePage(m_tmp, "a.png", 20, 30);
  ASSERT_EQ(m_main->OpenFile(Utf8ToUtf16(m_tmp / "a.png").c_str()), 0);
  const std::u16string addresses[] = {u"https://k.example/opds", u"http://k.example:8080/book.cbz"};
  for (const bool opener : {false, true}) {
    std::vector<std::u16string> opened;
    if (opener) m_main->SetAddressOpener([&opened](const std::u16string& address) { opened.push_back(address); });
    for (const std::u16string& address : addresses)
      Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(&address, 1)), 0);
    EXPECT_EQ(opened, opener ? std::vector<std::u16string>(std::begin(addresses), std::end(addresses))
                             : std::vector<std::u16string>());
    EXPECT_EQ(m_main->book().pages.size(), 1u);
    EXPECT_NE(m_main->firstPage(), m_main->pictures().error.get());
  }
}

TEST_F(Messages, TapsTurnPagesByRegion) {
  OpenPages(8);
  Settings().pageMode = PageMode::SpreadRight;
  m_main->ShowPage(4, 0);
  m_debug.clear();
  // Bottom band: +2.
  Touch({Point(400, 580, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY | TOUCHEVENTF_INRANGE)});
  EXPECT_EQ(m_main->touchGesture(), 1);
  Touch({Point(410, 590, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 6);
  EXPECT_EQ(m_main->touchGesture(), 0);
  // The page moves first, then the message is logged.
  EXPECT_EQ(m_debug.substr(0, m_debug.find(u"Show Image")),
            u"OnToouch\r\n  0: ID=1 (x,y)=(400,580)  DOWN INRANGE PRIMARY\r\n");
  EXPECT_LT(m_debug.find(u"Show Image"), m_debug.rfind(u"OnToouch"));
  // Down in the band, up in the centre: nothing, state cleared.
  Touch({Point(400, 580, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(400, 300, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 6);
  EXPECT_EQ(m_main->touchGesture(), 0);
  // Mode 1: the right edge goes back, the left edge forward.
  Touch({Point(790, 100, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(790, 100, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 5);
  Touch({Point(10, 100, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  Touch({Point(10, 100, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY)});
  EXPECT_EQ(Current(), 6);
  // The centre never moves; a second finger only appears in the log.
  Touch({Point(400, 300, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY), Point(10, 100, TOUCHEVENTF_DOWN, 2)});
  EXPECT_EQ(m_main->touchGesture(), 5);
  m_debug.clear();
  Touch({Point(400, 300, TOUCHEVENTF_UP | TOUCHEVENTF_PRIMARY), Point(10, 100, TOUCHEVENTF_UP, 2)});
  EXPECT_EQ(Current(), 6);
  EXPECT_EQ(m_debug, u"OnToouch\r\n  0: ID=1 (x,y)=(400,300)  UP PRIMARY\r\n  1: ID=2 (x,y)=(10,100)  UP\r\n");
  // Failed touch information goes to the default processing: no log, no state.
  Touch({Point(10, 100, TOUCHEVENTF_DOWN | TOUCHEVENTF_PRIMARY)});
  ASSERT_EQ(m_main->touchGesture(), 3);
  m_debug.clear();
  Touch({});
  EXPECT_EQ(m_debug, u"");
  EXPECT_EQ(m_main->touchGesture(), 3);
}

// ---- the context menu and its commands ----

struct MenuItemSeen {
  std::u16string text;
  UINT id;
  UINT state;
  bool operator==(const MenuItemSeen&) const = default;
};
using MenuSeen = std::vector<MenuItemSeen>;

MenuSeen Items(HMENU menu) {
  MenuSeen items;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    char16_t text[1024] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 1024, MF_BYPOSITION);
    items.push_back({text, GetMenuItemID(menu, i), GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION)});
  }
  return items;
}

class Menu : public Messages {
 protected:
  void SetUp() override {
    Messages::SetUp();
    SetMenuTrackHook(
        [](HMENU menu, int x, int y, void* context) -> UINT {
          auto* self = static_cast<Menu*>(context);
          self->m_popup = Items(menu);
          self->m_history = Items(GetSubMenu(menu, kHistoryPosition));
          self->m_show = Items(GetSubMenu(menu, 8));
          self->m_view = Items(GetSubMenu(menu, 9));
          self->m_help = Items(GetSubMenu(menu, 12));
          self->m_at = POINT{x, y};
          return self->m_choose;
        },
        this);
  }
  void TearDown() override {
    SetMenuTrackHook(nullptr, nullptr);
    Messages::TearDown();
  }
  void Open() { Send(WM_RBUTTONUP, 0, MAKELPARAM(10, 10)); }
  static bool Checked(const MenuSeen& items, UINT id) {
    for (const MenuItemSeen& item : items)
      if (item.id == id) return (item.state & MF_CHECKED) != 0;
    return false;
  }

  MenuSeen m_popup, m_history, m_show, m_view, m_help;
  POINT m_at{};
  UINT m_choose = 0;
};

// Texts of a menu, apart from its ids and states.
std::vector<std::u16string> Texts(const MenuSeen& items) {
  std::vector<std::u16string> texts;
  for (const MenuItemSeen& item : items) texts.push_back(item.text);
  return texts;
}
MenuSeen WithoutTexts(MenuSeen items) {
  for (MenuItemSeen& item : items) item.text.clear();
  return items;
}

// The same menu in Japanese (the texts as the program writes them) and in
// English: the same items, ids and check marks; only the words differ.
TEST_F(Menu, TheMenusInJapaneseAndEnglishSideBySide) {
  History().Assign({});
  Settings() = ViewSettings{PageMode::SpreadRight, 1};
  struct Seen {
    MenuSeen popup, history, show, view, help;
  } seen[2];
  const UiLanguage languages[] = {UiLanguage::Japanese, UiLanguage::English};
  for (int i = 0; i < 2; ++i) {
    UseLanguage(languages[i]);
    Open();
    seen[i] = Seen{m_popup, m_history, m_show, m_view, m_help};
  }
  UseLanguage(UiLanguage::Japanese);
  const UINT popup = 0xFFFFFFFFu;
  const MenuSeen expectedPopup{{u"", IDM_OPEN_FILE, 0},
                               {u"", IDM_OPEN_DIRECTORY, 0},
                               {u"", IDM_OPEN_NEXT_ARCHIVE, MF_GRAYED},
                               {u"", IDM_OPEN_PREVIOUS_ARCHIVE, MF_GRAYED},
                               {u"", IDM_GO_TO_PAGE, MF_GRAYED},
                               {u"", popup, MF_POPUP},
                               {u"", IDM_CATALOGUES, 0},
                               {u"", 0, MF_SEPARATOR},
                               {u"", popup, MF_POPUP},
                               {u"", popup, MF_POPUP},
                               {u"", IDM_FULL_SCREEN, 0},
                               {u"", 0, MF_SEPARATOR},
                               {u"", popup, MF_POPUP},
                               {u"", IDM_EXIT, 0}};
  const MenuSeen expectedShow{{u"", IDM_SINGLE, 0},
                              {u"", IDM_SPREAD_RIGHT, MF_CHECKED},
                              {u"", IDM_SPREAD_LEFT, 0},
                              {u"", IDM_SHIFT_PAIRS, MF_GRAYED},
                              {u"", IDM_RESET_BOOK, MF_GRAYED},
                              {u"", 0, MF_SEPARATOR},
                              {u"", IDM_MONO2COLOR, MF_CHECKED},
                              {u"", 0, MF_SEPARATOR},
                              {u"", IDM_COVER_ALONE, 0},
                              {u"", IDM_EXIF_ORIENTATION, MF_CHECKED},
                              {u"", IDM_NATURAL_ORDER, MF_CHECKED},
                              {u"", IDM_RESUME, MF_CHECKED},
                              {u"", IDM_READ_ON, 0},
                              {u"", IDM_PAGE_NUMBER, MF_CHECKED}};
  for (const Seen& s : seen) {
    EXPECT_EQ(WithoutTexts(s.popup), expectedPopup);
    EXPECT_EQ(WithoutTexts(s.history), (MenuSeen{{u"", IDM_EMPTY, MF_GRAYED}}));
    EXPECT_EQ(WithoutTexts(s.show), expectedShow);
    EXPECT_EQ(WithoutTexts(s.view), (MenuSeen{{u"", IDM_FIT_BEST, MF_CHECKED},
                                              {u"", IDM_FIT_WIDTH, 0},
                                              {u"", IDM_FIT_HEIGHT, 0},
                                              {u"", IDM_FIT_ORIGINAL, 0},
                                              {u"", 0, MF_SEPARATOR},
                                              {u"", IDM_ZOOM_IN, 0},
                                              {u"", IDM_ZOOM_OUT, 0},
                                              {u"", 0, MF_SEPARATOR},
                                              {u"", IDM_CONTINUOUS, 0},
                                              {u"", IDM_PAGE_GRID, MF_GRAYED}}));
    EXPECT_EQ(WithoutTexts(s.help), (MenuSeen{{u"", IDM_MANUAL, MF_GRAYED},
                                              {u"", IDM_KEYS, 0},
                                              {u"", IDM_BOOK_INFO, MF_GRAYED},
                                              {u"", IDM_ABOUT, 0}}));
  }
  // Japanese: the menus' own texts, byte for byte.
  using Words = std::vector<std::u16string>;
  EXPECT_EQ(Texts(seen[0].popup), (Words{u"Open File...", u"Open Directory...", u"Open Next Archive File",
                                         u"Open Previous Archive File", u"Go to Page...", u"History",
                                         u"Catalogues...", u"", u"Show", u"View",
                                         u"Window/Full Screen", u"", u"Help", u"Exit"}));
  EXPECT_EQ(Texts(seen[0].history), (Words{u"Empty"}));
  EXPECT_EQ(Texts(seen[0].show),
            (Words{u"1\u679a", u"\u898b\u958b\u304d \u53f3\u958b\u304d", u"\u898b\u958b\u304d \u5de6\u958b\u304d",
                   u"\u898b\u958b\u304d\u3092 1 \u30da\u30fc\u30b8\u305a\u3089\u3059",
                                        u"\u3053\u306e\u672c\u306e\u8a2d\u5b9a\u3092\u65e2\u5b9a\u306b\u623b\u3059", u"",
                   u"\u30e2\u30ce\u30af\u30ed\u753b\u50cf\u306e\u30ab\u30e9\u30fc\u5316", u"",
                   u"\u8868\u7d19\u3092\u5358\u72ec\u3067\u8868\u793a",
                   u"\u753b\u50cf\u306e\u5411\u304d (Exif) \u306b\u5f93\u3046",
                   u"\u540d\u524d\u306e\u6570\u5b57\u3092\u6570\u3068\u3057\u3066\u4e26\u3079\u308b",
                   u"\u524d\u56de\u306e\u30da\u30fc\u30b8\u304b\u3089\u958b\u304f",
                   u"\u6b21\u306e\u5dfb\u3078\u7d9a\u3051\u3066\u8aad\u3080",
                   u"\u5168\u753b\u9762\u3067\u30da\u30fc\u30b8\u756a\u53f7\u3092\u8868\u793a"}));
  EXPECT_EQ(Texts(seen[0].help), (Words{u"Manual", u"Keys and Mouse", u"\u672c\u306e\u60c5\u5831", u"About"}));
  // English: the same menus in English words.
  EXPECT_EQ(Texts(seen[1].popup), Texts(seen[0].popup));
  EXPECT_EQ(Texts(seen[1].show),
            (Words{u"Single Page", u"Two Pages, Opening to the Right", u"Two Pages, Opening to the Left",
                   u"Shift the Pairs by One Page", u"Reset This Book to the Defaults", u"", u"Colorize Monochrome Pages", u"", u"Cover Alone",
                   u"Turn Pages as Exif Says", u"Natural Order (2 before 10)", u"Open Books Where I Left Off",
                   u"Read On into the Next Volume", u"Page Number in Full Screen"}));
  EXPECT_EQ(Texts(seen[1].help), (Words{u"Manual", u"Keys and Mouse", u"Book Information", u"About"}));
  EXPECT_EQ(Texts(seen[0].view), (Words{u"\u5168\u4f53\u3092\u8868\u793a", u"\u5e45\u306b\u5408\u308f\u305b\u308b",
                                        u"\u9ad8\u3055\u306b\u5408\u308f\u305b\u308b", u"\u539f\u5bf8\u5927", u"",
                                        u"\u62e1\u5927", u"\u7e2e\u5c0f", u"",
                                        u"\u9023\u7d9a\u30b9\u30af\u30ed\u30fc\u30eb",
                                        u"\u30da\u30fc\u30b8\u4e00\u89a7\u2026"}));
  EXPECT_EQ(Texts(seen[1].view), (Words{u"Best Fit", u"Fit Width", u"Fit Height", u"Original Size", u"", u"Zoom In",
                                        u"Zoom Out", u"", u"Continuous Scroll", u"Pages\u2026"}));
}

// Every text the program shows has its English: no Japanese is left in an
// English menu, help or failure line.
TEST_F(Menu, EnglishLeavesNoJapaneseBehind) {
  auto japanese = [](const std::u16string& text) {
    for (char16_t unit : text)
      if ((unit >= 0x3000 && unit <= 0x9FFF) || (unit >= 0xFF00 && unit <= 0xFFEF)) return true;
    return false;
  };
  History().Assign({});  // not whatever books the build tree's own profile remembers
  UseLanguage(UiLanguage::English);
  Open();
  std::vector<std::u16string> texts;
  for (const MenuSeen* items : {&m_popup, &m_history, &m_show, &m_view, &m_help})
    for (const MenuItemSeen& item : *items) texts.push_back(item.text);
  for (const auto& [keys, action] : HelpLines()) texts.push_back(keys), texts.push_back(action);
  for (OpenFailure why : {OpenFailure::NotFound, OpenFailure::NoPermission, OpenFailure::NotImageOrArchive,
                          OpenFailure::NeedsPassword, OpenFailure::Damaged, OpenFailure::UnsupportedCompression,
                          OpenFailure::TooLarge, OpenFailure::NoImages, OpenFailure::ArchiveLibraryMissing, OpenFailure::ArchiveLibraryRefused})
    texts.push_back(FailureText(why));
  // The catalogues' dialog, its refusals and its line over the pages.
  const CatalogueDialogTexts dialog = CatalogueTexts();
  std::vector<std::u16string> catalogueTexts = {
      dialog.title, dialog.add, dialog.edit, dialog.remove, dialog.open, dialog.close, dialog.addTitle,
      dialog.editTitle, dialog.name, dialog.url, dialog.user, dialog.password, dialog.removeQuestion,
      CatalogueNoticeText()};
  for (int problem = 1; problem <= static_cast<int>(CatalogueProblem::ControlCharacters); ++problem)
    catalogueTexts.push_back(CatalogueProblemText(static_cast<CatalogueProblem>(problem)));
  UseLanguage(UiLanguage::Japanese);
  for (const std::u16string& text : catalogueTexts) {
    EXPECT_FALSE(text.empty());
    EXPECT_FALSE(japanese(text)) << Utf16ToUtf8(text);
  }
  for (const std::u16string& text : texts) EXPECT_FALSE(japanese(text)) << Utf16ToUtf8(text);
  ComicInfo info;
  info.series = info.number = info.volume = info.title = info.writer = info.summary = u"x";
  for (const auto& [label, words] : InfoLines(info)) texts.push_back(label);
  EXPECT_EQ(texts.size(), 14u + 1u + 14u + 9u + 1u + 4u + 2 * HelpLines().size() + 10u + 6u);
}

// "Catalogues…" shows the dialog (here its hook, which keeps one); the
// catalogue picked there goes to the opener, or, with none, a line says it
// cannot be browsed yet.
TEST_F(Menu, ACataloguePickedGoesToTheOpener) {
  SetCatalogueDialogHook(
      [](const CatalogueDialogTexts&, ICatalogueDialogHost& host, void*) -> std::optional<std::size_t> {
        if (host.Names().empty()) {
          EXPECT_TRUE(host.Keep(std::nullopt, {u"Komga", u" https://k.example/opds", u"bob", u"", false, {}}).kept);
        }
        return 0;
      },
      nullptr);
  Send(WM_COMMAND, IDM_CATALOGUES, 0);
  EXPECT_EQ(m_main->overlay().caption, u"Komga: " + CatalogueNoticeText());
  Send(WM_TIMER, CatalogueNoticeTimerId, 0);
  EXPECT_EQ(m_main->overlay().caption, u"");
  std::vector<Catalogue> opened;
  m_main->SetCatalogueOpener([&opened](const OpenedCatalogue& picked) { opened.push_back(picked.catalogue); });
  Send(WM_COMMAND, IDM_CATALOGUES, 0);
  SetCatalogueDialogHook(nullptr, nullptr);
  EXPECT_EQ(opened, (std::vector<Catalogue>{{u"Komga", u"https://k.example/opds", u"bob"}}));
  EXPECT_EQ(m_main->overlay().caption, u"");
}

// The catalogue browser's words: in English those it says by itself, to
// the letter (the translation has each); in Japanese others.
TEST_F(Menu, TheCatalogueBrowsersWordsInBothLanguages) {
  UseLanguage(UiLanguage::English);
  const CatalogueBrowserOptions english = CatalogueBrowserInLanguage();
  UseLanguage(UiLanguage::Japanese);
  const CatalogueBrowserOptions japanese = CatalogueBrowserInLanguage();
  EXPECT_EQ(english.windowTexts, CatalogueWindowTexts{});
  EXPECT_EQ(english.lines, CatalogueLines{});
  EXPECT_NE(japanese.windowTexts, english.windowTexts);
  EXPECT_NE(japanese.lines, english.lines);
  EXPECT_EQ(japanese.windowTexts.downloading, u"\u300c%1\u300d\u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\u4e2d");
}

TEST_F(Menu, HistoryModesAndTheNextArchiveItem) {
  // An archive opened from its folder: the next one can be asked for.
  SavePage(m_tmp, "p.png", 20, 30);
  ASSERT_EQ(std::system(("cd '" + m_tmp.path() + "' && 7z a -tzip a.zip p.png >/dev/null").c_str()), 0);
  ASSERT_EQ(m_main->OpenFile(Utf8ToUtf16(m_tmp / "a.zip").c_str()), 0);
  std::vector<HistoryEntry> books;
  for (int i = 0; i < 20; ++i) books.push_back({u"/very/long/path/to/book number " + AsciiToUtf16(std::to_string(i)), i});
  History().Assign(books);
  for (int32_t mode : {0, 1, 2, 5}) {
    Settings() = ViewSettings{static_cast<PageMode>(mode), 0};
    Open();
    EXPECT_EQ(Checked(m_show, IDM_SINGLE), mode == 0);
    EXPECT_EQ(Checked(m_show, IDM_SPREAD_RIGHT), mode == 1);
    EXPECT_EQ(Checked(m_show, IDM_SPREAD_LEFT), mode >= 2) << "a stored 5 checks the left-opening spread";
    EXPECT_FALSE(Checked(m_show, IDM_MONO2COLOR));
  }
  ASSERT_EQ(m_history.size(), 20u);
  for (UINT i = 0; i < 20; ++i) {
    EXPECT_EQ(m_history[i].id, IDM_HISTORY_FIRST + i);
    EXPECT_EQ(m_history[i].text, books[i].name);
  }
  EXPECT_EQ(m_popup[2].state, 0u);
  EXPECT_EQ(m_popup[3].state, 0u) << "the previous archive as well";
}

TEST_F(Menu, ViewCommandsSaveTheProfileAndShowAgain) {
  TempDir folder;
  folder.MakeFolder("profile");
  g_moduleDir = Utf8ToUtf16(folder.path() + "/");
  OpenPages(4);
  Send(WM_COMMAND, IDM_SPREAD_LEFT, 0);
  EXPECT_EQ(Settings().pageMode, PageMode::SpreadLeft);
  EXPECT_EQ(m_main->book().second, 1);  // shown again as a spread
  std::ifstream saved(folder / "profile/velmora.ini", std::ios::binary);
  ASSERT_TRUE(saved.good());
  Send(WM_COMMAND, IDM_SPREAD_LEFT, 0);  // already checked: saves and shows again all the same
  EXPECT_EQ(m_main->book().second, 1);
  ID2D1Bitmap* before = m_main->firstPage();
  before->AddRef();
  Send(WM_COMMAND, IDM_MONO2COLOR, 0);
  EXPECT_EQ(Settings().mono2Color, 1);
  EXPECT_NE(m_main->firstPage(), before) << "the cache was emptied: pages decoded again";
  before->Release();
  Send(WM_COMMAND, IDM_SINGLE, 0);
  EXPECT_EQ(m_main->book().second, -1);
  Send(WM_COMMAND, IDM_MANUAL, 0);
  Send(WM_COMMAND, 12345, 0);
}

TEST_F(Menu, HistoryEntriesReopenTheirPage) {
  OpenPages(5);
  const std::u16string book = Utf8ToUtf16(m_tmp.path());
  History().Assign({{book, 3}, {Utf8ToUtf16(m_tmp / "gone"), 2}});
  m_main->OpenDirectory(u"/", nullptr);
  Send(WM_COMMAND, IDM_HISTORY_FIRST, 0);
  EXPECT_EQ(m_main->book().source, book);
  EXPECT_EQ(Current(), 3);
  // A path that is gone goes to the folder opening, which fails.
  const std::size_t gone = History().Entries()[0].name == book ? 1 : 0;
  m_debug.clear();
  Send(WM_COMMAND, IDM_HISTORY_FIRST + gone, 0);
  EXPECT_NE(m_debug.find(u"Error Open Directory\r\n"), std::u16string::npos);
  EXPECT_EQ(m_main->firstPage(), m_main->pictures().error.get());
  Send(WM_COMMAND, IDM_HISTORY_FIRST + 19, 0);  // no such entry: nothing

  // A remembered page outside the book shows its first page, at once.
  History().Assign({{book, INT32_MIN}, {book + u"/", 99}});
  Send(WM_COMMAND, IDM_HISTORY_FIRST, 0);
  EXPECT_EQ(Current(), 0);
  Send(WM_COMMAND, IDM_HISTORY_FIRST + 1, 0);
  EXPECT_EQ(Current(), 0);
}

TEST_F(Menu, OpenDialogsHandOnTheChosenPath) {
  static std::u16string answer;
  static DWORD options;
  static std::u16string filter;
  SetFileDialogHook(
      [](DWORD o, const std::u16string& f, std::u16string* path, void*) {
        options = o;
        filter = f;
        if (answer.empty()) return false;
        *path = answer;
        return true;
      },
      nullptr);
  static int argc = 1;
  static char name[] = "shell_tests";
  static char* argv[] = {name, nullptr};
  InitApplication(argc, argv);  // the dialog class joins CoCreateInstance

  OpenPages(3);
  answer.clear();
  Send(WM_COMMAND, IDM_OPEN_FILE, 0);  // cancelled: nothing changes
  EXPECT_EQ(m_main->book().pages.size(), 3u);
  EXPECT_EQ(options, FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST);
  EXPECT_EQ(filter, u"*.*");

  answer = Utf8ToUtf16(m_tmp / "2.png");
  m_debug.clear();
  Send(WM_COMMAND, IDM_OPEN_FILE, 0);
  EXPECT_EQ(m_debug.find(answer + u"\n"), 0u);
  EXPECT_EQ(Current(), 2);

  TempDir other;
  SavePage(other, "only.png", 20, 30);
  answer = Utf8ToUtf16(other.path());
  Send(WM_COMMAND, IDM_OPEN_DIRECTORY, 0);
  EXPECT_EQ(options, FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  EXPECT_EQ(m_main->book().pages.size(), 1u);
  SetFileDialogHook(nullptr, nullptr);
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
  // After "--", a path that starts with '-' (the options were checked before).
  char endOfOptions[] = "--";
  char dashed[] = "-odd.cbz";
  EXPECT_EQ(path({program, endOfOptions, dashed}), Utf8ToUtf16(std::string(cwd) + "/-odd.cbz"));
  EXPECT_EQ(path({program, endOfOptions}), u"");
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
    SetUserSettingsFile(Utf8ToUtf16(m_settingsDir / "velmora.conf"));
    SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
    SetBeepSink([](UINT, void*) {}, nullptr);
    m_main = std::make_unique<CMainWindow>();
    m_hwnd = m_main->Create(kProductTitle, 800, 600);
    ASSERT_NE(m_hwnd, nullptr);
    m_main->profile().settings = ViewSettings{PageMode::Single, 0};
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
    SetUserSettingsFile(u"");
  }
  void Wheel(int delta) {
    QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_widget, &event);
  }
  int32_t Current() const { return m_main->book().current; }

  TempDir m_settingsDir;
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
  EXPECT_TRUE(m_main->loupe().on);
}

TEST_F(Widget, HeldKeysDoNotPileUp) {
  // Twenty repeats of a held key come in before the window gets back to its
  // queue (a slow turn): they make one turn, not twenty.
  for (int i = 0; i < 20; ++i) SendMessageW(m_hwnd, WM_KEYDOWN, VK_LEFT, 0x40000001);
  EXPECT_EQ(Current(), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(Current(), 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(Current(), 1) << "nothing left to turn once the key is let go";
  // A key pressed anew turns at once.
  SendMessageW(m_hwnd, WM_KEYDOWN, VK_LEFT, 1);
  EXPECT_EQ(Current(), 2);
}

TEST_F(Widget, ToldToEndTheWindowDecodesNothingMore) {
  // The signal's mark lasts for the process: the case runs in a child.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CloseOnTerminationSignals(m_hwnd);
        m_main->ForgetDecodedPages();
        std::raise(SIGTERM);
        const bool shown = m_main->ShowPage(3, 0) == 0;
        // The pages keep what was known of them: nothing was tried.
        const bool untried = m_main->book().pages[3].state == PageState::Unknown;
        for (int i = 0; i < 100 && m_widget->isVisible(); ++i) QTest::qWait(10);  // the close it asked for
        std::_Exit(!shown && untried && !m_widget->isVisible() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
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

// In continuous scroll each part of a notch scrolls by its part.
TEST_F(Widget, PartsOfANotchScrollAColumnSmoothly) {
  m_main->Perform(Action::Continuous);
  ASSERT_TRUE(m_main->inColumn());
  Wheel(-30);
  const double quarter = m_main->column().offset();
  EXPECT_GT(quarter, 0);
  Wheel(-30);
  EXPECT_NEAR(m_main->column().offset(), 2 * quarter, 0.5);
  // A whole notch glides there over the next frames (from the top: the
  // column ends not far below).
  Wheel(60);
  ASSERT_NEAR(m_main->column().offset(), 0, 0.5);
  Wheel(-120);
  EXPECT_LT(m_main->column().offset(), 4 * quarter - 0.5);
  for (int i = 0; i < 200 && m_main->column().offset() < 4 * quarter - 0.5; ++i) QTest::qWait(10);
  EXPECT_NEAR(m_main->column().offset(), 4 * quarter, 0.5);
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
  ASSERT_EQ(m_main->book().pages.size(), 1u);
  EXPECT_EQ(m_main->book().pages[0].name, u"x.png");
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

// Runs the event loop until `done` holds or five seconds pass.
template <class Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

TEST_F(Widget, ExitClosesTheWindow) {
  m_main->OnCommand(IDM_EXIT);
  EXPECT_FALSE(m_widget->isVisible());
}

// Q, Ctrl+Q and Ctrl+W close the window as its close box does: destroyed,
// the profile written.
TEST_F(Widget, QuitKeysCloseAsTheCloseBoxDoes) {
  const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
      {Qt::Key_Q, Qt::NoModifier}, {Qt::Key_Q, Qt::ControlModifier}, {Qt::Key_W, Qt::ControlModifier}};
  for (const auto& [key, modifiers] : keys) {
    TempDir program;
    program.MakeFolder("profile");
    auto window = std::make_unique<CMainWindow>();
    const HWND hwnd = window->Create(kProductTitle, 640, 480);
    ASSERT_NE(hwnd, nullptr);
    g_moduleDir = Utf8ToUtf16(program.path() + "/");
    ShowWindow(hwnd, SW_SHOW);
    auto* widget = dynamic_cast<QWidget*>(hwnd);
    QTest::keyClick(widget, Qt::Key_W);  // W alone: nothing
    EXPECT_TRUE(widget->isVisible());
    QTest::keyClick(widget, key, modifiers);
    EXPECT_FALSE(widget->isVisible()) << key;
    EXPECT_FALSE(KillTimer(hwnd, IdleTimerId));
    EXPECT_EQ(::access((program / "profile/velmora.ini").c_str(), F_OK), 0);
    window.reset();
    g_moduleDir = GetModuleDirectory();
  }
}

// A new book's place is written while the window stays open, after its
// page is drawn: a crash later does not lose it.
TEST_F(Widget, ANewBookIsWrittenToTheProfileOnceOnScreen) {
  TempDir program;
  program.MakeFolder("profile");
  auto window = std::make_unique<CMainWindow>();
  const HWND hwnd = window->Create(kProductTitle, 640, 480);
  ASSERT_NE(hwnd, nullptr);
  g_moduleDir = Utf8ToUtf16(program.path() + "/");  // the resources read from the build
  ShowWindow(hwnd, SW_SHOW);
  ASSERT_EQ(window->OpenDirectory(Utf8ToUtf16(m_tmp.path()).c_str(), nullptr), 0);
  const std::string profile = program / "profile/velmora.ini";
  EXPECT_TRUE(WaitFor([&] { return ::access(profile.c_str(), F_OK) == 0; }));
  EXPECT_TRUE(dynamic_cast<QWidget*>(hwnd)->isVisible());
  window.reset();
  g_moduleDir = GetModuleDirectory();
}

// A start without a path shows the about window from the copy shipped with
// the program: nothing is fetched, no name is looked up.
TEST_F(Widget, TheAboutWindowAtStartAsksTheNetworkNothing) {
  static std::vector<std::u16string> fetched;
  fetched.clear();
  SetBrowserFetchHook([](const char16_t* url, void*) { fetched.emplace_back(url); }, nullptr);
  ShowAboutAtStart(*m_main);
  CAboutDialog& about = m_main->aboutDialog();
  ASSERT_TRUE(WaitFor([&] { return BrowserText(about.m_browser).find(u"0.1.12") != std::u16string::npos; }));
  EXPECT_TRUE(fetched.empty());
  // A site set by the user is asked for the page, with the page's path
  // (a test server's address, allowed for tests only).
  AllowBrowserLoopbackForTests(true);
  SetUserSettingText(u"about/site", u"http://127.0.0.1:9");
  CAboutDialog configured;
  configured.Show(m_hwnd);
  ASSERT_TRUE(WaitFor([&] { return BrowserText(configured.m_browser).find(u"0.1.12") != std::u16string::npos; }));
  EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://127.0.0.1:9/app/velmora/velmora.html?ver=0.1.12"}));
  AllowBrowserLoopbackForTests(false);
  SetBrowserFetchHook(nullptr, nullptr);
}

// The words over the pages reach the frame: the line under a failed book's
// picture, and the help's panel.
TEST_F(Widget, TheFailureLineAndTheHelpAreDrawn) {
  COffscreenWindow offscreen(800, 600);
  CMainWindow main(&offscreen);
  ASSERT_EQ(main.SetUp(), 0);
  auto whiteIn = [&](int top, int bottom, int left, int right) {
    int count = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) count += (offscreen.Pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return count;
  };
  main.OnPaint();
  const int before = whiteIn(490, 570, 0, 800);
  main.OpenDirectory(Utf8ToUtf16(m_tmp / "missing").c_str(), nullptr);
  ASSERT_EQ(main.failure(), OpenFailure::NotFound);
  main.OnPaint();
  EXPECT_GT(whiteIn(490, 570, 0, 800), before + 30) << "the line across the lower part";
  main.ToggleHelp();
  main.OnPaint();
  EXPECT_GT(whiteIn(100, 500, 100, 700), 200) << "the help's words";
}

TEST_F(Widget, TheAboutWindowShowsThePageAndItsButtonAfterASecond) {
  m_main->ShowAbout();
  CAboutDialog& about = m_main->aboutDialog();
  ASSERT_NE(about.m_hWnd, nullptr);
  EXPECT_TRUE(IsWindowVisible(about.m_hWnd));
  RECT client{};
  GetClientRect(about.m_hWnd, &client);
  EXPECT_EQ(client.right, 800);  // at 96 dpi
  HWND ok = GetDlgItem(about.m_hWnd, IDOK);
  EXPECT_FALSE(IsWindowEnabled(ok));
  // No network here: the shipped copy of the page, at zoom 100.
  ASSERT_TRUE(WaitFor([&] { return BrowserText(about.m_browser).find(u"0.1.12") != std::u16string::npos; }));
  EXPECT_EQ(BrowserZoom(about.m_browser), 100);
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(ok) == TRUE; }));

  // The close box hides it; asked again, the same window comes back as it was.
  SendMessageW(about.m_hWnd, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(IsWindowVisible(about.m_hWnd));
  const HWND same = about.m_hWnd;
  SendMessageW(m_hwnd, WM_COMMAND, IDM_ABOUT, 0);
  EXPECT_EQ(about.m_hWnd, same);
  EXPECT_TRUE(IsWindowVisible(about.m_hWnd));
  EXPECT_TRUE(IsWindowEnabled(ok));
}

TEST_F(Widget, TheAboutWindowFollowsTheScreensResolution) {
  for (auto [dpi, width, zoom] : {std::tuple{192, 1600, 400}, std::tuple{240, 2000, 500}}) {
    ScreenDpiX = ScreenDpiY = dpi;
    CAboutDialog about;
    about.Show(m_hwnd);
    RECT client{};
    GetClientRect(about.m_hWnd, &client);
    EXPECT_EQ(client.right, width);
    ASSERT_TRUE(WaitFor([&] { return BrowserZoom(about.m_browser) != 100; })) << dpi;
    EXPECT_EQ(BrowserZoom(about.m_browser), zoom);
  }
  ScreenDpiX = ScreenDpiY = 96;
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
  EXPECT_TRUE(m_main->wasMaximized());
  m_main->ToggleFullScreen();
  EXPECT_TRUE(m_widget->isMaximized());
}

}  // namespace
