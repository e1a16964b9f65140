// velmora-book, run as a user runs it: its --hash agrees with what bsdtar
// extracts and sha256sum hashes, for every archive kind the viewer reads;
// a page that cannot be read says so; a book that does not open fails.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "ArchiveBuilders.h"
#include "TestSupport.h"

using test::TempDir;

namespace {

struct Outcome {
  int status = -1;
  std::vector<std::string> lines;  // standard output
  std::string errors;              // standard error
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One line of the listing.
std::string Listed(char kind, uint64_t size, const std::string& path) {
  char line[64];
  std::snprintf(line, sizeof line, "%c %12llu ", kind, static_cast<unsigned long long>(size));
  return line + path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Page-like bytes: little that compresses.
std::string Page(int n, std::size_t size) {
  std::string page(size, '\0');
  uint32_t x = 2463534242u + static_cast<uint32_t>(n);
  for (char& c : page) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return page;
}

class VelmoraBook : public ::testing::Test {
 protected:
  Outcome Book(const std::string& arguments) {
    Outcome run;
    const std::string out = m_tmp / "stdout", err = m_tmp / "stderr";
    const int status = std::system((VELMORA_BOOK " " + arguments + " >'" + out + "' 2>'" + err + "'").c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.lines = Lines(Slurp(out));
    run.errors = Slurp(err);
    return run;
  }

  // What bsdtar extracts from the archive, each file's SHA-256 by sha256sum,
  // by its path inside the archive; empty when bsdtar did not extract it all.
  std::map<std::string, std::string> Bsdtar(const std::string& name) {
    const std::string out = m_tmp / ("x-" + name);
    std::filesystem::create_directories(out);
    if (std::system(("bsdtar -xf '" + (m_tmp / name) + "' -C '" + out + "' 2>/dev/null").c_str()) != 0) return {};
    const std::string list = m_tmp / "sums";
    EXPECT_EQ(std::system(("cd '" + out + "' && find . -type f -exec sha256sum {} + >'" + list + "'").c_str()), 0);
    std::map<std::string, std::string> sums;
    for (const std::string& line : Lines(Slurp(list))) sums[line.substr(67)] = line.substr(0, 64);  // "hash  ./path"
    return sums;
  }

  TempDir m_tmp;
};

TEST_F(VelmoraBook, HashAgreesWithBsdtarForEveryKind) {
  m_tmp.MakeFolder("src");
  m_tmp.MakeFolder("src/ch2");
  m_tmp.WriteFile("src/001.jpg", Page(1, 70000));
  m_tmp.WriteFile("src/ch2/002.jpg", Page(2, 120000));
  m_tmp.WriteFile("src/ch2/003.png", "small");
  m_tmp.WriteFile("src/empty.txt", "");
  const std::string cd = "cd '" + (m_tmp / "src") + "' && ";
  ASSERT_EQ(std::system((cd + "7z a -ms=on ../solid.cb7 . >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((cd + "7z a -tzip ../deflate.cbz . >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((cd + "bsdtar -cf ../book.cbt 001.jpg ch2 empty.txt").c_str()), 0);
  const std::vector<test::Rar5Entry> five = {
      {"001.jpg", Page(1, 70000)}, {"ch2", "", true}, {"ch2/002.jpg", Page(2, 120000)}, {"ch2/003.png", "small", false, false}};
  m_tmp.WriteFile("solid.cbr", test::Rar5Archive(five, true));
  m_tmp.WriteFile("plain5.cbr", test::Rar5Archive(five));
  m_tmp.WriteFile("four.cbr", test::RarArchive({{"001.jpg", Page(1, 70000), false, false, true},
                                                {"ch2\\002.jpg", Page(2, 120000), false, false, true},
                                                {"ch2\\003.png", "small"}}));

  const std::regex hashLine("[0-9a-f]{64}  /.*");
  for (const char* name : {"solid.cb7", "deflate.cbz", "book.cbt", "solid.cbr", "plain5.cbr", "four.cbr"}) {
    SCOPED_TRACE(name);
    const std::map<std::string, std::string> expected = Bsdtar(name);
    ASSERT_FALSE(expected.empty());
    const Outcome hashed = Book("--hash '" + (m_tmp / name) + "'");
    EXPECT_EQ(hashed.status, 0) << hashed.errors;
    std::map<std::string, std::string> got;
    std::vector<std::string> order;
    for (const std::string& line : hashed.lines) {
      ASSERT_TRUE(std::regex_match(line, hashLine)) << line;  // nothing else on standard output
      got[line.substr(66)] = line.substr(0, 64);
      order.push_back(line.substr(66));
    }
    EXPECT_EQ(got, expected);

    // The listing: the same files in the same (book) order, with folders.
    const Outcome listed = Book("'" + (m_tmp / name) + "'");
    EXPECT_EQ(listed.status, 0);
    std::vector<std::string> files;
    for (const std::string& line : listed.lines)
      if (line[0] == 'f') files.push_back(line.substr(line.find(" /") + 1));
    EXPECT_EQ(files, order);
    EXPECT_NE(std::find(listed.lines.begin(), listed.lines.end(), Listed('d', 0, "/ch2")), listed.lines.end());
    EXPECT_NE(std::find(listed.lines.begin(), listed.lines.end(), Listed('f', 70000, "/001.jpg")), listed.lines.end());
  }
}

TEST_F(VelmoraBook, SolidRarFourHashesEveryPage) {
  // bsdtar reads no entry of a solid RAR 4 past its first: sha256sum
  // hashes the pages it was made of.
  m_tmp.MakeFolder("five");
  std::vector<test::RarEntry> entries;
  for (int i = 0; i < 5; ++i) {
    const std::string name = std::to_string(i) + ".jpg";
    m_tmp.WriteFile("five/" + name, Page(i, 50000 + static_cast<std::size_t>(i)));
    entries.push_back({name, Page(i, 50000 + static_cast<std::size_t>(i)), false, false, true});
  }
  m_tmp.WriteFile("five.cbr", test::RarArchive(entries, true));
  const std::string sums = m_tmp / "sums";
  ASSERT_EQ(std::system(("cd '" + (m_tmp / "five") + "' && sha256sum *.jpg >'" + sums + "'").c_str()), 0);
  std::vector<std::string> expected;
  for (const std::string& line : Lines(Slurp(sums))) expected.push_back(line.substr(0, 66) + "/" + line.substr(66));
  ASSERT_EQ(expected.size(), 5u);
  const Outcome hashed = Book("--hash '" + (m_tmp / "five.cbr") + "'");
  EXPECT_EQ(hashed.status, 0) << hashed.errors;
  EXPECT_EQ(hashed.lines, expected);
}

TEST_F(VelmoraBook, FoldersAndImagesOpenAsTheirFolder) {
  m_tmp.MakeFolder("book");
  m_tmp.MakeFolder("book/sub");
  m_tmp.WriteFile("book/abc", "abc");
  m_tmp.WriteFile("book/sub/inner.jpg", "not listed: a folder book is its own folder's entries");
  ASSERT_EQ(std::system(("convert -size 3x2 xc:red '" + (m_tmp / "book/page.png") + "'").c_str()), 0);
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  /abc";
  for (const std::string& book : {m_tmp / "book", m_tmp / "book/page.png"}) {
    SCOPED_TRACE(book);
    const Outcome run = Book("--hash '" + book + "'");
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], abc);
    EXPECT_EQ(run.lines[1].substr(64), "  /page.png");
  }
  // A relative path, as typed in a shell.
  const int status = std::system(("cd '" + m_tmp.path() + "' && " VELMORA_BOOK " book >listing 2>/dev/null").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Lines(Slurp(m_tmp / "listing")),
            (std::vector<std::string>{Listed('f', 3, "/abc"), Listed('f', std::filesystem::file_size(m_tmp / "book/page.png"), "/page.png"),
                                      Listed('d', 0, "/sub")}));
}

TEST_F(VelmoraBook, EntriesThatCannotBeReadAndBooksThatDoNotOpen) {
  std::vector<test::Rar5Entry> entries = {{"a.png", Page(1, 2000)}, {"b.png", Page(2, 2000)}, {"c.png", Page(3, 2000)}};
  entries[1].damaged = true;
  for (const bool solid : {false, true}) {
    m_tmp.WriteFile("damaged.cbr", test::Rar5Archive(entries, solid));
    const Outcome run = Book("--hash '" + (m_tmp / "damaged.cbr") + "'");
    EXPECT_EQ(run.status, 2);
    ASSERT_EQ(run.lines.size(), 3u);
    EXPECT_EQ(run.lines[0].substr(64), "  /a.png");
    EXPECT_EQ(run.lines[1].substr(0, 15), "ERROR  /b.png  ");
    EXPECT_GT(run.lines[1].size(), 15u);  // with a reason
    EXPECT_EQ(run.lines[2].substr(64), "  /c.png");
  }

  // A RAR volume set is read whole from its first volume; alone, the first
  // says what it lacks.
  const std::vector<std::string> volumes = test::RarVolumeSet({{"a.png", Page(1, 3000)}, {"b.png", Page(2, 3000)}}, 4000);
  m_tmp.WriteFile("set.part1.rar", volumes[0]);
  m_tmp.WriteFile("alone.part1.rar", volumes[0]);
  m_tmp.WriteFile("set.part2.rar", volumes[1]);
  const Outcome set = Book("--hash '" + (m_tmp / "set.part1.rar") + "'");
  EXPECT_EQ(set.status, 0);
  ASSERT_EQ(set.lines.size(), 2u);
  const Outcome alone = Book("--hash '" + (m_tmp / "alone.part1.rar") + "'");
  EXPECT_EQ(alone.status, 2);
  ASSERT_EQ(alone.lines.size(), 2u);
  EXPECT_EQ(alone.lines[1], "ERROR  /b.png  cannot be opened (Archive error: continued in the archive's next volume, which is not beside it)");
  EXPECT_EQ(alone.lines[0], set.lines[0]);

  m_tmp.WriteFile("text.txt", "neither an image nor an archive");
  for (const std::string& book : {m_tmp / "missing.cbz", m_tmp / "text.txt"}) {
    const Outcome run = Book("--hash '" + book + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_NE(run.errors.find("velmora-book: " + book + ": "), std::string::npos) << run.errors;
  }
  EXPECT_EQ(Book("").status, 1);  // no book named
}

// Entries read only in part, or not at all, are ERROR with why, never the
// hash of what little came out; the others are hashed, in their places.
TEST_F(VelmoraBook, EntriesNotReadWholeAreErrorsWithTheirReason) {
  const std::string a = Page(1, 3000), b = Page(2, 3000), c = Page(3, 3000);
  const std::string zip = test::ZipArchive({{"a.png", a}, {"b.png", b}, {"c.png", c}});
  std::string flipped = zip;
  flipped[zip.find(b) + 1000] ^= 0x5A;  // b's data no longer matches its CRC
  m_tmp.WriteFile("crc.cbz", flipped);
  m_tmp.WriteFile("cut.cbz", zip.substr(0, zip.find(b) + 1000));  // cut in the middle of b
  m_tmp.WriteFile("cutlist.cbz", zip.substr(0, zip.find(c) - 30 - 5));  // cut where c's header begins
  m_tmp.MakeFolder("src");
  m_tmp.WriteFile("src/a.png", a);
  m_tmp.WriteFile("src/b.png", b);
  const std::string cd = "cd '" + (m_tmp / "src") + "' && ";
  ASSERT_EQ(std::system((cd + "zip -q -P secret ../locked.cbz a.png b.png").c_str()), 0);
  ASSERT_EQ(std::system((cd + "7z a -psecret ../locked.cb7 a.png b.png >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((cd + "7z a -ms=off -psecret ../plainlocked.cb7 a.png b.png >/dev/null").c_str()), 0);

  // The first volume of multi-volume books, opened alone: b goes on in the next.
  std::vector<test::RarEntry> four = {{"a.png", a}, {"b.png", b}};
  four[1].continues = 1000;
  m_tmp.WriteFile("four.part1.cbr", test::RarArchive(four));
  std::vector<test::Rar5Entry> five = {{"a.png", a}, {"b.png", b}};
  five[0].compressed = five[1].compressed = false;
  five[1].continues = 1000;
  m_tmp.WriteFile("five.part1.cbr", test::Rar5Archive(five));

  const std::string emptyHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  const struct {
    const char* name;
    std::vector<std::string> expected;  // per entry: its hash's first line part, or ERROR and a word of the reason
    const char* said = nullptr;         // on standard error, of the book
  } cases[] = {
      {"crc.cbz", {"a.png", "ERROR  /b.png  damaged: its data fails its CRC check", "c.png"}},
      {"cut.cbz", {"a.png", "ERROR  /b.png  damaged: its data ends early"}},
      {"cutlist.cbz", {"a.png", "b.png"}, "cutlist.cbz: damaged: some pages could not be read"},
      {"locked.cbz", {"ERROR  /a.png  cannot be opened (encrypted", "ERROR  /b.png  cannot be opened (encrypted"}},
      {"locked.cb7", {"ERROR  /a.png  cannot be opened (encrypted", "ERROR  /b.png  cannot be opened (encrypted"}},
      {"plainlocked.cb7", {"ERROR  /a.png  cannot be opened (encrypted", "ERROR  /b.png  cannot be opened (encrypted"}},
      {"four.part1.cbr", {"a.png", "ERROR  /b.png  cannot be opened (Archive error: continued in the archive's next"}},
      {"five.part1.cbr", {"a.png", "ERROR  /b.png  damaged: its data ends early"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const Outcome run = Book("--hash '" + (m_tmp / test.name) + "'");
    EXPECT_EQ(run.status, 2) << run.errors;
    if (test.said != nullptr) {
      EXPECT_NE(run.errors.find(test.said), std::string::npos) << run.errors;
    }
    ASSERT_EQ(run.lines.size(), test.expected.size());
    for (std::size_t i = 0; i < run.lines.size(); ++i) {
      EXPECT_EQ(run.lines[i].find(emptyHash), std::string::npos) << run.lines[i];
      if (test.expected[i].rfind("ERROR", 0) == 0)
        EXPECT_EQ(run.lines[i].rfind(test.expected[i], 0), 0u) << run.lines[i];
      else
        EXPECT_EQ(run.lines[i].substr(64), "  /" + test.expected[i]) << run.lines[i];
    }
  }
}

}  // namespace
