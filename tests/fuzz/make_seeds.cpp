// Writes the fuzzers' seed corpora: small inputs of every kind each target
// reads, made by the tests' own writers (the archive builders, Qt's image
// writers, the AVIF, JPEG XL and HEIF encoders) and, for 7z and a deflated
// Zip, by the 7z command; a book's descriptions (ComicInfo.xml) and
// catalogue feeds as text written here. Built when asked for and run from the repository root:
//   cmake --build build/release --target fuzz-seeds
//   build/release/bin/fuzz-seeds tests/fuzz/corpus
// The files are checked in; inputs a fuzz run found failing sit beside them.
#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ArchiveBuilders.h"
#define VELMORA_PAGE_ENCODERS
#include "ImageSupport.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  std::printf("%6zu  %s\n", bytes.size(), path.string().c_str());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- profiles: UTF-16LE with its byte-order mark ----

std::string Utf16Le(const std::u16string& text) {
  std::string bytes("\xFF\xFE", 2);
  for (char16_t unit : text) bytes += static_cast<char>(unit & 0xFF), bytes += static_cast<char>(unit >> 8);
  return bytes;
}

void Profiles(const fs::path& to) {
  Write(to / "usual", Utf16Le(u"c.page=1\r\nc.mono2color=1\r\n"
                              u"c.history.0.name=/home/reader/Comics/Volume 1.zip\r\nc.history.0.index=12\r\n"
                              u"c.history.1.name=/home/reader/Scans/\u6f2b\u753b/\r\nc.history.1.index=0\r\n"));
  std::u16string odd = u"c.page=7\nc.mono2color=-3\r\n\r\nc.history.3.name=C:\\Books\\a.cbz\r\n"
                       u"c.history.3.index=-2147483648\r\nc.history.19.index=99999999999\r\n"
                       u"c.history.25.name=past the last slot\r\nc.history.0.index=5\r\n=no key\r\nno value\r\n"
                       u"c.history.4.name=\r\nc.page=2\r\n";
  odd += u"c.history.5.name=" + std::u16string(1100, u'x') + u"\r\n";
  Write(to / "odd", Utf16Le(odd));
  Write(to / "empty", Utf16Le(u""));
  Write(to / "no-mark", "c.page=0\r\nc.mono2color=0\r\n");
}

// ---- archives ----

// A ustar archive of files and folders (names under 100 bytes).
std::string Tar(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out;
  for (const auto& [name, data] : entries) {
    std::string header(512, '\0');
    const bool folder = name.back() == '/';
    name.copy(header.data(), name.size());
    std::snprintf(header.data() + 100, 8, "%07o", folder ? 0755 : 0644);
    std::snprintf(header.data() + 108, 8, "%07o", 0);
    std::snprintf(header.data() + 116, 8, "%07o", 0);
    std::snprintf(header.data() + 124, 12, "%011o", static_cast<unsigned>(data.size()));
    std::snprintf(header.data() + 136, 12, "%011o", 0);
    header[156] = folder ? '5' : '0';
    std::memcpy(header.data() + 257, "ustar\0" "00", 8);
    std::memset(header.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : header) sum += c;
    std::snprintf(header.data() + 148, 8, "%06o", sum);
    out += header + data + std::string((512 - data.size() % 512) % 512, '\0');
  }
  return out + std::string(1024, '\0');
}

std::string SmallPng() {
  QImage page(4, 6, QImage::Format_RGB32);
  page.fill(qRgb(10, 120, 230));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  page.save(&buffer, "PNG");
  return bytes.toStdString();
}

// What the 7z command makes of a few files, or nothing without it.
std::string SevenZip(const char* type, const char* options) {
  const fs::path work = fs::temp_directory_path() / "velmora-seeds";
  fs::remove_all(work);
  fs::create_directories(work / "in" / "sub");
  std::ofstream(work / "in" / "p1.png", std::ios::binary) << SmallPng();
  std::ofstream(work / "in" / "sub" / "p2.txt") << "words, not a page\n";
  const std::string archive = (work / (std::string("out.") + type)).string();
  const std::string command = std::string("cd '") + (work / "in").string() + "' && 7z a -bd -t" + type + " " + options +
                              " '" + archive + "' . > /dev/null";
  std::string bytes = std::system(command.c_str()) == 0 ? ReadFile(archive) : std::string();
  fs::remove_all(work);
  return bytes;
}

void Archives(const fs::path& to) {
  const std::string png = SmallPng();
  Write(to / "stored.zip", test::ZipArchive({{"book/", ""}, {"book/p1.png", png}, {"book/notes.txt", "a note\n"},
                                              {"caf\xe9/p2.png", png}}));
  Write(to / "level0.lzh", test::LzhArchive({{"p1.png", png}, {"sub\\p2.txt", "text"}}));
  test::LzhEntry folder{"sub", "", 2, true};
  Write(to / "level2.lzh", test::LzhArchive({folder, {"sub/\x83\x79\x81\x5c.png", png, 2}}));
  Write(to / "stored.rar", test::RarArchive({{"p1.png", png}, {"sub\\p2.txt", "text"}}));
  test::RarEntry literal{"p1.png", png};
  literal.compressed = literal.literal = true;
  Write(to / "compressed.rar", test::RarArchive({literal, {"p2.txt", "text"}}));
  Write(to / "rar5.rar", test::Rar5Archive({{"sub", "", true}, {"sub/p1.png", png}, {"p2.txt", "text", false, false}}));
  test::RarEntry second{"p2.png", png};
  second.literal = true;
  Write(to / "solid-rar4.rar", test::RarArchive({literal, second}, true));
  Write(to / "solid-rar5.rar", test::Rar5Archive({{"p1.png", png}, {"p2.png", png}}, true));
  Write(to / "book.tar", Tar({{"book/", ""}, {"book/p1.png", png}, {"book/p2.txt", "text"}}));
  Write(to / "lzma.7z", SevenZip("7z", "-mx=5"));
  Write(to / "solid.7z", SevenZip("7z", "-mx=9 -ms=on"));
  Write(to / "deflated.zip", SevenZip("zip", "-mx=5"));
}

// ---- pages ----

std::string Encode(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format, quality)) return {};
  return bytes.toStdString();
}

// Colour gradients, so that lossy writers keep a little detail.
QImage Card(int w, int h, QImage::Format format) {
  QImage image(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgba(x * 37 % 256, y * 53 % 256, (x + y) * 11 % 256, 255 - x * 7));
  return image.convertToFormat(format);
}

// The JPEG with an Exif block whose first IFD holds only the orientation.
std::string WithOrientation(const std::string& jpeg, int orientation) {
  std::string app1("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
  app1 += static_cast<char>(orientation);
  app1 += std::string(7, '\0');
  const std::size_t length = app1.size() + 2;
  return jpeg.substr(0, 2) + std::string{'\xFF', '\xE1', static_cast<char>(length >> 8), static_cast<char>(length)} +
         app1 + jpeg.substr(2);
}

// A BMP run-length coded in one colour, declaring `width` x 13: a wide,
// nearly empty page.
std::string WideRleBmp(uint32_t width) {
  std::string bmp = "BM";
  test::PutLE(bmp, 59, 4);
  test::PutLE(bmp, 0, 4);
  test::PutLE(bmp, 58, 4);
  test::PutLE(bmp, 40, 4);
  test::PutLE(bmp, width, 4);
  test::PutLE(bmp, 13, 4);
  test::PutLE(bmp, 1, 2);
  test::PutLE(bmp, 8, 2);
  test::PutLE(bmp, 1, 4);  // RLE8
  test::PutLE(bmp, 1, 4);
  test::PutLE(bmp, 0, 8);
  test::PutLE(bmp, 1, 4);  // one colour
  test::PutLE(bmp, 0, 4);
  return bmp + std::string("\x30\x60\x90\x00\x00", 5);
}

void Pages(const fs::path& to) {
  Write(to / "rgb.png", Encode(Card(12, 9, QImage::Format_RGB32), "PNG"));
  Write(to / "alpha.png", Encode(Card(8, 8, QImage::Format_ARGB32), "PNG"));
  Write(to / "gray.png", Encode(Card(12, 9, QImage::Format_Grayscale8), "PNG"));
  Write(to / "deep.png", Encode(Card(6, 4, QImage::Format_RGBX64), "PNG"));
  Write(to / "palette.png", Encode(Card(12, 9, QImage::Format_RGB32).convertToFormat(QImage::Format_Indexed8), "PNG"));
  QImage mono(19, 7, QImage::Format_Mono);
  mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 19; ++x) mono.setPixel(x, y, (x + y) % 2);
  Write(to / "mono.png", Encode(mono, "PNG"));
  Write(to / "mono.bmp", Encode(mono, "BMP"));
  const std::string jpeg = Encode(Card(16, 8, QImage::Format_RGB32), "JPEG", 80);
  Write(to / "plain.jpg", jpeg);
  Write(to / "turned.jpg", WithOrientation(jpeg, 6));
  Write(to / "gray.jpg", Encode(Card(16, 16, QImage::Format_Grayscale8), "JPEG", 80));
  Write(to / "rgb.bmp", Encode(Card(7, 5, QImage::Format_RGB888), "BMP"));
  Write(to / "gray.bmp", Encode(Card(7, 5, QImage::Format_Grayscale8), "BMP"));
  Write(to / "wide-rle.bmp", WideRleBmp(40000));
  Write(to / "rgb.tif", Encode(Card(6, 5, QImage::Format_RGB32), "TIFF"));
  Write(to / "rgb.webp", Encode(Card(8, 8, QImage::Format_RGB32), "WEBP", 80));
  // Qt writes no GIF: a 2 x 1 one by hand, colours black and white.
  Write(to / "two.gif", std::string("GIF87a\x02\x00\x01\x00\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF,\x00\x00\x00\x00\x02"
                                    "\x00\x01\x00\x00\x02\x02\x44\x0A\x00;",
                                    35));
  const QImage small = Card(8, 6, QImage::Format_RGB888);
  Write(to / "rgb.avif", test::EncodeAvif({small}));
  Write(to / "gray.avif", test::EncodeAvif({Card(8, 6, QImage::Format_Grayscale8)}));
  test::PageOptions turned;
  turned.orientation = 6;
  Write(to / "turned.jxl", test::EncodeJxl({small}, turned));
  Write(to / "alpha.jxl", test::EncodeJxl({Card(6, 6, QImage::Format_RGBA8888)}));
  Write(to / "rgb.heic", test::EncodeHeif(small));
}

// ---- a book's own description ----

void ComicInfos(const fs::path& to) {
  Write(to / "usual.xml",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<ComicInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        "  <Title>The First</Title>\n  <Series>Tales</Series>\n  <Number>1</Number>\n  <Volume>2</Volume>\n"
        "  <Summary>Two friends &amp; a <![CDATA[<river>]]>.</Summary>\n  <Writer>\xe6\xb0\xb8\xe9\x81\xa0</Writer>\n"
        "  <Manga>YesAndRightToLeft</Manga>\n  <Pages>\n"
        "    <Page Image=\"0\" Type=\"FrontCover\" ImageWidth=\"800\" ImageHeight=\"1200\" />\n"
        "    <Page Image=\"1\" Type=\"Deleted\" />\n"
        "    <Page Image=\"2\" DoublePage=\"true\" ImageWidth=\"1600\" ImageHeight=\"1200\" />\n"
        "    <Page Image=\"3\" Type=\"Story\" ImageSize=\"1234\" />\n  </Pages>\n</ComicInfo>\n");
  Write(to / "odd.xml",
        "<ComicInfo><Manga> No </Manga><Title>a<b>b</b>c</Title><Pages><Page/><Page Image=\"-1\"/>"
        "<Page Image=\"7\" ImageWidth=\"wide\" ImageHeight=\"99999999999\" DoublePage=\"maybe\"/>"
        "<Page Image=\"7\" Type=\"Deleted\"/></Pages><!-- note --><?pi x?></ComicInfo>");
  Write(to / "doctype.xml",
        "<?xml version=\"1.0\"?><!DOCTYPE ComicInfo [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
        "<ComicInfo><Title>&b;</Title></ComicInfo>");
  Write(to / "utf16.xml", std::string("\xFF\xFE<\0C\0o\0m\0i\0c\0I\0n\0f\0o\0/\0>\0", 26));
}

// ---- a server's catalogue feeds ----

void OpdsFeeds(const fs::path& to) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\" "
      "xmlns:opds=\"http://opds-spec.org/2010/catalog\" xmlns:pse=\"http://vaemendis.net/opds-pse/ns\"";
  Write(to / "navigation.xml",
        head + ">\n  <id>urn:lib</id><title>Library</title><updated>2026-01-01T00:00:00Z</updated>\n"
               "  <link rel=\"self\" href=\"/opds/feed\" "
               "type=\"application/atom+xml;profile=opds-catalog;kind=navigation\"/>\n"
               "  <link rel=\"start\" href=\"/opds/feed\"/><link rel=\"search\" href=\"search.xml\" "
               "type=\"application/opensearchdescription+xml\"/>\n"
               "  <entry><id>urn:new</id><title>New</title><content type=\"text\">Latest books</content>"
               "<link rel=\"subsection\" href=\"new\" type=\"application/atom+xml;profile=opds-catalog\"/></entry>\n"
               "  <entry><id>urn:series</id><title>Series</title>"
               "<link href=\"series?page=0\" type=\"application/atom+xml;profile=opds-catalog;kind=navigation\"/>"
               "</entry>\n</feed>\n");
  Write(to / "acquisition.xml",
        head + ">\n  <id>urn:s7</id><title>Tales</title>\n"
               "  <link rel=\"next\" href=\"?page=1\"/><link rel=\"search\" href=\"search?q={searchTerms}\" "
               "type=\"application/atom+xml\"/>\n"
               "  <entry><id>urn:b1</id><title>Tales 1</title><author><name>A. Writer</name></author>"
               "<summary>Two friends &amp; a river.</summary>\n"
               "    <link rel=\"http://opds-spec.org/acquisition\" href=\"/b/1/file\" type=\"application/zip\"/>\n"
               "    <link rel=\"http://opds-spec.org/image\" href=\"/b/1/cover\" type=\"image/jpeg\"/>\n"
               "    <link rel=\"http://opds-spec.org/image/thumbnail\" href=\"/b/1/thumb\" type=\"image/jpeg\"/>\n"
               "    <link rel=\"http://vaemendis.net/opds-pse/stream\" type=\"image/jpeg\" "
               "href=\"/b/1/page/{pageNumber}?w={maxWidth}\" pse:count=\"24\" pse:lastRead=\"3\" "
               "pse:lastReadDate=\"2026-01-02T03:04:05Z\"/>\n  </entry>\n</feed>\n");
  Write(to / "relative.xml",
        head + " xml:base=\"http://mirror.example/cat/\">\n  <id>urn:r</id><title>Moved</title>\n"
               "  <link rel=\"up\" href=\"../\"/><link rel=\"first\" href=\"//cdn.example/f\"/>"
               "<link rel=\"last\" href=\"/l\"/><link rel=\"next\" href=\"javascript:alert(1)\"/>\n"
               "  <entry xml:base=\"sub/\"><id>urn:x</id><title>X</title>"
               "<link rel=\"subsection\" href=\"./a/../x\"/>"
               "<link rel=\"http://opds-spec.org/acquisition/buy\" href=\"file:///etc/passwd\"/>"
               "<link rel=\"http://vaemendis.net/opds-pse/stream\" href=\"p/{pageNumber}\" pse:count=\"many\"/>"
               "</entry>\n</feed>\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz-seeds <corpus folder>\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  for (const char* target : {"profile", "archive", "page", "comicinfo", "opds"})
    fs::create_directories(corpus / target);
  Profiles(corpus / "profile");
  Archives(corpus / "archive");
  Pages(corpus / "page");
  ComicInfos(corpus / "comicinfo");
  OpdsFeeds(corpus / "opds");
  return 0;
}
