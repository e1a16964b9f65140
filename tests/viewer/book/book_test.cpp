// The book: page order, the tree walk of an archive book, the history, and
// the opener over a file system in memory (folders, images, archives and
// the next archive), with the debug lines it writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "ArchiveBuilders.h"
#include "MemoryFileSystem.h"
#include "TestSupport.h"
#include "common/FileDamage.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/book/BookOpener.h"
#include "viewer/book/History.h"

using test::MemoryDirectory;
using test::MemoryFileSystem;

namespace {

std::vector<std::u16string> Names(const std::vector<PageEntry>& entries) {
  std::vector<std::u16string> names;
  for (const PageEntry& e : entries) names.push_back(e.name);
  return names;
}

// ---- page order ----

TEST(BookModel, NamesSortByCodeUnitAndEqualNamesKeepTheirOrder) {
  std::vector<PageEntry> pages;
  for (const char16_t* name : {u"b.png", u"A.png", u"a.png", u"Zeta", u"page2.jpg", u"page10.jpg", u"a.png"})
    pages.push_back(PageEntry{u"/" + std::u16string(name) + u"#" + AsciiToUtf16(std::to_string(pages.size())), name});
  SortByName(pages);
  EXPECT_EQ(Names(pages), (std::vector<std::u16string>{u"A.png", u"Zeta", u"a.png", u"a.png", u"b.png", u"page10.jpg",
                                                         u"page2.jpg"}));
  EXPECT_EQ(pages[2].path, u"/a.png#2");
  EXPECT_EQ(pages[3].path, u"/a.png#6");
}

// The natural comparison as a table: each name sorts strictly before the
// next; the reverse comparison agrees, and each equals itself.
TEST(BookModel, NaturalOrderTable) {
  const struct {
    const char* what;
    const char16_t* before;
    const char16_t* after;
  } rows[] = {
      {"numbers by value", u"page 2.jpg", u"page 10.jpg"},
      {"numbers of different lengths", u"Vol 9", u"Vol 100"},
      {"a number inside and at the end", u"a9b", u"a10"},
      {"several numbers", u"v1 p20", u"v2 p3"},
      {"a longer number after equal ones", u"1-2-3", u"1-2-10"},
      {"leading zeros: the same value, then code units", u"007.jpg", u"7.jpg"},
      {"leading zeros by value", u"9a.jpg", u"010.jpg"},
      {"many digits, past any integer", u"x123456789012345678901234567890", u"x123456789012345678901234567891"},
      {"letters without case", u"apple", u"Banana"},
      {"equal ignoring case: code units decide", u"Chapter", u"chapter"},
      {"a prefix first", u"page", u"page 1"},
      {"full-width digits by value", u"\u7b2c\uff12\u5dfb", u"\u7b2c\uff11\uff10\u5dfb"},
      {"full-width and ASCII digits of one value", u"\u7b2c1\u5dfb", u"\u7b2c\uff11\u5dfb"},
      {"numbers before letters", u"1", u"a"},
      {"full-width numbers before letters too", u"\uff19", u"a"},
      {"accented capitals fold", u"\u00e9t\u00e9 2", u"\u00c9T\u00c9 10"},
      {"kana by code unit", u"\u3042 2", u"\u3044 1"},
      {"non-BMP after BMP", u"\u3042", u"\U0001F600"},
  };
  for (const auto& row : rows) {
    EXPECT_LT(NaturalCompare(row.before, row.after), 0) << row.what;
    EXPECT_GT(NaturalCompare(row.after, row.before), 0) << row.what;
    EXPECT_EQ(NaturalCompare(row.before, row.before), 0) << row.what;
  }
}

TEST(BookModel, NaturalSortIsStableAndCodeUnitSortUnchanged) {
  std::vector<PageEntry> pages;
  for (const char16_t* name : {u"page10.jpg", u"Page2.jpg", u"page2.jpg", u"page1.jpg", u"page2.jpg", u"cover.jpg"})
    pages.push_back(PageEntry{u"/" + std::u16string(name) + u"#" + AsciiToUtf16(std::to_string(pages.size())), name});
  std::vector<PageEntry> natural = pages;
  SortByName(natural, NameOrder::Natural);
  EXPECT_EQ(Names(natural), (std::vector<std::u16string>{u"cover.jpg", u"page1.jpg", u"Page2.jpg", u"page2.jpg",
                                                           u"page2.jpg", u"page10.jpg"}));
  EXPECT_EQ(natural[3].path, u"/page2.jpg#2");  // equal names keep their order
  EXPECT_EQ(natural[4].path, u"/page2.jpg#4");
  SortByName(pages);
  EXPECT_EQ(Names(pages), (std::vector<std::u16string>{u"Page2.jpg", u"cover.jpg", u"page1.jpg", u"page10.jpg",
                                                         u"page2.jpg", u"page2.jpg"}));
}

TEST(BookModel, CopiesHoldTheirOwnReferences) {
  ComRef<MemoryDirectory> disk;
  disk.Set(new MemoryDirectory);
  Book book;
  book.root.Set(disk.get());
  book.archiveFolder.root.Set(disk.get());
  EXPECT_EQ(test::RefCount(disk.get()), 3u);
  {
    Book copy = book;
    EXPECT_EQ(test::RefCount(disk.get()), 5u);
    copy = Book{};
    EXPECT_EQ(test::RefCount(disk.get()), 3u);
    copy = book;
  }
  EXPECT_EQ(test::RefCount(disk.get()), 3u);
}

TEST(BookModel, ArchivePagesAreADepthFirstWalk) {
  // x/1.jpg, 2.jpg, x/y/3.jpg and no folder items: the folders are implied.
  const std::string zip = test::ZipArchive({{"x/1.jpg", "1"}, {"2.jpg", "2"}, {"x/y/3.jpg", "3"}});
  ComRef<MemoryDirectory> disk;
  disk.Set(new MemoryDirectory);
  disk->AddFile(u"/t.zip", zip);
  ComRef<IFile> file;
  ASSERT_EQ(disk->OpenFile(&file, u"/t.zip", nullptr), 0);
  Book book;
  ASSERT_EQ(OpenArchive(file.get(), &book.root), 0);
  ASSERT_EQ(AppendTree(book, u"/"), 0);
  std::vector<std::pair<std::u16string, PageState>> pages;
  for (const PageEntry& p : book.pages) pages.emplace_back(p.path, p.state);
  EXPECT_EQ(pages, (std::vector<std::pair<std::u16string, PageState>>{{u"/2.jpg", PageState::Unknown},
                                                                        {u"/x", PageState::Folder},
                                                                        {u"/x/1.jpg", PageState::Unknown},
                                                                        {u"/x/y", PageState::Folder},
                                                                        {u"/x/y/3.jpg", PageState::Unknown}}));
}

TEST(BookModel, ArchivePagesInNaturalOrderKeepFilesBeforeFolders) {
  const std::string zip = test::ZipArchive({{"p10.jpg", "1"},
                                            {"p9.jpg", "2"},
                                            {"ch10/p1.jpg", "3"},
                                            {"ch2/p10.jpg", "4"},
                                            {"ch2/p2.jpg", "5"}});
  ComRef<MemoryDirectory> disk;
  disk.Set(new MemoryDirectory);
  disk->AddFile(u"/t.zip", zip);
  ComRef<IFile> file;
  ASSERT_EQ(disk->OpenFile(&file, u"/t.zip", nullptr), 0);
  auto walk = [&](NameOrder order) {
    Book book;
    EXPECT_EQ(OpenArchive(file.get(), &book.root), 0);
    EXPECT_EQ(AppendTree(book, u"/", order), 0);
    std::vector<std::u16string> paths;
    for (const PageEntry& p : book.pages) paths.push_back(p.path);
    return paths;
  };
  EXPECT_EQ(walk(NameOrder::CodeUnit), (std::vector<std::u16string>{u"/p10.jpg", u"/p9.jpg", u"/ch10", u"/ch10/p1.jpg",
                                                                      u"/ch2", u"/ch2/p10.jpg", u"/ch2/p2.jpg"}));
  EXPECT_EQ(walk(NameOrder::Natural), (std::vector<std::u16string>{u"/p9.jpg", u"/p10.jpg", u"/ch2", u"/ch2/p2.jpg",
                                                                     u"/ch2/p10.jpg", u"/ch10", u"/ch10/p1.jpg"}));
}

TEST(BookModel, TheTreeWalkSurvivesDeepNestingAndStopsAtLongPaths) {
  ComRef<MemoryDirectory> disk;
  disk.Set(new MemoryDirectory);
  std::u16string path;
  for (int i = 0; i < 2100; ++i) path += u"/a";  // 4200 units, past the limit
  disk->AddFile(path + u"/page.jpg", "x");
  Book book;
  book.root.Set(disk.get());
  ASSERT_EQ(AppendTree(book, u"/"), 0);
  // Every folder whose path fits is walked into; the deeper ones are not.
  ASSERT_FALSE(book.pages.empty());
  EXPECT_LE(book.pages.back().path.size(), kMaxWalkedPath + 2);
  EXPECT_EQ(book.pages.size(), kMaxWalkedPath / 2);
  for (const PageEntry& p : book.pages) EXPECT_EQ(p.state, PageState::Folder);
}

TEST(BookModel, AFailedListingFailsTheWalk) {
  class Broken final : public CUnknownImpl<IDirectory> {
   public:
    int32_t OpenFile(IFile**, const char16_t*, void*) override { return 1; }
    int32_t Mount(const char16_t*, IDirectory*) override { return 1; }
    int32_t GetEntries(const char16_t*, IFileSystemEntries**) override { return 1; }
  };
  Book book;
  book.root.Set(new Broken);
  EXPECT_EQ(AppendTree(book, u"/"), 1);
  std::vector<PageEntry> entries;
  EXPECT_EQ(ListEntries(nullptr, u"/", entries), 1);
}

// ---- the history ----

TEST(History, KnownBooksMoveNewOnesArriveAndTheOldestGo) {
  CHistory history;
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(history.Add(u"/b" + AsciiToUtf16(std::to_string(i)), i));
  EXPECT_EQ(history.Entries().size(), 20u);
  EXPECT_FALSE(history.Add(u"/b3", 77));
  EXPECT_EQ(history.Entries().front().name, u"/b3");
  EXPECT_EQ(history.Entries().front().index, 77);
  EXPECT_EQ(history.Entries().size(), 20u);
  EXPECT_TRUE(history.Add(u"/new", 0));
  EXPECT_EQ(history.Entries().size(), 20u);
  EXPECT_EQ(history.Entries().back().name, u"/b1");  // /b0 was the oldest
  history.Assign(std::vector<HistoryEntry>(25, HistoryEntry{u"/x", 1}));
  EXPECT_EQ(history.Entries().size(), 20u);
}

TEST(History, PagesTravelWithTheirBook) {
  CHistory history;
  history.Add(u"/a", 3, u"/a/03.png");
  history.Add(u"/b", 0);
  ASSERT_NE(history.Find(u"/a"), nullptr);
  EXPECT_EQ(history.Find(u"/a")->page, u"/a/03.png");
  EXPECT_EQ(history.Find(u"/c"), nullptr);
  history.Add(u"/a", 4, u"/a/04.png");  // moved to the front with its new page
  EXPECT_EQ(history.Entries().front().page, u"/a/04.png");
  history.SetPage(u"/b", u"/b/x.png");
  history.SetPage(u"/nowhere", u"/x");
  EXPECT_EQ(history.Find(u"/b")->page, u"/b/x.png");
  EXPECT_EQ(history.Entries().size(), 2u);
}

// ---- the opener ----

class Opener : public ::testing::Test {
 protected:
  void SetUp() override {
    m_disk.Set(new MemoryDirectory);
    m_fileSystem.Set(new MemoryFileSystem(m_disk.get()));
    SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &m_debug);
  }
  void TearDown() override { SetDebugOutputSink(nullptr, nullptr); }
  CBookOpener Books() const { return CBookOpener(m_fileSystem.get()); }
  // Images are the files whose bytes start with "IMG".
  static bool IsImage(IDirectory* root, const std::u16string& path) {
    ComRef<IFile> file;
    if (root->OpenFile(&file, path.c_str(), nullptr) != 0) return false;
    char head[3] = {};
    uint32_t got = 0;
    file->Read(head, 3, &got);
    return got == 3 && std::string(head, 3) == "IMG";
  }
  static std::string Zip(const std::string& page) { return test::ZipArchive({{page, "IMG"}}); }

  ComRef<MemoryDirectory> m_disk;
  ComRef<MemoryFileSystem> m_fileSystem;
  std::u16string m_debug;
};

TEST_F(Opener, AFolderListsItsOwnEntriesSortedByName) {
  m_disk->AddFile(u"/comics/vol1/b.png", "IMG");
  m_disk->AddFile(u"/comics/vol1/A.png", "IMG");
  m_disk->AddFolder(u"/comics/vol1/Zeta");
  m_disk->AddFile(u"/comics/vol1/Zeta/inside.png", "IMG");
  BookOpening opened = Books().OpenFolder(u"/comics/vol1");
  ASSERT_EQ(opened.status, OpenStatus::Opened);
  const Book& book = opened.book;
  EXPECT_EQ(Names(book.pages), (std::vector<std::u16string>{u"A.png", u"Zeta", u"b.png"}));
  EXPECT_EQ(book.pages[0].path, u"/comics/vol1/A.png");
  EXPECT_EQ(book.pages[0].size, 3u);
  EXPECT_EQ(book.pages[1].state, PageState::Folder);
  EXPECT_EQ(book.kind, BookKind::Folder);
  EXPECT_EQ(book.folder, u"/comics/vol1/");
  EXPECT_EQ(book.source, u"/comics/vol1");
  EXPECT_EQ(book.displayName, u"vol1");
  EXPECT_EQ(book.current, 0);
  EXPECT_FALSE(book.InSeries());
  EXPECT_EQ(m_debug, u"Open Directory\r\n  Drive : /\r\n  Path  : /comics/vol1/\r\n  Files : 3\r\n");

  // A trailing "/" lists the same; the root is "/".
  EXPECT_EQ(Books().OpenFolder(u"/comics/vol1/").book.displayName, u"vol1");
  EXPECT_EQ(Books().OpenFolder(u"/").book.displayName, u"/");
}

TEST_F(Opener, FoldersThatDoNotOpen) {
  EXPECT_EQ(Books().OpenFolder(u"relative/path").status, OpenStatus::Refused);
  EXPECT_EQ(Books().OpenFolder(u"").status, OpenStatus::Refused);
  EXPECT_EQ(m_debug, u"");
  BookOpening missing = Books().OpenFolder(u"/missing");
  EXPECT_EQ(missing.status, OpenStatus::Failed);
  EXPECT_TRUE(missing.book.pages.empty());
  EXPECT_FALSE(missing.book.root);
  EXPECT_EQ(m_debug, u"Error Open Directory\r\n");
  m_disk->AddFolder(u"/empty");
  BookOpening empty = Books().OpenFolder(u"/empty");
  EXPECT_EQ(empty.status, OpenStatus::Opened);
  EXPECT_TRUE(empty.book.pages.empty());
}

TEST_F(Opener, AnImageOpensItsFolderAtThatImage) {
  m_disk->AddFile(u"/comics/photo.zip", "IMG: a picture whatever its name");
  m_disk->AddFile(u"/top.png", "IMG");
  BookOpening opened = Books().OpenFile(u"/comics/photo.zip", IsImage);
  EXPECT_EQ(opened.status, OpenStatus::IsImage);
  EXPECT_EQ(opened.folder, u"/comics");
  EXPECT_EQ(opened.name, u"photo.zip");
  BookOpening top = Books().OpenFile(u"/top.png", IsImage);
  EXPECT_EQ(top.folder, u"/");
  EXPECT_EQ(top.name, u"top.png");
  EXPECT_EQ(m_debug, u"");
}

TEST_F(Opener, AnArchiveOpensWithItsFolderListed) {
  m_disk->AddFile(u"/series/c.zip", Zip("p.png"));
  m_disk->AddFile(u"/series/a.zip", Zip("p.png"));
  m_disk->AddFile(u"/series/b.txt", "text");
  m_disk->AddFile(u"/series/pack.jpg", test::ZipArchive({{"1.png", "IMG"}, {"sub/2.png", "IMG"}}));
  BookOpening opened = Books().OpenFile(u"/series/pack.jpg", IsImage);
  ASSERT_EQ(opened.status, OpenStatus::Opened) << Utf16ToUtf8(m_debug);
  const Book& book = opened.book;
  EXPECT_EQ(book.kind, BookKind::Archive);
  EXPECT_EQ(book.source, u"/series/pack.jpg");
  EXPECT_EQ(book.displayName, u"pack.jpg");
  EXPECT_TRUE(book.folder.empty());
  EXPECT_EQ(Names(book.pages), (std::vector<std::u16string>{u"1.png", u"sub", u"2.png"}));
  EXPECT_EQ(m_debug, u"Open File\r\n  Type : Archive\r\n  Drive : /\r\n  Path  : /series/pack.jpg\r\n  Files : 3\r\n");
  const ArchiveFolder& around = book.archiveFolder;
  EXPECT_TRUE(book.InSeries());
  EXPECT_EQ(around.folder, u"/series/");
  EXPECT_EQ(around.windowsFolder, u"/series/");
  EXPECT_EQ(around.drive, u"/");
  EXPECT_EQ(Names(around.entries), (std::vector<std::u16string>{u"a.zip", u"b.txt", u"c.zip", u"pack.jpg"}));
  EXPECT_EQ(around.current, 3);
  // Known by its first bytes, an archive is not decoded as an image first.
  int asked = 0;
  const ImageTest counted = [&asked](IDirectory* root, const std::u16string& path) { return ++asked, IsImage(root, path); };
  EXPECT_EQ(Books().OpenFile(u"/series/a.zip", counted).status, OpenStatus::Opened);
  EXPECT_EQ(Books().OpenFile(u"/series/b.txt", counted).status, OpenStatus::NotArchive);
  EXPECT_EQ(asked, 1);
}

TEST_F(Opener, FilesThatDoNotOpen) {
  m_disk->AddFile(u"/notes.txt", "neither an image nor an archive");
  EXPECT_EQ(Books().OpenFile(u"/notes.txt", IsImage).status, OpenStatus::NotArchive);
  EXPECT_EQ(m_debug, u"Error Open File\r\n");
  m_debug.clear();
  BookOpening missing = Books().OpenFile(u"/missing.zip", IsImage);
  EXPECT_EQ(missing.status, OpenStatus::Failed);
  EXPECT_TRUE(missing.book.pages.empty());
  EXPECT_EQ(m_debug, u"Error Open File\r\n");
  m_debug.clear();
  EXPECT_EQ(Books().OpenFile(u"relative.zip", IsImage).status, OpenStatus::Refused);
  EXPECT_EQ(Books().OpenFile(u"/folder/", IsImage).status, OpenStatus::Refused);
  EXPECT_EQ(m_debug, u"");
}

TEST_F(Opener, TheNextArchiveSkipsFilesAndStopsAtFolders) {
  m_disk->AddFile(u"/s/a.zip", Zip("1.png"));
  m_disk->AddFile(u"/s/b.txt", "text");
  m_disk->AddFile(u"/s/c.zip", Zip("2.png"));
  m_disk->AddFolder(u"/s/d");
  m_disk->AddFile(u"/s/e.zip", Zip("3.png"));
  BookOpening a = Books().OpenFile(u"/s/a.zip", IsImage);
  ASSERT_EQ(a.status, OpenStatus::Opened);
  m_debug.clear();
  BookOpening c = Books().OpenNextArchive(a.book.archiveFolder);
  ASSERT_EQ(c.status, OpenStatus::Opened);
  EXPECT_EQ(c.book.source, u"/s/c.zip");
  EXPECT_EQ(c.book.displayName, u"c.zip");
  EXPECT_EQ(c.book.archiveFolder.current, 2);
  EXPECT_EQ(c.book.pages[0].name, u"2.png");
  EXPECT_EQ(m_debug, u"Open File\r\n  Type : Archive\r\n  Next  : c.zip\r\n  Files : 1\r\n");

  // From c.zip the folder d ends the search: e.zip is never reached.
  m_debug.clear();
  BookOpening none = Books().OpenNextArchive(c.book.archiveFolder);
  EXPECT_EQ(none.status, OpenStatus::NotFound);
  EXPECT_TRUE(none.triedAny);
  EXPECT_EQ(m_debug, u"Not Found Archive File\r\n");

  // From the last entry nothing is tried.
  ArchiveFolder last = c.book.archiveFolder;
  last.current = static_cast<int32_t>(last.entries.size()) - 1;
  BookOpening after = Books().OpenNextArchive(last);
  EXPECT_EQ(after.status, OpenStatus::NotFound);
  EXPECT_FALSE(after.triedAny);
}

TEST_F(Opener, ThePreviousArchiveRunsTheSameRulesBackwards) {
  m_disk->AddFile(u"/s/a.zip", Zip("1.png"));
  m_disk->AddFolder(u"/s/b");
  m_disk->AddFile(u"/s/c.zip", Zip("2.png"));
  m_disk->AddFile(u"/s/d.txt", "text");
  m_disk->AddFile(u"/s/e.zip", Zip("3.png"));
  BookOpening e = Books().OpenFile(u"/s/e.zip", IsImage);
  ASSERT_EQ(e.status, OpenStatus::Opened);
  m_debug.clear();
  BookOpening c = Books().OpenPreviousArchive(e.book.archiveFolder);
  ASSERT_EQ(c.status, OpenStatus::Opened);
  EXPECT_EQ(c.book.source, u"/s/c.zip");
  EXPECT_EQ(c.book.archiveFolder.current, 2);
  EXPECT_EQ(m_debug, u"Open File\r\n  Type : Archive\r\n  Prev  : c.zip\r\n  Files : 1\r\n");
  // The folder b ends the search backwards as well.
  m_debug.clear();
  BookOpening none = Books().OpenPreviousArchive(c.book.archiveFolder);
  EXPECT_EQ(none.status, OpenStatus::NotFound);
  EXPECT_TRUE(none.triedAny);
  EXPECT_EQ(m_debug, u"Not Found Archive File\r\n");
  ArchiveFolder first = c.book.archiveFolder;
  first.current = 0;
  EXPECT_FALSE(Books().OpenPreviousArchive(first).triedAny);
}

TEST_F(Opener, NaturalOrderReachesPagesAndTheNextArchive) {
  for (const char16_t* name : {u"/s/Vol 10.zip", u"/s/Vol 2.zip", u"/s/Vol 1.zip"}) m_disk->AddFile(name, Zip("p.png"));
  m_disk->AddFile(u"/f/page10.png", "IMG");
  m_disk->AddFile(u"/f/page2.png", "IMG");
  const CBookOpener natural(m_fileSystem.get(), NameOrder::Natural);
  EXPECT_EQ(Names(natural.OpenFolder(u"/f").book.pages), (std::vector<std::u16string>{u"page2.png", u"page10.png"}));
  EXPECT_EQ(Names(Books().OpenFolder(u"/f").book.pages), (std::vector<std::u16string>{u"page10.png", u"page2.png"}));
  BookOpening one = natural.OpenFile(u"/s/Vol 1.zip", IsImage);
  ASSERT_EQ(one.status, OpenStatus::Opened);
  BookOpening two = natural.OpenNextArchive(one.book.archiveFolder);
  EXPECT_EQ(two.book.source, u"/s/Vol 2.zip");
  EXPECT_EQ(natural.OpenNextArchive(two.book.archiveFolder).book.source, u"/s/Vol 10.zip");
  // In code-unit order "Vol 10" comes before "Vol 2".
  BookOpening plain = Books().OpenFile(u"/s/Vol 1.zip", IsImage);
  EXPECT_EQ(Books().OpenNextArchive(plain.book.archiveFolder).book.source, u"/s/Vol 10.zip");
}

// ---- why a book cannot be shown ----

// A stored Zip with each entry's flags and method changed (in the local
// and the central header alike).
std::string PatchedZip(const std::vector<test::ZipEntry>& entries, uint16_t flags, uint16_t method) {
  std::string zip = test::ZipArchive(entries);
  for (const std::string& signature : {std::string("PK\x03\x04", 4), std::string("PK\x01\x02", 4)})
    for (std::size_t at = zip.find(signature); at != std::string::npos; at = zip.find(signature, at + 4)) {
      const std::size_t field = at + (signature[2] == 3 ? 6 : 8);
      zip[field] = static_cast<char>(flags & 0xFF);
      zip[field + 1] = static_cast<char>(flags >> 8);
      zip[field + 2] = static_cast<char>(method & 0xFF);
      zip[field + 3] = static_cast<char>(method >> 8);
    }
  return zip;
}

TEST_F(Opener, FailuresSayWhy) {
  const std::string png("\x89PNG\r\n\x1A\n-but cut short", 22);
  m_disk->AddFile(u"/notes.txt", "neither an image nor an archive");
  m_disk->AddFile(u"/cut.png", png);
  std::string zip = test::ZipArchive({{"1.png", "IMG"}});
  m_disk->AddFile(u"/cut.zip", zip.substr(0, 12));
  auto why = [&](const char16_t* path) { return Books().OpenFile(path, IsImage).why; };
  EXPECT_EQ(why(u"/notes.txt"), OpenFailure::NotImageOrArchive);
  EXPECT_EQ(why(u"/cut.png"), OpenFailure::Damaged) << "an image's first bytes that do not decode";
  EXPECT_EQ(why(u"/cut.zip"), OpenFailure::Damaged) << "an archive's first bytes that do not open";
  EXPECT_EQ(why(u"/missing.zip"), OpenFailure::NotFound);
  EXPECT_EQ(Books().OpenFolder(u"/missing").why, OpenFailure::NotFound);

  // The probe tells what the disk says, when it can.
  const CBookOpener probed(m_fileSystem.get(), NameOrder::CodeUnit,
                           [](const std::u16string& path, OpenFailure guess) {
                             return path == u"/locked" || path == u"/locked.zip" ? OpenFailure::NoPermission : guess;
                           });
  EXPECT_EQ(probed.OpenFolder(u"/locked").why, OpenFailure::NoPermission);
  EXPECT_EQ(probed.OpenFile(u"/locked.zip", IsImage).why, OpenFailure::NoPermission);
  EXPECT_EQ(probed.OpenFolder(u"/gone").why, OpenFailure::NotFound);
}

TEST_F(Opener, PagesThatDoNotShowSayWhy) {
  auto diagnose = [&](const std::string& archive) {
    m_disk->AddFile(u"/t.zip", archive);
    BookOpening opened = Books().OpenFile(u"/t.zip", IsImage);
    EXPECT_EQ(opened.status, OpenStatus::Opened);
    for (PageEntry& page : opened.book.pages)
      if (page.state == PageState::Unknown) page.state = PageState::NotImage;  // as a failed decode leaves it
    return Books().DiagnosePages(opened.book);
  };
  EXPECT_EQ(diagnose(PatchedZip({{"1.png", "IMG"}, {"2.png", "IMG"}}, 0x0001, 0)), OpenFailure::NeedsPassword);
  EXPECT_EQ(diagnose(PatchedZip({{"1.png", "IMG"}}, 0, 77)), OpenFailure::UnsupportedCompression);
  {
    std::string zip = test::ZipArchive({{"1.png", "IMG-with-some-bytes"}});
    zip[30 + 5 + 2] ^= 0x55;  // a byte of the stored data: its check fails
    EXPECT_EQ(diagnose(zip), OpenFailure::Damaged);
  }
  EXPECT_EQ(diagnose(test::ZipArchive({{"cut.png", "\x89PNG\r\n\x1A\n"}})), OpenFailure::Damaged);
  EXPECT_EQ(diagnose(test::ZipArchive({{"a.txt", "text"}, {"sub/", ""}})), OpenFailure::NoImages);
  {
    test::RarEntry costly{"1.png", ""};  // a few bytes that claim most of a gigabyte
    costly.packed = std::string("\xA5\x07", 2) + std::string(300, '\0');
    costly.claimedSize = 900u << 20;
    EXPECT_EQ(diagnose(test::RarArchive({{"0.png", std::string(3000, 'x'), false, false, true}, costly})), OpenFailure::TooLarge);
  }

  // A folder book: pages on disk; a page the disk refuses says so.
  m_disk->AddFile(u"/f/a.txt", "text");
  m_disk->AddFile(u"/f/b.png", std::string("\x89PNG\r\n\x1A\n", 8));
  BookOpening folder = Books().OpenFolder(u"/f");
  for (PageEntry& page : folder.book.pages) page.state = PageState::NotImage;
  EXPECT_EQ(Books().DiagnosePages(folder.book), OpenFailure::Damaged);
  folder.book.pages[1].state = PageState::Image;
  EXPECT_EQ(Books().DiagnosePages(folder.book), OpenFailure::NoImages);
  EXPECT_EQ(Books().DiagnosePages(Book{}), OpenFailure::NoImages);
  // A page its load found damaged says so without being looked at again.
  folder.book.pages[0].state = PageState::Damaged;
  EXPECT_EQ(Books().DiagnosePages(folder.book), OpenFailure::Damaged);
}

// A Zip entry failing its check keeps its place in the book and reads, with
// why it is not whole; the entries after it keep their numbers.
TEST_F(Opener, AnEntryFailingItsCheckKeepsItsPlace) {
  std::string zip = test::ZipArchive({{"1.png", "IMG-one"}, {"2.png", "IMG-two-with-some-bytes"}, {"3.png", "IMG-three"}});
  zip[zip.find("IMG-two") + 9] ^= 0x55;
  m_disk->AddFile(u"/t.zip", zip);
  BookOpening opened = Books().OpenFile(u"/t.zip", IsImage);
  ASSERT_EQ(opened.status, OpenStatus::Opened);
  ASSERT_EQ(opened.book.PageCount(), 3);
  EXPECT_EQ(opened.book.IndexOf(u"/3.png"), 2);
  ComRef<IFile> file;
  ASSERT_EQ(opened.book.root->OpenFile(&file, u"/2.png", nullptr), 0);
  EXPECT_EQ(DamageOf(file.get()), u"its data fails its CRC check");
  ComRef<IFile> whole;
  ASSERT_EQ(opened.book.root->OpenFile(&whole, u"/3.png", nullptr), 0);
  EXPECT_EQ(DamageOf(whole.get()), u"");
}

TEST_F(Opener, AnArchiveWhoseListIsEncryptedNeedsAPassword) {
  test::TempDir tmp;
  tmp.WriteFile("p.png", "IMG");
  ASSERT_EQ(std::system(("cd '" + tmp.path() + "' && 7z a -psecret -mhe=on t.7z p.png >/dev/null").c_str()), 0);
  std::ifstream in(tmp / "t.7z", std::ios::binary);
  m_disk->AddFile(u"/t.7z", std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  BookOpening opened = Books().OpenFile(u"/t.7z", IsImage);
  EXPECT_EQ(opened.status, OpenStatus::NotArchive);
  EXPECT_EQ(opened.why, OpenFailure::NeedsPassword);
}

TEST(ImageSignatures, TheKindsTheViewerDecodes) {
  const struct {
    std::string head;
    bool image;
  } rows[] = {
      {"\xFF\xD8\xFF\xE0", true},
      {"\x89PNG\r\n\x1A\n", true},
      {"GIF89a", true},
      {"BM....", true},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), true},
      {std::string("II*\0", 4), true},
      {std::string("\0\0\0\x1C" "ftypavif", 12), true},
      {std::string("\0\0\0\x1C" "ftypisom", 12), false},
      {"\xFF\x0A", true},
      {"PK\x03\x04", false},
      {std::string("RIFF\x10\0\0\0WAVE", 12), false},
      {"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(LooksLikeImage(reinterpret_cast<const BYTE*>(row.head.data()), row.head.size()), row.image) << row.head;
}

}  // namespace
