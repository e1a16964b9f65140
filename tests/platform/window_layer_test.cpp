// The window layer's newer facilities on Qt: the keys and buttons readers
// use, the modifier state, the program's own per-user settings, monitors,
// the user's language and translations, the number dialog, the open
// dialog's start folder, the browser's fetches, and words drawn on a
// render target, and frames drawn onto the window's own surface.
#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>
#include <QtGui/QDropEvent>
#include <QtTest/QTest>
#include <QtWidgets/QWidget>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "platform/d2d1.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/shobjidl.h"
#include "platform/text.h"
#include "platform/wincodec.h"
#include "platform/winuser.h"

using test::TempDir;

namespace {

class Application : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "window_layer_tests";
    static char* argv[] = {name, nullptr};
    InitApplication(argc, argv);
  }
};
const auto* const kApplication = ::testing::AddGlobalTestEnvironment(new Application);

// ---- keys and buttons ----

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool shift, control;
};

class Recorder final : public CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, DWORD) override {
    result = 0;
    if (message != WM_KEYDOWN && message != WM_LBUTTONDOWN && message != WM_LBUTTONUP) return false;
    seen.push_back({message, wParam, lParam, GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_CONTROL) < 0});
    return true;
  }
  std::vector<Seen> seen;
};

TEST(WindowLayer, KeysBecomeVirtualKeysWithTheirModifiers) {
  Recorder recorder;
  ASSERT_NE(recorder.Create(u"keys", 400, 300), nullptr);
  auto* widget = dynamic_cast<QWidget*>(recorder.m_hWnd);
  ASSERT_NE(widget, nullptr);
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    WPARAM vk;
  } rows[] = {
      {Qt::Key_Home, Qt::NoModifier, VK_HOME},        {Qt::Key_End, Qt::NoModifier, VK_END},
      {Qt::Key_PageUp, Qt::NoModifier, VK_PRIOR},     {Qt::Key_PageDown, Qt::NoModifier, VK_NEXT},
      {Qt::Key_Backspace, Qt::NoModifier, VK_BACK},   {Qt::Key_Escape, Qt::NoModifier, VK_ESCAPE},
      {Qt::Key_F1, Qt::NoModifier, VK_F1},            {Qt::Key_F10, Qt::ShiftModifier, VK_F10},
      {Qt::Key_F11, Qt::NoModifier, VK_F11},          {Qt::Key_Menu, Qt::NoModifier, VK_APPS},
      {Qt::Key_Question, Qt::ShiftModifier, VK_OEM_2}, {Qt::Key_O, Qt::ControlModifier, 'O'},
      {Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier, 'O'}, {Qt::Key_N, Qt::ShiftModifier, 'N'},
  };
  for (const auto& row : rows) {
    recorder.seen.clear();
    QTest::keyClick(widget, row.key, row.modifiers);
    ASSERT_EQ(recorder.seen.size(), 1u) << row.key;
    EXPECT_EQ(recorder.seen[0].message, WM_KEYDOWN);
    EXPECT_EQ(recorder.seen[0].wParam, row.vk) << row.key;
    EXPECT_EQ(recorder.seen[0].shift, (row.modifiers & Qt::ShiftModifier) != 0) << row.key;
    EXPECT_EQ(recorder.seen[0].control, (row.modifiers & Qt::ControlModifier) != 0) << row.key;
  }
  // The state the tests set themselves.
  BYTE keys[256] = {};
  keys[VK_CONTROL] = 0x80;
  ASSERT_TRUE(SetKeyboardState(keys));
  EXPECT_LT(GetKeyState(VK_CONTROL), 0);
  EXPECT_EQ(GetKeyState(VK_SHIFT), 0);
  EXPECT_EQ(GetKeyState(-1), 0);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);

  recorder.seen.clear();
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
  ASSERT_EQ(recorder.seen.size(), 2u);
  EXPECT_EQ(recorder.seen[0].message, WM_LBUTTONDOWN);
  EXPECT_EQ(recorder.seen[1].message, WM_LBUTTONUP);
  EXPECT_EQ(recorder.seen[1].lParam, MAKELPARAM(30, 40));
  QTest::mouseClick(widget, Qt::RightButton, Qt::NoModifier, QPoint(30, 40));
  EXPECT_EQ(recorder.seen.size(), 2u) << "only the left button";

  POINT at{12, 34};
  ASSERT_TRUE(ClientToScreen(recorder.m_hWnd, &at));
  ASSERT_TRUE(ScreenToClient(recorder.m_hWnd, &at));
  EXPECT_EQ(at.x, 12);
  EXPECT_EQ(at.y, 34);
}

// A drop hands the window files as paths and web addresses as themselves,
// in their order; other schemes are passed over.
class DropRecorder final : public CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& result, DWORD) override {
    const auto drop = reinterpret_cast<HDROP>(wParam);
    for (UINT i = 0; message == WM_DROPFILES && i < DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0); ++i) {
      dropped.emplace_back(DragQueryFileW(drop, i, nullptr, 0), u'\0');
      DragQueryFileW(drop, i, dropped.back().data(), static_cast<UINT>(dropped.back().size() + 1));
    }
    if (message == WM_DROPFILES) DragFinish(drop);
    return result = 0, message == WM_DROPFILES;
  }
  std::vector<std::u16string> dropped;
};

TEST(WindowLayer, DropsGiveFilesAndWebAddresses) {
  DropRecorder recorder;
  ASSERT_NE(recorder.Create(u"drops", 400, 300), nullptr);
  DragAcceptFiles(recorder.m_hWnd, TRUE);
  QMimeData data;
  data.setUrls({QUrl(QStringLiteral("ftp://h.example/a.cbz")), QUrl(QStringLiteral("https://h.example/opds?q=a b")),
                QUrl::fromLocalFile(QStringLiteral("/tmp/a book.cbz")), QUrl(QStringLiteral("http://h.example:8080/"))});
  // The drop goes where the drag was taken.
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  for (QEvent* event : std::initializer_list<QEvent*>{&enter, &drop})
    QCoreApplication::sendEvent(dynamic_cast<QWidget*>(recorder.m_hWnd), event);
  EXPECT_EQ(recorder.dropped, (std::vector<std::u16string>{u"https://h.example/opds?q=a%20b", u"/tmp/a book.cbz",
                                                           u"http://h.example:8080/"}));
}

TEST(WindowLayer, MonitorsArePresentedPrimaryFirst) {
  std::vector<HMONITOR> monitors;
  ASSERT_TRUE(EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, void*, RECT* rect, LPARAM data) -> BOOL {
        EXPECT_GT(rect->right, rect->left);
        reinterpret_cast<std::vector<HMONITOR>*>(data)->push_back(monitor);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors)));
  ASSERT_FALSE(monitors.empty());
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetMonitorInfoW(monitors.front(), &info));
  EXPECT_EQ(info.dwFlags, 1u) << "the primary first";
  const RECT clip{0, 0, 1, 1};
  EXPECT_FALSE(EnumDisplayMonitors(nullptr, &clip, [](HMONITOR, void*, RECT*, LPARAM) -> BOOL { return TRUE; }, 0));
}

// ---- placement ----

class SizeRecorder final : public CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM lParam, LRESULT& result, DWORD) override {
    if (message != WM_SIZE) return false;
    sizes.push_back({LOWORD(static_cast<uintptr_t>(lParam)), HIWORD(static_cast<uintptr_t>(lParam))});
    result = 0;
    return true;
  }
  std::vector<std::pair<int, int>> sizes;
};

// What is made before the window shows (a book's first pages) is made for
// the size it will show at: a hidden window placed is told its size then.
TEST(WindowLayer, AHiddenWindowPlacedIsToldItsSizeAtOnce) {
  SizeRecorder recorder;
  ASSERT_NE(recorder.Create(u"placed", 400, 300), nullptr);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  ASSERT_TRUE(GetWindowPlacement(recorder.m_hWnd, &placement));
  placement.rcNormalPosition = RECT{10, 20, 610, 420};
  recorder.sizes.clear();
  ASSERT_TRUE(SetWindowPlacement(recorder.m_hWnd, &placement));
  ASSERT_FALSE(recorder.sizes.empty());
  EXPECT_EQ(recorder.sizes.back(), (std::pair<int, int>{600, 400}));
  RECT client{};
  GetClientRect(recorder.m_hWnd, &client);
  EXPECT_EQ(client.right, 600);
  EXPECT_EQ(client.bottom, 400);
}

// ---- settings ----

TEST(WindowLayer, UserSettingsRoundTripWhateverTheyHold) {
  TempDir dir;
  SetUserSettingsFile(Utf8ToUtf16(dir / "settings.conf"));
  EXPECT_EQ(GetUserSettingInteger(u"a/number", -7), -7);
  EXPECT_EQ(GetUserSettingText(u"a/text"), u"");
  EXPECT_TRUE(GetUserSettingTexts(u"a/list").empty());
  EXPECT_FALSE(HasUserSetting(u"a/number"));
  SetUserSettingInteger(u"a/number", -123456789012);
  EXPECT_EQ(GetUserSettingInteger(u"a/number", 0), -123456789012);
  EXPECT_TRUE(HasUserSetting(u"a/number"));
  // Texts: plain, with "=" and line breaks, and file names no UTF-8 spells.
  const std::u16string odd = Utf8ToUtf16("/b\xE4\xFF/x=y\r\n");
  for (const std::u16string& text : {std::u16string(u"/books/\u7b2c1\u5dfb"), odd, std::u16string()}) {
    SetUserSettingText(u"a/text", text);
    EXPECT_EQ(GetUserSettingText(u"a/text"), text);
  }
  SetUserSettingTexts(u"a/list", {u"one", odd, u"", u"four"});
  EXPECT_EQ(GetUserSettingTexts(u"a/list"), (std::vector<std::u16string>{u"one", odd, u"", u"four"}));
  SetUserSettingTexts(u"a/list", {u"only"});
  EXPECT_EQ(GetUserSettingTexts(u"a/list"), (std::vector<std::u16string>{u"only"}));
  SetUserSettingText(u"a/number", u"twelve");
  EXPECT_EQ(GetUserSettingInteger(u"a/number", 5), 5) << "a text is not a number";
  // A value set again as it is leaves the file alone (the program sets one at every start).
  SetUserSetting(u"a/flags", u"velmora", 10000);
  struct stat before {};
  ASSERT_EQ(::stat((dir / "settings.conf").c_str(), &before), 0);
  SetUserSetting(u"a/flags", u"velmora", 10000);
  struct stat after {};
  ASSERT_EQ(::stat((dir / "settings.conf").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten";
  SetUserSetting(u"a/flags", u"velmora", 10001);
  EXPECT_EQ(GetUserSettingInteger(u"a/flags/velmora", 0), 10001);
  SetUserSettingsFile(u"");
}

// ---- language ----

TEST(WindowLayer, TheUsersLanguageComesFromTheLocale) {
  // In a process of its own each time: the locale is read once a process.
  const struct {
    const char* environment;
    int japanese;
  } rows[] = {{"LANG=ja_JP.UTF-8", 1},
              {"LANG=en_US.UTF-8", 0},
              {"LANG=de_DE.UTF-8", 0},
              {"LANG=C", 0},
              {"LANG=en_US.UTF-8 LC_ALL=ja_JP.UTF-8", 1},
              {"LANG=en_US.UTF-8 LANGUAGE=ja", 1},
              {"LANG=ja_JP.UTF-8 LANGUAGE=en", 0}};
  for (const auto& row : rows) {
    const std::string command = std::string("env -u LC_ALL -u LC_MESSAGES -u LANGUAGE ") + row.environment + " '" +
                                LANGUAGE_PROBE + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << command;
    EXPECT_EQ(WEXITSTATUS(status), row.japanese) << row.environment;
  }
}

TEST(WindowLayer, TextsWithoutATranslationStayAsWritten) {
  EXPECT_FALSE(LoadTranslation(u"/no/such/translation.qm"));
  EXPECT_EQ(TranslateText("Velmora", "1\u679a"), u"1\u679a");
  EXPECT_TRUE(LoadTranslation(nullptr));
  EXPECT_EQ(TranslateText("Velmora", "Open File..."), u"Open File...");
}

// ---- dialogs ----

TEST(WindowLayer, TheNumberDialogAsksWithinItsRange) {
  struct Asked {
    int value = 0, minimum = 0, maximum = 0, calls = 0;
  };
  static Asked asked;
  SetNumberDialogHook(
      [](const char16_t*, const char16_t*, int value, int minimum, int maximum, int* result, void*) -> BOOL {
        asked = Asked{value, minimum, maximum, asked.calls + 1};
        *result = maximum;
        return TRUE;
      },
      nullptr);
  int result = 0;
  EXPECT_TRUE(AskForNumber(nullptr, u"Go", u"Page", 99, 1, 12, &result));
  EXPECT_EQ(asked.value, 12) << "a start outside the range is brought into it";
  EXPECT_EQ(result, 12);
  EXPECT_FALSE(AskForNumber(nullptr, u"Go", u"Page", 1, 5, 4, &result)) << "an empty range asks nothing";
  EXPECT_FALSE(AskForNumber(nullptr, u"Go", u"Page", 1, 1, 4, nullptr));
  EXPECT_EQ(asked.calls, 1);
  SetNumberDialogHook(nullptr, nullptr);
}

TEST(WindowLayer, TheOpenDialogStartsInTheFolderAskedFor) {
  static std::u16string shown;
  SetFileDialogHook(
      [](DWORD, const std::u16string&, std::u16string*, void*) {
        shown = ShownFileDialogFolder();
        return false;
      },
      nullptr);
  IFileOpenDialog* dialog = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                             reinterpret_cast<void**>(&dialog)),
            S_OK);
  IFileDialogFolder* folder = nullptr;
  ASSERT_EQ(dialog->QueryInterface(IFileDialogFolder::iid, reinterpret_cast<void**>(&folder)), S_OK);
  folder->SetFolder(u"/books/series");
  IUnknown* unknown = nullptr;
  ASSERT_EQ(folder->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(dialog)) << "one identity for both faces";
  unknown->Release();
  folder->Release();
  EXPECT_NE(dialog->Show(nullptr), S_OK);
  EXPECT_EQ(shown, u"/books/series");
  EXPECT_EQ(ShownFileDialogFolder(), u"") << "only while shown";
  EXPECT_EQ(dialog->Release(), 0u);
  SetFileDialogHook(nullptr, nullptr);
}

// Runs the event loop until `done` holds or five seconds pass.
template <class Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

class Dialog final : public CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result, DWORD) override {
    result = 0;
    if (message == WM_BROWSER_DOCUMENT_COMPLETE) ++completed;
    return true;
  }
  int completed = 0;
};

TEST(WindowLayer, TheBrowserToldOfEveryFetchAndOfNoneWithoutAnAddress) {
  static std::vector<std::u16string> fetched;
  fetched.clear();
  SetBrowserFetchHook([](const char16_t* url, void*) { fetched.emplace_back(url); }, nullptr);
  Dialog dialog;
  ASSERT_NE(CreateDialogWindow(&dialog, nullptr, u"About", 300, 200), nullptr);
  HWND browser = CreateBrowser(dialog.m_hWnd, 7);
  BrowserNavigate(browser, u"", u":/no/copy.html");
  ASSERT_TRUE(WaitFor([&] { return dialog.completed == 1; }));
  EXPECT_TRUE(fetched.empty());
  // An address nobody answers (a closed port here): fetched, then the copy.
  AllowBrowserLoopbackForTests(true);
  BrowserNavigate(browser, u"http://127.0.0.1:9/page.html", u":/no/copy.html");
  ASSERT_TRUE(WaitFor([&] { return dialog.completed == 2; }));
  EXPECT_EQ(fetched, (std::vector<std::u16string>{u"http://127.0.0.1:9/page.html"}));
  AllowBrowserLoopbackForTests(false);
  SetBrowserFetchHook(nullptr, nullptr);
  DestroyDialogWindow(dialog.m_hWnd);
  dialog.m_hWnd = nullptr;  // gone with its widget
}

// ---- words on a render target ----

// A render target of 96 dpi on `window`, and its factory: both to release.
void MakeTarget(HWND window, D2D1_SIZE_U size, ID2D1Factory** factory, ID2D1HwndRenderTarget** target) {
  ASSERT_EQ(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, IID_ID2D1Factory, nullptr,
                              reinterpret_cast<void**>(factory)),
            S_OK);
  const D2D1_RENDER_TARGET_PROPERTIES properties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                 {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
                                                 96,
                                                 96,
                                                 D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE,
                                                 0};
  ASSERT_EQ((*factory)->CreateHwndRenderTarget(properties, {window, size, D2D1_PRESENT_OPTIONS_NONE}, target), S_OK);
}

TEST(WindowLayer, WordsAreDrawnAndMeasured) {
  COffscreenWindow window(200, 60);
  ID2D1Factory* factory = nullptr;
  ID2D1HwndRenderTarget* target = nullptr;
  MakeTarget(&window, {200, 60}, &factory, &target);
  ASSERT_NE(target, nullptr);
  const DWRITE_TEXT_FORMAT_DESC format{20, DWRITE_TEXT_ALIGNMENT_LEADING, true};
  const std::u16string words = u"Page";
  const D2D1_SIZE_F size = target->MeasureText(words.data(), static_cast<UINT>(words.size()), format, 1000);
  EXPECT_GT(size.width, 20);
  EXPECT_GT(size.height, 15);
  const D2D1_SIZE_F wrapped = target->MeasureText(u"one two three four", 18, format, 60);
  EXPECT_GT(wrapped.height, size.height * 1.5f) << "lines break between words";

  ID2D1SolidColorBrush* white = nullptr;
  ASSERT_EQ(target->CreateSolidColorBrush({1, 1, 1, 1}, &white), S_OK);
  ID2D1SolidColorBrush* grey = nullptr;
  ASSERT_EQ(target->CreateSolidColorBrush({0.5f, 0.5f, 0.5f, 1}, &grey), S_OK);
  target->BeginDraw();
  const D2D1_COLOR_F black{0, 0, 0, 1};
  target->Clear(&black);
  target->FillRectangle({100, 0, 200, 60}, grey);
  target->DrawText(words.data(), static_cast<UINT>(words.size()), format, {0, 0, 100, 60}, white);
  ASSERT_EQ(target->EndDraw(), S_OK);
  int whites = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) whites += (window.Pixel(x, y) & 0xFFFFFF) == 0xFFFFFF;
  EXPECT_GT(whites, 20) << "the word's strokes";
  EXPECT_EQ(window.Pixel(150, 30) & 0xFFFFFF, 0x808080u);
  white->Release();
  grey->Release();
  target->Release();
  factory->Release();
}


// ---- frames drawn in place ----

// A frame drawn while the window paints goes onto the window's own
// surface: it must show there as drawn, and not be painted over.
class FramePainter final : public CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT& result, DWORD) override {
    if (message != WM_PAINT) return false;
    ID2D1Factory* factory = nullptr;
    ID2D1HwndRenderTarget* target = nullptr;
    ID2D1SolidColorBrush* grey = nullptr;
    MakeTarget(hwnd, {200, 100}, &factory, &target);
    if (target == nullptr || target->CreateSolidColorBrush({0.5f, 0.5f, 0.5f, 1}, &grey) != S_OK) return false;
    target->BeginDraw();
    const D2D1_COLOR_F red{1, 0, 0, 1};
    target->Clear(&red);
    target->FillRectangle({100, 0, 200, 100}, grey);
    EXPECT_EQ(target->EndDraw(), S_OK);
    grey->Release();
    target->Release();
    factory->Release();
    result = 0;
    return true;
  }
};

TEST(WindowLayer, AFrameDrawnWhileTheWindowPaintsShowsOnIt) {
  FramePainter painter;
  ASSERT_NE(painter.Create(u"frame", 200, 100), nullptr);
  const QImage shown = dynamic_cast<QWidget&>(*painter.m_hWnd).grab().toImage();
  for (const auto& [x, colour] : {std::pair{0, qRgb(255, 0, 0)}, {199, qRgb(128, 128, 128)}})
    EXPECT_EQ(shown.pixel(x, 99), colour) << x;
}

}  // namespace
