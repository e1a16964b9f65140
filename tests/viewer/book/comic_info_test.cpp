// A book's ComicInfo.xml as one table of files, usual and hostile: what is
// read of each, or why the whole file is refused.
#include <gtest/gtest.h>

#include <string>

#include "viewer/book/ComicInfo.h"

namespace {

std::string Doc(const std::string& inside) { return "<?xml version=\"1.0\"?>\n<ComicInfo>" + inside + "</ComicInfo>"; }

std::string Nested(int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) open += "<a>", close += "</a>";
  return Doc(open + close);
}

const std::string kBomb =
    "<?xml version=\"1.0\"?><!DOCTYPE ComicInfo [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
    "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">]><ComicInfo><Title>&d;&d;&d;"
    "</Title></ComicInfo>";

struct Case {
  const char* what;
  std::string bytes;
  const char16_t* refused;  // nullptr: read
  ReadingDirection direction = ReadingDirection::Unknown;
  std::vector<ComicPage> pages = {};
};

using D = ReadingDirection;
using T = ComicPageType;

const Case kCases[] = {
    {"right to left", Doc("<Manga>YesAndRightToLeft</Manga>"), nullptr, D::RightToLeft},
    {"no manga reads left to right", Doc("<Manga> No </Manga>"), nullptr, D::LeftToRight},
    {"yes says no direction", Doc("<Manga>Yes</Manga>"), nullptr, D::Unknown},
    {"unknown value", Doc("<Manga>Sideways</Manga>"), nullptr, D::Unknown},
    {"Manga below another element is not the book's", Doc("<Notes><Manga>YesAndRightToLeft</Manga></Notes>"), nullptr},
    {"pages with types and sizes",
     Doc("<Pages><Page Image=\"0\" Type=\"FrontCover\" ImageWidth=\"800\" ImageHeight=\"1200\"/>"
         "<Page Image=\"3\" Type=\"Deleted\"/><Page Image=\"4\" DoublePage=\"true\"/><Page Image=\"5\" Type=\"Story\"/>"
         "</Pages>"),
     nullptr, D::Unknown,
     {{0, T::FrontCover, false, 800, 1200}, {3, T::Deleted}, {4, T::Other, true}, {5, T::Other}}},
    {"wrong sizes are passed over, the page kept",
     Doc("<Pages><Page Image=\"1\" ImageWidth=\"wide\" ImageHeight=\"9\"/><Page Image=\"2\" ImageWidth=\"-5\" "
         "ImageHeight=\"5\"/><Page Image=\"3\" ImageWidth=\"99999999999\" ImageHeight=\"5\"/>"
         "<Page Image=\"4\" ImageWidth=\"10\"/><Page Image=\"5\" DoublePage=\"maybe\"/></Pages>"),
     nullptr, D::Unknown, {{1}, {2}, {3}, {4}, {5}}},
    {"a page without a believable index is none",
     Doc("<Pages><Page Type=\"Deleted\"/><Page Image=\"-1\"/><Page Image=\"x\"/><Page Image=\"2\"/></Pages>"), nullptr,
     D::Unknown, {{2}}},
    {"DOCTYPE with an entity bomb", kBomb, u"DOCTYPE refused"},
    {"plain DOCTYPE", "<!DOCTYPE ComicInfo><ComicInfo/>", u"DOCTYPE refused"},
    {"undeclared entity", Doc("<Title>&x;</Title>"), u"not well formed"},
    {"over 1 MiB", Doc("<Summary>" + std::string(2 << 20, 'x') + "</Summary>"), u"too large"},
    {"100 deep", Nested(100), u"too deep"},
    {"14 deep is fine", Nested(14), nullptr},
    {"another root", "<Book><Manga>YesAndRightToLeft</Manga></Book>", u"no ComicInfo root"},
    {"cut short", "<ComicInfo><Title>A", u"cut short"},
    {"empty", "", u"cut short"},
    {"not XML", "\x89PNG\r\n", u"not well formed"},
};

TEST(ComicInfo, EachFileReadOrRefused) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::u16string why;
    const std::optional<ComicInfo> info = ParseComicInfo(c.bytes, &why);
    if (c.refused != nullptr) {
      EXPECT_FALSE(info);
      EXPECT_EQ(why, c.refused);
      continue;
    }
    ASSERT_TRUE(info) << std::string(why.begin(), why.end());
    EXPECT_EQ(info->direction, c.direction);
    EXPECT_EQ(info->pages, c.pages);
  }
}

TEST(ComicInfo, TextFieldsAreReadAndCapped) {
  const std::optional<ComicInfo> info = ParseComicInfo(
      Doc("<Series>S&amp;S</Series><Number>12</Number><Volume>3</Volume><Title><![CDATA[<T>]]></Title>"
          "<Writer>\xe6\xb0\xb8\xe9\x81\xa0</Writer><Summary>" + std::string(5000, 's') + "</Summary>"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->series, u"S&S");
  EXPECT_EQ(info->number, u"12");
  EXPECT_EQ(info->volume, u"3");
  EXPECT_EQ(info->title, u"<T>");
  EXPECT_EQ(info->writer, u"\u6c38\u9060");
  EXPECT_EQ(info->summary, std::u16string(kMaxComicInfoText, u's'));
}

TEST(ComicInfo, PagesPastTheCapArePassedOver) {
  std::string pages;
  for (int i = 0; i < 10010; ++i) pages += "<Page Image=\"" + std::to_string(i) + "\"/>";
  const std::optional<ComicInfo> info = ParseComicInfo(Doc("<Pages>" + pages + "</Pages>"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->pages.size(), kMaxComicInfoPages);
}

}  // namespace
