// Solid archives read in one pass: the reader's rules over a pass made up
// here (what is kept, what waits, what is read again, how a pass ends),
// then real solid 7z (the 7z command) and RAR 4 and 5 (the writers)
// against the same pages read one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "ArchiveBuilders.h"
#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/LibArchiveDirectory.h"
#include "viewer/archive/SevenZipDirectory.h"
#include "viewer/archive/SevenZipModule.h"
#include "viewer/archive/SolidReader.h"
#include "viewer/book/BookOpener.h"

using test::Ref;
using test::TempDir;
using Clock = std::chrono::steady_clock;

namespace {

// ---- the reader over a pass of its own ----

// A pass over `sizes.size()` items of the given sizes (item i's bytes are
// all i), counting what it extracts; it fails at `failAt` and ends there,
// and passes `skipped` by without a word.
struct FakeArchive {
  FakeArchive(std::size_t count, std::size_t size) : sizes(count, size) {}
  std::vector<std::size_t> sizes;
  std::optional<uint32_t> failAt;
  std::optional<uint32_t> skipped;
  std::chrono::milliseconds perItem{0};
  std::atomic<int> extracted{0};
  std::atomic<int> passes{0};

  SolidReader::Body Body() {
    return [this](uint32_t first, SolidReader::Pass& pass) {
      ++passes;
      for (uint32_t i = first; i < sizes.size(); ++i) {
        if (skipped == i) continue;
        const auto next = pass.Reach(i);
        if (next == SolidReader::Pass::Next::Stop) return;
        if (next == SolidReader::Pass::Next::Skip) continue;
        std::this_thread::sleep_for(perItem);
        if (failAt == i) return pass.Fail(i, u"broken\n");
        ++extracted;
        pass.Deliver(i, std::make_shared<std::vector<BYTE>>(sizes[i], static_cast<BYTE>(i)), 0);
      }
    };
  }
  ClaimedSizes Claimed() const { return ClaimedSizes(sizes.begin(), sizes.end()); }
};

// Whether item i came whole, or why not.
std::string Take(SolidReader& reader, uint32_t i, std::size_t size) {
  SolidItem item;
  if (!reader.Acquire(i, &item)) return "failed: " + Utf16ToUtf8(item.error);
  if (*item.bytes != std::vector<BYTE>(size, static_cast<BYTE>(i))) return "wrong bytes";
  return "ok";
}

TEST(SolidReader, ReadsForwardOnceWithinTheBudgetOrNot) {
  for (const uint64_t budget : {uint64_t{1} << 30, uint64_t{5000}}) {
    SCOPED_TRACE(budget);
    FakeArchive archive(40, 1000);
    SolidReader reader(archive.Claimed(), budget, archive.Body());
    for (uint32_t i = 0; i < 40; ++i) {
      ASSERT_EQ(Take(reader, i, 1000), "ok") << i;
      // What is held stays within the budget (an item is 1000 bytes).
      EXPECT_LE(reader.heldBytes(), std::max<uint64_t>(budget, 1000) + 1000);
    }
    EXPECT_EQ(archive.passes, 1);
    EXPECT_EQ(archive.extracted, 40);  // the pass paused for the reader rather than drop and read again
  }
}

TEST(SolidReader, DroppedItemsAreReadAgainFromALittleBefore) {
  FakeArchive archive(60, 1000);
  SolidReader reader(archive.Claimed(), 8000, archive.Body());
  ASSERT_EQ(Take(reader, 50, 1000), "ok");
  // Long dropped: a second pass, which also brings the items just before.
  ASSERT_EQ(Take(reader, 10, 1000), "ok");
  EXPECT_EQ(archive.passes, 2);
  ASSERT_EQ(Take(reader, 9, 1000), "ok");
  ASSERT_EQ(Take(reader, 8, 1000), "ok");
  EXPECT_EQ(archive.passes, 2);
  // Paging back through everything costs far fewer passes than pages.
  for (uint32_t i = 59; i-- > 0;) ASSERT_EQ(Take(reader, i, 1000), "ok") << i;
  EXPECT_LT(archive.passes, 30);
}

TEST(SolidReader, ItemsThatCannotBeReadFailWithoutWaiting) {
  FakeArchive archive(10, 100);
  archive.failAt = 4;
  archive.skipped = 7;
  SolidReader reader(archive.Claimed(), 1 << 20, archive.Body());
  EXPECT_EQ(Take(reader, 3, 100), "ok");
  EXPECT_EQ(Take(reader, 4, 100), "failed: broken\n");
  // The pass ended at the failure: later items take a new pass, which
  // passes the failed item by.
  EXPECT_EQ(Take(reader, 5, 100), "ok");
  EXPECT_EQ(Take(reader, 4, 100), "failed: broken\n");
  // An item a pass never reaches fails rather than waits for ever.
  EXPECT_EQ(Take(reader, 7, 100), "failed: ");
  EXPECT_EQ(Take(reader, 9, 100), "ok");
  SolidItem item;
  EXPECT_FALSE(reader.Acquire(10, &item));  // no such item
}

TEST(SolidReader, EndsAtOnceWhetherPausedOrRunning) {
  for (const bool paused : {true, false}) {
    SCOPED_TRACE(paused ? "paused for the budget" : "running");
    FakeArchive archive(1000, 1000);
    archive.perItem = std::chrono::milliseconds(paused ? 0 : 5);
    auto reader = std::make_unique<SolidReader>(archive.Claimed(), paused ? 3000 : 1 << 30, archive.Body());
    ASSERT_EQ(Take(*reader, 0, 1000), "ok");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    reader.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_LT(archive.extracted, 1000);
  }
}

TEST(SolidReader, ManyThreadsAtOnce) {
  FakeArchive archive(200, 500);
  SolidReader reader(archive.Claimed(), 20000, archive.Body());
  std::vector<std::future<int>> readers;
  for (int t = 0; t < 4; ++t)
    readers.push_back(std::async(std::launch::async, [&, t] {
      int wrong = 0;
      std::mt19937 random(t);
      for (int k = 0; k < 100; ++k) {
        const uint32_t i = t % 2 ? static_cast<uint32_t>(random() % 200) : static_cast<uint32_t>((k * 2 + t) % 200);
        wrong += Take(reader, i, 500) != "ok";
      }
      return wrong;
    }));
  for (auto& r : readers) {
    ASSERT_EQ(r.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(r.get(), 0);
  }
}

TEST(SolidReader, RarMainHeaders) {
  const auto solid = [](const std::string& bytes) {
    return IsSolidRar(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
  };
  EXPECT_TRUE(solid(test::RarArchive({{"a", "x"}}, true)));
  EXPECT_FALSE(solid(test::RarArchive({{"a", "x"}})));
  EXPECT_TRUE(solid(test::Rar5Archive({{"a", "x"}}, true)));
  EXPECT_FALSE(solid(test::Rar5Archive({{"a", "x"}})));
  // RAR 5 with the optional extra and data sizes before the archive flags.
  std::string five("Rar!\x1A\x07\x01\x00" "CRC!", 12);
  five += std::string("\x0A\x01\x03\x05\x81\x01\x04", 7);
  EXPECT_TRUE(solid(five));
  EXPECT_FALSE(solid(five.substr(0, five.size() - 1)));  // cut short
  EXPECT_FALSE(solid(std::string("\x37\x7A\xBC\xAF\x27\x1C\x00\x04", 8) + std::string(20, '\x08')));
}

// Items dropped from memory are read back from the spill file, as far as
// it goes; a spill that cannot be made, or is full, leaves new passes.
TEST(SolidReader, SpillsWhatItDropsWithinItsCap) {
  struct Case {
    const char* name;
    std::string folder;  // under the test's folder
    uint64_t cap;
    uint64_t passesAfterFirst;  // item 0 read again after item 29
    uint64_t passesAfterTenth;  // then item 10
  };
  const Case cases[] = {
      {"spilled", "cache/velmora", 0, 1, 1},
      {"cap reached after five items", "cache", 5500, 1, 2},
      {"folder that cannot be made", "file/velmora", 0, 2, 2},
      {"not spilled", "", 0, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    tmp.WriteFile("file", "");
    FakeArchive archive(30, 1000);
    {
      SolidReader reader(archive.Claimed(), 5000, archive.Body(), SpillPlace{c.folder.empty() ? "" : tmp / c.folder, c.cap});
      ASSERT_EQ(Take(reader, 29, 1000), "ok");
      ASSERT_EQ(Take(reader, 0, 1000), "ok");
      EXPECT_EQ(reader.passesStarted(), c.passesAfterFirst);
      ASSERT_EQ(Take(reader, 10, 1000), "ok");
      EXPECT_EQ(reader.passesStarted(), c.passesAfterTenth);
      EXPECT_LE(reader.heldBytes(), 6000u);
      EXPECT_LE(reader.spilledBytes(), c.cap == 0 ? 30000 : c.cap);
    }
    // Nothing is left behind: the spill had no name.
    if (c.folder == "cache/velmora") {
      EXPECT_TRUE(std::filesystem::is_empty(tmp / c.folder));
    }
  }
}

TEST(SolidReader, ReadsOnToTheEndOnlyWhileLoadsAreQuiet) {
  TempDir tmp;
  FakeArchive archive(40, 1000);
  SolidReader reader(archive.Claimed(), 3000, archive.Body(), SpillPlace{tmp.path(), 0});
  std::atomic<bool> busy{true};
  reader.ReadOn([&busy] { return busy.load(); });
  ASSERT_EQ(Take(reader, 0, 1000), "ok");
  EXPECT_LT(archive.extracted, 10);  // busy: no further than the budget
  busy = false;
  ASSERT_TRUE(reader.WaitForPasses(std::chrono::seconds(20)));
  EXPECT_EQ(archive.extracted, 40);
  EXPECT_EQ(reader.spilledBytes(), 40000u);
  for (uint32_t i : {39u, 20u, 1u}) ASSERT_EQ(Take(reader, i, 1000), "ok");
  EXPECT_EQ(archive.passes, 1);
  EXPECT_EQ(archive.extracted, 40);
}

TEST(SolidReader, GivesWayToLoadsButNotToWhatTheyWaitFor) {
  FakeArchive archive(40, 1000);
  SolidReader reader(archive.Claimed(), uint64_t{1} << 30, archive.Body());
  std::atomic<bool> busy{true};
  reader.GiveWay([&busy] { return busy.load(); });
  // Each step: the item waited for, then what the pass has extracted once
  // it settles (pages loading: nothing past what was asked for).
  for (const auto& [item, extracted] : {std::pair{0u, 1}, std::pair{5u, 6}}) {
    ASSERT_EQ(Take(reader, item, 1000), "ok");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(archive.extracted, extracted) << "after item " << item;
  }
  busy = false;
  ASSERT_TRUE(reader.WaitForPasses(std::chrono::seconds(20)));
  EXPECT_EQ(archive.extracted, 40);
  EXPECT_EQ(archive.passes, 1);
}

// ---- real archives ----

// Pages that compress hardly at all, as JPEGs do: 7 random bits a byte.
std::string Noise(int seed, std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(seed));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0x7F);
  return bytes;
}

std::string Name(int i) { return "p" + std::to_string(100 + i) + ".jpg"; }

// Equal bytes, or where they first differ (pages are too long to print).
std::string Same(const std::string& got, const std::string& expected) {
  if (got == expected) return "same";
  std::size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
  return got == "<failed>" ? "failed" : "differ at " + std::to_string(at) + " of " + std::to_string(got.size());
}

class SolidArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
    ASSERT_EQ(m_fs->OpenDirectory(&m_disk, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
    if (!std::getenv("SOLID_DEBUG")) SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
  }
  void TearDown() override { SetDebugOutputSink(nullptr, nullptr); }

  Ref<IDirectory> Open(const std::string& name, uint64_t budget = kDefaultSolidBudget) {
    Ref<IFile> file;
    Ref<IDirectory> archive;
    if (m_disk->OpenFile(&file, Utf8ToUtf16("/" + name).c_str(), nullptr) == 0)
      OpenArchive(file.get(), &archive, ArchiveOptions{budget, nullptr});
    return archive;
  }

  static std::string Read(IDirectory* dir, const std::string& path) {
    Ref<IFile> file;
    if (dir->OpenFile(&file, Utf8ToUtf16(path).c_str(), nullptr) != 0) return "<failed>";
    std::string bytes;
    char buffer[65536];
    uint32_t got = 0;
    while (file->Read(buffer, sizeof buffer, &got) == 0 && got > 0) bytes.append(buffer, got);
    return bytes;
  }

  // Pages written under "src", and the same in 7z archives solid and not.
  void MakeSevenZip(int count, std::size_t size) {
    m_tmp.MakeFolder("src");
    for (int i = 0; i < count; ++i) m_pages.push_back(Noise(i, size + static_cast<std::size_t>(i) * 1001));
    for (int i = 0; i < count; ++i) m_tmp.WriteFile("src/" + Name(i), Page(i));
    m_tmp.WriteFile("src/empty.jpg", "");
    const std::string cd = "cd '" + (m_tmp / "src") + "' && 7z a -mx1 ";
    ASSERT_EQ(std::system((cd + "-ms=on ../solid.7z . >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((cd + "-ms=off ../plain.7z . >/dev/null").c_str()), 0);
  }

  const std::string& Page(int i) const { return m_pages[static_cast<std::size_t>(i)]; }

  Ref<IFileSystem> m_fs;
  Ref<IDirectory> m_disk;
  TempDir m_tmp;
  std::vector<std::string> m_pages;
};

TEST_F(SolidArchives, SevenZipSolidReadOnceAsOneByOne) {
  MakeSevenZip(30, 20000);
  Ref<IDirectory> solid = Open("solid.7z");
  Ref<IDirectory> plain = Open("plain.7z");
  ASSERT_TRUE(solid && plain);
  auto* directory = static_cast<C7zDirectory*>(solid.get());
  ASSERT_TRUE(directory->IsSolid());
  EXPECT_FALSE(static_cast<C7zDirectory*>(plain.get())->IsSolid());
  // Only in the solid archive does an item wait for the items before it.
  std::vector<std::u16string> behind;
  for (const ArchiveItem& item : directory->items())
    if (item.index >= 0) {
      const std::u16string path = std::u16string(item.folder) + std::u16string(item.name);
      EXPECT_FALSE(ArchiveItemLiesBehindOthers(plain.get(), path.c_str())) << Utf16ToUtf8(path);
      if (item.size > 0 && ArchiveItemLiesBehindOthers(solid.get(), path.c_str())) behind.push_back(path);
    }
  EXPECT_EQ(behind.size(), 29u) << "every page but the first the pass reaches";

  // What a page prints: its own extraction, as from a plain archive.
  const ArchiveItem* item = directory->table()->Find(u"/" + Utf8ToUtf16(Name(3)));
  ASSERT_NE(item, nullptr);
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  EXPECT_EQ(Same(Read(solid.get(), "/" + Name(3)), Page(3)), "same");
  SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
  EXPECT_EQ(debug, u"Index:" + AsciiToUtf16(std::to_string(item->index)) + u"\nkExtract\nkExtractingString\nkOK\n");

  for (int i = 0; i < 30; ++i) {
    const std::string path = "/" + Name(i);
    ASSERT_EQ(Same(Read(solid.get(), path), Page(i)), "same") << path;
    ASSERT_EQ(Same(Read(plain.get(), path), Page(i)), "same") << path;
  }
  EXPECT_EQ(Read(solid.get(), "/empty.jpg"), "");
  EXPECT_EQ(directory->solidReader()->passesStarted(), 1u);
  // Two files of one page share its bytes, each reading on its own.
  Ref<IFile> a, b;
  ASSERT_EQ(solid->OpenFile(&a, u"/p105.jpg", nullptr), 0);
  ASSERT_EQ(solid->OpenFile(&b, u"/p105.jpg", nullptr), 0);
  char x[10], y[10];
  uint32_t got = 0;
  a->Read(x, 10, &got);
  a->Read(x, 10, &got);
  b->Read(y, 10, &got);
  EXPECT_EQ(std::string(y, 10), Page(5).substr(0, 10));
  EXPECT_EQ(std::string(x, 10), Page(5).substr(10, 10));
}

// A book given at start-up is opened ahead of the window, silently, its
// pass begun; the window's opener then takes that directory, not the file.
TEST_F(SolidArchives, OpenedAheadBeginsThePassAndTheOpenerTakesIt) {
  MakeSevenZip(12, 20000);
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "src") + "' && 7z a -psecret -ms=on ../locked.7z . >/dev/null").c_str()), 0);
  std::string broken = m_tmp.ReadFile("solid.7z");
  broken.resize(broken.size() / 2);  // its list, at the end, is gone
  m_tmp.WriteFile("broken.7z", broken);
  std::u16string debug;
  SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &debug);
  const struct {
    const char* name;
    bool opened;
    bool passBegun;
  } cases[] = {
      {"solid.7z", true, true},    {"plain.7z", true, false},  {"locked.7z", false, false},
      {"src/p100.jpg", false, false}, {"missing.7z", false, false}, {"src", false, false},
      {"broken.7z", false, false},
  };
  for (const auto& c : cases) {
    const std::u16string path = Utf8ToUtf16(m_tmp / c.name);
    debug.clear();
    const Ref<IDirectory> ahead = OpenArchiveAhead(path, "");
    EXPECT_EQ(static_cast<bool>(ahead), c.opened) << c.name;
    EXPECT_EQ(debug, u"") << c.name << ": the opening that counts says what there is to say";
    if (!ahead) continue;
    auto* directory = static_cast<C7zDirectory*>(ahead.get());
    ASSERT_EQ(directory->IsSolid(), c.passBegun) << c.name;
    if (c.passBegun) {
      ASSERT_TRUE(directory->solidReader()->WaitForPasses(std::chrono::seconds(20)));
      EXPECT_EQ(directory->solidReader()->passesStarted(), 1u);
      EXPECT_GT(directory->solidReader()->heldBytes(), 0u) << "the pages came before anyone asked";
    }
    CBookOpener opener(m_fs.get());
    opener.UseOpenedArchive(OpenedArchive{path, ahead});
    const BookOpening opened = opener.OpenFile(path, [](IDirectory*, const std::u16string&) { return false; });
    ASSERT_EQ(opened.status, OpenStatus::Opened) << c.name;
    EXPECT_EQ(opened.book.root.get(), ahead.get()) << c.name;
    EXPECT_EQ(Same(Read(opened.book.root.get(), "/" + Name(3)), Page(3)), "same") << c.name;
    if (c.passBegun) {
      EXPECT_EQ(directory->solidReader()->passesStarted(), 1u) << "no second pass";
    }
  }
  SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
}

TEST_F(SolidArchives, SevenZipSolidReadAgainFromItsSpill) {
  MakeSevenZip(12, 30000);
  Ref<IFile> file;
  ASSERT_EQ(m_disk->OpenFile(&file, u"/solid.7z", nullptr), 0);
  ArchiveOptions options{90000, nullptr};  // about three pages
  options.spill.folder = m_tmp / "cache";
  Ref<IDirectory> solid;
  ASSERT_EQ(OpenArchive(file.get(), &solid, options), 0);
  for (int i : {11, 0, 6, 11, 1}) ASSERT_EQ(Same(Read(solid.get(), "/" + Name(i)), Page(i)), "same") << i;
  EXPECT_EQ(static_cast<C7zDirectory*>(solid.get())->solidReader()->passesStarted(), 1u);
}

TEST_F(SolidArchives, SevenZipSolidInASmallBudgetAndDamaged) {
  MakeSevenZip(24, 30000);
  Ref<IDirectory> solid = Open("solid.7z", 150000);  // about five pages
  ASSERT_TRUE(solid);
  for (int i : {0, 1, 20, 21, 2, 23, 5, 4, 3}) ASSERT_EQ(Same(Read(solid.get(), "/" + Name(i)), Page(i)), "same") << i;
  EXPECT_LE(static_cast<C7zDirectory*>(solid.get())->solidReader()->heldBytes(), 150000u + 60000u);

  // Damaged: each page reads as the library gives it one by one, or fails alike.
  std::string whole;
  {
    Ref<IFile> file;
    ASSERT_EQ(m_disk->OpenFile(&file, u"/solid.7z", nullptr), 0);
    uint64_t size = 0;
    file->GetSize(&size);
    whole.resize(size);
    uint32_t got = 0;
    file->Read(whole.data(), static_cast<uint32_t>(size), &got);
  }
  for (std::size_t at : {whole.size() / 3, whole.size() / 2}) {
    std::string damaged = whole;
    for (std::size_t i = at; i < at + 16; ++i) damaged[i] = static_cast<char>(~damaged[i]);
    m_tmp.WriteFile("damaged.7z", damaged);
    Ref<IDirectory> once = Open("damaged.7z");
    ASSERT_TRUE(once);
    for (int i = 0; i < 24; ++i) {
      const std::string path = "/" + Name(i);
      // One by one: the library's own extraction of the item alone.
      const ArchiveItem* item = static_cast<C7zDirectory*>(once.get())->table()->Find(Utf8ToUtf16(path));
      ASSERT_NE(item, nullptr);
      Ref<IFile> file;
      ASSERT_EQ(m_disk->OpenFile(&file, u"/damaged.7z", nullptr), 0);
      const GUID format = SevenZipFormat(0x07);
      Ref<IInArchive> handler;
      ASSERT_EQ(g_createObject(&format, &IInArchive::iid, reinterpret_cast<void**>(&handler)), S_OK);
      Ref<IInStream> stream;
      HandOut(new CInFileStream(file.get()), IInStream::iid, reinterpret_cast<void**>(&stream));
      ASSERT_EQ(handler->Open(stream.get(), nullptr, nullptr), S_OK);
      Ref<IArchiveExtractCallback> callback;
      auto* extract = new CArchiveExtractCallback(handler.get(), static_cast<C7zDirectory*>(once.get())->table());
      HandOut(extract, IArchiveExtractCallback::iid, reinterpret_cast<void**>(&callback));
      const UInt32 index = static_cast<UInt32>(item->index);
      std::string expected = "<failed>";
      if (handler->Extract(&index, 1, 0, callback.get()) == S_OK)
        expected = extract->bytes() ? std::string(extract->bytes()->begin(), extract->bytes()->end()) : "";
      EXPECT_TRUE(Read(once.get(), path) == expected) << path;
    }
  }
}

TEST_F(SolidArchives, RarSolidReadOnceAsPlain) {
  // (libarchive 3.6.2 reads no solid RAR 4 past its first entry.)
  std::vector<test::Rar5Entry> five;
  for (int i = 0; i < 12; ++i) {
    m_pages.push_back(Noise(i, 3000 + static_cast<std::size_t>(i) * 977));
    five.push_back({i == 5 ? "sub/" + Name(i) : Name(i), Page(i), false, i != 7});  // one stored among them
  }
  m_tmp.WriteFile("solid5.rar", test::Rar5Archive(five, true));
  m_tmp.WriteFile("plain5.rar", test::Rar5Archive(five, false));
  for (const char* name : {"solid5.rar", "plain5.rar"}) {
    SCOPED_TRACE(name);
    Ref<IDirectory> archive = Open(name, 20000);  // a few pages
    ASSERT_TRUE(archive);
    auto* directory = static_cast<CLibArchiveDirectory*>(archive.get());
    EXPECT_EQ(directory->IsSolid(), std::string(name).find("solid") == 0);
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1, 10, 3}) {
      const std::string path = i == 5 ? "/sub/" + Name(i) : "/" + Name(i);
      ASSERT_EQ(Same(Read(archive.get(), path), Page(i)), "same") << path;
    }
    // And as bsdtar reads it.
    const std::string out = m_tmp / (std::string("x-") + name);
    std::filesystem::create_directories(out);
    ASSERT_EQ(std::system(("bsdtar -xf '" + (m_tmp / name) + "' -C '" + out + "'").c_str()), 0);
    for (int i = 0; i < 12; ++i) {
      const std::string path = i == 5 ? "/sub/" + Name(i) : "/" + Name(i);
      std::ifstream in(out + path, std::ios::binary);
      ASSERT_EQ(Same(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
                     Page(i)),
                "same");
    }
  }
}

TEST_F(SolidArchives, SolidRarFourIsListedWhole) {
  // libarchive stops at a solid RAR 4's second entry and 7-Zip's library
  // here decodes only stored ones: every page is still in the book, and
  // reads whole (compressed ones through unarr).
  for (bool compressed : {true, false}) {
    SCOPED_TRACE(compressed ? "compressed" : "stored");
    std::vector<test::RarEntry> entries;
    m_pages.clear();
    for (int i = 0; i < 60; ++i) {
      m_pages.push_back(Noise(i, 3000 + static_cast<std::size_t>(i)));
      entries.push_back({Name(i), Page(i), false, false, compressed});
    }
    m_tmp.WriteFile("solid4.cbr", test::RarArchive(entries, true));
    Ref<IDirectory> archive = Open("solid4.cbr");
    ASSERT_TRUE(archive);
    Ref<IFileSystemEntries> list;
    ASSERT_EQ(archive->GetEntries(u"/", &list), 0);
    uint32_t count = 0;
    list->GetCount(&count);
    EXPECT_EQ(count, 60u);
    for (int i : {0, 1, 30, 59}) EXPECT_EQ(Same(Read(archive.get(), "/" + Name(i)), Page(i)), "same") << i;
  }
}

TEST_F(SolidArchives, SolidRarFourThroughUnarr) {
  m_pages.clear();
  std::vector<test::RarEntry> five;
  for (int i = 0; i < 5; ++i) {
    m_pages.push_back(Noise(i, 40000 + static_cast<std::size_t>(i) * 1000));
    five.push_back({Name(i), Page(i), false, false, true});
  }
  const std::string whole = test::RarArchive(five, true);
  std::vector<test::RarEntry> damaged = five, locked = five;
  damaged[2].wrongCrc = true;
  for (test::RarEntry& e : locked) e.encrypted = true;
  const auto ok = ArchiveTrouble::None;
  const struct {
    std::string name, bytes;
    uint64_t budget;
    std::vector<ArchiveTrouble> pages;  // by page: None when it reads whole
    bool cutShort;
  } cases[] = {
      {"whole", whole, kDefaultSolidBudget, {ok, ok, ok, ok, ok}, false},
      // Two pages' room: read out of order, pages are read again.
      {"small budget", whole, 90000, {ok, ok, ok, ok, ok}, false},
      {"cut short", whole.substr(0, whole.size() * 6 / 10), kDefaultSolidBudget,
       {ok, ok, ok, ArchiveTrouble::Damaged}, true},  // the fifth header is gone, the fourth's data cut
      {"damaged", test::RarArchive(damaged, true), kDefaultSolidBudget, {ok, ok, ArchiveTrouble::Damaged, ok, ok}, false},
      {"encrypted", test::RarArchive(locked, true), kDefaultSolidBudget, std::vector<ArchiveTrouble>(5, ArchiveTrouble::NeedsPassword), false},
  };
  std::u16string said;
  SetDebugOutputSink([](const char16_t* text, void* to) { *static_cast<std::u16string*>(to) += text; }, &said);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_tmp.WriteFile("unarr.cbr", c.bytes);
    Ref<IDirectory> archive = Open("unarr.cbr", c.budget);
    ASSERT_TRUE(archive);
    EXPECT_EQ(ArchiveListingCutShort(archive.get()), c.cutShort);
    Ref<IFileSystemEntries> list;
    ASSERT_EQ(archive->GetEntries(u"/", &list), 0);
    uint32_t count = 0;
    list->GetCount(&count);
    ASSERT_EQ(count, c.pages.size());
    for (std::size_t i : {0, 1, 4, 2, 0, 3, 4, 1}) {
      if (i >= c.pages.size()) continue;
      const std::string path = "/" + Name(static_cast<int>(i));
      said.clear();
      const std::string got = Read(archive.get(), path);
      if (c.pages[i] == ok) {
        EXPECT_EQ(Same(got, Page(static_cast<int>(i))), "same") << path;
        continue;
      }
      EXPECT_EQ(got, "<failed>") << path;
      EXPECT_EQ(DiagnoseArchiveItem(archive.get(), Utf8ToUtf16(path).c_str()), c.pages[i]) << path;
      if (c.pages[i] == ArchiveTrouble::Damaged) {
        EXPECT_NE(said.find(u"Archive error: "), std::u16string::npos) << path;
      }
    }
  }
  SetDebugOutputSink(nullptr, nullptr);
}

TEST_F(SolidArchives, SolidRarFourVolumesReadAsOneArchive) {
  // Six compressed pages over three volumes, two of them split between
  // volumes; a page whose volume is missing fails, and says why.
  m_pages.clear();
  std::vector<test::RarEntry> entries;
  for (int i = 0; i < 6; ++i) {
    m_pages.push_back(Noise(i, 2500 + static_cast<std::size_t>(i) * 300));
    entries.push_back({Name(i), Page(i), false, false, true});
  }
  const std::vector<std::string> set = test::RarVolumeSet(entries, 9000, true);
  ASSERT_EQ(set.size(), 3u);
  for (std::size_t v = 0; v < set.size(); ++v) m_tmp.WriteFile("set.part" + std::to_string(v + 1) + ".rar", set[v]);
  const struct {
    const char* name;
    std::vector<uint32_t> beside;  // volumes after the first that open
    bool sevenZip;                 // 7-Zip's library's route, or libarchive's instead of it
    int reads;                     // pages 0..reads-1 read whole; the next one fails
  } cases[] = {
      {"whole", {2, 3}, true, 6},
      {"whole, without 7-Zip's library", {2, 3}, false, 6},
      {"middle volume missing", {3}, true, 2},
      {"middle volume missing, without 7-Zip's library", {3}, false, 2},
      {"last volume missing", {2}, true, 5},
  };
  std::u16string said;
  SetDebugOutputSink([](const char16_t* text, void* to) { *static_cast<std::u16string*>(to) += text; }, &said);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The set is opened as its volumes are named: volume 2 missing stops the search there.
    const auto open = [&](uint32_t number, IFile** out) {
      for (uint32_t n = 2; n <= number; ++n)
        if (std::find(c.beside.begin(), c.beside.end(), n) == c.beside.end()) return false;
      return m_disk->OpenFile(out, Utf8ToUtf16("/set.part" + std::to_string(number) + ".rar").c_str(), nullptr) == 0;
    };
    Ref<IFile> file;
    ASSERT_EQ(m_disk->OpenFile(&file, u"/set.part1.rar", nullptr), 0);
    Ref<IDirectory> archive;
    if (c.sevenZip) {
      ArchiveOptions options;
      options.openVolume = open;
      ASSERT_EQ(OpenArchive(file.get(), &archive, options), 0);
    } else {
      ArchiveVolumes volumes;
      for (uint32_t number = 2; number <= 3; ++number) {
        Ref<IFile> volume;
        if (!open(number, &volume)) break;
        volumes.push_back(volume);
      }
      auto* made = new CLibArchiveDirectory(file.get(), kDefaultSolidBudget, {}, LibArchiveFormats::Instead);
      archive.Set(made);
      made->SetVolumes(std::move(volumes), c.beside.empty() || c.beside[0] != 2);
      ASSERT_EQ(made->LoadArchive(), 0);
    }
    EXPECT_EQ(ArchiveListingCutShort(archive.get()), c.reads < 6);
    for (int i : {0, 5, 3, 1, 4, 2}) {
      said.clear();
      const std::string got = Read(archive.get(), "/" + Name(i));
      if (i < c.reads) {
        EXPECT_EQ(Same(got, Page(i)), "same") << i;
      } else if (i == c.reads) {
        EXPECT_TRUE(got == "<failed>") << i;
        EXPECT_NE(said.find(u"not there"), std::u16string::npos) << i;
      }
    }
  }
  SetDebugOutputSink(nullptr, nullptr);
}

TEST_F(SolidArchives, SolidRarFourListedWithoutSevenZip) {
  // libarchive alone stops at the second entry: the headers list the rest.
  m_pages.clear();
  std::vector<test::RarEntry> entries;
  for (int i = 0; i < 8; ++i) {
    m_pages.push_back(Noise(i, 2000 + static_cast<std::size_t>(i)));
    entries.push_back({i == 3 ? "sub\\" + Name(i) : Name(i), Page(i), false, false, true});
  }
  entries[5].wide = u"\u30DA\u30FC\u30B8.jpg";
  entries[5].name = "????.jpg";
  const std::string whole = test::RarArchive(entries, true);
  const std::string wide = "/\xE3\x83\x9A\xE3\x83\xBC\xE3\x82\xB8.jpg";
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::pair<std::string, int>> pages;  // path, page: in listing order
    bool cutShort;
  } cases[] = {
      {"whole", whole,
       {{"/p100.jpg", 0}, {"/p101.jpg", 1}, {"/p102.jpg", 2}, {"/p104.jpg", 4}, {"/p106.jpg", 6}, {"/p107.jpg", 7},
        {wide, 5}, {"/sub/p103.jpg", 3}},
       false},
      {"cut short", whole.substr(0, whole.size() / 2), {{"/p100.jpg", 0}, {"/p101.jpg", 1}, {"/p102.jpg", 2}, {"/sub/p103.jpg", 3}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    m_tmp.WriteFile("alone.cbr", c.bytes);
    Ref<IFile> file;
    ASSERT_EQ(m_disk->OpenFile(&file, u"/alone.cbr", nullptr), 0);
    auto* made = new CLibArchiveDirectory(file.get(), kDefaultSolidBudget, {}, LibArchiveFormats::Instead);
    Ref<IDirectory> archive;
    archive.Set(made);
    ASSERT_EQ(made->LoadArchive(), 0);
    EXPECT_EQ(ArchiveListingCutShort(archive.get()), c.cutShort);
    std::vector<std::pair<std::string, int>> listed;
    for (const ArchiveItem& item : made->items())
      if (!(item.flags & FILE_SYSTEM_ENTRY_FOLDER))
        listed.emplace_back(Utf16ToUtf8(std::u16string(item.folder) + std::u16string(item.name)), 0);
    ASSERT_EQ(listed.size(), c.pages.size());
    for (std::size_t k = 0; k < listed.size(); ++k) {
      EXPECT_EQ(listed[k].first, c.pages[k].first);
      EXPECT_EQ(Same(Read(archive.get(), c.pages[k].first), Page(c.pages[k].second)), "same") << c.pages[k].first;
    }
  }
}

TEST_F(SolidArchives, DamagedSolidRarFailsThatPageOnly) {
  std::vector<test::Rar5Entry> entries;
  for (int i = 0; i < 6; ++i) entries.push_back({Name(i), Noise(i, 4000)});
  entries[2].damaged = true;
  m_tmp.WriteFile("damaged.rar", test::Rar5Archive(entries, true));
  Ref<IDirectory> archive = Open("damaged.rar");
  ASSERT_TRUE(archive);
  auto done = std::async(std::launch::async, [&] {
    std::vector<std::string> got;
    for (int i : {0, 1, 2, 3, 4, 5, 2}) got.push_back(Read(archive.get(), "/" + Name(i)));
    return got;
  });
  ASSERT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const std::vector<std::string> got = done.get();
  EXPECT_EQ(Same(got[0], entries[0].data), "same");
  EXPECT_EQ(Same(got[1], entries[1].data), "same");
  EXPECT_EQ(got[2], "<failed>");
  EXPECT_EQ(got[6], "<failed>");
  // After it, each page reads right or fails; nothing hangs.
  for (int i = 3; i < 6; ++i) EXPECT_TRUE(got[static_cast<std::size_t>(i)] == entries[static_cast<std::size_t>(i)].data ||
                                          got[static_cast<std::size_t>(i)] == "<failed>");
}

TEST_F(SolidArchives, ClosingInTheMiddleOfAPass) {
  // Pages big enough that the pass runs a while after the first one.
  MakeSevenZip(12, 1 << 19);
  std::vector<test::Rar5Entry> entries;
  for (int i = 0; i < 12; ++i) entries.push_back({Name(i), Page(i)});
  m_tmp.WriteFile("solid.rar", test::Rar5Archive(entries, true));
  std::vector<test::RarEntry> four;
  for (int i = 0; i < 12; ++i) four.push_back({Name(i), Page(i), false, false, true});
  m_tmp.WriteFile("solid4.rar", test::RarArchive(four, true));
  for (const char* name : {"solid.7z", "solid.rar", "solid4.rar"})
    for (const uint64_t budget : {kDefaultSolidBudget, uint64_t{3} << 19}) {
      SCOPED_TRACE(std::string(name) + (budget == kDefaultSolidBudget ? "" : ", paused for the budget"));
      Ref<IDirectory> archive = Open(name, budget);
      ASSERT_TRUE(archive);
      Ref<IFile> page;
      ASSERT_EQ(archive->OpenFile(&page, u"/p100.jpg", nullptr), 0);
      // A page the pass has not reached: it waits, then reads.
      EXPECT_EQ(Same(Read(archive.get(), "/p106.jpg"), Page(6)), "same");
      const auto start = Clock::now();
      archive.Reset();
      EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
      // The file handed out outlives the directory.
      uint64_t size = 0;
      page->GetSize(&size);
      EXPECT_EQ(size, Page(0).size());
    }
}

TEST_F(SolidArchives, OpenFileFromTwoThreadsWhileThePassRuns) {
  MakeSevenZip(16, 100000);
  for (const uint64_t budget : {kDefaultSolidBudget, uint64_t{400000}}) {
    Ref<IDirectory> archive = Open("solid.7z", budget);
    ASSERT_TRUE(archive);
    // In turn, as the viewer's workers do: one call at a time, from either thread.
    std::mutex turn;
    std::condition_variable changed;
    int next = 0;
    auto worker = [&](int parity) {
      int wrong = 0;
      for (;;) {
        std::unique_lock<std::mutex> hold(turn);
        changed.wait(hold, [&] { return next >= 16 || next % 2 == parity; });
        if (next >= 16) return wrong;
        const int i = 15 - next;  // from the back: every call waits for the pass
        wrong += Read(archive.get(), "/" + Name(i)) != Page(i);
        ++next;
        changed.notify_all();
      }
    };
    auto even = std::async(std::launch::async, worker, 0);
    auto odd = std::async(std::launch::async, worker, 1);
    ASSERT_EQ(even.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    ASSERT_EQ(odd.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(even.get() + odd.get(), 0);

    // And at the same time, while the window thread takes references.
    Ref<IDirectory> fresh = Open("solid.7z", budget);
    std::vector<std::future<int>> readers;
    for (int t = 0; t < 2; ++t)
      readers.push_back(std::async(std::launch::async, [&, t] {
        int wrong = 0;
        for (int k = 0; k < 16; ++k) {
          const int i = t ? k : 15 - k;
          wrong += Read(fresh.get(), "/" + Name(i)) != Page(i);
        }
        return wrong;
      }));
    for (int k = 0; k < 1000; ++k) Ref<IDirectory>(fresh).Reset();
    for (auto& r : readers) {
      ASSERT_EQ(r.wait_for(std::chrono::seconds(60)), std::future_status::ready);
      EXPECT_EQ(r.get(), 0);
    }
  }
}

}  // namespace
