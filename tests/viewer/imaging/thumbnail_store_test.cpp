// The thumbnails kept on disk: a key that changes with the book's size or
// time misses, the cap drops the files used longest ago, and a file that
// is not sound is a miss, never pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "platform/text.h"
#include "viewer/imaging/ThumbnailStore.h"

namespace {

namespace fs = std::filesystem;

PixelRows Rows(uint32_t width, uint32_t height, uint8_t value) {
  PixelRows rows;
  rows.width = width;
  rows.height = height;
  rows.bgra.assign(4ull * width * height, value);
  return rows;
}

ThumbnailKey Key(const char16_t* entry, uint64_t size = 1000, int64_t modified = 5) {
  return ThumbnailKey{u"/books/a.cbz", FileStamp{size, modified}, entry, 10, 0};
}

TEST(ThumbnailStore, KeysMissWhenTheBookChanges) {
  test::TempDir dir;
  CThumbnailStore store(Utf8ToUtf16(dir / "thumbs/"));
  store.Save(Key(u"p1.jpg"), Rows(4, 6, 7));
  const auto kept = store.Load(Key(u"p1.jpg"));
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->width, 4u);
  EXPECT_EQ(kept->bgra, Rows(4, 6, 7).bgra);
  const struct {
    const char* what;
    ThumbnailKey key;
  } misses[] = {{"another entry", Key(u"p2.jpg")},
                {"a new size", Key(u"p1.jpg", 1001)},
                {"a new time", Key(u"p1.jpg", 1000, 6)},
                {"decoded otherwise", ThumbnailKey{u"/books/a.cbz", FileStamp{1000, 5}, u"p1.jpg", 10, 1}},
                {"another book", ThumbnailKey{u"/books/b.cbz", FileStamp{1000, 5}, u"p1.jpg", 10, 0}}};
  for (const auto& miss : misses) EXPECT_FALSE(store.Load(miss.key)) << miss.what;
}

TEST(ThumbnailStore, BrokenFilesAreMisses) {
  test::TempDir dir;
  const std::u16string folder = Utf8ToUtf16(dir / "thumbs/");
  const ThumbnailKey key = Key(u"p1.jpg");
  const std::string path = dir / ("thumbs/" + CThumbnailStore::FileName(key));
  const struct {
    const char* what;
    std::function<void(std::string&)> spoil;
  } cases[] = {
      {"cut short", [](std::string& b) { b.resize(b.size() - 1); }},
      {"longer", [](std::string& b) { b += 'x'; }},
      {"another magic", [](std::string& b) { b[0] = 'X'; }},
      {"a width too large", [](std::string& b) { b[9] = 0x7f; }},
      {"a zero height", [](std::string& b) { b[12] = b[13] = b[14] = b[15] = 0; }},
      {"another key inside", [](std::string& b) { b[20] ^= 1; }},
      {"empty", [](std::string& b) { b.clear(); }},
  };
  for (const auto& c : cases) {
    CThumbnailStore store(folder);
    store.Save(key, Rows(4, 6, 7));
    std::string bytes;
    {
      std::ifstream in(path, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_FALSE(bytes.empty());
    c.spoil(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_FALSE(store.Load(key)) << c.what;
  }
}

TEST(ThumbnailStore, TheCapDropsTheOldest) {
  test::TempDir dir;
  const PixelRows rows = Rows(16, 16, 1);  // 1 KiB of pixels, a little more a file
  CThumbnailStore store(Utf8ToUtf16(dir / "thumbs/"), 4500);
  const char16_t* names[] = {u"0", u"1", u"2", u"3"};
  for (int i = 0; i < 4; ++i) {
    store.Save(Key(names[i]), rows);
    // Each older than the next by a minute, whatever the clock's grain.
    fs::last_write_time(dir / ("thumbs/" + CThumbnailStore::FileName(Key(names[i]))),
                        fs::file_time_type::clock::now() - std::chrono::minutes(10 - i));
  }
  // Used: the oldest becomes the newest.
  ASSERT_TRUE(store.Load(Key(u"0")));
  store.Save(Key(u"4"), rows);
  uint64_t total = 0;
  for (const auto& file : fs::directory_iterator(dir / "thumbs")) total += file.file_size();
  EXPECT_LE(total, 4500u);
  EXPECT_FALSE(store.Load(Key(u"1"))) << "the oldest unused dropped";
  EXPECT_TRUE(store.Load(Key(u"0")));
  EXPECT_TRUE(store.Load(Key(u"4")));
}

}  // namespace
