// The profile file: what reads into the settings and the history, the
// exact bytes written, and saves that fail.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <fstream>

#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/shell/Profile.h"
#include "viewer/shell/Settings.h"

using test::TempDir;

namespace {

// UTF-16LE bytes of a text, with the byte-order mark unless told otherwise.
std::string Utf16File(const std::u16string& text, bool mark = true) {
  std::string bytes = mark ? std::string("\xFF\xFE", 2) : std::string();
  for (char16_t u : text) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  return bytes;
}

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_tmp.MakeFolder("profile");
    g_moduleDir = Utf8ToUtf16(m_tmp.path() + "/");
  }
  void Load(const std::string& bytes) {
    m_tmp.WriteFile("profile/velmora.ini", bytes);
    m_profile.Load();
  }
  int32_t Page() const { return static_cast<int32_t>(m_profile.settings.pageMode); }
  const std::vector<HistoryEntry>& Books() const { return m_profile.history.Entries(); }
  void SetBooks(std::vector<HistoryEntry> books) { m_profile.history.Assign(std::move(books)); }
  std::string Saved() {
    std::ifstream in(m_tmp / "profile/velmora.ini", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  using History = std::vector<std::pair<std::u16string, int32_t>>;
  History Entries() const {
    History h;
    for (const HistoryEntry& e : Books()) h.emplace_back(e.name, e.index);
    return h;
  }

  TempDir m_tmp;
  CProfile m_profile;
};

TEST_F(Profile, ReadsSettingsAndHistory) {
  Load(Utf16File(u"c.page=2\r\nc.mono2color=0\r\n\r\n\nc.history.0.name=/books/vol 2.zip\r\nc.history.0.index=14\r\n"
                 u"c.history.1.name=/books/scans\r\nc.history.1.index=0\r\n"));
  EXPECT_EQ(Page(), 2);
  EXPECT_EQ(m_profile.settings.mono2Color, 0);
  EXPECT_EQ(Entries(), (History{{u"/books/vol 2.zip", 14}, {u"/books/scans", 0}}));
}

TEST_F(Profile, OddFilesReadTheDocumentedWay) {
  struct Case {
    const char* what;
    std::string bytes;
    int32_t page;
    History history;
  } cases[] = {
      {"no byte-order mark", Utf16File(u"c.page=2\r\n", false), 1, {}},
      {"8-bit text", "c.page=2\r\n", 1, {}},
      {"empty value", Utf16File(u"c.page=\r\n"), 0, {}},
      {"2 and a letter", Utf16File(u"c.page=2x\r\n"), 2, {}},
      {"space before the key", Utf16File(u" c.page=2\r\n"), 1, {}},
      {"blanks and a sign", Utf16File(u"c.page=  -7\r\n"), -7, {}},
      {"beyond int32", Utf16File(u"c.page=99999999999\r\n"), INT32_MAX, {}},
      {"slot 3 alone", Utf16File(u"c.history.3.name=/a\r\nc.history.3.index=5\r\n"), 1, {{u"/a", 5}}},
      {"slot 20 and 05", Utf16File(u"c.history.20.name=/x\r\nc.history.05.name=/y\r\n"), 1, {}},
      {"index without name", Utf16File(u"c.history.0.index=3\r\nc.history.1.name=/n\r\n"), 1, {{u"/n", 0}}},
      {"value with =", Utf16File(u"c.history.0.name=/a=b=c\r\n"), 1, {{u"/a=b=c", 0}}},
      {"starts with a line break", Utf16File(u"\r\nc.page=2\r\n"), 1, {}},
      {"no = or = first", Utf16File(u"c.page\r\n=2\r\nc.page=0\r\n"), 0, {}},
      {"over 100000 bytes", Utf16File(u"c.page=2\r\n" + std::u16string(60000, u'x')), 1, {}},
  };
  for (const Case& c : cases) {
    m_profile.settings.pageMode = PageMode::SpreadRight;
    Load(c.bytes);
    EXPECT_EQ(Page(), c.page) << c.what;
    EXPECT_EQ(Entries(), c.history) << c.what;
  }
}

TEST_F(Profile, LinesAreCutAt1023Units) {
  // A 1030-unit name line: its first 1023 units are a line, the rest the next one.
  const std::u16string name = u"c.history.0.name=" + std::u16string(1030 - 17, u'n');
  Load(Utf16File(name + u"\r\nc.history.0.index=4\r\n"));
  ASSERT_EQ(Books().size(), 1u);
  EXPECT_EQ(Books()[0].name.size(), 1023u - 17);
  EXPECT_EQ(Books()[0].index, 4);
  // A line of exactly 1023 units followed by a break ends the reading.
  const std::u16string exact = u"c.history.0.name=" + std::u16string(1023 - 17, u'e');
  Load(Utf16File(exact + u"\r\nc.page=2\r\n"));
  EXPECT_EQ(Page(), 1);
  EXPECT_EQ(Books().size(), 1u);
}

TEST_F(Profile, WritesTheExactBytes) {
  m_profile.settings = ViewSettings{PageMode::SpreadRight, 1};
  SetBooks({{u"/books/vol 2.zip", 14}, {u"/books/\u6f2b\u753b", 0}});
  m_profile.Save();
  EXPECT_EQ(Saved(), Utf16File(u"c.page=1\r\nc.mono2color=1\r\nc.history.0.name=/books/vol 2.zip\r\n"
                               u"c.history.0.index=14\r\nc.history.1.name=/books/\u6f2b\u753b\r\nc.history.1.index=0\r\n"));
  // And reads back the same.
  SetBooks({});
  m_profile.Load();
  EXPECT_EQ(Entries(), (History{{u"/books/vol 2.zip", 14}, {u"/books/\u6f2b\u753b", 0}}));
}

TEST_F(Profile, HistoryMovesWithoutWritingAndNewBooksWriteAtOnce) {
  for (int i = 0; i < 20; ++i) m_profile.AddHistory(u"/book" + AsciiToUtf16(std::to_string(i)), i);
  ASSERT_EQ(Books().size(), 20u);
  const std::string written = Saved();
  m_profile.AddHistory(u"/book3", 77);  // known: to the front, the file untouched
  EXPECT_EQ(Books().front().name, u"/book3");
  EXPECT_EQ(Books().front().index, 77);
  EXPECT_EQ(Books().size(), 20u);
  EXPECT_EQ(Saved(), written);
  m_profile.AddHistory(u"/book3/", 1);  // a different name: a trailing "/" makes another entry
  EXPECT_EQ(Books().size(), 20u);
  EXPECT_EQ(Books().back().name, u"/book1");  // the oldest went
  EXPECT_NE(Saved(), written);
  m_profile.Load();
  EXPECT_EQ(Books()[1].name, u"/book3");
  EXPECT_EQ(Books()[1].index, 77);
}

// Two windows on one profile: the one closed last keeps what the other
// saved, books and settings, and lays its own changes over them.
TEST_F(Profile, TwoWindowsMergeWhatTheySave) {
  Load(Utf16File(u"c.page=1\r\nc.mono2color=1\r\nc.history.0.name=/old\r\nc.history.0.index=3\r\n"));
  CProfile other;
  other.Load();
  m_profile.AddHistory(u"/old", 9);  // known: kept in memory until the next save
  other.AddHistory(u"/new", 4);      // new: written at once
  other.settings.pageMode = PageMode::Single;
  other.Save();
  m_profile.Save();
  CProfile again;
  again.Load();
  auto entries = [](const CProfile& p) {
    History h;
    for (const HistoryEntry& e : p.history.Entries()) h.emplace_back(e.name, e.index);
    return h;
  };
  EXPECT_EQ(entries(again), (History{{u"/old", 9}, {u"/new", 4}}));
  EXPECT_EQ(again.settings.pageMode, PageMode::Single) << "the other window's setting stays";
  m_profile.settings.mono2Color = 0;  // changed here: over the file's
  m_profile.Save();
  again.Load();
  EXPECT_EQ(again.settings.mono2Color, 0);
  EXPECT_EQ(again.settings.pageMode, PageMode::Single);
  EXPECT_EQ(entries(again), entries(m_profile));
}

// A profile in another encoding or too large reads as nothing; the save
// that replaces it first keeps it aside, each one under a name of its own.
TEST_F(Profile, AnUnreadableProfileIsKeptAsideNotReplaced) {
  const std::string utf8 = "c.page=2\r\nc.history.0.name=/books/a.zip\r\nc.history.0.index=3\r\n";
  std::string utf16be = "\xFE\xFF";
  for (char c : utf8) utf16be += std::string{'\0', c};
  const std::string files[] = {utf8, "\xEF\xBB\xBF" + utf8, utf16be, Utf16File(std::u16string(50001, u'x'))};
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  for (std::size_t i = 0; i < std::size(files); ++i) {
    Load(files[i]);
    EXPECT_TRUE(Books().empty()) << i;
    m_profile.AddHistory(u"/new", 0);  // a new book: saved at once
    const std::string aside = m_tmp / "profile/velmora.ini.unreadable" + (i == 0 ? "" : "-" + std::to_string(i + 1));
    std::ifstream kept(aside, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), files[i]) << i;
    EXPECT_NE(debug.find(u"Profile Kept Aside : " + Utf8ToUtf16(aside) + u"\r\n"), std::u16string::npos) << i;
  }
  SetDebugOutputSink(nullptr, nullptr);
  EXPECT_EQ(Entries(), (History{{u"/new", 0}}));
}

TEST_F(Profile, AFailedSaveLeavesTheOldProfile) {
  SetBooks({{u"/kept", 3}});
  m_profile.Save();
  const std::string before = Saved();

  // A write that fails half-way, as on a full disk: the process may write
  // no more than 64 bytes into any file.
  SetBooks({});
  std::vector<HistoryEntry> books;
  for (int i = 0; i < 20; ++i) books.push_back({u"/a/much/longer/name/" + AsciiToUtf16(std::to_string(i)), i});
  SetBooks(books);
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old);
  struct rlimit limit {}, saved {};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  limit.rlim_cur = 64;
  limit.rlim_max = saved.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  m_profile.Save();
  m_profile.Save();
  SetDebugOutputSink(nullptr, nullptr);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(debug, u"Profile Not Saved : " + Utf8ToUtf16(m_tmp / "profile/velmora.ini") + u"\r\n") << "said once";
  ::sigaction(SIGXFSZ, &old, nullptr);
  EXPECT_EQ(Saved(), before);

  // The profile's place taken by a folder: the rename fails, nothing is left over.
  ::unlink((m_tmp / "profile/velmora.ini").c_str());
  m_tmp.MakeFolder("profile/velmora.ini");
  m_profile.Save();
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(m_tmp / "profile")) entries += e.path().filename() != "velmora.ini";
  EXPECT_EQ(entries, 0) << "a temporary file was left behind";
}

}  // namespace
