// The item table: the same listing as the plain rules give (checked against
// a direct, quadratic reading of them), at a cost that hostile archives
// cannot blow up; names that are not Shift-JIS keep their folders; extracted
// bytes cost what they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/ArchiveItems.h"
#include "viewer/archive/LazyFile.h"
#include "viewer/archive/MemoryFile.h"

using test::Ref;
using test::TempDir;

namespace {

struct Plain {
  int32_t index;
  uint32_t flags;
  std::u16string folder, name;
  bool operator==(const Plain&) const = default;
};

// The rules read literally: split at the last "/", list the folders with a
// search, add their ancestors, add the unlisted ones, exchange-sort.
std::vector<Plain> ReferenceTable(const std::vector<std::pair<std::u16string, bool>>& paths) {
  std::vector<Plain> items;
  std::vector<std::u16string> folders;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::u16string& path = paths[i].first;
    Plain item{static_cast<int32_t>(i), paths[i].second ? 1u : 0u, u"", u""};
    const std::size_t k = path.rfind(u'/');
    if (k == 0) {
      item.folder = u"/";
      item.name = path.substr(1);
    } else {
      if (path.empty() || path[0] != u'/') item.folder = u"/";
      if (k != std::u16string::npos) item.folder += path.substr(0, k + 1);
      item.name = path.substr(k == std::u16string::npos ? 0 : k + 1);
      if (item.folder.size() > 1) {
        const std::u16string f = item.folder.substr(0, item.folder.size() - 1);
        if (std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
      }
    }
    items.push_back(item);
  }
  for (std::size_t f = 0; f < folders.size(); ++f)
    for (std::size_t s = folders[f].find(u'/', 2); s != std::u16string::npos; s = folders[f].find(u'/', s + 1)) {
      const std::u16string a = folders[f].substr(0, s);
      if (std::find(folders.begin(), folders.end(), a) == folders.end()) folders.push_back(a);
    }
  for (const std::u16string& f : folders) {
    const bool listed = std::any_of(items.begin(), items.end(), [&](const Plain& i) { return (i.flags & 1) && i.folder + i.name == f; });
    if (!listed) items.push_back(Plain{-1, 1, f.substr(0, f.rfind(u'/') + 1), f.substr(f.rfind(u'/') + 1)});
  }
  auto after = [](const Plain& a, const Plain& b) {
    if (a.folder != b.folder) return a.folder > b.folder;
    if ((a.flags & 1) != (b.flags & 1)) return (a.flags & 1) != 0;
    return a.name > b.name;
  };
  for (std::size_t i = 0; i + 1 < items.size(); ++i)
    for (std::size_t j = items.size() - 1; j > i; --j)
      if (after(items[j - 1], items[j])) std::swap(items[j - 1], items[j]);
  return items;
}

TEST(ArchiveItemTable, AgreesWithTheRulesOnRandomTrees) {
  // Segments chosen to collide: prefixes of one another, " " and "." below
  // "/", upper case below lower case, names shared by a file and a folder.
  const std::u16string segments[] = {u"a", u"a b", u"a.b", u"ab", u"B", u"\u65e5", u"a-"};
  std::mt19937 random(12);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::pair<std::u16string, bool>> paths;
    const int count = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      std::u16string path = random() % 5 == 0 ? u"/" : u"";
      const int depth = 1 + static_cast<int>(random() % 4);
      for (int d = 0; d < depth; ++d) path += (d ? u"/" : u"") + segments[random() % std::size(segments)];
      paths.emplace_back(path, random() % 4 == 0);
    }
    ArchiveItemTable table;
    for (std::size_t i = 0; i < paths.size(); ++i) table.Add(static_cast<int32_t>(i), i, paths[i].second, paths[i].first);
    table.Finish();
    const std::vector<Plain> expected = ReferenceTable(paths);
    std::vector<Plain> got;
    for (const ArchiveItem& item : table.items())
      got.push_back(Plain{item.index, item.flags, std::u16string(item.folder), std::u16string(item.name)});
    ASSERT_EQ(got, expected) << "round " << round;

    // Lookups agree with scans of the expected table.
    for (const Plain& item : expected) {
      const std::u16string full = item.folder + item.name;
      const auto first = std::find_if(expected.begin(), expected.end(), [&](const Plain& p) { return p.folder + p.name == full; });
      const ArchiveItem* found = table.Find(full);
      ASSERT_NE(found, nullptr) << Utf16ToUtf8(full);
      EXPECT_EQ(found - table.items().data(), first - expected.begin()) << Utf16ToUtf8(full);
      if (!(item.flags & 1)) continue;
      std::span<const ArchiveItem> inside;
      ASSERT_TRUE(table.List(full + u"/", &inside)) << Utf16ToUtf8(full);
      EXPECT_EQ(inside.size(), static_cast<std::size_t>(std::count_if(expected.begin(), expected.end(),
                                                                       [&](const Plain& p) { return p.folder == full + u"/"; })));
    }
    std::span<const ArchiveItem> none;
    EXPECT_FALSE(table.List(u"/zz/", &none));
    EXPECT_FALSE(table.List(u"a/", &none));
    EXPECT_EQ(table.Find(u"/zz"), nullptr);
    if (const ArchiveItem* byIndex = table.ByIndex(0)) {
      EXPECT_EQ(byIndex->index, 0);
    }
  }
}

class HostileArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
    ASSERT_EQ(m_fs->OpenDirectory(&m_disk, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
    SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
  }
  void TearDown() override { SetDebugOutputSink(nullptr, nullptr); }

  Ref<IDirectory> Open(const std::string& name, const std::string& bytes) {
    m_tmp.WriteFile(name, bytes);
    Ref<IFile> file;
    Ref<IDirectory> archive;
    if (m_disk->OpenFile(&file, Utf8ToUtf16("/" + name).c_str(), nullptr) == 0) OpenArchive(file.get(), &archive);
    return archive;
  }

  static std::vector<std::u16string> Names(IDirectory* dir, const std::u16string& path) {
    std::vector<std::u16string> names;
    Ref<IFileSystemEntries> entries;
    if (dir->GetEntries(path.c_str(), &entries) != 0) return {u"<failed>"};
    uint32_t count = 0;
    entries->GetCount(&count);
    for (uint32_t i = 0; i < count; ++i) {
      FileSystemEntry entry;
      entries->GetEntry(i, &entry);
      names.emplace_back(std::u16string(entry.name) + ((entry.flags & 1) ? u"/" : u""));
    }
    return names;
  }

  Ref<IFileSystem> m_fs;
  Ref<IDirectory> m_disk;
  TempDir m_tmp;
};

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST_F(HostileArchives, AThousandLevelsDeepListsAtOnce) {
  // 4 KB of name; the old table took 85 s to build for it.
  std::string path;
  for (int i = 0; i < 1000; ++i) path += "a/";
  const auto start = Clock::now();
  Ref<IDirectory> archive = Open("deep.zip", test::ZipArchive({{path + "p.jpg", "deep page"}}));
  ASSERT_TRUE(archive);
  std::u16string folder = u"/";
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(Names(archive.get(), folder), std::vector<std::u16string>{u"a/"}) << i;
    folder += u"a/";
  }
  EXPECT_EQ(Names(archive.get(), folder), std::vector<std::u16string>{u"p.jpg"});
  Ref<IFile> page;
  EXPECT_EQ(archive->OpenFile(&page, (folder + u"p.jpg").c_str(), nullptr), 0);
  EXPECT_LT(SecondsSince(start), 10.0);
}

TEST_F(HostileArchives, AHundredThousandFoldersListInSeconds) {
  // 50 000 entries x/NNNNN/y/p.jpg: 100 001 folders. Each folder's listing
  // used to scan every item (about 3.5 minutes for the walk).
  std::vector<test::ZipEntry> entries;
  for (int i = 0; i < 50000; ++i) entries.push_back({"x/" + std::to_string(100000 + i) + "/y/p.jpg", "p"});
  Ref<IDirectory> archive = Open("wide.zip", test::ZipArchive(entries));
  ASSERT_TRUE(archive);
  const auto start = Clock::now();
  std::vector<std::u16string> pending{u"/"};
  std::size_t folders = 0, files = 0;
  while (!pending.empty()) {
    const std::u16string folder = pending.back();
    pending.pop_back();
    ++folders;
    for (const std::u16string& name : Names(archive.get(), folder)) {
      if (name.back() == u'/')
        pending.push_back(folder + name);
      else
        ++files;
    }
  }
  EXPECT_EQ(folders, 100002u);
  EXPECT_EQ(files, 50000u);
  Ref<IFile> page;
  EXPECT_EQ(archive->OpenFile(&page, u"/x/149999/y/p.jpg", nullptr), 0);
  EXPECT_LT(SecondsSince(start), 30.0);
}

TEST_F(HostileArchives, ALatinOneFolderKeepsItsSeparator) {
  // "café/p1.png" in Latin-1: E9 is also a Shift-JIS lead byte, and E9 5C
  // would be a character; but Zip names never had their 0x5C turned to "/".
  Ref<IDirectory> archive = Open("latin.zip", test::ZipArchive({{"caf\xe9/p1.png", "p1"}, {"top.png", "t"}}));
  ASSERT_TRUE(archive);
  const std::vector<std::u16string> top = Names(archive.get(), u"/");
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0], u"top.png");
  ASSERT_EQ(top[1].size(), 5u);  // "caf", one unit for the byte, "/"
  EXPECT_EQ(top[1].substr(0, 3), u"caf");
  EXPECT_EQ(Names(archive.get(), u"/" + top[1]), std::vector<std::u16string>{u"p1.png"});
}

TEST_F(HostileArchives, ExtractedBytesCostTheirSize) {
  // A header that claims 512 MiB for ten bytes: room is made for some of
  // the claim, and given back once the real size is known.
  Ref<IDirectory> archive = Open("liar.zip", test::ZipArchive({{"liar.jpg", "ten bytes!", 512u << 20}, {"ok.jpg", std::string(300000, 'k')}}));
  ASSERT_TRUE(archive);
  for (const char16_t* path : {u"/liar.jpg", u"/ok.jpg"}) {
    Ref<IFile> file;
    if (archive->OpenFile(&file, path, nullptr) != 0) continue;  // the library may refuse the liar
    // An entry larger than its head comes as the head alone: a read past
    // it brings the entry whole.
    IFile* whole = file.get();
    if (CLazyFile* lazy = dynamic_cast<CLazyFile*>(whole)) {
      char byte = 0;
      lazy->Seek(kHeadBytes, 0, nullptr);
      lazy->Read(&byte, 1, nullptr);
      whole = lazy->extracted();
    }
    const CFile* memory = dynamic_cast<const CFile*>(whole);
    if (memory == nullptr) continue;  // the liar refused after all
    const std::vector<BYTE>& bytes = memory->bytes();
    EXPECT_LE(bytes.capacity(), bytes.size() + bytes.size() / 8 + 4096) << Utf16ToUtf8(path);
  }
  Ref<IFile> ok;
  ASSERT_EQ(archive->OpenFile(&ok, u"/ok.jpg", nullptr), 0);
  uint64_t size = 0;
  ok->GetSize(&size);
  EXPECT_EQ(size, 300000u);
}

}  // namespace
