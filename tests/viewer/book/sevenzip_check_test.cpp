// 7-Zip's library is used only when it answers as declared: stand-ins built
// beside this test answer wrongly, and books still open through libarchive.
// The library, once bound, stays bound for the process: a test that needs it
// unbound skips when an earlier one in the same run bound it.
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
#include "viewer/book/Archive.h"
#include "viewer/book/BookOpener.h"
#include "viewer/book/LibArchiveDirectory.h"

using test::Ref;
using test::TempDir;

namespace {

std::u16string StandIn(const char* fault) { return Utf8ToUtf16(std::string(STANDIN_7Z_DIR) + "/" + fault + "/7z.so"); }

std::u16string RefusalLine(const std::u16string& path, const char* reason) {
  return u"7-Zip Library Refused : " + path + u" : " + AsciiToUtf16(reason) + u"\r\n";
}

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() % 7);  // compressible, but not to nothing
  return bytes;
}

class SevenZipRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (g_sevenZipModule != nullptr) GTEST_SKIP() << "the library is already bound in this process";
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
    ASSERT_EQ(m_fs->OpenDirectory(&m_disk, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
    SetDebugOutputSink(
        [](const char16_t* text, void* context) {
          auto* self = static_cast<SevenZipRefusal*>(context);
          const std::lock_guard<std::mutex> hold(self->m_debugLock);
          self->m_debug += text;
        },
        this);
    // The same pages as a Zip (by zip), a solid 7z (by 7z) and an LZH
    // (libarchive reads the writer's level 0 headers).
    m_tmp.MakeFolder("src");
    m_tmp.MakeFolder("src/sub");
    m_pages = {{"/p1.jpg", Noise(300000, 1)}, {"/sub/p2.png", Noise(5000, 2)}, {"/p3.gif", ""}};
    for (const auto& [path, bytes] : m_pages) m_tmp.WriteFile("src" + path, bytes);
    const std::string make = "cd '" + m_tmp.path() + "/src' && zip -q -r ../book.cbz . && 7z a -t7z -ms=on ../book.cb7 . >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    m_tmp.WriteFile("book.lzh", test::LzhArchive({{"p1.jpg", m_pages[0].second},
                                                  {"sub\\p2.png", m_pages[1].second},
                                                  {"p3.gif", ""}}));
  }
  void TearDown() override { SetDebugOutputSink(nullptr, nullptr); }

  Ref<IDirectory> Open(const std::string& name) {
    Ref<IFile> file;
    Ref<IDirectory> archive;
    if (m_disk->OpenFile(&file, Utf8ToUtf16("/" + name).c_str(), nullptr) == 0) OpenArchive(file.get(), &archive);
    return archive;
  }

  // Every page of the book, byte for byte.
  void ExpectPages(IDirectory* archive) {
    for (const auto& [path, bytes] : m_pages) {
      Ref<IFile> file;
      ASSERT_EQ(archive->OpenFile(&file, Utf8ToUtf16(path).c_str(), nullptr), 0) << path;
      uint64_t size = 0;
      file->GetSize(&size);
      std::string read(size, '\0');
      uint32_t got = 0;
      file->Read(read.data(), static_cast<uint32_t>(size), &got);
      EXPECT_TRUE(got == size && read == bytes) << path;
    }
  }

  std::u16string Debug() {
    const std::lock_guard<std::mutex> hold(m_debugLock);
    return m_debug;
  }

  Ref<IFileSystem> m_fs;
  Ref<IDirectory> m_disk;
  TempDir m_tmp;
  std::vector<std::pair<std::string, std::string>> m_pages;
  std::mutex m_debugLock;
  std::u16string m_debug;
};

TEST_F(SevenZipRefusal, AWrongLibraryIsRefusedOnceAndLibArchiveReadsEveryPage) {
  const struct {
    const char* fault;
    const char* reason;
  } rows[] = {
      {"empty", "no CreateObject"},
      {"destructor", "interface slots out of place"},
      {"interface", "unknown interface type 7"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    SevenZipSearchPaths() = {StandIn(row.fault)};
    {
      const std::lock_guard<std::mutex> hold(m_debugLock);
      m_debug.clear();
    }
    // Two readers at once: the library is looked for once, and said so once.
    std::vector<std::thread> readers;
    for (const char* name : {"book.cbz", "book.cb7", "book.lzh"})
      for (int twice = 0; twice < 2; ++twice)
        readers.emplace_back([this, name] {
          Ref<IDirectory> archive = Open(name);
          ASSERT_NE(dynamic_cast<CLibArchiveDirectory*>(archive.get()), nullptr) << name;
          ExpectPages(archive.get());
        });
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(Debug(), RefusalLine(StandIn(row.fault), row.reason));
    EXPECT_EQ(FindSevenZip(), SevenZipAvailability::Refused);
    EXPECT_EQ(g_sevenZipModule, nullptr);
  }
}

TEST_F(SevenZipRefusal, WhenNoRouteReadsAFileTheUserIsToldTheLibraryIsMissingOrRefused) {
  m_tmp.WriteFile("notes.txt", "neither an image nor an archive");
  m_tmp.WriteFile("broken.cb7", std::string("7z\xBC\xAF\x27\x1C", 6) + Noise(100, 3));
  const std::u16string missing = Utf8ToUtf16(m_tmp / "nowhere/7z.so");
  const struct {
    std::vector<std::u16string> paths;
    OpenFailure why;
  } rows[] = {
      {{missing}, OpenFailure::ArchiveLibraryMissing},
      {{StandIn("empty")}, OpenFailure::ArchiveLibraryRefused},
      {{missing, StandIn("empty")}, OpenFailure::ArchiveLibraryRefused},
  };
  const CBookOpener opener(m_fs.get());
  for (const auto& row : rows) {
    SevenZipSearchPaths() = row.paths;
    for (const char* name : {"notes.txt", "broken.cb7"}) {
      SCOPED_TRACE(name);
      const BookOpening opening =
          opener.OpenFile(Utf8ToUtf16(m_tmp / name), [](IDirectory*, const std::u16string&) { return false; });
      EXPECT_EQ(opening.status, OpenStatus::NotArchive);
      EXPECT_EQ(opening.why, row.why);
    }
  }
}

// velmora-book with a 7z.so of the other layout beside it, as a user ran it:
// that crashed on any CBZ; now it reads through the system's library.
TEST(SevenZipBesideTheProgram, VelmoraBookGivesWayToTheSystemLibrary) {
  TempDir tmp;
  tmp.MakeFolder("bin");
  tmp.MakeFolder("src");
  tmp.WriteFile("src/p1.jpg", Noise(200000, 4));
  std::filesystem::copy_file(VELMORA_BOOK, tmp / "bin/velmora-book");
  std::filesystem::copy_file(Utf16ToUtf8(StandIn("destructor")), tmp / "bin/7z.so");
  const std::string run = "cd '" + tmp.path() + "' && (cd src && zip -q ../book.cbz p1.jpg) && sha256sum src/p1.jpg >expected" +
                          " && bin/velmora-book --hash book.cbz >out 2>err";
  ASSERT_EQ(std::system(run.c_str()), 0);
  std::ifstream expected(tmp / "expected"), out(tmp / "out"), err(tmp / "err");
  std::string sum, line, errors((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
  expected >> sum;
  std::getline(out, line);
  EXPECT_EQ(line, sum + "  /p1.jpg");
  const std::string refusal = "7-Zip Library Refused : " + (tmp / "bin/7z.so") + " : interface slots out of place\r\n";
  const std::size_t said = errors.find(refusal);
  ASSERT_NE(said, std::string::npos) << errors;
  EXPECT_EQ(errors.find("Refused", said + refusal.size()), std::string::npos);
}

// Last: it binds the system's library for the rest of the process.
TEST_F(SevenZipRefusal, ARefusedLibraryBesideTheProgramGivesWayToTheSystemOne) {
  // A path of its own: one refused earlier in this process is not said again.
  m_tmp.MakeFolder("beside");
  std::filesystem::copy_file(Utf16ToUtf8(StandIn("destructor")), m_tmp / "beside/7z.so");
  const std::u16string beside = Utf8ToUtf16(m_tmp / "beside/7z.so");
  SevenZipSearchPaths() = {beside, u"/usr/lib/p7zip/7z.so"};
  Ref<IDirectory> archive = Open("book.cbz");
  ASSERT_NE(dynamic_cast<C7zDirectory*>(archive.get()), nullptr);
  ExpectPages(archive.get());
  // Said once; the system's library then speaks as it always did.
  const std::u16string line = RefusalLine(beside, "interface slots out of place");
  const std::u16string debug = Debug();
  ASSERT_EQ(debug.substr(0, line.size()), line);
  EXPECT_EQ(debug.find(u"Refused", line.size()), std::u16string::npos);
  EXPECT_NE(debug.find(u"kExtractingString\nkOK\n", line.size()), std::u16string::npos);
}

}  // namespace
