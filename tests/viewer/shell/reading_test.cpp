// What readers expect of the main window, driven without a display: the
// keys in each page mode, going to a page, the place kept however a book is
// opened, natural order, the cover alone, the next and previous archive, a
// click on a side of the page, the help, and the line that says why a book
// does not show.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QtGui/QImage>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/shobjidl.h"
#include "platform/system.h"
#include "platform/text.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"
#include "viewer/shell/StartUp.h"

using test::TempDir;

namespace {

void SavePage(const TempDir& dir, const std::string& name, int w = 20, int h = 30) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(qRgb(180, 180, 180));
  ASSERT_TRUE(image.save(QString::fromStdString(dir / name), "PNG")) << name;
}

void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

std::string Bytes(const std::string& path);

class Reading : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // An application, as the program has: the end of a window posts its
    // quit to it, and words are drawn with its fonts.
    static int argc = 1;
    static char name[] = "reading_tests";
    static char* argv[] = {name, nullptr};
    InitApplication(argc, argv);
  }
  void SetUp() override {
    ScreenDpiX = ScreenDpiY = 96;
    g_moduleDir = GetModuleDirectory();
    SetUserSettingsFile(Utf8ToUtf16(m_settingsDir / "velmora.conf"));
    SetDebugOutputSink([](const char16_t* t, void* c) { static_cast<Reading*>(c)->m_debug += t; }, this);
    SetBeepSink([](UINT, void* c) { ++static_cast<Reading*>(c)->m_beeps; }, this);
    // The password dialog answers from m_passwords, giving up when they run out.
    SetPasswordDialogHook(
        [](const char16_t*, const char16_t* prompt, const char16_t* wrongBefore, std::u16string* password, void* c) {
          auto& self = *static_cast<Reading*>(c);
          self.m_passwordPrompts.push_back(std::u16string(prompt) + u"|" + (wrongBefore ? wrongBefore : u""));
          if (self.m_passwords.empty()) return FALSE;
          *password = self.m_passwords.front();
          self.m_passwords.erase(self.m_passwords.begin());
          return TRUE;
        },
        this);
    MakeWindow();
  }
  void TearDown() override {
    m_main.reset();
    SetDebugOutputSink(nullptr, nullptr);
    SetBeepSink(nullptr, nullptr);
    SetPasswordDialogHook(nullptr, nullptr);
    SetUserSettingsFile(u"");
    const BYTE none[256] = {};
    SetKeyboardState(none);
  }
  // A window as the program makes one: set up (the resources beside the
  // tests), then created with a profile of its own, the settings and the
  // history's pages read.
  void MakeWindow() {
    m_main.reset();
    g_moduleDir = GetModuleDirectory();
    m_main = std::make_unique<CMainWindow>(&m_window);
    ASSERT_EQ(m_main->SetUp(), 0);
    if (!m_profileDir.path().empty() && ::access((m_profileDir / "profile").c_str(), F_OK) != 0)
      m_profileDir.MakeFolder("profile");
    g_moduleDir = Utf8ToUtf16(m_profileDir.path() + "/");
    Send(WM_CREATE, 0, 0);
    m_main->profile().settings.pageMode = PageMode::Single;
    m_main->profile().settings.mono2Color = 0;
  }
  void Mode(PageMode mode) { m_main->profile().settings.pageMode = mode; }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    m_main->ProcessWindowMessage(&m_window, message, wParam, lParam, result, 0);
    return result;
  }
  void Press(WPARAM key, KeyModifiers modifiers = {}) {
    BYTE state[256] = {};
    state[VK_SHIFT] = modifiers.shift ? 0x80 : 0;
    state[VK_CONTROL] = modifiers.control ? 0x80 : 0;
    state[VK_MENU] = modifiers.alt ? 0x80 : 0;
    SetKeyboardState(state);
    Send(WM_KEYDOWN, key, 1);
    const BYTE none[256] = {};
    SetKeyboardState(none);
  }
  void Click(int xDown, int xUp) {
    Send(WM_LBUTTONDOWN, 0, MAKELPARAM(xDown, 300));
    Send(WM_LBUTTONUP, 0, MAKELPARAM(xUp, 300));
  }
  // Pages named p0.png ... in `folder` of m_tmp ("" for m_tmp itself).
  std::string Pages(int count, const std::string& folder = "") {
    if (!folder.empty()) m_tmp.MakeFolder(folder);
    const std::string where = folder.empty() ? m_tmp.path() : m_tmp / folder;
    for (int i = 0; i < count; ++i) SavePage(m_tmp, (folder.empty() ? "" : folder + "/") + "p" + std::to_string(i) + ".png");
    return where;
  }
  int32_t OpenFolder(const std::string& path) { return m_main->OpenDirectory(Utf8ToUtf16(path).c_str(), nullptr); }
  int32_t OpenFile(const std::string& path) { return m_main->OpenFile(Utf8ToUtf16(path).c_str()); }
  std::pair<int32_t, int32_t> Shown() const { return {m_main->book().current, m_main->book().second}; }
  std::u16string ShownName() const {
    return m_main->book().pages[static_cast<std::size_t>(m_main->book().current)].name;
  }

  TempDir m_settingsDir;
  TempDir m_profileDir;
  TempDir m_tmp;
  COffscreenWindow m_window{800, 600};
  std::unique_ptr<CMainWindow> m_main;
  std::u16string m_debug;
  int m_beeps = 0;
  std::vector<std::u16string> m_passwords;        // the user's answers, in turn
  std::vector<std::u16string> m_passwordPrompts;  // each question: its prompt, "|", its wrong line
};

// ---- keys ----

TEST(KeyTable, EveryKeyWithItsModifiers) {
  const KeyModifiers none{}, shift{true, false, false}, control{false, true, false}, both{true, true, false},
      alt{false, false, true};
  const struct {
    WPARAM key;
    KeyModifiers modifiers;
    Action action;
  } rows[] = {
      {VK_RETURN, none, Action::ToggleFullScreen},  {VK_RETURN, control, Action::ToggleFullScreen},
      {VK_F11, none, Action::ToggleFullScreen},     {VK_ESCAPE, none, Action::LeaveFullScreen},
      {VK_LEFT, none, Action::PageLeft},            {VK_LEFT, shift, Action::PageLeft},
      {VK_RIGHT, none, Action::PageRight},          {VK_UP, none, Action::LineBack},
      {VK_DOWN, none, Action::LineForward},       {'L', none, Action::Loupe},
      {'L', control, Action::Loupe},                {VK_HOME, none, Action::FirstPage},
      {VK_END, none, Action::LastPage},             {VK_NEXT, none, Action::SpreadForward},
      {VK_PRIOR, none, Action::SpreadBack},         {VK_SPACE, none, Action::SpreadForward},
      {VK_SPACE, shift, Action::SpreadBack},        {VK_BACK, none, Action::SpreadBack},
      {'O', none, Action::FitOriginal},             {'O', control, Action::OpenFile},
      {'O', both, Action::OpenFolder},              {'Q', none, Action::Quit},
      {'Q', control, Action::Quit},                 {'Q', alt, Action::None},
      {'W', none, Action::FitWidth},                {'W', control, Action::Quit},
      {'N', none, Action::NextArchive},             {'N', shift, Action::PreviousArchive},
      {'N', control, Action::None},                 {'G', none, Action::None},
      {'G', control, Action::GoToPage},             {VK_APPS, none, Action::ContextMenu},
      {VK_F10, shift, Action::ContextMenu},         {VK_F10, none, Action::None},
      {VK_F1, none, Action::Help},                  {VK_OEM_2, shift, Action::Help},
      {'A', none, Action::None},                    {VK_SHIFT, shift, Action::None},
      {'P', none, Action::PageNumber},              {'P', control, Action::None},
      {'B', none, Action::FitBest},                 {'H', none, Action::FitHeight},
      {'0', none, Action::FitBest},                 {'0', control, Action::FitBest},
      {VK_OEM_PLUS, shift, Action::ZoomIn},         {VK_OEM_MINUS, none, Action::ZoomOut},
      {'I', none, Action::BookInfo},                {'I', control, Action::None},
      {'C', none, Action::Continuous},              {'C', control, Action::None},
      {'S', none, Action::ShiftPairs},              {'S', control, Action::None},
      {'T', none, Action::PageGrid},                {'T', control, Action::None},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ActionOfKey(row.key, row.modifiers), row.action)
        << "key " << row.key << " shift " << row.modifiers.shift << " control " << row.modifiers.control;
}

// Each page key in each mode, from the same place: 8 upright pages, the
// page (or spread) at 2 on screen.
TEST_F(Reading, PageKeysInEachMode) {
  OpenFolder(Pages(8));
  const KeyModifiers none{}, shift{true, false, false};
  using P = std::pair<int32_t, int32_t>;
  const struct {
    PageMode mode;
    WPARAM key;
    KeyModifiers modifiers;
    P shown;
  } rows[] = {
      {PageMode::Single, VK_LEFT, none, {3, -1}},           {PageMode::Single, VK_RIGHT, none, {1, -1}},
      {PageMode::Single, VK_UP, none, {1, -1}},             {PageMode::Single, VK_DOWN, none, {3, -1}},
      {PageMode::Single, VK_NEXT, none, {3, -1}},           {PageMode::Single, VK_PRIOR, none, {1, -1}},
      {PageMode::Single, VK_SPACE, none, {3, -1}},          {PageMode::Single, VK_SPACE, shift, {1, -1}},
      {PageMode::Single, VK_BACK, none, {1, -1}},           {PageMode::Single, VK_HOME, none, {0, -1}},
      {PageMode::Single, VK_END, none, {7, -1}},            {PageMode::SpreadRight, VK_LEFT, none, {3, 4}},
      {PageMode::SpreadRight, VK_RIGHT, none, {1, 2}},      {PageMode::SpreadRight, VK_UP, none, {0, 1}},
      {PageMode::SpreadRight, VK_DOWN, none, {4, 5}},       {PageMode::SpreadRight, VK_NEXT, none, {4, 5}},
      {PageMode::SpreadRight, VK_PRIOR, none, {0, 1}},      {PageMode::SpreadRight, VK_SPACE, none, {4, 5}},
      {PageMode::SpreadRight, VK_SPACE, shift, {0, 1}},     {PageMode::SpreadRight, VK_BACK, none, {0, 1}},
      {PageMode::SpreadRight, VK_HOME, none, {0, 1}},       {PageMode::SpreadRight, VK_END, none, {6, 7}},
      {PageMode::SpreadLeft, VK_LEFT, none, {1, 2}},        {PageMode::SpreadLeft, VK_RIGHT, none, {3, 4}},
      {PageMode::SpreadLeft, VK_DOWN, none, {4, 5}},        {PageMode::SpreadLeft, VK_HOME, none, {0, 1}},
      {PageMode::SpreadLeft, VK_END, none, {6, 7}},         {PageMode::Single, 'N', none, {2, -1}},
  };
  for (const auto& row : rows) {
    Mode(row.mode);
    ASSERT_EQ(m_main->ShowPage(2, 0), 0);
    const int invalidations = m_window.invalidations;
    Press(row.key, row.modifiers);
    EXPECT_EQ(Shown(), row.shown) << "mode " << static_cast<int>(row.mode) << " key " << row.key << " shift "
                                  << row.modifiers.shift;
    if (row.shown != P{2, -1}) {
      EXPECT_GT(m_window.invalidations, invalidations);
    }
  }
  // At the ends the keys beep and change nothing.
  Mode(PageMode::Single);
  Press(VK_END);
  m_beeps = 0;
  Press(VK_NEXT);
  EXPECT_EQ(Shown(), P(7, -1));
  EXPECT_EQ(m_beeps, 1);
}

TEST_F(Reading, WithoutABookThePageKeysDoNothing) {
  const int before = m_window.invalidations;
  for (WPARAM key : {VK_HOME, VK_END, VK_NEXT, VK_PRIOR, VK_SPACE, VK_BACK, WPARAM{'N'}}) Press(key);
  Press('N', {true, false, false});
  EXPECT_EQ(m_window.invalidations, before);
  EXPECT_EQ(m_beeps, 0);
}

TEST_F(Reading, FullScreenHelpAndEscape) {
  Press(VK_ESCAPE);  // windowed: nothing at all
  EXPECT_FALSE(m_main->fullScreen());
  Press(VK_F11);
  EXPECT_TRUE(m_main->fullScreen());
  Press(VK_F1);
  EXPECT_TRUE(m_main->helpShown());
  EXPECT_FALSE(m_main->overlay().help.empty());
  Press(VK_ESCAPE);  // the help goes first
  EXPECT_FALSE(m_main->helpShown());
  EXPECT_TRUE(m_main->fullScreen());
  Press(VK_ESCAPE);
  EXPECT_FALSE(m_main->fullScreen());
  Press(VK_RETURN);
  EXPECT_TRUE(m_main->fullScreen());
  Press(VK_F11);
  EXPECT_FALSE(m_main->fullScreen());
  Press(VK_OEM_2, {true, false, false});
  EXPECT_TRUE(m_main->helpShown());
  Send(WM_COMMAND, IDM_KEYS, 0);
  EXPECT_FALSE(m_main->helpShown());
}

TEST_F(Reading, KeysForDialogsAndTheMenu) {
  static int argc = 1;
  static char name[] = "reading_tests";
  static char* argv[] = {name, nullptr};
  InitApplication(argc, argv);  // the dialog class joins CoCreateInstance
  struct Asked {
    std::vector<DWORD> options;
    std::vector<std::u16string> folders;
    int number = 0;
    int numberValue = 0, numberMax = 0;
    int menus = 0;
    POINT menuAt{};
  };
  static Asked asked;
  asked = Asked{};
  SetFileDialogHook(
      [](DWORD options, const std::u16string&, std::u16string*, void*) {
        asked.options.push_back(options);
        asked.folders.push_back(ShownFileDialogFolder());
        return false;
      },
      nullptr);
  SetNumberDialogHook(
      [](const char16_t*, const char16_t*, int value, int, int maximum, int*, void*) -> BOOL {
        ++asked.number;
        asked.numberValue = value;
        asked.numberMax = maximum;
        return FALSE;
      },
      nullptr);
  SetMenuTrackHook(
      [](HMENU, int x, int y, void*) -> UINT {
        ++asked.menus;
        asked.menuAt = POINT{x, y};
        return 0;
      },
      nullptr);
  const std::string book = Pages(6, "vol1");
  OpenFolder(book);
  m_main->ShowPage(3, 0);
  Press('O', {false, true, false});
  Press('O', {true, true, false});
  ASSERT_EQ(asked.options.size(), 2u);
  EXPECT_EQ(asked.options[0], FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST);
  EXPECT_EQ(asked.options[1], FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  // The file dialog among the book's files, the folder dialog beside it.
  EXPECT_EQ(asked.folders[0], Utf8ToUtf16(book));
  EXPECT_EQ(asked.folders[1], Utf8ToUtf16(m_tmp.path()));
  Press('G', {false, true, false});
  EXPECT_EQ(asked.number, 1);
  EXPECT_EQ(asked.numberValue, 4);
  EXPECT_EQ(asked.numberMax, 6);
  Press(VK_APPS);
  Press(VK_F10, {true, false, false});
  Press(VK_F10);
  EXPECT_EQ(asked.menus, 2);
  EXPECT_EQ(Shown(), std::make_pair(3, -1)) << "cancelled dialogs change nothing";
  SetFileDialogHook(nullptr, nullptr);
  SetNumberDialogHook(nullptr, nullptr);
  SetMenuTrackHook(nullptr, nullptr);
}

// ---- going to a page ----

TEST_F(Reading, GoToAPageAtTheEndsAndPastThem) {
  OpenFolder(Pages(6));
  using P = std::pair<int32_t, int32_t>;
  const struct {
    PageMode mode;
    int32_t number;
    P shown;
  } rows[] = {
      {PageMode::Single, 4, {3, -1}},      {PageMode::Single, 1, {0, -1}},      {PageMode::Single, 6, {5, -1}},
      {PageMode::Single, 0, {0, -1}},      {PageMode::Single, -7, {0, -1}},     {PageMode::Single, 99, {5, -1}},
      {PageMode::SpreadRight, 4, {3, 4}},  {PageMode::SpreadRight, 6, {5, -1}}, {PageMode::SpreadRight, 100, {5, -1}},
      {PageMode::SpreadLeft, 1, {0, 1}},
  };
  for (const auto& row : rows) {
    Mode(row.mode);
    m_main->GoToPage(row.number);
    EXPECT_EQ(Shown(), row.shown) << row.number;
  }
  // Entries after the last image: going there shows the last image.
  m_tmp.WriteFile("zz.txt", "no picture");
  OpenFolder(m_tmp.path());
  Mode(PageMode::Single);
  m_main->GoToPage(7);
  EXPECT_EQ(Shown(), P(5, -1));

  // The dialog's answer is the page shown.
  SetNumberDialogHook([](const char16_t*, const char16_t*, int, int, int, int* result, void*) -> BOOL {
    *result = 3;
    return TRUE;
  }, nullptr);
  Send(WM_COMMAND, IDM_GO_TO_PAGE, 0);
  SetNumberDialogHook(nullptr, nullptr);
  EXPECT_EQ(Shown(), P(2, -1));
}

// ---- a click on either side ----

TEST_F(Reading, ClicksOnTheSideThirdsTurn) {
  OpenFolder(Pages(8));
  Mode(PageMode::SpreadRight);
  m_main->ShowPage(4, 0);
  Click(100, 110);  // left third: forward when the book opens to the right
  EXPECT_EQ(Shown(), std::make_pair(5, 6));
  Click(700, 690);
  EXPECT_EQ(Shown(), std::make_pair(4, 5));
  Click(400, 400);  // the middle: nothing
  Click(100, 700);  // down on one side, up on the other: nothing
  EXPECT_EQ(Shown(), std::make_pair(4, 5));
  Mode(PageMode::SpreadLeft);
  Click(100, 100);
  EXPECT_EQ(Shown(), std::make_pair(3, 4));
  // With the help up a click only puts it away.
  m_main->ToggleHelp();
  Click(100, 100);
  EXPECT_FALSE(m_main->helpShown());
  EXPECT_EQ(Shown(), std::make_pair(3, 4));
}

// ---- the place kept ----

// Every way a book is opened finds its remembered page; an image opened by
// name opens at that image.
TEST_F(Reading, ABookOpensWhereItWasLeftHoweverItIsOpened) {
  const std::string folder = Pages(6, "vol");
  SavePage(m_tmp, "vol/cover.png");
  Shell("cd '" + folder + "' && 7z a -tzip ../a.zip p0.png p1.png p2.png p3.png >/dev/null");
  Shell("cd '" + folder + "' && 7z a -tzip ../b.zip p0.png p1.png p2.png p3.png >/dev/null");
  const std::string a = m_tmp / "a.zip", b = m_tmp / "b.zip";
  auto remember = [&](const std::string& book, int32_t index, const std::u16string& page) {
    m_main->profile().history.Add(Utf8ToUtf16(book), index, page);
  };
  remember(folder, 2, Utf8ToUtf16(folder + "/p3.png"));  // the name wins over the index
  remember(a, 2, u"/p2.png");
  remember(b, 3, {});  // no name: the index

  ASSERT_EQ(OpenFolder(folder), 0);  // as the command line and the folder dialog open it
  EXPECT_EQ(ShownName(), u"p3.png");
  ASSERT_EQ(OpenFile(a), 0);  // as the command line and the file dialog open it
  EXPECT_EQ(ShownName(), u"p2.png");
  ASSERT_EQ(m_main->OpenNextArchive(), 0);
  EXPECT_EQ(m_main->book().source, Utf8ToUtf16(b));
  EXPECT_EQ(m_main->book().current, 3);
  ASSERT_EQ(m_main->OpenPreviousArchive(), 0);
  EXPECT_EQ(ShownName(), u"p2.png");
  const std::u16string dropped = Utf8ToUtf16(folder);
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(&dropped, 1)), 0);
  EXPECT_EQ(ShownName(), u"p3.png");
  // The first page shown no longer overwrites the remembered one.
  EXPECT_EQ(m_main->profile().history.Find(Utf8ToUtf16(folder))->page, Utf8ToUtf16(folder + "/p3.png"));
  // An image opened by name is that image.
  ASSERT_EQ(OpenFile(folder + "/p1.png"), 0);
  EXPECT_EQ(ShownName(), u"p1.png");

  // The switch off: every book at its first page.
  Send(WM_COMMAND, IDM_RESUME, 0);
  EXPECT_FALSE(m_main->reading().resume);
  remember(folder, 4, Utf8ToUtf16(folder + "/p3.png"));
  ASSERT_EQ(OpenFolder(folder), 0);
  EXPECT_EQ(m_main->book().current, 0);
  ASSERT_EQ(OpenFile(a), 0);
  EXPECT_EQ(m_main->book().current, 0);
  // The history menu still reopens a book where it was: its first page,
  // then the remembered one.
  remember(folder, 1, Utf8ToUtf16(folder + "/p3.png"));
  m_debug.clear();
  Send(WM_COMMAND, IDM_HISTORY_FIRST, 0);
  EXPECT_EQ(ShownName(), u"p3.png");
  EXPECT_NE(m_debug.find(u"Index : [1/7]"), std::u16string::npos);
}

TEST_F(Reading, ThePlaceSurvivesARestartAndAChangeOfOrder) {
  const std::string folder = m_tmp.path();
  for (int i = 1; i <= 12; ++i) SavePage(m_tmp, "page" + std::to_string(i) + ".png");
  Send(WM_COMMAND, IDM_NATURAL_ORDER, 0);  // off: code units
  ASSERT_FALSE(m_main->reading().naturalOrder);
  ASSERT_EQ(OpenFolder(folder), 0);
  // In code-unit order page10 is the second page.
  ASSERT_EQ(m_main->ShowPage(1, 0), 0);
  ASSERT_EQ(ShownName(), u"page10.png");
  Send(WM_DESTROY, 0, 0);  // the profile and the pages' names are written

  MakeWindow();  // read again, as a new start reads them
  ASSERT_EQ(OpenFolder(folder), 0);
  EXPECT_EQ(ShownName(), u"page10.png");
  // Natural order: the book is listed again and stays at its page.
  Send(WM_COMMAND, IDM_NATURAL_ORDER, 0);
  EXPECT_TRUE(m_main->reading().naturalOrder);
  EXPECT_EQ(ShownName(), u"page10.png");
  EXPECT_EQ(m_main->book().current, 9);
  EXPECT_EQ(m_main->book().pages[1].name, u"page2.png");
  // Opened again in that order, found by its name, not its old index.
  ASSERT_EQ(m_main->ShowPage(0, 0), 0);
  ASSERT_EQ(m_main->ShowPage(2, 0), 0);
  ASSERT_EQ(ShownName(), u"page3.png");
  Send(WM_DESTROY, 0, 0);
  MakeWindow();
  EXPECT_TRUE(m_main->reading().naturalOrder) << "the switch is kept";
  Send(WM_COMMAND, IDM_NATURAL_ORDER, 0);  // back to code units, with no book open
  ASSERT_EQ(OpenFolder(folder), 0);
  EXPECT_EQ(ShownName(), u"page3.png");
  EXPECT_EQ(m_main->book().current, 5);
}

// ---- the series ----

// A series read with the keys only, volume after volume in the order they
// are numbered; after the last one the book stays as it is.
TEST_F(Reading, TheNextAndPreviousVolumeInNaturalOrder) {
  Pages(2);
  m_tmp.MakeFolder("series");
  for (int volume : {1, 2, 10})
    Shell("cd '" + m_tmp.path() + "' && 7z a -tzip 'series/Vol " + std::to_string(volume) +
          ".zip' p0.png p1.png >/dev/null");
  m_tmp.WriteFile("series/zz notes.txt", "after the volumes");
  ASSERT_EQ(OpenFile(m_tmp / "series/Vol 1.zip"), 0);
  // Nothing before the first volume: that way alone is given up.
  Press('N', {true, false, false});
  EXPECT_EQ(m_main->book().displayName, u"Vol 1.zip");
  EXPECT_FALSE(m_main->book().CanStepToArchive(-1));
  Press('N');
  EXPECT_EQ(m_main->book().displayName, u"Vol 2.zip");
  EXPECT_TRUE(m_main->book().CanStepToArchive(-1)) << "another book opened: both ways again";
  Press('N');
  EXPECT_EQ(m_main->book().displayName, u"Vol 10.zip");
  Press('N', {true, false, false});
  EXPECT_EQ(m_main->book().displayName, u"Vol 2.zip");
  Press('N');
  Press(VK_END);
  ASSERT_EQ(m_main->book().current, 1);
  m_beeps = 0;
  Press('N');
  EXPECT_EQ(m_main->book().displayName, u"Vol 10.zip");
  EXPECT_EQ(m_beeps, 1);
  EXPECT_EQ(m_main->book().current, 1);
  Press(VK_UP);
  EXPECT_EQ(m_main->book().current, 0) << "the book still turns";
}

// A folder that holds only chapter folders reads as its first chapter; the
// series keys step through the chapters in number order.
TEST_F(Reading, AFolderOfChaptersOpensItsFirstAndSteps) {
  m_tmp.MakeFolder("book");
  for (const char* chapter : {"book/Chapter 10", "book/Chapter 2", "book/Chapter 1"}) Pages(2, chapter);
  m_tmp.MakeFolder("book/Chapter 3");  // empty: passed over
  ASSERT_EQ(OpenFolder(m_tmp / "book"), 0);
  EXPECT_EQ(m_main->book().displayName, u"Chapter 1");
  EXPECT_EQ(m_main->failure(), OpenFailure::None);
  const std::pair<int, const char16_t*> steps[] = {
      {+1, u"Chapter 2"}, {+1, u"Chapter 10"}, {+1, u"Chapter 10"}, {-1, u"Chapter 2"}, {-1, u"Chapter 1"}};
  for (const auto& [direction, expected] : steps) {
    Press('N', {direction < 0, false, false});
    EXPECT_EQ(m_main->book().displayName, expected);
  }
  EXPECT_EQ(ShownName(), u"p0.png");
}

// The arrow that points forward in the reading direction picked turns
// forward, in a spread and on single pages alike.
TEST_F(Reading, TheReadingDirectionRulesSinglePagesToo) {
  OpenFolder(Pages(6));
  const struct {
    UINT pick;  // the menu's choice, then single pages
    WPARAM forward;
  } cases[] = {{IDM_SPREAD_LEFT, VK_RIGHT}, {IDM_SPREAD_RIGHT, VK_LEFT}};
  for (const auto& c : cases) {
    Send(WM_COMMAND, c.pick, 0);
    Send(WM_COMMAND, IDM_SINGLE, 0);
    ASSERT_EQ(m_main->ShowPage(2, 0), 0);
    Press(c.forward);
    EXPECT_EQ(Shown().first, 3) << c.pick;
    Click(c.forward == VK_RIGHT ? 700 : 100, c.forward == VK_RIGHT ? 700 : 100);
    EXPECT_EQ(Shown().first, 4) << c.pick;
  }
}

// Full screen has no title: the page number shows in a corner after each
// turn, and on P anywhere, until its timer runs out; the switch stops the
// one after turns.
TEST_F(Reading, ThePageNumberShowsBrieflyInFullScreenAndOnP) {
  OpenFolder(Pages(6));
  Press('P');
  EXPECT_EQ(m_main->overlay().corner, u"1 / 6");
  Send(WM_TIMER, PageNumberTimerId, 0);
  EXPECT_TRUE(m_main->overlay().corner.empty());
  Press(VK_LEFT);
  EXPECT_TRUE(m_main->overlay().corner.empty()) << "a window has its title";
  Press(VK_F11);
  Press(VK_LEFT);
  EXPECT_EQ(m_main->overlay().corner, u"3 / 6");
  Mode(PageMode::SpreadRight);
  ASSERT_EQ(m_main->ShowPage(2, 0), 0);
  EXPECT_EQ(m_main->overlay().corner, u"3-4 / 6");
  Send(WM_TIMER, PageNumberTimerId, 0);
  Send(WM_COMMAND, IDM_PAGE_NUMBER, 0);
  Press(VK_LEFT);
  EXPECT_TRUE(m_main->overlay().corner.empty());
}

// ---- the cover alone ----

TEST_F(Reading, TheCoverStandsAloneAndThePairsAfterIt) {
  OpenFolder(Pages(6));
  Mode(PageMode::SpreadRight);
  m_main->ShowPage(0, 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1));
  Send(WM_COMMAND, IDM_COVER_ALONE, 0);
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
  Press(VK_DOWN);
  EXPECT_EQ(Shown(), std::make_pair(1, 2));
  Press(VK_DOWN);
  EXPECT_EQ(Shown(), std::make_pair(3, 4));
  Press(VK_UP);
  Press(VK_UP);
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
  // A book opened in the middle knows its cover all the same.
  ASSERT_EQ(m_main->ShowPage(3, 0), 0);
  Press(VK_PRIOR);
  EXPECT_EQ(Shown(), std::make_pair(1, 2));
  Press(VK_PRIOR);
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
  Mode(PageMode::Single);
  Press(VK_NEXT);
  EXPECT_EQ(Shown(), std::make_pair(1, -1));
}

// A mode picked for a book is that book's, after a restart too; a book
// with none takes the mode picked last, and a book read before keeps the
// mode it was read in.
TEST_F(Reading, AModePickedForABookIsThatBooksAlone) {
  const std::string american = Pages(4, "american"), manga = Pages(4, "manga"), older = Pages(4, "older");
  m_main->reading().resume = false;
  Mode(PageMode::SpreadRight);
  ASSERT_EQ(OpenFolder(older), 0);
  ASSERT_EQ(OpenFolder(american), 0);
  Send(WM_COMMAND, IDM_SPREAD_LEFT, 0);
  ASSERT_EQ(OpenFolder(manga), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1)) << "none of its own";
  Send(WM_COMMAND, IDM_SINGLE, 0);
  MakeWindow();
  m_main->reading().resume = false;
  ASSERT_EQ(OpenFolder(american), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1));
  ASSERT_EQ(OpenFolder(manga), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, -1));
  ASSERT_EQ(OpenFolder(older), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1)) << "read in spreads before either pick";
}

// X (or S) shifts the pairs of this book alone by a page, back and forth,
// and the book keeps it until it is reset; single pages have none to shift.
TEST_F(Reading, SShiftsThePairsOfThisBookAlone) {
  const std::string shifted = Pages(6, "shifted");
  m_main->reading().resume = false;
  Mode(PageMode::SpreadRight);
  ASSERT_EQ(OpenFolder(shifted), 0);
  ASSERT_EQ(m_main->ShowPage(2, 0), 0);
  for (const auto& [key, pair] : {std::make_pair('S', std::make_pair(1, 2)), std::make_pair('X', std::make_pair(2, 3)),
                                   std::make_pair('X', std::make_pair(1, 2))}) {
    Press(key);
    EXPECT_EQ(Shown(), pair) << key;
  }
  EXPECT_FALSE(m_main->reading().coverAlone) << "the reader's switch untouched";
  ASSERT_EQ(OpenFolder(shifted), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, -1)) << "kept for the book";
  Send(WM_COMMAND, IDM_RESET_BOOK, 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1)) << "reset: the defaults";
  ASSERT_EQ(OpenFolder(shifted), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1)) << "and forgotten";
  Send(WM_COMMAND, IDM_SINGLE, 0);
  const int beeps = m_beeps;
  Press('S');
  EXPECT_EQ(m_beeps, beeps + 1);
}

// Switched on, a turn past the last page opens the next volume at its first
// page, one before the first page the previous at its last, wherever they
// were left; off, and past the last volume, a beep.
TEST_F(Reading, TurnsReadOnIntoTheVolumeBesideWhenSwitchedOn) {
  Pages(3);
  m_tmp.MakeFolder("series");
  for (int volume : {1, 2, 10})
    Shell("cd '" + m_tmp.path() + "' && 7z a -tzip 'series/Vol " + std::to_string(volume) +
          ".zip' p0.png p1.png p2.png >/dev/null");
  ASSERT_EQ(OpenFile(m_tmp / "series/Vol 1.zip"), 0);
  Press(VK_END);
  m_beeps = 0;
  Press(VK_DOWN);
  EXPECT_EQ(m_main->book().displayName, u"Vol 1.zip") << "off by default";
  Send(WM_COMMAND, IDM_READ_ON, 0);
  const struct { WPARAM key; bool shift; const char16_t* volume; int32_t page; } steps[] = {{VK_DOWN, false, u"Vol 2.zip", 0}, {VK_DOWN, false, u"Vol 2.zip", 1}, {'N', false, u"Vol 10.zip", 0},
               {VK_UP, false, u"Vol 2.zip", 2},   {'N', true, u"Vol 1.zip", 2},     {VK_DOWN, false, u"Vol 2.zip", 0},
               {VK_END, false, u"Vol 2.zip", 2},  {VK_NEXT, false, u"Vol 10.zip", 0}, {VK_END, false, u"Vol 10.zip", 2},
               {VK_DOWN, false, u"Vol 10.zip", 2}};
  for (const auto& step : steps) {
    Press(step.key, {step.shift, false, false});
    EXPECT_EQ(m_main->book().displayName, step.volume) << step.key;
    EXPECT_EQ(m_main->book().current, step.page) << step.key;
  }
  EXPECT_EQ(m_beeps, 2);
  EXPECT_EQ(m_main->overlay().caption, Text("\u6b21\u306e\u5dfb\u306f\u3042\u308a\u307e\u305b\u3093"));
  Press(VK_UP);
  EXPECT_EQ(m_main->overlay().caption, u"") << "put away by the next turn";
}

// Phone scans stored wide but tagged "turn a quarter": upright, so they
// pair; with the switch off they stand as stored, each alone.
TEST_F(Reading, ExifOrientationDecidesTheShapeUnlessSwitchedOff) {
  for (const char* name : {"scan1.jpg", "scan2.jpg"}) {
    QImage stored(60, 40, QImage::Format_RGB32);
    stored.fill(qRgb(120, 120, 120));
    ASSERT_TRUE(stored.save(QString::fromStdString(m_tmp / "plain.jpg"), "JPEG"));
    const std::string jpeg = Bytes(m_tmp / "plain.jpg");
    // An APP1 block after the start marker: one IFD entry, orientation 6.
    std::string app1("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0\0\0\0\0", 32);
    const std::size_t length = app1.size() + 2;
    m_tmp.WriteFile(name, jpeg.substr(0, 2) + std::string{'\xFF', '\xE1', static_cast<char>(length >> 8),
                                                          static_cast<char>(length)} +
                              app1 + jpeg.substr(2));
  }
  ::unlink((m_tmp / "plain.jpg").c_str());
  Mode(PageMode::SpreadRight);
  ASSERT_EQ(OpenFolder(m_tmp.path()), 0);
  EXPECT_EQ(Shown(), std::make_pair(0, 1));
  EXPECT_EQ(m_main->firstImage().size.width, 40u);
  Send(WM_COMMAND, IDM_EXIF_ORIENTATION, 0);
  EXPECT_FALSE(m_main->reading().exifOrientation);
  EXPECT_EQ(Shown(), std::make_pair(0, -1)) << "decoded again as stored: wide, alone";
  EXPECT_EQ(m_main->firstImage().size.width, 60u);
}

// ---- the book's own description ----

// A book says it reads right to left, names its cover, drops a page and
// marks a double page: all for this book, the reader's own mode untouched.
// A description that is refused changes nothing, and says so once.
TEST_F(Reading, ABooksComicInfoRulesThatBookAlone) {
  const std::string folder = Pages(6, "cbz");  // p5 is upright: the book is wrong of it
  std::ofstream(folder + "/comicinfo.XML")
      << "<?xml version=\"1.0\"?><ComicInfo><Series>Tales</Series><Title>One</Title>"
         "<Manga>YesAndRightToLeft</Manga><Pages>"
         "<Page Image=\"0\" Type=\"FrontCover\"/><Page Image=\"3\" Type=\"Deleted\"/>"
         "<Page Image=\"5\" DoublePage=\"true\"/></Pages></ComicInfo>";
  Shell("cd '" + folder + "' && zip -q ../manga.cbz p0.png p1.png p2.png p3.png p4.png p5.png comicinfo.XML");
  std::ofstream(folder + "/comicinfo.XML") << "<!DOCTYPE x><ComicInfo><Manga>YesAndRightToLeft</Manga></ComicInfo>";
  Shell("cd '" + folder + "' && zip -q ../refused.cbz p0.png p1.png p2.png comicinfo.XML");
  Mode(PageMode::SpreadLeft);
  m_main->reading().coverAlone = false;

  ASSERT_EQ(OpenFile(m_tmp / "manga.cbz"), 0);
  // The description and the deleted page keep their places: the numbers
  // stay the archive's.
  std::vector<std::u16string> passedOver;
  for (const PageEntry& page : m_main->book().pages)
    if (page.state == PageState::NotImage) passedOver.push_back(page.name);
  EXPECT_EQ(m_main->book().PageCount(), 7);
  EXPECT_EQ(passedOver, (std::vector<std::u16string>{u"comicinfo.XML", u"p3.png"}));
  EXPECT_EQ(Shown(), std::make_pair(1, -1)) << "the cover alone";
  Press(VK_LEFT);  // right to left: the left arrow goes on
  EXPECT_EQ(Shown(), std::make_pair(2, 3));
  Press(VK_NEXT);
  EXPECT_EQ(Shown(), std::make_pair(5, -1)) << "p3 deleted; its partner is stated a double page";
  Press(VK_NEXT);
  ASSERT_EQ(m_main->ShowPage(5, 0), 0);
  EXPECT_EQ(Shown(), std::make_pair(5, 6)) << "decoded, the pixels win";
  EXPECT_EQ(m_main->profile().settings.pageMode, PageMode::SpreadLeft);
  EXPECT_EQ(m_debug.find(u"ComicInfo"), std::u16string::npos);
  // I shows its description over the pages; the title stays the page's.
  const std::u16string title = m_window.Title();
  Press('I');
  EXPECT_EQ(m_main->overlay().info, (std::vector<std::pair<std::u16string, std::u16string>>{
                                        {Text("\u30b7\u30ea\u30fc\u30ba"), u"Tales"}, {Text("\u984c\u540d"), u"One"}}));
  EXPECT_EQ(m_window.Title(), title);
  m_main->OnPaint();  // the panel drawn
  Press(VK_ESCAPE);
  EXPECT_TRUE(m_main->overlay().info.empty());
  // A spread picked from the menu is the reader's word over the book's.
  Send(WM_COMMAND, IDM_SPREAD_LEFT, 0);
  Press(VK_RIGHT);
  EXPECT_EQ(Shown(), std::make_pair(6, -1));
  // S pairs the named cover too, for this book alone.
  ASSERT_EQ(m_main->ShowPage(1, 0), 0);
  EXPECT_EQ(Shown(), std::make_pair(1, -1));
  Press('S');
  EXPECT_EQ(Shown(), std::make_pair(1, 2));

  ASSERT_EQ(OpenFile(m_tmp / "refused.cbz"), 0);
  EXPECT_EQ(m_main->book().PageCount(), 4);
  EXPECT_EQ(Shown(), std::make_pair(1, 2));
  Press(VK_RIGHT);  // the reader's left-opening spread, a page on
  EXPECT_EQ(Shown(), std::make_pair(2, 3));
  const int beeps = m_beeps;
  Press('I');
  EXPECT_EQ(m_beeps, beeps + 1) << "no description to show";
  const std::size_t line = m_debug.find(u"ComicInfo Ignored : DOCTYPE refused\r\n");
  EXPECT_NE(line, std::u16string::npos);
  EXPECT_EQ(m_debug.find(u"ComicInfo", line + 1), std::u16string::npos) << "one line";
}

// ---- why a book does not show ----

std::string Bytes(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

// A page whose bytes are not whole keeps its place: the part that decoded
// shows, or the error picture stands in for it, with the reason over it;
// the pages after it keep their numbers.
TEST_F(Reading, ADamagedPageKeepsItsPlaceAndSaysWhy) {
  SavePage(m_tmp, "page.png", 40, 60);
  const std::string png = Bytes(m_tmp / "page.png");
  std::string zip = test::ZipArchive({{"1.png", png}, {"2.png", png}, {"3.png", png}});
  zip[zip.find(std::string("PK\x03\x04", 4), 40) + 30 + 5 + 40] ^= 0x55;  // in 2.png's stored data
  m_tmp.WriteFile("crc.zip", zip);
  m_main->profile().settings.pageMode = PageMode::Single;
  ASSERT_EQ(OpenFile(m_tmp / "crc.zip"), 0);
  ASSERT_EQ(Shown(), std::make_pair(0, -1));
  EXPECT_TRUE(m_main->overlay().caption.empty()) << "a whole page says nothing";
  Press(VK_LEFT);
  ASSERT_EQ(Shown(), std::make_pair(1, -1)) << "its place kept";
  EXPECT_EQ(m_main->firstPage(), m_main->pictures().error.get());
  EXPECT_EQ(m_main->overlay().caption, DamageText(u"its data fails its CRC check"));
  UseLanguage(UiLanguage::English);
  EXPECT_EQ(m_main->overlay().caption, u"This page is damaged: its data fails its CRC check");
  UseLanguage(UiLanguage::Japanese);
  EXPECT_EQ(m_main->book().pages[1].state, PageState::Damaged);
  Press(VK_LEFT);
  EXPECT_EQ(Shown(), std::make_pair(2, -1));
  EXPECT_TRUE(m_main->overlay().caption.empty());
}

// Pages larger than the window: the page keys move the window down the
// page, then across it the way the book reads, and turn only at its end;
// a turn starts at the top, on the side the book opens from; a drag moves
// the pages instead of turning; B brings the whole page back.
TEST_F(Reading, LargerThanTheWindowTheKeysScrollBeforeTheyTurn) {
  SavePage(m_tmp, "a.png", 200, 600);
  SavePage(m_tmp, "b.png", 200, 600);
  SavePage(m_tmp, "c.png", 2000, 300);
  ASSERT_EQ(OpenFolder(m_tmp.path()), 0);
  Press('W');  // 800 x 2400 in a window 600 high
  const float kScroll = 0.9f * 600;
  for (float expected : {kScroll, 2 * kScroll, 3 * kScroll, 1800.0f}) {
    Press(VK_DOWN);
    ASSERT_EQ(Shown().first, 0);
    EXPECT_NEAR(m_main->viewScale().panY, expected, 0.5);
  }
  Press(VK_SPACE);
  EXPECT_EQ(Shown().first, 1) << "the end of the page: a turn";
  EXPECT_EQ(m_main->viewScale().panY, 0.0f);
  Press(VK_UP);
  EXPECT_EQ(Shown().first, 0);

  // A wide page at its own size, read from the right: the window starts
  // at its right edge and moves left.
  ASSERT_EQ(m_main->ShowPage(2, 0), 0);
  Press('O');
  EXPECT_NEAR(m_main->viewScale().panX, 2000 - 800, 0.5);
  Press(VK_DOWN);
  EXPECT_NEAR(m_main->viewScale().panX, 2000 - 800 - 0.9f * 800, 0.5);
  Press(VK_RIGHT);
  EXPECT_NEAR(m_main->viewScale().panX, 2000 - 800, 0.5);
  Send(WM_LBUTTONDOWN, 0, MAKELPARAM(400, 300));
  Send(WM_MOUSEMOVE, 0, MAKELPARAM(700, 300));
  Send(WM_LBUTTONUP, 0, MAKELPARAM(700, 300));
  EXPECT_NEAR(m_main->viewScale().panX, 2000 - 800 - 300, 0.5) << "dragged by 300";
  EXPECT_EQ(Shown().first, 2) << "a drag is no click";

  Press('B');
  EXPECT_TRUE(m_main->viewScale().Fitted());
  Press(VK_UP);
  EXPECT_EQ(Shown().first, 1);
}

// A book whose archive was cut off shows the pages before the cut and
// says that the rest are missing where it begins and where they end.
TEST_F(Reading, ABookCutShortSaysPagesAreMissing) {
  SavePage(m_tmp, "page.png", 40, 60);
  const std::string png = Bytes(m_tmp / "page.png");
  std::vector<test::ZipEntry> pages;
  for (int k = 1; k <= 8; ++k) pages.push_back({std::to_string(k) + ".png", png});
  const std::string zip = test::ZipArchive(pages);
  std::size_t fifth = 0;  // cut where the fifth entry begins
  for (int k = 0; k < 5; ++k) fifth = zip.find(std::string("PK\x03\x04", 4), k == 0 ? 0 : fifth + 1);
  m_tmp.WriteFile("cut.zip", zip.substr(0, fifth));
  m_main->profile().settings.pageMode = PageMode::Single;
  ASSERT_EQ(OpenFile(m_tmp / "cut.zip"), 0);
  const int32_t count = m_main->book().PageCount();
  ASSERT_EQ(count, 4);
  EXPECT_EQ(m_main->overlay().caption, PagesMissingText());
  Press(VK_LEFT);
  EXPECT_TRUE(m_main->overlay().caption.empty()) << "not over every page";
  Press(VK_END);
  EXPECT_EQ(Shown(), std::make_pair(count - 1, -1));
  UseLanguage(UiLanguage::English);
  EXPECT_EQ(m_main->overlay().caption, u"damaged: some pages could not be read");
  UseLanguage(UiLanguage::Japanese);
}

TEST_F(Reading, EachFailureSaysWhyOnThePicture) {
  SavePage(m_tmp, "page.png", 40, 60);
  m_tmp.WriteFile("notes.txt", "neither an image nor an archive");
  m_tmp.MakeFolder("texts");
  m_tmp.WriteFile("texts/a.txt", "text");
  Shell("cd '" + m_tmp.path() + "' && 7z a -tzip -psecret locked.zip page.png >/dev/null");
  Shell("cd '" + m_tmp.path() + "' && 7z a -psecret -mhe=on hidden.7z page.png >/dev/null");
  Shell("cd '" + m_tmp.path() + "' && 7z a -tzip good.zip page.png >/dev/null");
  {
    // A Zip whose entry claims a method nothing here decodes.
    std::string zip = test::ZipArchive({{"page.png", Bytes(m_tmp / "page.png")}});
    zip[8] = 77;                                   // the local header's method
    zip[zip.find(std::string("PK\x01\x02", 4)) + 10] = 77;  // and the central one's
    m_tmp.WriteFile("odd.zip", zip);
    const std::string good = Bytes(m_tmp / "good.zip");
    m_tmp.WriteFile("cut.zip", good.substr(0, good.size() / 2));
    const std::string png = Bytes(m_tmp / "page.png");
    m_tmp.WriteFile("cut.png", png.substr(0, 40));
  }
  const ID2D1Bitmap* error = m_main->pictures().error.get();
  const ID2D1Bitmap* unknown = m_main->pictures().unknown.get();
  const struct {
    std::string path;
    bool folder;
    OpenFailure why;
    const ID2D1Bitmap* picture;
  } rows[] = {
      {m_tmp / "missing", true, OpenFailure::NotFound, error},
      {m_tmp / "missing.zip", false, OpenFailure::NotFound, error},
      {m_tmp / "notes.txt", false, OpenFailure::NotImageOrArchive, unknown},
      {m_tmp / "locked.zip", false, OpenFailure::NeedsPassword, unknown},
      {m_tmp / "hidden.7z", false, OpenFailure::NeedsPassword, unknown},
      {m_tmp / "cut.png", false, OpenFailure::Damaged, unknown},
      {m_tmp / "odd.zip", false, OpenFailure::UnsupportedCompression, unknown},
      {m_tmp / "texts", true, OpenFailure::NoImages, unknown},
  };
  for (const auto& row : rows) {
    m_debug.clear();
    if (row.folder)
      OpenFolder(row.path);
    else
      OpenFile(row.path);
    EXPECT_EQ(m_main->failure(), row.why) << row.path;
    EXPECT_EQ(m_main->firstPage(), row.picture) << row.path;
    EXPECT_EQ(m_main->overlay().caption, FailureText(row.why)) << row.path;
    EXPECT_FALSE(m_main->overlay().caption.empty());
    // The debug output is as it always was.
    EXPECT_EQ(m_debug.find(u"  Why"), std::u16string::npos);
  }
  // An archive cut short in its only page: the page keeps its place, the
  // error picture standing in for it with the reason.
  OpenFile(m_tmp / "cut.zip");
  EXPECT_EQ(m_main->failure(), OpenFailure::None);
  EXPECT_EQ(m_main->firstPage(), error);
  EXPECT_EQ(m_main->overlay().caption, DamageText(u"its data ends early: the archive is cut short"));
  // A page that shows puts the line away.
  ASSERT_EQ(OpenFile(m_tmp / "good.zip"), 0);
  EXPECT_EQ(m_main->failure(), OpenFailure::None);
  EXPECT_TRUE(m_main->overlay().caption.empty());
  // In English, the same line in English.
  OpenFile(m_tmp / "locked.zip");
  UseLanguage(UiLanguage::English);
  EXPECT_EQ(m_main->overlay().caption, u"This archive needs a password.");
  UseLanguage(UiLanguage::Japanese);
}

TEST_F(Reading, ALockedBookAsksOnceAndItsPasswordIsKeptNowhere) {
  const std::string secret = "velmora-Secret-4711";
  SavePage(m_tmp, "page.png", 40, 60);
  Shell("cd '" + m_tmp.path() + "' && 7z a -tzip -mem=AES256 -p" + secret + " locked.zip page.png >/dev/null");
  m_passwords = {u"wrong", Utf8ToUtf16(secret)};
  ASSERT_EQ(OpenFile(m_tmp / "locked.zip"), 0);
  EXPECT_EQ(m_main->failure(), OpenFailure::None);
  EXPECT_EQ(m_main->firstImage().size.width, 40u) << "the page, decrypted";
  const std::u16string wrong = Text("\u30d1\u30b9\u30ef\u30fc\u30c9\u304c\u9055\u3044\u307e\u3059\u3002");
  ASSERT_EQ(m_passwordPrompts.size(), 2u);
  EXPECT_NE(m_passwordPrompts[0].find(u"locked.zip"), std::u16string::npos);
  EXPECT_TRUE(m_passwordPrompts[0].ends_with(u"|"));
  EXPECT_TRUE(m_passwordPrompts[1].ends_with(u"|" + wrong)) << "the second asks, saying the first was wrong";

  UseLanguage(UiLanguage::English);
  EXPECT_EQ(Text("\u30d1\u30b9\u30ef\u30fc\u30c9\u304c\u9055\u3044\u307e\u3059\u3002"), u"The password is wrong.");
  EXPECT_EQ(Text("\u300c%1\u300d\u306e\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u5165\u529b\u3057\u3066\u304f\u3060\u3055\u3044:"),
            u"Enter the password of \u201c%1\u201d:");
  UseLanguage(UiLanguage::Japanese);

  ASSERT_EQ(OpenFile(m_tmp / "locked.zip"), 0);
  EXPECT_EQ(m_passwordPrompts.size(), 2u) << "not asked again in this run";
  EXPECT_EQ(m_main->failure(), OpenFailure::None);

  Send(WM_DESTROY, 0, 0);  // the profile, the history's pages and the settings are written
  std::string written;
  for (const TempDir* dir : {&m_profileDir, &m_settingsDir})
    for (const auto& file : std::filesystem::recursive_directory_iterator(dir->path()))
      if (file.is_regular_file()) written += Bytes(file.path().string());
  ASSERT_NE(written.find("locked.zip"), std::string::npos) << "the book is in the history";
  EXPECT_EQ(written.find(secret), std::string::npos);
  EXPECT_EQ(m_debug.find(Utf8ToUtf16(secret)), std::u16string::npos);
}

// The book named on the command line: one that is gone shows the picture
// and the line it shows when it is opened from the history, and that line
// is what the command line is told; a folder or a file that opens tells
// nothing.
TEST_F(Reading, AStartPathThatIsGoneSaysSoAsTheHistoryDoes) {
  const std::string gone = m_tmp / "gone.cbz";
  m_main->profile().history.Add(Utf8ToUtf16(gone), 0, {});
  Send(WM_COMMAND, IDM_HISTORY_FIRST, 0);
  ASSERT_EQ(m_main->failure(), OpenFailure::NotFound);
  ASSERT_EQ(m_main->firstPage(), m_main->pictures().error.get());
  const std::u16string fromHistory = m_main->overlay().caption;
  ASSERT_FALSE(fromHistory.empty());
  auto said = [&](const std::string& path) {
    std::u16string why;
    OpenStartPath(*m_main, Utf8ToUtf16(path), [&](const std::u16string& line) { why = line; });
    return why;
  };
  for (const std::string& path : {gone, m_tmp / "gone"}) {
    MakeWindow();
    EXPECT_EQ(said(path), fromHistory) << path;
    EXPECT_EQ(m_main->firstPage(), m_main->pictures().error.get()) << path;
    EXPECT_EQ(m_main->overlay().caption, fromHistory) << path;
  }
  const std::string folder = Pages(2, "vol");
  Shell("cd '" + folder + "' && 7z a -tzip ../vol.cbz p0.png p1.png >/dev/null");
  for (const std::string& path : {folder, m_tmp / "vol.cbz"}) {
    EXPECT_EQ(said(path), u"") << path;
    EXPECT_EQ(m_main->book().PageCount(), 2) << path;
  }
}

TEST_F(Reading, AFolderThatMayNotBeReadSaysSo) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser reads every folder";
  m_tmp.MakeFolder("locked");
  ASSERT_EQ(::chmod((m_tmp / "locked").c_str(), 0), 0);
  OpenFolder(m_tmp / "locked");
  ::chmod((m_tmp / "locked").c_str(), 0755);
  EXPECT_EQ(m_main->failure(), OpenFailure::NoPermission);
}

// ---- books on a server ----

// A server in memory that holds every answer until the test lets them go.
struct HeldServer {
  std::string bytes;
  std::mutex mutex;
  std::condition_variable let;
  bool open = false;
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    let.notify_all();
  }
  HttpResponse Answer(const HttpRequest& request) {
    std::unique_lock lock(mutex);
    // Bounded, so that an opening made on the test's own thread fails instead of hanging.
    HttpResponse answer;
    if (!let.wait_for(lock, std::chrono::seconds(5), [this] { return open; })) return answer.error = HttpError::Timeout, answer;
    answer.status = 206;
    answer.rangeHonoured = true;
    answer.totalSize = static_cast<std::int64_t>(bytes.size());
    answer.body = bytes.substr(static_cast<std::size_t>(request.range->first),
                               static_cast<std::size_t>(request.range->last - request.range->first + 1));
    return answer;
  }
};

// A remote book's directory is read off the window's thread: keys are
// served meanwhile and the book on screen stays until the new one has
// opened; one that a later open or the window's end came before is never
// shown. A locked one asks for its password over the window, on its thread.
TEST_F(Reading, RemoteBooksOpenOffTheWindowsThread) {
  const std::string local = Pages(3, "local");
  SavePage(m_tmp, "page.png", 40, 60);
  Shell("cd '" + m_tmp.path() + "' && 7z a -tzip -mem=AES256 -psecret locked.zip page.png >/dev/null");
  const std::string open = test::ZipArchive({{"1.png", Bytes(m_tmp / "page.png")}, {"2.png", Bytes(m_tmp / "page.png")}});
  enum class Meanwhile { Nothing, OpenLocal, Close };
  const struct {
    Meanwhile meanwhile;
    bool locked;
    bool shown;
  } cases[] = {{Meanwhile::Nothing, false, true}, {Meanwhile::Nothing, true, true},
               {Meanwhile::OpenLocal, false, false}, {Meanwhile::Close, false, false}};
  for (const auto& c : cases) {
    MakeWindow();
    ASSERT_EQ(OpenFolder(local), 0);
    HeldServer server;
    server.bytes = c.locked ? Bytes(m_tmp / "locked.zip") : open;
    // The first block as a probe gets it: the directory at the end takes more.
    const RemoteFileOptions blocks{.blockSize = 256};
    HttpResponse first;
    first.status = 206;
    first.rangeHonoured = true;
    first.totalSize = static_cast<std::int64_t>(server.bytes.size());
    first.body = server.bytes.substr(0, blocks.blockSize);
    RemoteBook book;
    book.url = u"http://books.test/b.cbz";
    book.file = RemoteFileOf({book.url, {}}, first, [&server](HttpRequest r) { return server.Answer(r); }, blocks).file;
    ASSERT_TRUE(book.file);
    m_passwords = {u"secret"};
    m_passwordPrompts.clear();
    m_debug.clear();
    m_main->OpenRemoteBook(book);
    Press(VK_LEFT);
    EXPECT_EQ(Shown().first, 1) << "a key served meanwhile, the book on screen kept";
    if (c.meanwhile == Meanwhile::OpenLocal) {
      ASSERT_EQ(OpenFolder(local), 0);
    }
    if (c.meanwhile == Meanwhile::Close) Send(WM_DESTROY, 0, 0);
    server.Open();
    // The window's thread takes what the opening's sends it (a password to ask), then its result.
    for (int i = 0; i < 200 && !m_main->OpeningsDone(std::chrono::milliseconds(10)); ++i) Send(WM_APP_OPENED, 0, 0);
    ASSERT_TRUE(m_main->OpeningsDone(std::chrono::milliseconds(0)));
    Send(WM_APP_OPENED, 0, 0);
    EXPECT_EQ(m_main->book().remote, c.shown);
    EXPECT_EQ(m_debug.find(u"Open Remote\r\n  URL : http://books.test/b.cbz") != std::u16string::npos, c.shown)
        << Utf16ToUtf8(m_debug);
    EXPECT_EQ(m_passwordPrompts.size(), c.locked ? 1u : 0u);
    if (c.shown) {
      EXPECT_EQ(m_main->firstImage().size.width, 40u) << "its first page";
    }
  }
}

}  // namespace
