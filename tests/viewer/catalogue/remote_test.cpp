// A remote file over a server in memory that counts what it is asked,
// and the remote books' names, origins, credentials and remembered places.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "viewer/catalogue/PseBook.h"
#include "viewer/catalogue/RemoteBook.h"

namespace {

// Answers ranges of `bytes` as a server would, failing from request `failFrom` on.
struct FakeServer {
  std::string bytes;
  int failFrom = 1000;
  int asked = 0;
  HttpResponse operator()(const HttpRequest& request) {
    HttpResponse answer;
    if (++asked > failFrom || !request.range) return answer.error = HttpError::Timeout, answer;
    const auto first = static_cast<std::size_t>(request.range->first), last = static_cast<std::size_t>(request.range->last);
    answer.status = 206;
    answer.rangeHonoured = true;
    answer.totalSize = static_cast<std::int64_t>(bytes.size());
    answer.body = bytes.substr(first, last - first + 1);
    return answer;
  }
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

TEST(RemoteFile, ReadsWhatIsAskedAndFailsWhenTheServerDoes) {
  struct Case {
    std::uint64_t at;
    std::uint32_t size;
    int failFrom;
    std::int32_t status;
    std::uint32_t got;
  };
  const RemoteFileOptions options{.blockSize = 100, .keptBlocks = 3, .blocksAtOnce = 2};
  for (const Case& c : {Case{0, 50, 1000, 0, 50}, Case{950, 200, 1000, 0, 50}, Case{130, 500, 1000, 0, 500},
                        Case{250, 300, 2, 1, 150}, Case{1000, 10, 1000, 0, 0}}) {
    FakeServer server{Pattern(1000), c.failFrom};
    const RemoteOpening opening = OpenRemoteFile({u"http://h/b.cbz", {}}, std::ref(server), options);
    ASSERT_TRUE(opening.file);
    std::string read(c.size, '\0');
    uint32_t got = 99;
    ASSERT_EQ(opening.file->Seek(static_cast<int64_t>(c.at), 0, nullptr), 0);
    EXPECT_EQ(opening.file->Read(read.data(), c.size, &got), c.status) << c.at;
    EXPECT_EQ(got, c.got) << c.at;
    EXPECT_EQ(read.substr(0, got), server.bytes.substr(c.at, got)) << c.at;
    // Never more than the blocks the read touches, and the probe's.
    EXPECT_LE(opening.count->bytes.load(), 100 + (c.got + 199) / 100 * 100) << c.at;
  }
}

TEST(RemoteFile, ABlockReadAgainComesFromTheCache) {
  FakeServer server{Pattern(1000)};
  const RemoteOpening opening =
      OpenRemoteFile({u"http://h/b.cbz", {}}, std::ref(server), {.blockSize = 100, .keptBlocks = 3});
  char byte = 0;
  for (const int64_t at : {0, 850, 10, 860, 990, 5}) {
    opening.file->Seek(at, 0, nullptr);
    opening.file->Read(&byte, 1, nullptr);
  }
  EXPECT_EQ(server.asked, 3);  // the probe's block, then 800-899 and 900-999
}

TEST(RemoteBook, NamesOriginsAndPlaces) {
  EXPECT_EQ(RemoteBookName(u"https://h/lib/My%20Book.cbz?x=1"), u"My Book.cbz");
  EXPECT_EQ(RemoteBookName(u"https://h"), u"https://h");
  EXPECT_EQ(RemoteBookName(u"https://h/%E6%B0%B8%e9%81%a0/\U0001F4D6%2B.cbz#x"), u"\U0001F4D6+.cbz");
  EXPECT_TRUE(SameWebOrigin(u"HTTPS://Host/a", u"https://host:443/b"));
  EXPECT_FALSE(SameWebOrigin(u"https://host/a", u"http://host/a"));
  EXPECT_FALSE(SameWebOrigin(u"https://host/a", u"https://host.evil/a"));
  std::vector<RemotePlace> places;
  for (int i = 0; i < 25; ++i) NoteRemotePlace(places, {u"https://h/" + std::u16string(1, u'a' + i), i, u"/p.png"});
  NoteRemotePlace(places, {u"https://h/f", 7, u"/x\ty.png"});
  ASSERT_EQ(places.size(), kMaxRemotePlaces);
  EXPECT_EQ(places.back(), (RemotePlace{u"https://h/f", 7, u""}));
  std::vector<std::u16string> records = RecordsOfRemotePlaces(places);
  records.push_back(u"not a place");
  records.push_back(u"file:///etc/passwd\t1\t");
  EXPECT_EQ(RemotePlacesFromRecords(records), places);
}

// Records as the settings file keeps them, those written before streamed
// books were kept whole among them: what each reads as, and what is
// written back.
TEST(RemoteBook, PlacesReadFromTheirRecordsAndBack) {
  struct Case {
    std::u16string record;
    std::optional<RemotePlace> place;  // none: dropped
    std::u16string again;              // empty: the record itself
  };
  const std::u16string stream = u"https://h/p/{pageNumber}?w={maxWidth}";
  const Case cases[] = {
      {u"https://h/a.cbz\t3\t/p4.png", RemotePlace{u"https://h/a.cbz", 3, u"/p4.png"}, {}},
      {u"https://h/get/cbz/2/lib\t1\t/02.png\tBeta Book",
       RemotePlace{u"https://h/get/cbz/2/lib", 1, u"/02.png", 0, u"Beta Book"}, {}},
      {u"https://h/get/cbz/2/lib\t1\t/02.png\t", RemotePlace{u"https://h/get/cbz/2/lib", 1, u"/02.png"},
       u"https://h/get/cbz/2/lib\t1\t/02.png"},
      {stream + u"\t2\t/000003\t12\t\u6c38\u9060", RemotePlace{stream, 2, u"/000003", 12, u"\u6c38\u9060"}, {}},
      {stream + u"\t0\t/000001\t5\t", RemotePlace{stream, 0, u"/000001", 5, u""}, {}},
      {stream + u"\t1\t/000002\t5\tA\tB", RemotePlace{stream, 1, u"/000002", 5, u"A B"},
       stream + u"\t1\t/000002\t5\tA B"},
      {stream + u"\t1\t/000002\t0\tNo pages", std::nullopt, {}},
      {stream + u"\t1\t/000002\t100001\tToo many", std::nullopt, {}},
      {stream + u"\t1\t/000002\t5", std::nullopt, {}},
  };
  for (const Case& c : cases) {
    const std::vector<RemotePlace> read = RemotePlacesFromRecords({c.record});
    const std::string shown(c.record.begin(), c.record.end());
    ASSERT_EQ(read.size(), c.place ? 1u : 0u) << shown;
    if (!c.place) continue;
    EXPECT_EQ(read.front(), *c.place) << shown;
    EXPECT_EQ(RecordsOfRemotePlaces(read), std::vector{c.again.empty() ? c.record : c.again}) << shown;
  }
}

// Whose password goes with an address: a catalogue with a user name on its
// very origin, the one sharing the longest path with it among several.
TEST(RemoteBook, AnAddressTakesTheCredentialsOfItsOriginsCatalogue) {
  const std::vector<Catalogue> kept = {{u"calibre", u"http://h:8080/opds", u"ann"},
                                       {u"All of Komga", u"https://k.example/opds", u"bob"},
                                       {u"Komga", u"https://k.example/opds/v1.2/catalog", u"cy"},
                                       {u"Public", u"https://k.example/opds/v1.2/catalog/public", u""}};
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"http://h:8080/get/cbz/1/lib", u"calibre"},
      {u"http://h:8081/opds", nullptr},  // another port
      {u"https://h:8080/opds", nullptr},  // another scheme
      {u"http://h/opds", nullptr},       // port 80
      {u"https://k.example/opds/v1.2/books/7/file", u"Komga"},
      {u"https://k.example:443/opds/v1.2/catalog/public/x", u"Komga"},  // the one without a user name sends none
      {u"https://k.example/opds/books/7", u"All of Komga"},
      {u"https://k.example/api/v1/books/7/file", u"All of Komga"},  // none shares a path: the first
      {u"https://k.example@evil.example/opds/v1.2/catalog", nullptr},
  };
  for (const auto& [url, name] : cases) {
    const Catalogue* found = CatalogueOfAddress(kept, url);
    const std::u16string expected = name == nullptr ? u"none" : name;
    EXPECT_EQ(found == nullptr ? std::u16string(u"none") : found->name, expected)
        << std::string(url, url + std::char_traits<char16_t>::length(url));
  }
}

TEST(StreamedPages, EachNameFetchesItsPageAtTheWidthGiven) {
  std::vector<std::u16string> asked;
  const BlockingFetch fetch = [&asked](const HttpRequest& request) {
    asked.push_back(request.url);
    HttpResponse answer;
    if (request.url.find(u"/p/2?") != std::u16string::npos) return answer.error = HttpError::Status, answer;
    answer.body = "bytes of " + std::string(request.url.begin(), request.url.end());
    return answer;
  };
  ComRef<IDirectory> pages;
  const PseStream stream{u"https://h/p/{pageNumber}?w={maxWidth}", 12, std::nullopt, u""};
  ASSERT_EQ(OpenStreamedPages(stream, std::nullopt, fetch, 1600, &pages), 0);
  ComRef<IFileSystemEntries> list;
  uint32_t count = 0;
  FileSystemEntry last{};
  ASSERT_EQ(pages->GetEntries(u"/", &list), 0);
  list->GetCount(&count);
  list->GetEntry(11, &last);
  EXPECT_EQ(count, 12u);
  EXPECT_EQ(std::u16string(last.name), u"000012");
  for (const auto& [name, opens] : {std::pair{u"/000001", true}, {u"/000012", true}, {u"/000003", false},
                                    {u"/000013", false}, {u"/000000", false}, {u"/00001", false}}) {
    ComRef<IFile> page;
    EXPECT_EQ(pages->OpenFile(&page, name, nullptr) == 0, opens) << std::string(name, name + 7);
  }
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"https://h/p/0?w=1600", u"https://h/p/11?w=1600", u"https://h/p/2?w=1600"}));
  EXPECT_NE(OpenStreamedPages(PseStream{u"https://h/{pageNumber}", 0, std::nullopt, u""}, std::nullopt, fetch, 1, &pages), 0);
}

}  // namespace
