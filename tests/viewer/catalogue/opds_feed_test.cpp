// Catalogue feeds made up here in the usual shapes, and hostile ones: what
// is read of each, or why the whole feed is refused.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "viewer/catalogue/OpdsFeed.h"

namespace {

constexpr char16_t kUrl[] = u"https://books.example/opds/v1/libraries/3/feed?page=2";

// A feed with Atom as the default namespace and the stream's bound to "pse".
std::string Feed(const std::string& inside, const std::string& attributes = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\" "
         "xmlns:pse=\"http://vaemendis.net/opds-pse/ns\" xmlns:opds=\"http://opds-spec.org/2010/catalog\"" +
         attributes + ">\n<id>urn:feed</id><title> Library </title>\n" + inside + "</feed>\n";
}

std::string Link(const std::string& rel, const std::string& href, const std::string& more = "") {
  return "<link rel=\"" + rel + "\" href=\"" + href + "\" " + more + "/>";
}

std::string Entry(const std::string& inside) { return "<entry><id>urn:e</id><title>Book</title>" + inside + "</entry>"; }

const std::string kNavigationType = "type=\"application/atom+xml;profile=opds-catalog;kind=navigation\"";
const std::string kStream = "http://vaemendis.net/opds-pse/stream";

struct Case {
  const char* what;
  std::string bytes;
  const char16_t* refused;  // nullptr: read, and `check` says what of it
  std::function<void(const OpdsFeed&)> check = nullptr;
};

const Case kCases[] = {
    {"navigation feed",
     Feed(Link("self", "/opds/v1", kNavigationType) + Link("search", "/opds/v1/search.xml",
                                                           "type=\"application/opensearchdescription+xml\"") +
          Entry(Link("subsection", "series/7") + "<content type=\"text\">All of it</content>") +
          Entry(Link("alternate", "libraries/4", kNavigationType))),
     nullptr,
     [](const OpdsFeed& feed) {
       EXPECT_EQ(feed.title, u"Library");
       EXPECT_EQ(feed.kind, OpdsFeedKind::Navigation);
       EXPECT_EQ(feed.links.search, u"https://books.example/opds/v1/search.xml");
       EXPECT_FALSE(feed.links.searchIsTemplate);
       ASSERT_EQ(feed.entries.size(), 2u);
       EXPECT_EQ(feed.entries[0].navigation->href, u"https://books.example/opds/v1/libraries/3/series/7");
       EXPECT_EQ(feed.entries[0].summary, u"All of it");
       EXPECT_EQ(feed.entries[1].navigation->href, u"https://books.example/opds/v1/libraries/3/libraries/4");
     }},
    {"acquisition feed with a page stream",
     Feed(Link("search", "s?q={searchTerms}", "type=\"application/atom+xml\"") +
          Entry("<author><name> Ann </name></author><author><name>Bo</name></author><summary>S</summary>" +
                Link("http://opds-spec.org/acquisition/open-access", "/b/1/file", "type=\"application/zip\"") +
                Link("http://opds-spec.org/image", "/b/1/cover") +
                Link("http://opds-spec.org/image/thumbnail", "/b/1/thumb") +
                Link(kStream, "/b/1/page/{pageNumber}?w={maxWidth}",
                     "pse:count=\"42\" pse:lastRead=\"7\" pse:lastReadDate=\"2026-01-02T03:04:05Z\""))),
     nullptr,
     [](const OpdsFeed& feed) {
       EXPECT_EQ(feed.kind, OpdsFeedKind::Acquisition);  // from its entries: the self link says nothing
       EXPECT_EQ(feed.links.search, u"https://books.example/opds/v1/libraries/3/s?q={searchTerms}");
       EXPECT_TRUE(feed.links.searchIsTemplate);
       const OpdsEntry& entry = feed.entries.at(0);
       EXPECT_EQ(entry.authors, (std::vector<std::u16string>{u"Ann", u"Bo"}));
       EXPECT_EQ(entry.acquisitions, (std::vector<OpdsLink>{{u"http://opds-spec.org/acquisition/open-access",
                                                             u"application/zip", u"https://books.example/b/1/file", u""}}));
       EXPECT_EQ(entry.cover->href, u"https://books.example/b/1/cover");
       EXPECT_EQ(entry.thumbnail->href, u"https://books.example/b/1/thumb");
       EXPECT_EQ(entry.stream, (PseStream{u"https://books.example/b/1/page/{pageNumber}?w={maxWidth}", 42, 7,
                                          u"2026-01-02T03:04:05Z"}));
       EXPECT_EQ(PageUrl(*entry.stream, 0, 800), u"https://books.example/b/1/page/0?w=800");
     }},
    {"relative links of every kind",
     Feed(Link("next", "?page=3") + Link("previous", "feed?page=1") + Link("up", "../") + Link("start", "/opds") +
          Link("first", "//cdn.example/f") + Link("last", "http://other.example/l")),
     nullptr,
     [](const OpdsFeed& feed) {
       const OpdsFeedLinks& l = feed.links;
       EXPECT_EQ((std::vector{l.next, l.previous, l.up, l.start, l.first, l.last}),
                 (std::vector<std::u16string>{u"https://books.example/opds/v1/libraries/3/feed?page=3",
                                              u"https://books.example/opds/v1/libraries/3/feed?page=1",
                                              u"https://books.example/opds/v1/libraries/", u"https://books.example/opds",
                                              u"https://cdn.example/f", u"http://other.example/l"}));
     }},
    {"xml:base on the feed, an entry, a link",
     Feed(Link("next", "n") + "<entry xml:base=\"sub/\">" + Link("subsection", "x") + "</entry>" +
              Entry(Link("subsection", "y", "xml:base=\"/z/\"")),
          " xml:base=\"http://mirror.example/cat/\""),
     nullptr,
     [](const OpdsFeed& feed) {
       EXPECT_EQ(feed.links.next, u"http://mirror.example/cat/n");
       EXPECT_EQ(feed.entries.at(0).navigation->href, u"http://mirror.example/cat/sub/x");
       EXPECT_EQ(feed.entries.at(1).navigation->href, u"http://mirror.example/z/y");
     }},
    {"namespaces by URI, not prefix",
     "<a:feed xmlns:a=\"http://www.w3.org/2005/Atom\" xmlns:p=\"http://vaemendis.net/opds-pse/ns\">"
     "<a:title>Real</a:title><title xmlns=\"urn:other\">decoy</title><a:entry><a:link rel=\"" +
         kStream + "\" href=\"/p/{pageNumber}\" p:count=\"3\" pse:count=\"9\" xmlns:pse=\"urn:other\"/></a:entry></a:feed>",
     nullptr,
     [](const OpdsFeed& feed) {
       EXPECT_EQ(feed.title, u"Real");
       EXPECT_EQ(feed.entries.at(0).stream->count, 3);
     }},
    {"a feed of another namespace", "<feed xmlns=\"urn:not-atom\"/>", u"no Atom feed"},
    {"DOCTYPE", "<!DOCTYPE feed [<!ENTITY a \"a\">]>" + Feed(""), u"DOCTYPE refused"},
    {"9 MiB", Feed("<!--" + std::string(9 << 20, 'x') + "-->"), u"too large"},
    {"6000 entries",
     [] {
       std::string entries;
       for (int i = 0; i < 6000; ++i) entries += Entry("");
       return Feed(entries);
     }(),
     nullptr, [](const OpdsFeed& feed) { EXPECT_EQ(feed.entries.size(), kMaxOpdsEntries); }},
    {"links past the budget of resolving them",
     Feed([] {
       std::string entries;
       for (int i = 0; i < 2100; ++i) entries += Entry(Link("subsection", "b"));
       return entries;
     }(), " xml:base=\"http://a/" + std::string(8000, 'a') + "/\""),
     nullptr,
     [](const OpdsFeed& feed) { EXPECT_TRUE(feed.entries.front().navigation && !feed.entries.back().navigation); }},
    {"hrefs that lead nowhere a reader may go, and streams of no believable length",
     Feed(Link("next", "javascript:alert(1)") +
          Entry(Link("subsection", "data:text/html,x") + Link("http://opds-spec.org/acquisition", "file:///etc/passwd") +
                Link(kStream, "/p/{pageNumber}", "pse:count=\"many\"")) +
          Entry(Link(kStream, "/p/{pageNumber}", "pse:count=\"100001\"")) +
          Entry(Link(kStream, "/p/{pageNumber}", "pse:count=\"5\" pse:lastRead=\"6\""))),
     nullptr,
     [](const OpdsFeed& feed) {
       EXPECT_EQ(feed.links.next, u"");
       ASSERT_EQ(feed.entries.size(), 3u);
       EXPECT_TRUE(!feed.entries[0].navigation && feed.entries[0].acquisitions.empty() && !feed.entries[0].stream);
       EXPECT_FALSE(feed.entries[1].stream);
       EXPECT_EQ(feed.entries[2].stream, (PseStream{u"https://books.example/p/{pageNumber}", 5, std::nullopt, u""}));
     }},
};

TEST(OpdsFeed, Cases) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::u16string why;
    const std::optional<OpdsFeed> feed = ParseOpdsFeed(c.bytes, kUrl, &why);
    if (c.refused != nullptr) {
      EXPECT_FALSE(feed);
      EXPECT_EQ(why, c.refused);
    } else {
      ASSERT_TRUE(feed) << std::string(why.begin(), why.end());
      c.check(*feed);
    }
  }
}

TEST(OpdsFeed, RefusesAFeedUrlThatIsNoWebUrl) { EXPECT_FALSE(ParseOpdsFeed(Feed(""), u"file:///tmp/feed.xml")); }

TEST(PageUrl, Substitutes) {
  const struct {
    const char16_t* hrefTemplate;
    int32_t page, width;
    const char16_t* expected;
  } cases[] = {
      {u"http://a/p/{pageNumber}", 0, 800, u"http://a/p/0"},
      {u"http://a/p?n={pageNumber}&w={maxWidth}", 41, 1200, u"http://a/p?n=41&w=1200"},
      {u"http://a/{pageNumber}/{pageNumber}", 3, 1, u"http://a/3/3"},
      {u"http://a/p", 5, 800, u"http://a/p"},
  };
  for (const auto& c : cases) EXPECT_EQ(PageUrl(PseStream{c.hrefTemplate, 100, {}, {}}, c.page, c.width), c.expected);
}

}  // namespace
