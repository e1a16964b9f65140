// Archives through 7-Zip's library: archives made by the 7z command (and by
// hand where the machine has no creator), opened from disk files that the
// library's file system hands out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/ArchiveNames.h"
#include "viewer/archive/SevenZipDirectory.h"
#include "viewer/archive/SevenZipModule.h"

using test::Ref;
using test::TempDir;

namespace {

// Runs the 7z command in `dir`; arguments are passed to the shell as given.
void SevenZip(const TempDir& dir, const std::string& arguments) {
  const std::string command = "cd '" + dir.path() + "' && 7z " + arguments + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class Archives : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
    ASSERT_EQ(m_fs->OpenDirectory(&m_disk, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
  }

  // 0 and the archive as a directory, or OpenArchive's failure.
  int32_t Open(const std::string& name, Ref<IDirectory>& archive) {
    Ref<IFile> file;
    if (m_disk->OpenFile(&file, Utf8ToUtf16("/" + name).c_str(), nullptr) != 0) return -1;
    return OpenArchive(file.get(), &archive);
  }

  static std::vector<std::pair<std::u16string, uint32_t>> List(IDirectory* dir, const char16_t* path) {
    std::vector<std::pair<std::u16string, uint32_t>> names;
    Ref<IFileSystemEntries> entries;
    if (dir->GetEntries(path, &entries) != 0) return {{u"<failed>", 0}};
    uint32_t count = 0;
    entries->GetCount(&count);
    for (uint32_t i = 0; i < count; ++i) {
      FileSystemEntry entry;
      EXPECT_EQ(entries->GetEntry(i, &entry), 0);
      names.emplace_back(entry.name, entry.flags);
    }
    return names;
  }

  static std::string Read(IDirectory* dir, const char16_t* path) {
    Ref<IFile> file;
    if (dir->OpenFile(&file, path, nullptr) != 0) return "<failed>";
    uint64_t size = 0;
    file->GetSize(&size);
    std::string bytes(size, '\0');
    uint32_t got = 0;
    file->Read(bytes.data(), static_cast<uint32_t>(size), &got);
    bytes.resize(got);
    return bytes;
  }

  // A small tree of pages on disk under "src".
  void MakeTree() {
    m_tmp.MakeFolder("src");
    m_tmp.MakeFolder("src/b");
    m_tmp.MakeFolder("src/c");
    m_tmp.MakeFolder("src/c/empty");
    m_tmp.MakeFolder("src/c/d");
    m_tmp.WriteFile("src/a.jpg", "page a");
    m_tmp.WriteFile("src/b/2.jpg", "page b2");
    m_tmp.WriteFile("src/b/10.jpg", "page b10");
    m_tmp.WriteFile("src/B.jpg", "upper B");
    m_tmp.WriteFile("src/c/d/e.png", std::string(100000, 'e'));
    m_tmp.WriteFile("src/\xe6\x97\xa5\xe6\x9c\xac.png", "nihon");  // 日本.png
  }

  Ref<IFileSystem> m_fs;
  Ref<IDirectory> m_disk;
  TempDir m_tmp;
};

using Listing = std::vector<std::pair<std::u16string, uint32_t>>;

TEST_F(Archives, ZipAndSevenZipListAndExtractTheSameTree) {
  MakeTree();
  SevenZip(m_tmp, "a -tzip -mx0 stored.zip ./src/*");
  SevenZip(m_tmp, "a -tzip -mx5 deflate.zip ./src/*");
  SevenZip(m_tmp, "a -t7z -ms=on solid.7z ./src/*");
  SevenZip(m_tmp, "a -t7z -ms=off plain.7z ./src/*");
  for (const char* name : {"stored.zip", "deflate.zip", "solid.7z", "plain.7z"}) {
    SCOPED_TRACE(name);
    Ref<IDirectory> archive;
    ASSERT_EQ(Open(name, archive), 0);
    // Files first, then folders, each by code unit: "B" before "a".
    EXPECT_EQ(List(archive.get(), u"/"), (Listing{{u"B.jpg", 0}, {u"a.jpg", 0}, {u"\u65e5\u672c.png", 0}, {u"b", 1}, {u"c", 1}}));
    EXPECT_EQ(List(archive.get(), u"/b"), (Listing{{u"10.jpg", 0}, {u"2.jpg", 0}}));
    EXPECT_EQ(List(archive.get(), u"/b/"), List(archive.get(), u"/b"));
    EXPECT_EQ(List(archive.get(), u""), List(archive.get(), u"/"));
    EXPECT_EQ(List(archive.get(), u"b/"), (Listing{{u"<failed>", 0}}));
    EXPECT_EQ(List(archive.get(), u"/c/"), (Listing{{u"d", 1}, {u"empty", 1}}));
    EXPECT_TRUE(List(archive.get(), u"/c/empty/").empty());
    EXPECT_EQ(List(archive.get(), u"/nothing/"), (Listing{{u"<failed>", 0}}));

    EXPECT_EQ(Read(archive.get(), u"/a.jpg"), "page a");
    EXPECT_EQ(Read(archive.get(), u"/b/10.jpg"), "page b10");
    EXPECT_EQ(Read(archive.get(), u"/c/d/e.png"), std::string(100000, 'e'));
    EXPECT_EQ(Read(archive.get(), u"/\u65e5\u672c.png"), "nihon");
    // Folders, missing paths and paths without the leading "/" open nothing.
    for (const char16_t* path : {u"/b", u"/c/empty", u"/missing.jpg", u"a.jpg", u"/A.jpg", u""})
      EXPECT_EQ(Read(archive.get(), path), "<failed>") << Utf16ToUtf8(path);
    EXPECT_EQ(archive->Mount(u"/x", archive.get()), 1);
  }
}

TEST_F(Archives, FoldersThatItemPathsOnlyImply) {
  // Only "b/2.jpg" and "a.jpg": b is implied, with index -1, after the file.
  m_tmp.MakeFolder("b");
  m_tmp.WriteFile("b/2.jpg", "two");
  m_tmp.WriteFile("a.jpg", "one");
  m_tmp.MakeFolder("x");
  m_tmp.MakeFolder("x/y");
  m_tmp.WriteFile("x/y/deep.jpg", "deep");
  SevenZip(m_tmp, "a -tzip implied.zip b/2.jpg a.jpg x/y/deep.jpg");
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("implied.zip", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/"), (Listing{{u"a.jpg", 0}, {u"b", 1}, {u"x", 1}}));
  EXPECT_EQ(List(archive.get(), u"/x/"), (Listing{{u"y", 1}}));
  const auto& items = static_cast<C7zDirectory*>(archive.get())->items();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[1].name, u"b");
  EXPECT_EQ(items[1].index, -1);
  EXPECT_EQ(items[1].folder, u"/");
  EXPECT_EQ(Read(archive.get(), u"/b"), "<failed>");
  EXPECT_EQ(Read(archive.get(), u"/x/y/deep.jpg"), "deep");
}

TEST_F(Archives, BackslashesInItemPathsSeparateFolders) {
  m_tmp.MakeFolder("q");
  m_tmp.WriteFile("q/a\\b.jpg", "bs");
  SevenZip(m_tmp, "a -tzip bs.zip q");
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("bs.zip", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/q/a/"), (Listing{{u"b.jpg", 0}}));
  EXPECT_EQ(Read(archive.get(), u"/q/a/b.jpg"), "bs");
}

TEST_F(Archives, EachOpenFileKeepsItsOwnBytes) {
  m_tmp.WriteFile("one.jpg", "first page");
  m_tmp.WriteFile("two.jpg", "second");
  SevenZip(m_tmp, "a -t7z -ms=off pages.7z one.jpg two.jpg");
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("pages.7z", archive), 0);

  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  Ref<IFile> first, second;
  ASSERT_EQ(archive->OpenFile(&first, u"/one.jpg", nullptr), 0);
  EXPECT_EQ(debug, u"Index:0\nkExtract\nkExtractingString\nkOK\n");
  char buffer[16];
  uint32_t got = 0;
  ASSERT_EQ(first->Read(buffer, 3, &got), 0);
  ASSERT_EQ(archive->OpenFile(&second, u"/two.jpg", nullptr), 0);
  SetDebugOutputSink(nullptr, nullptr);

  // The first file, still held, reads on where it was, in its own bytes.
  uint64_t size = 0;
  first->GetSize(&size);
  EXPECT_EQ(size, 10u);
  ASSERT_EQ(first->Read(buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "st page");
  ASSERT_EQ(first->Read(buffer, sizeof buffer, &got), 0);  // at the end: 0 bytes, success
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(second->Read(buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "second");

  // A failed open touches neither.
  Ref<IFile> none;
  EXPECT_EQ(archive->OpenFile(&none, u"/three.jpg", nullptr), 1);
  EXPECT_FALSE(none);
  second->GetSize(&size);
  EXPECT_EQ(size, 6u);
}

TEST_F(Archives, MemoryFileSeeks) {
  m_tmp.WriteFile("f.jpg", "0123456789");
  SevenZip(m_tmp, "a -tzip f.zip f.jpg");
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("f.zip", archive), 0);
  Ref<IFile> file;
  ASSERT_EQ(archive->OpenFile(&file, u"/f.jpg", nullptr), 0);
  uint64_t position = 0;
  ASSERT_EQ(file->Seek(-3, 2, &position), 0);
  EXPECT_EQ(position, 7u);
  ASSERT_EQ(file->Seek(1, 1, &position), 0);
  EXPECT_EQ(position, 8u);
  EXPECT_EQ(file->Seek(0, 3, &position), 1);
  // Out of range: failure, nothing written back, reads give nothing.
  position = 99;
  EXPECT_EQ(file->Seek(11, 0, &position), 1);
  EXPECT_EQ(position, 99u);
  char c;
  uint32_t got = 5;
  EXPECT_EQ(file->Read(&c, 1, &got), 0);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(file->Seek(-1, 0, nullptr), 1);
  EXPECT_EQ(file->Read(&c, 1, &got), 0);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(file->Seek(0, 0, nullptr), 0);
  EXPECT_EQ(file->Read(&c, 1, nullptr), 0);
  EXPECT_EQ(c, '0');
  EXPECT_EQ(file->Reserved(), 1);
}

TEST_F(Archives, SignatureChoosesTheHandler) {
  m_tmp.WriteFile("eight.bin", "PK\x03\x04" "abcd");
  m_tmp.WriteFile("nine.bin", "not an archive");
  m_tmp.WriteFile("rar5.rar", std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(64, '\0'));
  m_tmp.WriteFile("zipsig.bin", std::string("PK\x03\x04", 4) + std::string(60, 'z'));
  Ref<IDirectory> archive;
  for (const char* name : {"eight.bin", "nine.bin", "rar5.rar", "zipsig.bin"}) EXPECT_EQ(Open(name, archive), 1) << name;
  EXPECT_FALSE(archive);

  // A 7z archive under any name opens by its bytes alone.
  m_tmp.WriteFile("p.jpg", "p");
  SevenZip(m_tmp, "a -t7z named.jpg.7z p.jpg");
  SevenZip(m_tmp, "rn named.jpg.7z p.jpg q.jpg");
  ASSERT_EQ(std::rename((m_tmp / "named.jpg.7z").c_str(), (m_tmp / "renamed.zip").c_str()), 0);
  ASSERT_EQ(Open("renamed.zip", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/"), (Listing{{u"q.jpg", 0}}));
}

TEST_F(Archives, DamagedArchivesFailWithoutHarm) {
  MakeTree();
  SevenZip(m_tmp, "a -tzip d.zip ./src/*");
  SevenZip(m_tmp, "a -t7z d.7z ./src/*");
  for (const char* name : {"d.zip", "d.7z"}) {
    std::ifstream in((m_tmp / name).c_str(), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> damaged;
    for (std::size_t cut : {whole.size() / 4, whole.size() / 2, whole.size() - 10}) damaged.push_back(whole.substr(0, cut));
    for (std::size_t at : {std::size_t{8}, std::size_t{40}, whole.size() / 2, whole.size() - 30, whole.size() - 5}) {
      std::string flipped = whole;
      for (std::size_t i = at; i < std::min(at + 8, flipped.size()); ++i) flipped[i] = static_cast<char>(~flipped[i]);
      damaged.push_back(flipped);
    }
    for (std::size_t i = 0; i < damaged.size(); ++i) {
      m_tmp.WriteFile("damaged", damaged[i]);
      Ref<IDirectory> archive;
      if (Open("damaged", archive) != 0) continue;
      // It opened: every listed file either extracts or fails; nothing else.
      for (const auto& [entryName, flags] : List(archive.get(), u"/"))
        if (flags == 0) Read(archive.get(), (u"/" + entryName).c_str());
      Read(archive.get(), u"/c/d/e.png");
    }
  }
}

TEST_F(Archives, NamesThatDoNotFitARecordStayOut) {
  const std::string longName(300, 'n');
  SevenZip(m_tmp, "a -t7z long.7z -si" + longName + ".jpg < /dev/null");
  m_tmp.WriteFile("short.jpg", "s");
  SevenZip(m_tmp, "a -t7z long.7z short.jpg");
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("long.7z", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/"), (Listing{{u"short.jpg", 0}}));
}

TEST_F(Archives, ExtractionStopsAtTheSizeLimit) {
  // A 1.1 GB entry compresses to a megabyte; it is refused before extraction.
  m_tmp.WriteFile("zeros.bin", "");
  ASSERT_EQ(::truncate((m_tmp / "zeros.bin").c_str(), static_cast<off_t>(kMaxExtractBytes + (100 << 20))), 0);
  SevenZip(m_tmp, "a -tzip -mx1 bomb.zip zeros.bin");
  ::unlink((m_tmp / "zeros.bin").c_str());
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("bomb.zip", archive), 0);
  Ref<IFile> file;
  EXPECT_EQ(archive->OpenFile(&file, u"/zeros.bin", nullptr), 1);

  // Written bytes count too, whatever the headers claimed.
  auto bytes = std::make_shared<std::vector<BYTE>>(10, 0);
  Ref<IOutStream> stream;
  HandOut(new COutFileStream(bytes), IID_IOutStream, reinterpret_cast<void**>(&stream));
  UInt32 processed = 7;
  const char byte = 0;
  EXPECT_EQ(stream->Write(&byte, static_cast<UInt32>(kMaxExtractBytes), &processed), E_ABORT);
  EXPECT_EQ(processed, 0u);
  EXPECT_EQ(bytes->size(), 10u);
}

TEST_F(Archives, LzhOfBothHeaderLevels) {
  // 表紙.jpg in Shift-JIS: 95 5C 8E 86; its 0x5C must not split the name.
  const std::string cover = "\x95\x5C\x8E\x86.jpg";
  m_tmp.WriteFile("book.lzh", test::LzhArchive({
                                  {"001.jpg", "level zero page", 0},
                                  {cover, "cover bytes", 0},
                                  {"vol2", "", 2, true},
                                  {"vol2/002.jpg", "level two page", 2},
                                  {"extra/\x83\x5C.png", "so", 2},
                              }));
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("book.lzh", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/"),
            (Listing{{u"001.jpg", 0}, {u"\u8868\u7d19.jpg", 0}, {u"extra", 1}, {u"vol2", 1}}));
  EXPECT_EQ(List(archive.get(), u"/extra/"), (Listing{{u"\u30bd.png", 0}}));
  EXPECT_EQ(Read(archive.get(), u"/001.jpg"), "level zero page");
  EXPECT_EQ(Read(archive.get(), u"/\u8868\u7d19.jpg"), "cover bytes");
  EXPECT_EQ(Read(archive.get(), u"/vol2/002.jpg"), "level two page");
}

TEST_F(Archives, RarFourStoredEntriesExtract) {
  m_tmp.WriteFile("book.rar", test::RarArchive({{"p01.jpg", "stored page"},
                                                {"sub\\p02.jpg", "in a folder"},
                                                {"damaged.jpg", "bytes with a bad CRC", false, true}}));
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("book.rar", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/"), (Listing{{u"damaged.jpg", 0}, {u"p01.jpg", 0}, {u"sub", 1}}));
  EXPECT_EQ(Read(archive.get(), u"/p01.jpg"), "stored page");
  EXPECT_EQ(Read(archive.get(), u"/sub/p02.jpg"), "in a folder");

  // A CRC error is only reported: the bytes written stay, for the decoder to judge.
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  EXPECT_EQ(Read(archive.get(), u"/damaged.jpg"), "bytes with a bad CRC");
  SetDebugOutputSink(nullptr, nullptr);
  EXPECT_EQ(debug, u"Index:2\nkExtract\nkExtractingString\nkCRCFailed\n");
}

TEST_F(Archives, RarFourWithAnEntryTheLibraryCannotDecode) {
  // 7-Zip's library lists it but has no RAR codec here: libarchive reads
  // it instead. The entry that claims compression but holds raw bytes does
  // not decode; the stored ones read as before.
  m_tmp.WriteFile("book.rar", test::RarArchive({{"p01.jpg", "stored page"},
                                                {"sub\\p02.jpg", "in a folder"},
                                                {"packed.jpg", "not really packed", true}}));
  Ref<IDirectory> archive;
  ASSERT_EQ(Open("book.rar", archive), 0);
  EXPECT_EQ(List(archive.get(), u"/"), (Listing{{u"p01.jpg", 0}, {u"packed.jpg", 0}, {u"sub", 1}}));
  EXPECT_EQ(Read(archive.get(), u"/p01.jpg"), "stored page");
  EXPECT_EQ(Read(archive.get(), u"/sub/p02.jpg"), "in a folder");
  EXPECT_NE(Read(archive.get(), u"/packed.jpg"), "not really packed");
}

TEST(ArchiveLibrary, MissingLibraryFailsEveryTime) {
  if (g_sevenZipModule != nullptr) GTEST_SKIP() << "the library is already bound in this process";
  TempDir empty;
  SevenZipSearchPaths() = {Utf8ToUtf16(empty / "7z.so")};
  test::TempDir tmp;
  tmp.WriteFile("x.zip", std::string("PK\x03\x04", 4) + std::string(60, 'z'));
  Ref<IFileSystem> fs;
  ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&fs)), 0);
  Ref<IDirectory> disk;
  ASSERT_EQ(fs->OpenDirectory(&disk, Utf8ToUtf16(tmp.path()).c_str()), 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    Ref<IFile> file;
    ASSERT_EQ(disk->OpenFile(&file, u"/x.zip", nullptr), 0);
    Ref<IDirectory> archive;
    EXPECT_EQ(OpenArchive(file.get(), &archive), 1);
    EXPECT_EQ(g_sevenZipModule, nullptr);
  }
}

TEST(ArchiveNames, ShiftJisBytesBecomeJapanese) {
  using enum ArchiveNameSource;
  // 日本 is 93 FA 96 7B in Shift-JIS; 0x7B is "{" and came through as is.
  EXPECT_EQ(DecodeArchiveName(u"\xEF93\xEFFA\xEF96{.jpg", Plain), u"\u65e5\u672c.jpg");
  // ソ is 83 5C: the LZH handler turned the 0x5C into "/".
  EXPECT_EQ(DecodeArchiveName(u"\xEF83/\xEF95/.png", Lzh), u"\u30bd\u8868.png");
  // Only there: elsewhere a "/" after such a byte is a separator, and a
  // name that is then no Shift-JIS stays as it came (Latin-1 "café/").
  EXPECT_EQ(DecodeArchiveName(u"\xEF83/\xEF95/.png", Plain), u"\xEF83/\xEF95/.png");
  EXPECT_EQ(DecodeArchiveName(u"caf\xEFE9/p1.png", Plain), u"caf\xEFE9/p1.png");
  // A real backslash after a lead byte is that character's second byte.
  EXPECT_EQ(DecodeArchiveName(u"dir/\xEF83\x5C.png", Plain), u"dir/\u30bd.png");
  // A lead-range byte in second place ends a character: the "/" after
  // it separates (83 83 is ャ, then a folder).
  EXPECT_EQ(DecodeArchiveName(u"\xEF83\xEF83/a.png", Lzh), u"\u30e3/a.png");
  // Plain names and bytes that are not Shift-JIS either are left alone.
  EXPECT_EQ(DecodeArchiveName(u"plain/name.jpg", Lzh), u"plain/name.jpg");
  EXPECT_EQ(DecodeArchiveName(u"\xEFFF\xEFFF", Plain), u"\xEFFF\xEFFF");
  // Raw bytes from other readers take the same form as the library's.
  EXPECT_EQ(ArchiveBytesToUnits("caf\xe9/\xe6\x97\xa5"), u"caf\xEFE9/\u65e5");
}

}  // namespace
