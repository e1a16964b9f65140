// The libarchive route: RAR 4 with compressed entries, RAR 5 (solid or
// not), tar; damaged and encrypted archives. RAR files come from the
// writers in ArchiveBuilders.h; every entry read is checked against what
// bsdtar extracts from the same file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "MemoryFileSystem.h"
#include "viewer/archive/Rar4Headers.h"
#include "viewer/archive/RarVolumes.h"

using test::Ref;
using test::TempDir;

namespace {

std::string Page(int n, std::size_t size) {
  std::string page;
  for (std::size_t i = 0; i < size; ++i) page.push_back(static_cast<char>((i * 7 + n * 13 + i / 97) & 0xFF));
  return page;
}

class LibArchiveRoute : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
    ASSERT_EQ(m_fs->OpenDirectory(&m_disk, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
    SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
  }
  void TearDown() override { SetDebugOutputSink(nullptr, nullptr); }

  Ref<IDirectory> Open(const std::string& name) {
    Ref<IFile> file;
    Ref<IDirectory> archive;
    if (m_disk->OpenFile(&file, Utf8ToUtf16("/" + name).c_str(), nullptr) == 0) OpenArchive(file.get(), &archive);
    return archive;
  }

  // Every file of the archive, depth first, by path (folders end in "/").
  static std::vector<std::string> Tree(IDirectory* dir, const std::u16string& folder = u"/") {
    std::vector<std::string> paths;
    Ref<IFileSystemEntries> entries;
    if (dir->GetEntries(folder.c_str(), &entries) != 0) return {"<failed " + Utf16ToUtf8(folder) + ">"};
    uint32_t count = 0;
    entries->GetCount(&count);
    for (uint32_t i = 0; i < count; ++i) {
      FileSystemEntry entry;
      entries->GetEntry(i, &entry);
      const std::u16string path = folder + entry.name;
      if (entry.flags & 1) {
        paths.push_back(Utf16ToUtf8(path) + "/");
        for (const std::string& inner : Tree(dir, path + u"/")) paths.push_back(inner);
      } else {
        paths.push_back(Utf16ToUtf8(path));
      }
    }
    return paths;
  }

  // Equal bytes, or where they first differ (pages are too long to print).
  static std::string Same(const std::string& got, const std::string& expected) {
    if (got == expected) return "same";
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    return "differ at " + std::to_string(at) + " (sizes " + std::to_string(got.size()) + ", " + std::to_string(expected.size()) +
           (got == "<failed>" ? ", failed" : "") + ")";
  }

  static std::string Read(IDirectory* dir, const std::string& path) {
    Ref<IFile> file;
    if (dir->OpenFile(&file, Utf8ToUtf16(path).c_str(), nullptr) != 0) return "<failed>";
    uint64_t size = 0;
    file->GetSize(&size);
    std::string bytes(size, '\0');
    uint32_t got = 0;
    file->Read(bytes.data(), static_cast<uint32_t>(size), &got);
    bytes.resize(got);
    return bytes;
  }

  // bsdtar extracts `name` into a folder of its own; whether it did so
  // without complaint, and each file it wrote must read the same through
  // the archive directory.
  bool SameAsBsdtar(IDirectory* dir, const std::string& name) {
    const std::string out = m_tmp / ("x-" + name);
    std::filesystem::create_directories(out);
    const bool clean = std::system(("bsdtar -xf '" + (m_tmp / name) + "' -C '" + out + "' 2>/dev/null").c_str()) == 0;
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(Same(Read(dir, "/" + std::filesystem::relative(e.path(), out).string()), expected), "same") << e.path();
      ++files;
    }
    EXPECT_GT(files, 0) << name;
    return clean;
  }

  Ref<IFileSystem> m_fs;
  Ref<IDirectory> m_disk;
  TempDir m_tmp;
};

TEST_F(LibArchiveRoute, CompressedRarFour) {
  m_tmp.WriteFile("book.cbr", test::RarArchive({{"001.jpg", Page(1, 3000), false, false, true},
                                                {"ch2\\002.jpg", Page(2, 70000), false, false, true},
                                                {"003.jpg", "stored among packed"}}));
  Ref<IDirectory> archive = Open("book.cbr");
  ASSERT_TRUE(archive);
  EXPECT_EQ(Tree(archive.get()), (std::vector<std::string>{"/001.jpg", "/003.jpg", "/ch2/", "/ch2/002.jpg"}));
  EXPECT_EQ(Same(Read(archive.get(), "/ch2/002.jpg"), Page(2, 70000)), "same");
  EXPECT_EQ(Same(Read(archive.get(), "/001.jpg"), Page(1, 3000)), "same");
  EXPECT_EQ(Read(archive.get(), "/003.jpg"), "stored among packed");
  EXPECT_TRUE(SameAsBsdtar(archive.get(), "book.cbr"));
}

// Names beyond ASCII, stored in Unicode after a code-page name that loses
// them: all three listed by their own names, though their code-page names
// are one and the same; packed or stored alike.
TEST_F(LibArchiveRoute, RarFourUnicodeNames) {
  for (const bool packed : {true, false}) {
    SCOPED_TRACE(packed ? "packed" : "stored");
    std::vector<test::RarEntry> entries = {
        {"?.jpg", Page(1, 3000)}, {"?.jpg", Page(2, 2000)}, {"ch\\?.jpg", Page(3, 1000)}, {"plain.jpg", Page(4, 500)}};
    const std::u16string wide[] = {u"\u3042.jpg", u"\u3044.jpg", u"ch\\\u3046.jpg", u""};  // the last: ASCII alone
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].literal = packed;
      entries[i].wide = wide[i];
    }
    m_tmp.WriteFile("wide.cbr", test::RarArchive(entries));
    Ref<IDirectory> archive = Open("wide.cbr");
    ASSERT_TRUE(archive);
    EXPECT_EQ(Tree(archive.get()),
              (std::vector<std::string>{"/plain.jpg", "/\u3042.jpg", "/\u3044.jpg", "/ch/", "/ch/\u3046.jpg"}));
    EXPECT_EQ(Same(Read(archive.get(), "/\u3044.jpg"), Page(2, 2000)), "same");
    EXPECT_EQ(Same(Read(archive.get(), "/ch/\u3046.jpg"), Page(3, 1000)), "same");
  }
}

TEST_F(LibArchiveRoute, RarFiveSolidAndNot) {
  const std::vector<test::Rar5Entry> entries = {{"pages", "", true},
                                                {"pages/p1.png", Page(1, 5000)},
                                                {"pages/p2.png", Page(2, 90000)},
                                                {"stored.png", "stored bytes", false, false},
                                                {"\xe6\x97\xa5/p3.png", Page(3, 100)}};
  for (bool solid : {false, true}) {
    SCOPED_TRACE(solid ? "solid" : "not solid");
    const std::string name = solid ? "solid.rar" : "plain.rar";
    m_tmp.WriteFile(name, test::Rar5Archive(entries, solid));
    Ref<IDirectory> archive = Open(name);
    ASSERT_TRUE(archive);
    EXPECT_EQ(Tree(archive.get()), (std::vector<std::string>{"/stored.png", "/pages/", "/pages/p1.png", "/pages/p2.png",
                                                             "/\xe6\x97\xa5/", "/\xe6\x97\xa5/p3.png"}));
    // Out of order: each read finds its entry again.
    EXPECT_EQ(Same(Read(archive.get(), "/\xe6\x97\xa5/p3.png"), Page(3, 100)), "same");
    EXPECT_EQ(Same(Read(archive.get(), "/pages/p1.png"), Page(1, 5000)), "same");
    EXPECT_EQ(Read(archive.get(), "/stored.png"), "stored bytes");
    EXPECT_EQ(Same(Read(archive.get(), "/pages/p2.png"), Page(2, 90000)), "same");
    EXPECT_EQ(Read(archive.get(), "/pages"), "<failed>");
    EXPECT_TRUE(SameAsBsdtar(archive.get(), name));
  }
}

TEST_F(LibArchiveRoute, DamagedRarOpensWithWhatCanBeRead) {
  const std::string whole = test::Rar5Archive({{"a.png", Page(1, 2000)}, {"b.png", Page(2, 2000)}, {"c.png", Page(3, 2000)}});
  // One entry's bytes spoilt: the others read, that one does not.
  {
    std::vector<test::Rar5Entry> entries = {{"a.png", Page(1, 2000)}, {"b.png", Page(2, 2000)}, {"c.png", Page(3, 2000)}};
    entries[1].damaged = true;
    m_tmp.WriteFile("spoilt.rar", test::Rar5Archive(entries));
    Ref<IDirectory> archive = Open("spoilt.rar");
    ASSERT_TRUE(archive);
    EXPECT_EQ(Tree(archive.get()), (std::vector<std::string>{"/a.png", "/b.png", "/c.png"}));
    EXPECT_EQ(Read(archive.get(), "/b.png"), "<failed>");
    EXPECT_EQ(Same(Read(archive.get(), "/a.png"), Page(1, 2000)), "same");
    EXPECT_EQ(Same(Read(archive.get(), "/c.png"), Page(3, 2000)), "same");
  }
  // Cut short, or with bytes flipped anywhere: never a crash; what lists
  // either reads or fails.
  std::vector<std::string> damaged;
  for (std::size_t cut : {whole.size() / 3, whole.size() / 2, whole.size() - 20}) damaged.push_back(whole.substr(0, cut));
  for (std::size_t at = 8; at < whole.size(); at += 97) {
    std::string flipped = whole;
    for (std::size_t i = at; i < std::min(at + 4, flipped.size()); ++i) flipped[i] = static_cast<char>(~flipped[i]);
    damaged.push_back(flipped);
  }
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    m_tmp.WriteFile("damaged.rar", damaged[i]);
    Ref<IDirectory> archive = Open("damaged.rar");
    if (!archive) continue;
    for (const std::string& path : Tree(archive.get()))
      if (path.back() != '/' && path[0] == '/') Read(archive.get(), path);
  }
  m_tmp.WriteFile("cut.rar", whole.substr(0, whole.size() / 2));
  Ref<IDirectory> cut = Open("cut.rar");
  ASSERT_TRUE(cut);  // the entries before the cut
  EXPECT_EQ(Same(Read(cut.get(), "/a.png"), Page(1, 2000)), "same");
}

TEST_F(LibArchiveRoute, EncryptedEntriesNeitherReadNorHang) {
  std::vector<test::Rar5Entry> five = {{"open.png", Page(1, 500)}, {"locked.png", Page(2, 500)}};
  five[1].encrypted = true;
  m_tmp.WriteFile("locked5.rar", test::Rar5Archive(five));
  m_tmp.WriteFile("locked4.rar", test::RarArchive({{"open.png", Page(1, 500), false, false, true},
                                                   {"locked.png", Page(2, 500), false, false, true, true}}));
  for (const char* name : {"locked5.rar", "locked4.rar"}) {
    SCOPED_TRACE(name);
    // Bounded: a hang fails here, not at the test's time limit.
    auto done = std::async(std::launch::async, [&] {
      Ref<IDirectory> archive = Open(name);
      if (!archive) return std::string("<no archive>");
      return Read(archive.get(), "/locked.png") + "|" + Read(archive.get(), "/open.png");
    });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const std::string result = done.get();
    if (result == "<no archive>") continue;  // the unknown picture; fine
    EXPECT_EQ(result.substr(0, result.find('|')), "<failed>");
  }
}

TEST_F(LibArchiveRoute, RarFourClaimsTooCostlyAreRefusedBeforeDecoding) {
  // A PPMd block's first bytes: the block flag and "a model follows" with
  // order 6, then the model's memory in megabytes less one.
  const auto ppmd = [](int megabytes, std::size_t size = 400) {
    return std::string{'\xA5', static_cast<char>(megabytes - 1)} + Page(9, size);
  };
  struct Case {
    const char* what;
    std::string packed;
    uint32_t claimed;
    ArchiveTrouble trouble;
  };
  const Case cases[] = {
      {"the largest model for a page's size", ppmd(256), 4096, ArchiveTrouble::TooLarge},
      {"far more output than the bytes can make", ppmd(8), 900u << 20, ArchiveTrouble::TooLarge},
      {"a modest model, bytes that do not decode", ppmd(8), 4096, ArchiveTrouble::Damaged},
      {"a large model for as much output", ppmd(128, 20000), 64u << 20, ArchiveTrouble::Damaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::RarEntry costly{"costly.jpg", ""};
    costly.packed = c.packed;
    costly.claimedSize = c.claimed;
    m_tmp.WriteFile("costly.cbr", test::RarArchive({{"honest.jpg", Page(1, 3000), false, false, true}, costly}));
    Ref<IDirectory> archive = Open("costly.cbr");
    ASSERT_TRUE(archive);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(archive.get(), "/costly.jpg"), "<failed>");
    EXPECT_EQ(DiagnoseArchiveItem(archive.get(), u"/costly.jpg"), c.trouble);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Same(Read(archive.get(), "/honest.jpg"), Page(1, 3000)), "same");
  }
}

// The header walk reads 64-bit sizes where they stand, and a size that
// would wrap the walk back to where it was ends it instead of looping.
TEST(RarFourHeaders, LargeSizesAreReadAndNeverWrapTheWalk) {
  auto large = [](uint32_t packedLow, uint32_t packedHigh, uint32_t unpackedHigh) {
    std::string rar = test::RarArchive({{"a.jpg", "page"}});
    const std::size_t header = 7 + 13;  // after the signature and the main header
    EXPECT_EQ(rar[header + 2], '\x74');
    std::string h = rar.substr(header, 32);
    h[4] = static_cast<char>(h[4] | 0x01);  // flag 0x0100: large sizes
    const uint16_t size = static_cast<uint16_t>((static_cast<uint8_t>(h[5]) | static_cast<uint8_t>(h[6]) << 8) + 8);
    h[5] = static_cast<char>(size & 0xFF), h[6] = static_cast<char>(size >> 8);
    for (int i = 0; i < 4; ++i) h[7 + i] = static_cast<char>(packedLow >> (8 * i));
    std::string highs(8, '\0');
    for (int i = 0; i < 4; ++i) highs[i] = static_cast<char>(packedHigh >> (8 * i));
    for (int i = 0; i < 4; ++i) highs[4 + i] = static_cast<char>(unpackedHigh >> (8 * i));
    rar.replace(header, 32, h + highs);
    return rar;
  };
  const struct {
    const char* what;
    std::string bytes;
    uint64_t unpacked;
  } cases[] = {
      {"the high halves before the name", large(4, 0, 1), (1ull << 32) | 4},
      {"a packed size that wraps the walk", large(0xFFFFFFFFu - 40, 0xFFFFFFFFu, 0), 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Ref<IFile> file;
    file.Set(new test::MemoryFile(std::make_shared<const std::string>(c.bytes)));
    const std::vector<Rar4Entry> entries = ReadRar4Entries(file.get());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].unpacked, c.unpacked);
  }
}

TEST_F(LibArchiveRoute, TarWithFolders) {
  m_tmp.MakeFolder("src");
  m_tmp.MakeFolder("src/b");
  m_tmp.MakeFolder("src/c");
  m_tmp.MakeFolder("src/c/empty");
  m_tmp.WriteFile("src/a.jpg", "page a");
  m_tmp.WriteFile("src/b/2.jpg", "page b2");
  m_tmp.WriteFile("src/b/10.jpg", Page(10, 100000));
  m_tmp.WriteFile("src/\xe6\x97\xa5.png", "nihon");
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "src") + "' && bsdtar -cf ../book.cbt a.jpg b c '\xe6\x97\xa5.png'").c_str()), 0);
  // Files alone, their folders implied.
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "src") + "' && bsdtar -cf ../files.tar --format=ustar b/2.jpg a.jpg").c_str()), 0);

  Ref<IDirectory> archive = Open("book.cbt");
  ASSERT_TRUE(archive);
  EXPECT_EQ(Tree(archive.get()), (std::vector<std::string>{"/a.jpg", "/\xe6\x97\xa5.png", "/b/", "/b/10.jpg", "/b/2.jpg", "/c/",
                                                           "/c/empty/"}));
  EXPECT_TRUE(SameAsBsdtar(archive.get(), "book.cbt"));
  Ref<IDirectory> files = Open("files.tar");
  ASSERT_TRUE(files);
  EXPECT_EQ(Tree(files.get()), (std::vector<std::string>{"/a.jpg", "/b/", "/b/2.jpg"}));
  EXPECT_EQ(Read(files.get(), "/b/2.jpg"), "page b2");
}

// An archive cut off partway lists the entries before the cut, through
// whichever route reads it, and says that the rest are missing; a whole
// one says nothing.
TEST_F(LibArchiveRoute, AListThatBreaksOffSaysEntriesAreMissing) {
  std::vector<test::ZipEntry> zipped;
  std::vector<test::RarEntry> rarred;
  m_tmp.MakeFolder("t");
  for (int k = 0; k < 6; ++k) {
    const std::string name = std::to_string(k) + ".jpg";
    zipped.push_back({name, Page(k, 3000)});
    rarred.push_back({name, Page(k, 3000)});
    m_tmp.WriteFile("t/" + name, Page(k, 3000));
  }
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "t") + "' && bsdtar -cf ../whole.tar *.jpg").c_str()), 0);
  const std::string tar = m_tmp.ReadFile("whole.tar");
  const struct {
    std::string name, bytes;
    bool missing;
  } cases[] = {
      {"whole.zip", test::ZipArchive(zipped), false},
      {"cut.zip", test::ZipArchive(zipped).substr(0, 10000), true},
      {"whole.rar", test::RarArchive(rarred), false},
      {"cut.rar", test::RarArchive(rarred).substr(0, 10000), true},
      {"whole.tar", tar, false},
      {"cut.tar", tar.substr(0, 10000), true},
  };
  for (const auto& c : cases) {
    m_tmp.WriteFile(c.name, c.bytes);
    Ref<IDirectory> archive = Open(c.name);
    ASSERT_TRUE(archive) << c.name;
    EXPECT_EQ(ArchiveListingCutShort(archive.get()), c.missing) << c.name;
    EXPECT_EQ(Read(archive.get(), "/0.jpg"), Page(0, 3000)) << c.name << ": the entries before the cut read";
  }
}

TEST_F(LibArchiveRoute, TarEntriesReadFromTheirOwnHeadersInAnyOrder) {
  // Long names take a header of their own before the entry's (pax, GNU).
  m_tmp.MakeFolder("many");
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back(i % 7 == 0 ? std::string(120, 'n') + std::to_string(i) + ".jpg" : std::to_string(i) + ".jpg");
    m_tmp.WriteFile("many/" + names.back(), Page(i, static_cast<std::size_t>(i) * 37 % 2000));
  }
  for (const std::string format : {"pax", "gnutar"}) {
    SCOPED_TRACE(format);
    const std::string name = format + ".tar";
    ASSERT_EQ(std::system(("cd '" + (m_tmp / "many") + "' && bsdtar -cf ../" + name + " --format=" + format + " *").c_str()), 0);
    Ref<IDirectory> archive = Open(name);
    ASSERT_TRUE(archive);
    for (int i = 299; i >= 0; i -= 13)
      EXPECT_EQ(Same(Read(archive.get(), "/" + names[i]), Page(i, static_cast<std::size_t>(i) * 37 % 2000)), "same") << names[i];
    EXPECT_TRUE(SameAsBsdtar(archive.get(), name));
  }
}

TEST_F(LibArchiveRoute, HardLinksReadAsTheirTargets) {
  test::Rar5Entry link{"link.jpg", ""}, lost{"lost.jpg", ""};
  link.hardLink = "a/orig.jpg";
  lost.hardLink = "nowhere.jpg";
  const std::vector<test::Rar5Entry> entries = {{"a/orig.jpg", Page(1, 5000)}, link, lost};
  m_tmp.WriteFile("links.rar", test::Rar5Archive(entries));
  m_tmp.WriteFile("solid-links.rar", test::Rar5Archive(entries, true));
  // A tar's second name of a file is a link entry without data.
  m_tmp.MakeFolder("t");
  m_tmp.MakeFolder("t/a");
  m_tmp.WriteFile("t/a/orig.jpg", Page(1, 5000));
  std::filesystem::create_hard_link(m_tmp / "t/a/orig.jpg", m_tmp / "t/link.jpg");
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "t") + "' && bsdtar -cf ../links.tar a/orig.jpg link.jpg").c_str()), 0);
  for (const char* name : {"links.rar", "solid-links.rar", "links.tar"}) {
    SCOPED_TRACE(name);
    Ref<IDirectory> archive = Open(name);
    ASSERT_TRUE(archive);
    EXPECT_EQ(Same(Read(archive.get(), "/link.jpg"), Page(1, 5000)), "same");
    EXPECT_EQ(Same(Read(archive.get(), "/a/orig.jpg"), Page(1, 5000)), "same");
    if (std::string(name) != "links.tar") {
      EXPECT_EQ(Read(archive.get(), "/lost.jpg"), "<failed>");
      EXPECT_EQ(DiagnoseArchiveItem(archive.get(), u"/lost.jpg"), ArchiveTrouble::Damaged);
    }
  }
}

TEST_F(LibArchiveRoute, RarVolumesReadAsOneArchive) {
  const std::vector<std::string> volumes =
      test::RarVolumeSet({{"p1.jpg", Page(1, 3000)}, {"p2.jpg", Page(2, 9000)}, {"p3.jpg", Page(3, 500)}}, 5000);
  ASSERT_EQ(volumes.size(), 3u);  // p2 runs through the second into the third
  for (std::size_t i = 0; i < volumes.size(); ++i) m_tmp.WriteFile("v.part" + std::to_string(i + 1) + ".rar", volumes[i]);
  struct Case {
    std::size_t beside;  // volumes after the first that can be opened
    bool whole;
  };
  for (const Case c : {Case{2, true}, Case{0, false}}) {
    SCOPED_TRACE(c.beside);
    ArchiveOptions options;
    options.openVolume = [&](uint32_t number, IFile** out) {
      return number - 1 <= c.beside &&
             m_disk->OpenFile(out, Utf8ToUtf16("/v.part" + std::to_string(number) + ".rar").c_str(), nullptr) == 0;
    };
    Ref<IFile> file;
    Ref<IDirectory> archive;
    ASSERT_EQ(m_disk->OpenFile(&file, u"/v.part1.rar", nullptr), 0);
    ASSERT_EQ(OpenArchive(file.get(), &archive, options), 0);
    EXPECT_EQ(Same(Read(archive.get(), "/p1.jpg"), Page(1, 3000)), "same");  // whole in the first volume
    if (c.whole) {
      EXPECT_EQ(Tree(archive.get()), (std::vector<std::string>{"/p1.jpg", "/p2.jpg", "/p3.jpg"}));
      EXPECT_EQ(Same(Read(archive.get(), "/p3.jpg"), Page(3, 500)), "same");
      EXPECT_EQ(Same(Read(archive.get(), "/p2.jpg"), Page(2, 9000)), "same");
    } else {
      std::u16string debug;
      SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
      EXPECT_EQ(Read(archive.get(), "/p2.jpg"), "<failed>");
      SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
      EXPECT_NE(debug.find(u"next volume"), std::u16string::npos);
    }
  }
}

TEST(RarVolumeNames, NextVolumesBesideTheFirst) {
  struct Case {
    const char16_t* first;
    uint32_t number;
    std::optional<std::u16string> name;
  };
  const Case cases[] = {
      {u"book.part1.rar", 2, u"book.part2.rar"},     {u"book.part01.rar", 12, u"book.part12.rar"},
      {u"book.part9.RAR", 10, u"book.part10.RAR"},   {u"book.rar", 2, u"book.r00"},
      {u"book.rar", 13, u"book.r11"},                {u"vol2.cbr", 2, std::nullopt},
      {u"a.part1.rar.bak", 2, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(RarVolumeName(c.first, c.number), c.name) << Utf16ToUtf8(c.first);
}

TEST_F(LibArchiveRoute, WhatSevenZipRefusesLibArchiveReads) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"levels.lzh", test::LzhArchive({{"p1.jpg", Page(1, 3000), 3}, {"p2.jpg", "second", 3}})},
      {"padded.cbz", test::ZipArchive({{"p1.jpg", Page(1, 3000)}, {"p2.jpg", "second"}}, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_tmp.WriteFile(c.name, c.bytes);
    Ref<IDirectory> archive = Open(c.name);
    ASSERT_TRUE(archive);
    EXPECT_EQ(Tree(archive.get()), (std::vector<std::string>{"/p1.jpg", "/p2.jpg"}));
    EXPECT_TRUE(SameAsBsdtar(archive.get(), c.name));
  }}

TEST_F(LibArchiveRoute, WhatIsNoArchiveStillFails) {
  // Zeros read as an empty tar to libarchive: no entry, no archive.
  m_tmp.WriteFile("zeros.bin", std::string(4096, '\0'));
  m_tmp.WriteFile("text.txt", "#mtree\n./a type=file size=3\n");
  m_tmp.WriteFile("rar5sig.rar", std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(64, '\0'));
  for (const char* name : {"zeros.bin", "text.txt", "rar5sig.rar"}) EXPECT_FALSE(Open(name)) << name;
  // A file that is no archive at all is tried without a word.
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  EXPECT_FALSE(Open("text.txt"));
  SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
  EXPECT_EQ(debug, u"");
}

}  // namespace
