// The book: page order, the tree walk of an archive book, the history, and
// the opener over a file system in memory (folders, images, archives and
// the next archive), with the debug lines it writes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ArchiveBuilders.h"
#include "MemoryFileSystem.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/book/Archive.h"
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

TEST(BookModel, TheTreeWalkSurvivesDeepNestingAndStopsAtLongPaths) {
  ComRef<MemoryDirectory> disk;
  disk.Set(new MemoryDirectory);
  std::u16string path;
  for (int i = 0; i < 3000; ++i) path += u"/a";
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
  EXPECT_FALSE(book.CanStepToNextArchive());
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
  EXPECT_TRUE(book.CanStepToNextArchive());
  EXPECT_EQ(around.folder, u"/series/");
  EXPECT_EQ(around.windowsFolder, u"/series/");
  EXPECT_EQ(around.drive, u"/");
  EXPECT_EQ(Names(around.entries), (std::vector<std::u16string>{u"a.zip", u"b.txt", u"c.zip", u"pack.jpg"}));
  EXPECT_EQ(around.current, 3);
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

}  // namespace
