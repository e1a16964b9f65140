// 7-Zip's library is used only when it answers as declared: stand-ins built
// beside this test answer wrongly, and books still open through libarchive.
// A library once bound stays bound for the process: the tests that need it
// unbound skip when an earlier one in the same run bound it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/book/BookOpener.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/LibArchiveDirectory.h"
#include "viewer/archive/SevenZipModule.h"

using test::Ref;
using test::TempDir;

namespace {

std::string StandIn(const std::string& fault) { return STANDIN_7Z_DIR "/" + fault + "/7z.so"; }

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() % 7);  // compresses, not to nothing
  return bytes;
}

std::mutex g_debugLock;
std::u16string g_debug;

class SevenZipRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_sevenZipModule != nullptr) GTEST_SKIP() << "the library is already bound in this process";
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
    ASSERT_EQ(m_fs->OpenDirectory(&m_disk, u"/"), 0);
    SetDebugOutputSink(
        [](const char16_t* text, void*) {
          const std::lock_guard<std::mutex> hold(g_debugLock);
          g_debug += text;
        },
        nullptr);
  }
  void TearDown() override { SetDebugOutputSink(nullptr, nullptr); }

  Ref<IFileSystem> m_fs;
  Ref<IDirectory> m_disk;
  TempDir m_tmp;
};

TEST_F(SevenZipRefusal, AWrongLibraryIsSaidOnceAndLibArchiveReadsEveryPage) {
  // The same pages as a Zip (by zip), a solid 7z (by 7z) and an LZH.
  const std::vector<std::pair<std::string, std::string>> pages = {{"/p1.jpg", Noise(300000, 1)}, {"/sub/p2.png", Noise(5000, 2)}};
  m_tmp.MakeFolder("src");
  m_tmp.MakeFolder("src/sub");
  for (const auto& [path, bytes] : pages) m_tmp.WriteFile("src" + path, bytes);
  ASSERT_EQ(std::system(("cd '" + m_tmp / "src" + "' && zip -qr ../b.cbz . && 7z a -ms=on ../b.cb7 . >/dev/null").c_str()), 0);
  m_tmp.WriteFile("b.lzh", test::LzhArchive({{"p1.jpg", pages[0].second}, {"sub\\p2.png", pages[1].second}}));

  for (const auto& [fault, reason] : {std::pair{"empty", "no CreateObject"}, {"destructor", "interface slots out of place"},
                                      {"interface", "unknown interface type 7"}}) {
    SCOPED_TRACE(fault);
    SevenZipSearchPaths() = {Utf8ToUtf16(StandIn(fault))};
    g_debug.clear();
    // A quiet search says nothing, and leaves the saying to the next.
    EXPECT_EQ(FindSevenZip(false), SevenZipAvailability::Refused);
    EXPECT_EQ(g_debug, u"");
    // Six readers at once: the library is looked for once at a time, and said so once.
    std::vector<std::thread> readers;
    for (const char* name : {"b.cbz", "b.cb7", "b.lzh", "b.cbz", "b.cb7", "b.lzh"})
      readers.emplace_back([&, name] {
        Ref<IFile> file;
        Ref<IDirectory> archive;
        ASSERT_EQ(m_disk->OpenFile(&file, Utf8ToUtf16(m_tmp / name).c_str(), nullptr), 0);
        ASSERT_EQ(OpenArchive(file.get(), &archive), 0) << name;
        EXPECT_NE(dynamic_cast<CLibArchiveDirectory*>(archive.get()), nullptr);
        for (const auto& [path, bytes] : pages) {
          Ref<IFile> page;
          ASSERT_EQ(archive->OpenFile(&page, Utf8ToUtf16(path).c_str(), nullptr), 0) << name << path;
          std::string read(bytes.size() + 1, '\0');
          uint32_t got = 0;
          page->Read(read.data(), static_cast<uint32_t>(read.size()), &got);
          EXPECT_EQ(read.substr(0, got), bytes) << name << path;
        }
      });
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(g_debug, Utf8ToUtf16("7-Zip Library Refused : " + StandIn(fault) + " : " + reason + "\r\n"));
    EXPECT_EQ(FindSevenZip(), SevenZipAvailability::Refused);
  }
}

TEST_F(SevenZipRefusal, AFileNoRouteReadsSaysTheLibraryIsMissingOrRefused) {
  m_tmp.WriteFile("notes.txt", "neither an image nor an archive");
  m_tmp.WriteFile("broken.cb7", std::string("7z\xBC\xAF\x27\x1C", 6) + Noise(100, 3));
  const std::u16string missing = Utf8ToUtf16(m_tmp / "nowhere/7z.so"), refused = Utf8ToUtf16(StandIn("empty"));
  const CBookOpener opener(m_fs.get());
  for (const auto& [paths, why] : {std::pair{std::vector{missing}, OpenFailure::ArchiveLibraryMissing},
                                   {std::vector{refused}, OpenFailure::ArchiveLibraryRefused},
                                   {std::vector{missing, refused}, OpenFailure::ArchiveLibraryRefused}}) {
    SevenZipSearchPaths() = paths;
    for (const char* name : {"notes.txt", "broken.cb7"}) {
      const BookOpening opening = opener.OpenFile(Utf8ToUtf16(m_tmp / name), [](IDirectory*, const std::u16string&) { return false; });
      EXPECT_EQ(opening.status, OpenStatus::NotArchive) << name;
      EXPECT_EQ(opening.why, why) << name;
    }
  }
}

// velmora-book with a 7z.so of the other layout beside it, as a user ran it:
// that crashed on any CBZ; the system's library reads it now.
TEST(SevenZipBesideTheProgram, GivesWayToTheSystemLibrary) {
  TempDir tmp;
  tmp.MakeFolder("bin");
  tmp.WriteFile("p1.jpg", Noise(200000, 4));
  std::filesystem::copy_file(VELMORA_BOOK, tmp / "bin/velmora-book");
  std::filesystem::copy_file(StandIn("destructor"), tmp / "bin/7z.so");
  ASSERT_EQ(std::system(("cd '" + tmp.path() + "' && zip -q book.cbz p1.jpg && sha256sum p1.jpg >sum && " +
                         "bin/velmora-book --hash book.cbz >out 2>err").c_str()), 0);
  std::ifstream sum(tmp / "sum"), out(tmp / "out"), err(tmp / "err");
  std::string expected, line, errors((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  sum >> expected;
  std::getline(out, line);
  EXPECT_EQ(line, expected + "  /p1.jpg");
  const std::string refusal = "7-Zip Library Refused : " + tmp / "bin/7z.so" + " : interface slots out of place\r\n";
  const std::size_t said = errors.find(refusal);
  ASSERT_NE(said, std::string::npos) << errors;
  EXPECT_EQ(errors.find("Refused", said + refusal.size()), std::string::npos);
}

}  // namespace
