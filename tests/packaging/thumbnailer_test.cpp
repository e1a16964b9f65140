// velmora-thumbnailer run as a file manager runs it: the cover of a folder's
// image, a CBZ and a solid CB7 (each the first page the viewer would show,
// fitted to the size asked, quickly), and no file at all, with a non-zero
// status, for a damaged book, a book without an image, or an output that
// cannot be written.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QtGui/QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using test::TempDir;

namespace {

struct Outcome {
  int status = -1;
  double seconds = 0;
  std::string errors;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A page of one colour, with a white band so that its orientation shows.
void SavePage(const std::string& path, int w, int h, QRgb colour, const char* format = "JPG") {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  for (int y = 0; y < h / 10; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(255, 255, 255));
  ASSERT_TRUE(image.save(QString::fromStdString(path), format)) << path;
}

QRgb PageColour(int n) { return qRgb(20 + n * 3, 200 - n * 2, (n * 37) % 256); }

// Whether `pixel` is `colour` give or take the losses of JPEG and scaling.
bool Near(QRgb pixel, QRgb colour, int slack = 12) {
  return std::abs(qRed(pixel) - qRed(colour)) <= slack && std::abs(qGreen(pixel) - qGreen(colour)) <= slack &&
         std::abs(qBlue(pixel) - qBlue(colour)) <= slack;
}

class Thumbnailer : public ::testing::Test {
 protected:
  Outcome Thumbnail(const std::string& input, const std::string& output, const std::string& size = "256") {
    Outcome run;
    const std::string err = m_tmp / "stderr";
    const std::string command = std::string("'" VELMORA_THUMBNAILER "' -s ") + size + " '" + input + "' '" + output +
                                "' 2>'" + err + "' >/dev/null";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.errors = Slurp(err);
    return run;
  }
  // A book of `count` pages of 1200 x 1800 in a folder; the pages are named
  // so that name order differs from the order they are written in.
  std::string PageFolder(const std::string& name, int count) {
    const std::string folder = m_tmp / name;
    std::filesystem::create_directories(folder);
    for (int n = count; n >= 1; --n) {
      char file[32];
      std::snprintf(file, sizeof file, "/p%03d.jpg", n);
      SavePage(folder + file, 1200, 1800, PageColour(n));
    }
    return folder;
  }
  void Archive(const std::string& archive, const std::string& folder, const std::string& options) {
    ASSERT_EQ(std::system(("cd '" + folder + "' && 7z a " + options + " '" + archive + "' . >/dev/null").c_str()), 0);
  }
  // Files in the output folder other than those that were there: a failed
  // run leaves nothing behind, not even its temporary file.
  std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  QImage Output(const std::string& path) { return QImage(QString::fromStdString(path)); }

  TempDir m_tmp;
};

TEST_F(Thumbnailer, AnImageInAFolderIsItsOwnCover) {
  std::filesystem::create_directories(m_tmp / "scans");
  SavePage(m_tmp / "scans/a.png", 300, 200, qRgb(200, 30, 30), "PNG");
  SavePage(m_tmp / "scans/b.png", 2000, 1000, qRgb(30, 30, 200), "PNG");
  const Outcome run = Thumbnail(m_tmp / "scans/b.png", m_tmp / "b.png", "128");
  ASSERT_EQ(run.status, 0) << run.errors;
  const QImage cover = Output(m_tmp / "b.png");
  EXPECT_EQ(cover.size(), QSize(128, 64));  // the shape kept
  EXPECT_TRUE(Near(cover.pixel(64, 40), qRgb(30, 30, 200), 2));
  EXPECT_TRUE(Near(cover.pixel(64, 1), qRgb(255, 255, 255), 2));  // the band on top: not turned

  // A cover already smaller than the size keeps its own; the folder itself
  // gives its first image in name order.
  ASSERT_EQ(Thumbnail(m_tmp / "scans", m_tmp / "folder.png", "512").status, 0);
  EXPECT_EQ(Output(m_tmp / "folder.png").size(), QSize(300, 200));
  EXPECT_TRUE(Near(Output(m_tmp / "folder.png").pixel(150, 150), qRgb(200, 30, 30), 2));
}

TEST_F(Thumbnailer, ACbzAndASolidCb7GiveTheirFirstPageQuickly) {
  const std::string folder = PageFolder("pages", 60);
  // Entries before the first page in name order that are no page: a text
  // file, and a subfolder holding another.
  std::ofstream(folder + "/0-readme.txt") << "not a page";
  std::filesystem::create_directories(folder + "/0-extra");
  std::ofstream(folder + "/0-extra/notes.txt") << "no page either";
  Archive(m_tmp / "book one.cbz", folder, "-tzip -mx=0");
  Archive(m_tmp / "book.cb7", folder, "-t7z -ms=on -mx=1");
  ASSERT_NE(Slurp(m_tmp / "book.cb7").size(), 0u);
  // Solid indeed: one block for all the pages.
  ASSERT_EQ(std::system(("7z l -slt '" + (m_tmp / "book.cb7") + "' | grep -q '^Solid = +'").c_str()), 0);

  struct Case {
    const char* what;
    std::string input;
  } cases[] = {
      {"CBZ by path", m_tmp / "book one.cbz"},
      {"CBZ by URI", "file://" + m_tmp.path() + "/book%20one.cbz"},
      {"solid CB7", m_tmp / "book.cb7"},
  };
  for (const Case& c : cases) {
    const std::string output = m_tmp / "cover.png";
    std::filesystem::remove(output);
    const Outcome run = Thumbnail(c.input, output);
    ASSERT_EQ(run.status, 0) << c.what << "\n" << run.errors;
    std::printf("%s: cover of 60 pages in %.3f s\n", c.what, run.seconds);
    // Release builds take a fraction of this; the sanitizers' several times
    // as long.
    EXPECT_LT(run.seconds, 5.0) << c.what;
    const QImage cover = Output(output);
    EXPECT_EQ(cover.size(), QSize(171, 256)) << c.what;
    EXPECT_TRUE(Near(cover.pixel(85, 150), PageColour(1))) << c.what;
  }
}

TEST_F(Thumbnailer, TranslucentCoversKeepTheirColours) {
  // Premultiplied pixels are the viewer's; a PNG's are straight.
  QImage image(40, 20, QImage::Format_ARGB32);
  image.fill(qRgba(200, 100, 50, 128));
  ASSERT_TRUE(image.save(QString::fromStdString(m_tmp / "glass.png"), "PNG"));
  ASSERT_EQ(Thumbnail(m_tmp / "glass.png", m_tmp / "out.png").status, 0);
  const QImage cover = Output(m_tmp / "out.png").convertToFormat(QImage::Format_ARGB32);
  const QRgb pixel = cover.pixel(10, 10);
  EXPECT_NEAR(qAlpha(pixel), 128, 1);
  EXPECT_TRUE(Near(pixel, qRgb(200, 100, 50), 2)) << std::hex << pixel;
}

TEST_F(Thumbnailer, ABookWithoutACoverWritesNothing) {
  std::filesystem::create_directories(m_tmp / "out");
  const std::string folder = PageFolder("pages", 8);
  Archive(m_tmp / "good.cbz", folder, "-tzip -mx=0");
  Archive(m_tmp / "good.cb7", folder, "-t7z -ms=on -mx=1");

  // Damaged: every stored page's bytes overwritten past its first two (the
  // CRCs no longer match), and a solid block overwritten at its start.
  std::string zip = Slurp(m_tmp / "good.cbz");
  for (std::size_t at = zip.find("PK\x03\x04"); at != std::string::npos; at = zip.find("PK\x03\x04", at + 4)) {
    const auto le16 = [&](std::size_t i) { return uint8_t(zip[i]) | uint8_t(zip[i + 1]) << 8; };
    const std::size_t data = at + 30 + le16(at + 26) + le16(at + 28);
    for (std::size_t i = data + 2; i < data + 2000 && i < zip.size(); ++i) zip[i] = 'U';
  }
  m_tmp.WriteFile("damaged.cbz", zip);
  std::string sevenZip = Slurp(m_tmp / "good.cb7");
  ASSERT_GT(sevenZip.size(), 1000u);
  for (std::size_t i = 40; i < std::min<std::size_t>(5040, sevenZip.size() / 2); ++i) sevenZip[i] = 'U';
  m_tmp.WriteFile("damaged.cb7", sevenZip);
  // Cut short: the archive's own directory is gone.
  m_tmp.WriteFile("short.cb7", Slurp(m_tmp / "good.cb7").substr(0, sevenZip.size() / 2));

  // No image at all.
  std::filesystem::create_directories(m_tmp / "texts/sub");
  std::ofstream(m_tmp / "texts/a.txt") << "words";
  std::ofstream(m_tmp / "texts/sub/b.txt") << "more words";
  Archive(m_tmp / "texts.cbz", m_tmp / "texts", "-tzip");
  std::filesystem::create_directories(m_tmp / "empty");
  m_tmp.WriteFile("noise.cbz", std::string(5000, 'x'));

  for (const char* name : {"damaged.cbz", "damaged.cb7", "short.cb7", "texts.cbz", "texts", "empty", "noise.cbz",
                           "missing.cbz"}) {
    const Outcome run = Thumbnail(m_tmp / name, m_tmp / "out/cover.png");
    EXPECT_EQ(run.status, 1) << name << "\n" << run.errors;
    EXPECT_NE(run.errors.find("velmora-thumbnailer: "), std::string::npos) << name;
    EXPECT_LT(run.seconds, 5.0) << name;
    EXPECT_EQ(Listing(m_tmp / "out"), std::vector<std::string>{}) << name;
  }
  // The good ones do give a cover, through the same steps.
  EXPECT_EQ(Thumbnail(m_tmp / "good.cb7", m_tmp / "out/cover.png").status, 0);
}

// A cover that is not whole makes no thumbnail, though it decodes in part;
// damage past the cover does not matter.
TEST_F(Thumbnailer, ADamagedCoverWritesNothing) {
  std::filesystem::create_directories(m_tmp / "out");
  const std::string folder = PageFolder("pages", 2);
  const std::string cover = Slurp(folder + "/p001.jpg"), second = Slurp(folder + "/p002.jpg");
  std::filesystem::create_directories(m_tmp / "cut");
  m_tmp.WriteFile("cut/p001.jpg", cover.substr(0, cover.size() / 2));
  m_tmp.WriteFile("cut/p002.jpg", second);
  m_tmp.WriteFile("cut.jpg", cover.substr(0, cover.size() / 2));
  Archive(m_tmp / "cutcover.cbz", m_tmp / "cut", "-tzip -mx=0");
  Archive(m_tmp / "good.cbz", folder, "-tzip -mx=0");
  const std::string zip = Slurp(m_tmp / "good.cbz");
  // Where each page's last scan bytes lie in the archive (flat pages: the
  // same bytes may stand in both, so the second is looked for after its name).
  const std::size_t secondStart = zip.find("p002.jpg");
  const std::size_t coverEnd = zip.find(cover.substr(cover.size() - 200, 64));
  const std::size_t secondEnd = zip.find(second.substr(second.size() - 200, 64), secondStart);
  ASSERT_LT(coverEnd, secondStart);
  ASSERT_NE(secondEnd, std::string::npos);
  std::string flipped = zip;
  flipped[coverEnd + 10] ^= 0x21;
  m_tmp.WriteFile("crc.cbz", flipped);
  m_tmp.WriteFile("short.cbz", zip.substr(0, coverEnd));
  std::string late = zip;
  late[secondEnd + 10] ^= 0x21;
  m_tmp.WriteFile("late.cbz", late);

  for (const char* name : {"cut.jpg", "cutcover.cbz", "crc.cbz", "short.cbz"}) {
    const Outcome run = Thumbnail(m_tmp / name, m_tmp / "out/cover.png");
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_NE(run.errors.find("the cover is damaged: "), std::string::npos) << name << "\n" << run.errors;
    EXPECT_EQ(Listing(m_tmp / "out"), std::vector<std::string>{}) << name;
  }
  EXPECT_EQ(Thumbnail(m_tmp / "late.cbz", m_tmp / "out/cover.png").status, 0);
}

// Past its time limit a run ends with status 1 and a line, as the README
// says, leaving nothing; a run killed mid-write long ago left a temporary
// file, which the next run removes.
TEST_F(Thumbnailer, TooLongSaysSoAndLeftoversAreRemoved) {
  std::filesystem::create_directories(m_tmp / "out");
  SavePage(m_tmp / "b.jpg", 50, 50, qRgb(1, 2, 3));
  // A first entry that takes seconds to inflate, before the cover: one
  // that starts as a JPEG, since what no decoder takes is never inflated
  // whole.
  ASSERT_EQ(std::system(("cd '" + m_tmp.path() +
                         "' && (printf '\\377\\330\\377'; head -c 400000000 /dev/zero) | zip -q -1 slow.zip - && zip -q slow.zip b.jpg")
                            .c_str()),
            0);
  ::setenv("VELMORA_THUMBNAILER_SECONDS", "1", 1);
  const Outcome slow = Thumbnail(m_tmp / "slow.zip", m_tmp / "out/cover.png");
  ::unsetenv("VELMORA_THUMBNAILER_SECONDS");
  EXPECT_EQ(slow.status, 1);
  EXPECT_NE(slow.errors.find("took longer than 1 s"), std::string::npos) << slow.errors;
  EXPECT_EQ(Listing(m_tmp / "out"), std::vector<std::string>{});

  m_tmp.WriteFile("out/cover.png.Ab12Cd", "a run killed while writing");
  const struct timeval old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
  ASSERT_EQ(::utimes((m_tmp / "out/cover.png.Ab12Cd").c_str(), old), 0);
  EXPECT_EQ(Thumbnail(m_tmp / "b.jpg", m_tmp / "out/cover.png").status, 0);
  EXPECT_EQ(Listing(m_tmp / "out"), std::vector<std::string>{"cover.png"});
}

TEST_F(Thumbnailer, AnOutputThatCannotBeWrittenFails) {
  SavePage(m_tmp / "a.jpg", 50, 50, qRgb(1, 2, 3));
  m_tmp.WriteFile("file", "");
  const Outcome run = Thumbnail(m_tmp / "a.jpg", m_tmp / "file/cover.png");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.errors.find("cannot write"), std::string::npos) << run.errors;
}

TEST_F(Thumbnailer, CommandLinesItDoesNotTake) {
  SavePage(m_tmp / "a.jpg", 50, 50, qRgb(1, 2, 3));
  EXPECT_EQ(Thumbnail(m_tmp / "a.jpg", m_tmp / "o.png", "0").status, 2);
  EXPECT_EQ(Thumbnail(m_tmp / "a.jpg", m_tmp / "o.png", "12x").status, 2);
  EXPECT_EQ(Thumbnail(m_tmp / "a.jpg", m_tmp / "o.png", "99999").status, 2);
  EXPECT_EQ(std::system(("'" VELMORA_THUMBNAILER "' '" + (m_tmp / "a.jpg") + "' 2>/dev/null").c_str()) >> 8, 2);
  // Only local files: another host or scheme is refused before anything is read.
  EXPECT_EQ(Thumbnail("file://elsewhere" + (m_tmp / "a.jpg"), m_tmp / "o.png").status, 1);
  EXPECT_EQ(Thumbnail("https://example.invalid/a.cbz", m_tmp / "o.png").status, 1);
  EXPECT_FALSE(std::filesystem::exists(m_tmp / "o.png"));
  // A URI with "localhost" and an escaped byte reaches the file.
  std::filesystem::rename(m_tmp / "a.jpg", m_tmp / "a\xE9.jpg");
  EXPECT_EQ(Thumbnail("file://localhost" + m_tmp.path() + "/a%E9.jpg", m_tmp / "o.png").status, 0);
}

}  // namespace
