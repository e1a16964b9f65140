// The viewer's own settings in the per-user settings file: the switches,
// the pages of the history, the window's place (and a place off every
// screen), the about page's site; none of it in the profile file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/shell/AboutDialog.h"
#include "viewer/shell/Catalogues.h"
#include "viewer/shell/Placement.h"
#include "viewer/shell/Profile.h"
#include "viewer/shell/ReaderSettings.h"
#include "viewer/shell/Settings.h"

using test::TempDir;

namespace {

class UserSettings : public ::testing::Test {
 protected:
  void SetUp() override { SetUserSettingsFile(Utf8ToUtf16(File())); }
  void TearDown() override { SetUserSettingsFile(u""); }
  std::string File() const { return m_dir / "velmora.conf"; }
  std::string Written() const {
    std::ifstream in(File(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  TempDir m_dir;
};

TEST_F(UserSettings, TheSwitchesRoundTripAndDefaultToWhatReadersExpect) {
  const ReaderSettings defaults = LoadReaderSettings();
  EXPECT_EQ(defaults, ReaderSettings{});
  EXPECT_TRUE(defaults.naturalOrder);  // "page 2" before "page 10"
  EXPECT_FALSE(defaults.coverAlone);
  EXPECT_TRUE(defaults.resume);
  EXPECT_TRUE(defaults.exifOrientation);
  EXPECT_TRUE(defaults.pageNumber);
  EXPECT_EQ(defaults.order(), NameOrder::Natural);
  // Each switch on its own, so one cannot stand in for another.
  for (bool ReaderSettings::*which : {&ReaderSettings::naturalOrder, &ReaderSettings::coverAlone,
                                      &ReaderSettings::resume, &ReaderSettings::exifOrientation,
                                      &ReaderSettings::pageNumber, &ReaderSettings::readOn}) {
    ReaderSettings changed;
    changed.*which = !(changed.*which);
    SaveReaderSettings(changed);
    EXPECT_EQ(LoadReaderSettings(), changed);
  }
  SaveReaderSettings(ReaderSettings{});
  EXPECT_EQ(LoadReaderSettings(), ReaderSettings{});
}

// Each book keeps the fit and zoom it was read at; a book never seen takes
// the one chosen last; what the file holds that is no view reads as the
// whole page.
TEST_F(UserSettings, EachBookKeepsItsView) {
  EXPECT_TRUE(LoadBookView(u"/a.cbz").Fitted()) << "nothing kept: the whole page";
  SaveBookView(u"/a.cbz", ViewScale{Fit::Width, 1.25f});
  SaveBookView(u"/b.cbz", ViewScale{Fit::Original, 1.0f});
  EXPECT_EQ(LoadBookView(u"/a.cbz").fit, Fit::Width);
  EXPECT_EQ(LoadBookView(u"/a.cbz").zoom, 1.25f);
  EXPECT_EQ(LoadBookView(u"/b.cbz").fit, Fit::Original);
  EXPECT_EQ(LoadBookView(u"/new.cbz").fit, Fit::Original) << "the last choice";
  for (int k = 0; k < static_cast<int>(kBooksWithViews); ++k) SaveBookView(u"/" + Utf8ToUtf16(std::to_string(k)), {});
  EXPECT_TRUE(LoadBookView(u"/a.cbz").Fitted()) << "the oldest let go";

  const char* const damaged[] = {"width", "sideways 10000", "width 1e9", "width -5", "width 12abc", ""};
  for (const char* text : damaged) {
    SetUserSettingTexts(u"views/books", {u"/c.cbz"});
    SetUserSettingTexts(u"views/sizes", {Utf8ToUtf16(text)});
    const ViewScale view = LoadBookView(u"/c.cbz");
    EXPECT_EQ(view.zoom, 1.0f) << text;
  }
  EXPECT_EQ(Written().find("history"), std::string::npos) << "apart from the pages of the history";
}

// Continuous scroll is kept with the view; a view kept before it existed
// reads as not continuous, and one without it is written as before.
TEST_F(UserSettings, ContinuousScrollIsKeptWithTheView) {
  const struct {
    const char* text;
    bool continuous;
    float zoom;
  } cases[] = {{"width 12500", false, 1.25f}, {"best 20000 continuous", true, 2.0f},
               {"best 20000 continuously", false, 1.0f}, {"best continuous", false, 1.0f}};
  for (const auto& c : cases) {
    SetUserSettingTexts(u"views/books", {u"/c.cbz"});
    SetUserSettingTexts(u"views/sizes", {Utf8ToUtf16(c.text)});
    const ViewScale view = LoadBookView(u"/c.cbz");
    EXPECT_EQ(view.continuous, c.continuous) << c.text;
    EXPECT_EQ(view.zoom, c.zoom) << c.text;
    SaveBookView(u"/c.cbz", view);
    if (c.zoom != 1.0f) {
      EXPECT_EQ(GetUserSettingTexts(u"views/sizes").front(), Utf8ToUtf16(c.text)) << c.text;
    }
  }
}

// A book's own page mode and cover switch are kept beside its view; a text
// without them is read and written as before; a word not known leaves the
// whole page and nothing picked; books never seen pick nothing.
TEST_F(UserSettings, ABooksOwnModeAndCoverAreKeptWithItsView) {
  // Each text, what it reads as, and whether it is written back as it was.
  const struct { const char* text; BookChoices choices; float zoom; bool kept; } cases[] = {
      {"best 10000", {}, 1.0f, true},
      {"width 12500 continuous mode=left cover=1", {PageMode::SpreadLeft, true}, 1.25f, true},
      {"height 20000 mode=single cover=0", {PageMode::Single, false}, 2.0f, true},
      {"best 20000 cover=1 mode=right", {PageMode::SpreadRight, true}, 2.0f, false},
      {"best 20000 mode=up", {}, 1.0f, false},
      {"best 20000 mode=left ", {}, 1.0f, false},
  };
  for (const auto& c : cases) {
    SetUserSettingTexts(u"views/books", {u"/c.cbz"});
    SetUserSettingTexts(u"views/sizes", {Utf8ToUtf16(c.text)});
    EXPECT_EQ(LoadBookChoices(u"/c.cbz"), c.choices) << c.text;
    EXPECT_EQ(LoadBookView(u"/c.cbz").zoom, c.zoom) << c.text;
    SaveBookView(u"/c.cbz", LoadBookView(u"/c.cbz"), c.choices);
    EXPECT_EQ(GetUserSettingTexts(u"views/sizes").front() == Utf8ToUtf16(c.text), c.kept) << c.text;
    EXPECT_EQ(LoadBookChoices(u"/new.cbz"), BookChoices{}) << c.text;
  }
}

TEST_F(UserSettings, HistoryPagesRoundTripWithOddNames) {
  // A name that is not UTF-8 on disk travels as lone surrogates.
  const std::u16string odd = Utf8ToUtf16("/books/caf\xE9/p\xFF.png");
  CHistory history;
  history.Add(u"/books/a.zip", 3, u"/03.png");
  history.Add(u"/books/caf\u00e9", 1, odd);
  history.Add(u"/books/no page known", 5);
  SaveHistoryPages(history);

  CHistory read;
  read.Assign({{u"/books/no page known", 5}, {u"/books/caf\u00e9", 1}, {u"/books/a.zip", 3}, {u"/other", 0}});
  LoadHistoryPages(read);
  EXPECT_EQ(read.Find(u"/books/a.zip")->page, u"/03.png");
  EXPECT_EQ(read.Find(u"/books/caf\u00e9")->page, odd);
  EXPECT_TRUE(read.Find(u"/books/no page known")->page.empty());
  EXPECT_TRUE(read.Find(u"/other")->page.empty());

  // A shorter list leaves nothing of the longer one behind.
  CHistory one;
  one.Add(u"/x", 0, u"/x/1.png");
  SaveHistoryPages(one);
  CHistory again;
  again.Assign({{u"/books/a.zip", 3}, {u"/x", 0}});
  LoadHistoryPages(again);
  EXPECT_TRUE(again.Find(u"/books/a.zip")->page.empty());
  EXPECT_EQ(again.Find(u"/x")->page, u"/x/1.png");

  // Saved by a window that does not know the page another one wrote: kept.
  CHistory unknown;
  unknown.Assign({{u"/x", 0}});
  SaveHistoryPages(unknown);
  EXPECT_EQ(unknown.Find(u"/x")->page, u"/x/1.png");
}

// A damaged or hostile file may declare lists and texts of any size: what
// is past the bounds is dropped, at no cost, with a line saying so.
TEST_F(UserSettings, WhatIsOutOfBoundsIsDroppedNotAllocated) {
  {
    std::ofstream out(File(), std::ios::binary);
    out << "[history]\nbooks\\size=2147483647\npages\\size=2147483647\n[about]\nsite=https://"
        << std::string(100000, 'x') << "\n";
  }
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  CHistory history;
  history.Add(u"/book", 1);
  LoadHistoryPages(history);
  EXPECT_TRUE(history.Find(u"/book")->page.empty());
  EXPECT_TRUE(AboutSite().empty());
  SetDebugOutputSink(nullptr, nullptr);
  EXPECT_NE(debug.find(u"Setting Out Of Bounds : history/books/size\r\n"), std::u16string::npos) << Utf16ToUtf8(debug);
  EXPECT_NE(debug.find(u"Setting Out Of Bounds : about/site\r\n"), std::u16string::npos);
}

TEST_F(UserSettings, NoneOfItGoesIntoTheProfile) {
  TempDir program;
  program.MakeFolder("profile");
  g_moduleDir = Utf8ToUtf16(program.path() + "/");
  CProfile profile;
  profile.AddHistory(u"/books/a.zip", 2, u"/02.png");
  ReaderSettings switches;
  switches.naturalOrder = switches.coverAlone = true;
  SaveReaderSettings(switches);
  SaveHistoryPages(profile.history);
  SaveWindowPlace(WindowPlace{RECT{10, 20, 810, 620}, true});
  profile.Save();
  std::ifstream in(program / "profile/velmora.ini", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text.push_back(bytes[i]);
  EXPECT_EQ(text, "c.page=1\r\nc.mono2color=1\r\nc.history.0.name=/books/a.zip\r\nc.history.0.index=2\r\n");
  // ... and all of it into the settings file.
  const std::string settings = Written();
  for (const char* key : {"naturalOrder=1", "coverAlone=1", "02.png", "maximized=1"})
    EXPECT_NE(settings.find(key), std::string::npos) << key;
}

TEST_F(UserSettings, TheWindowsPlaceAndWhatIsNoPlace) {
  WindowPlace place;
  EXPECT_FALSE(LoadWindowPlace(&place)) << "none saved yet";
  SaveWindowPlace(WindowPlace{RECT{-1800, 40, -1000, 640}, true});
  ASSERT_TRUE(LoadWindowPlace(&place));
  EXPECT_EQ(place.normal.left, -1800);
  EXPECT_EQ(place.normal.bottom, 640);
  EXPECT_TRUE(place.maximized);
  // A damaged file makes no window.
  for (const auto& [width, height] : {std::pair{0, 600}, std::pair{800, -5}, std::pair{99, 600}}) {
    SaveWindowPlace(WindowPlace{RECT{0, 0, width, height}, false});
    EXPECT_FALSE(LoadWindowPlace(&place)) << width << " x " << height;
  }
  SetUserSettingInteger(u"window/width", 800);
  SetUserSettingInteger(u"window/height", 600);
  SetUserSettingInteger(u"window/left", int64_t{1} << 40);
  EXPECT_FALSE(LoadWindowPlace(&place));
  SetUserSettingText(u"window/left", u"not a number");
  ASSERT_TRUE(LoadWindowPlace(&place)) << "an unreadable coordinate reads as 0";
  EXPECT_EQ(place.normal.left, 0);
}

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A saved place on the screens present: kept when it is on one, brought
// onto the nearest (shrunk when larger) when it is not.
TEST(WindowPlacement, FittedToTheScreensPresent) {
  const RECT primary{0, 0, 1920, 1040};  // work areas: the task bar left out
  const RECT left{-1280, 0, 0, 1024};
  const struct {
    const char* what;
    RECT window;
    std::vector<RECT> screens;
    RECT placed;
  } rows[] = {
      {"on the screen: kept", {100, 100, 900, 700}, {primary}, {100, 100, 900, 700}},
      {"on the second screen: kept", {-1200, 50, -400, 650}, {primary, left}, {-1200, 50, -400, 650}},
      {"the second screen gone: onto the primary", {-1200, 50, -400, 650}, {primary}, {0, 50, 800, 650}},
      {"far off every screen", {5000, 3000, 5800, 3600}, {primary, left}, {1120, 440, 1920, 1040}},
      {"hanging over the bottom edge", {100, 800, 900, 1400}, {primary}, {100, 440, 900, 1040}},
      {"larger than the screen", {-50, -50, 2500, 1500}, {primary}, {0, 0, 1920, 1040}},
      {"across two screens: onto the one it covers most", {-300, 100, 1500, 700}, {primary, left},
       {0, 100, 1800, 700}},
      {"no screens known: kept", {5000, 3000, 5800, 3600}, {}, {5000, 3000, 5800, 3600}},
  };
  for (const auto& row : rows) {
    const RECT placed = FitOnScreens(row.window, row.screens);
    EXPECT_TRUE(Same(placed, row.placed)) << row.what << ": " << placed.left << "," << placed.top << " "
                                          << placed.right << "," << placed.bottom;
  }
}

TEST_F(UserSettings, TheAboutPageComesFromASiteOnlyWhenOneIsSet) {
  EXPECT_EQ(AboutSite(), u"");
  EXPECT_EQ(AboutPageAddress(AboutSite()), u"") << "nothing to fetch: the shipped copy";
  SetUserSettingText(u"about/site", u"file:///etc");
  EXPECT_EQ(AboutSite(), u"") << "only a web address counts";
  SetUserSettingText(u"about/site", u"https://example.org/");
  EXPECT_EQ(AboutPageAddress(AboutSite()), u"https://example.org/app/velmora/velmora.html?ver=0.1.12");
}

// The catalogues kept: the list in the settings file, in its order and
// with text of any script; the passwords never there, but in the secret
// store, moved along with a URL that changes and let go with the last
// catalogue that used them.
TEST_F(UserSettings, CataloguesKeepTheirListHereAndTheirPasswordsElsewhere) {
  const std::string secretFile = m_dir / "secrets/catalogue-secrets";
  SecretStore secrets(SecretStoreOptions{SecretRoute::File, Utf8ToUtf16(secretFile)});
  const auto read = [&](const char16_t* key) { return secrets.ReadSecret(key); };
  {
    CCatalogues shelf(secrets);
    EXPECT_TRUE(shelf.List().empty());
    const CatalogueKept refused = shelf.Keep(std::nullopt, {u"x", u"ftp://x/", u"", u"", false, {}});
    EXPECT_FALSE(refused.kept);
    EXPECT_EQ(refused.note, CatalogueProblemText(CatalogueProblem::NotWebUrl));
    ASSERT_TRUE(shelf.Keep(std::nullopt, {u" 書庫 ", u"https://é.example/opds", u"élève",
                                          u"s3crét-one", true, {}}).kept);
    ASSERT_TRUE(shelf.Keep(std::nullopt, {u"Komga", u"http://k.example/", u"bob", u"s3crét-two", true, {}}).kept);
    ASSERT_TRUE(shelf.Keep(std::nullopt, {u"Same account", u"http://k.example/", u"bob", u"", false, {}}).kept);
  }
  const std::vector<Catalogue> expected = {{u"書庫", u"https://é.example/opds", u"élève"},
                                           {u"Komga", u"http://k.example/", u"bob"},
                                           {u"Same account", u"http://k.example/", u"bob"}};
  EXPECT_EQ(LoadCatalogues(), expected);
  const std::string written = Written();
  EXPECT_EQ(written.find("s3cr"), std::string::npos) << written;
  EXPECT_NE(written.find("k.example"), std::string::npos);

  CCatalogues shelf(secrets);
  EXPECT_EQ(shelf.Opened(0).password, u"s3crét-one");
  EXPECT_EQ(shelf.Opened(2).password, u"s3crét-two") << "one account, one password";
  EXPECT_EQ(shelf.Fields(1).password, u"s3crét-two");
  // A new URL takes the password the form was given along; the old key
  // stays while another catalogue still uses it.
  CatalogueFields moved = shelf.Fields(1);
  moved.url = u"https://k.example/";
  ASSERT_TRUE(shelf.Keep(1, moved).kept);
  EXPECT_EQ(read(u"https://k.example/ bob").value, u"s3crét-two");
  EXPECT_EQ(read(u"http://k.example/ bob").value, u"s3crét-two");
  shelf.Remove(2);
  EXPECT_EQ(read(u"http://k.example/ bob").status, SecretStatus::NotFound) << "its last user gone";
  // A password cleared in the form is forgotten; one left alone is kept.
  CatalogueFields renamed = shelf.Fields(0);
  renamed.name = u"Shelf";
  ASSERT_TRUE(shelf.Keep(0, renamed).kept);
  EXPECT_EQ(read(u"https://\u00e9.example/opds \u00e9l\u00e8ve").value, u"s3cr\u00e9t-one");
  CatalogueFields cleared = shelf.Fields(0);
  cleared.password.clear();
  cleared.passwordEdited = true;
  ASSERT_TRUE(shelf.Keep(0, cleared).kept);
  EXPECT_EQ(read(u"https://\u00e9.example/opds \u00e9l\u00e8ve").status, SecretStatus::NotFound);
  EXPECT_EQ(LoadCatalogues().front().name, u"Shelf");
}

}  // namespace
