// Where the browser's moves lead, how a search address is made, and which
// link of an entry is a book the viewer opens.
#include <gtest/gtest.h>

#include <string>

#include "viewer/catalogue/CatalogueBrowsing.h"

namespace {

OpdsLink Link(std::u16string rel, std::u16string type, std::u16string href) {
  return OpdsLink{std::move(rel), std::move(type), std::move(href), {}};
}

TEST(CatalogueBrowsing, MovesFollowTheFeedsLinksAndBackRetraces) {
  CatalogueBrowsing browsing(u"https://h/opds");
  EXPECT_EQ(browsing.Target(BrowseMove::Start), u"");  // already there
  EXPECT_FALSE(browsing.Go(BrowseMove::Next));         // no feed yet
  EXPECT_FALSE(browsing.Open(u"javascript:alert(1)"));
  ASSERT_TRUE(browsing.Open(u"https://h/opds/all"));
  OpdsFeed feed;
  feed.links.next = u"https://h/opds/all?page=2";
  feed.links.up = u"https://h/opds";
  feed.links.previous = u"https://h/opds/all";  // itself: leads nowhere
  browsing.Arrived(feed);
  EXPECT_EQ(browsing.Target(BrowseMove::Previous), u"");
  EXPECT_EQ(browsing.Target(BrowseMove::Start), u"https://h/opds");
  ASSERT_TRUE(browsing.Go(BrowseMove::Next));
  EXPECT_EQ(browsing.Url(), u"https://h/opds/all?page=2");
  EXPECT_FALSE(browsing.Feed());
  ASSERT_TRUE(browsing.Go(BrowseMove::Back));
  ASSERT_TRUE(browsing.Go(BrowseMove::Back));
  EXPECT_EQ(browsing.Url(), u"https://h/opds");
  EXPECT_FALSE(browsing.Go(BrowseMove::Back));
}

TEST(CatalogueBrowsing, BackIsBounded) {
  CatalogueBrowsing browsing(u"https://h/0");
  for (int i = 1; i <= 150; ++i) browsing.Open(u"https://h/" + std::u16string(1, char16_t(u'0' + i % 10)));
  EXPECT_EQ(browsing.BackDepth(), kMaxBrowsingDepth);
}

TEST(CatalogueBrowsing, SearchTemplatesAreFilled) {
  const struct {
    const char16_t *templ, *terms, *url;
  } cases[] = {
      {u"https://h/s/{searchTerms}?l=1", u"  Alpha Book ", u"https://h/s/Alpha%20Book?l=1"},
      {u"https://h/s?q={searchTerms}", u"é&a=b/~", u"https://h/s?q=%C3%A9%26a%3Db%2F~"},
      {u"https://h/s?q={searchTerms}&p={startPage?}&c={count?}", u"x", u"https://h/s?q=x&p=&c="},
      {u"https://h/s?q={searchTerms}&p={startPage}&e={inputEncoding}", u"x", u"https://h/s?q=x&p=1&e=UTF-8"},
      {u"https://h/s?q={searchTerms}&a={atom:author}", u"x", u""},  // required and unknown
      {u"https://h/s?q={searchTerms}", u"  ", u""},
      {u"{searchTerms}", u"https://evil/", u""},  // the terms never make an address
  };
  for (const auto& c : cases) EXPECT_EQ(FillSearchTemplate(c.templ, c.terms), c.url) << "case " << &c - cases;
}

TEST(CatalogueBrowsing, OpenSearchDescriptionGivesTheAtomTemplate) {
  const std::string head = R"(<?xml version="1.0"?><OpenSearchDescription xmlns="http://a9.com/-/spec/opensearch/1.1/">)";
  const struct {
    std::string body;
    const char16_t* url;
  } cases[] = {
      {head + R"(<Url type="text/html" template="/html?q={searchTerms}"/>)"
              R"(<Url type="application/atom+xml;profile=opds-catalog" template="find?q={searchTerms}&amp;p={startPage?}"/>)"
              "</OpenSearchDescription>",
       u"https://h/opds/find?q={searchTerms}&p={startPage?}"},
      {head + R"(<Url type="application/atom+xml" template="/find"/></OpenSearchDescription>)", u""},
      {R"(<feed xmlns="http://www.w3.org/2005/Atom"/>)", u""},
      {head + "<Url", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseOpenSearchDescription(c.body, u"https://h/opds/search.xml"), c.url) << c.body;
}

TEST(CatalogueBrowsing, BooksAreComicArchivesToAcquire) {
  const std::u16string acquire = u"http://opds-spec.org/acquisition";
  const struct {
    std::vector<OpdsLink> links;
    const char16_t* chosen;  // the href, or empty for no book
    const char16_t* extension;
  } cases[] = {
      {{Link(acquire, u"application/x-cbz", u"https://h/get/cbz/1")}, u"https://h/get/cbz/1", u".cbz"},
      {{Link(acquire, u"application/epub+zip", u"https://h/b.epub"),
        Link(acquire + u"/open-access", u"application/vnd.comicbook-rar", u"https://h/b")},
       u"https://h/b", u".cbr"},
      {{Link(acquire, u"application/octet-stream", u"https://h/B.CB7?x=1")}, u"https://h/B.CB7?x=1", u".cb7"},
      {{Link(acquire, u"", u"https://h/b.zip#f")}, u"https://h/b.zip#f", u".cbz"},
      {{Link(acquire, u"application/pdf", u"https://h/b.cbz")}, u"", u""},  // the type wins
      {{Link(acquire + u"/buy", u"application/zip", u"https://h/b")}, u"", u""},
      {{Link(acquire, u"", u"https://h/.cbz")}, u"", u""},
  };
  for (const auto& c : cases) {
    OpdsEntry entry;
    entry.id = u"urn:1";
    entry.acquisitions = c.links;
    const auto link = BookLink(entry);
    EXPECT_EQ(link ? link->href : u"", c.chosen) << "case " << &c - cases;
    if (link) {
      EXPECT_TRUE(BookFileName(entry, *link).ends_with(c.extension));
      OpdsEntry other = entry;  // another entry at the same address is another book
      other.id = u"urn:2";
      EXPECT_NE(BookFileName(entry, *link), BookFileName(other, *link));
    }
  }
}

}  // namespace
