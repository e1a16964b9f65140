// References resolved against a base: RFC 3986's examples (section 5.4),
// and which URLs a catalogue's link may lead to.
#include <gtest/gtest.h>

#include "viewer/catalogue/Url.h"

namespace {

struct Resolved {
  const char16_t* reference;
  const char16_t* expected;
};

const Resolved kRfcCases[] = {
    {u"g:h", u"g:h"}, {u"g", u"http://a/b/c/g"}, {u"./g", u"http://a/b/c/g"}, {u"g/", u"http://a/b/c/g/"},
    {u"/g", u"http://a/g"}, {u"//g", u"http://g"}, {u"?y", u"http://a/b/c/d;p?y"}, {u"g?y", u"http://a/b/c/g?y"},
    {u"#s", u"http://a/b/c/d;p?q#s"}, {u"g#s", u"http://a/b/c/g#s"}, {u"g?y#s", u"http://a/b/c/g?y#s"},
    {u";x", u"http://a/b/c/;x"}, {u"g;x", u"http://a/b/c/g;x"}, {u"g;x?y#s", u"http://a/b/c/g;x?y#s"},
    {u"", u"http://a/b/c/d;p?q"}, {u".", u"http://a/b/c/"}, {u"./", u"http://a/b/c/"}, {u"..", u"http://a/b/"},
    {u"../", u"http://a/b/"}, {u"../g", u"http://a/b/g"}, {u"../..", u"http://a/"}, {u"../../", u"http://a/"},
    {u"../../g", u"http://a/g"},
    // Abnormal ones (5.4.2).
    {u"../../../g", u"http://a/g"}, {u"../../../../g", u"http://a/g"}, {u"/./g", u"http://a/g"},
    {u"/../g", u"http://a/g"}, {u"g.", u"http://a/b/c/g."}, {u".g", u"http://a/b/c/.g"},
    {u"g..", u"http://a/b/c/g.."}, {u"..g", u"http://a/b/c/..g"}, {u"./../g", u"http://a/b/g"},
    {u"./g/.", u"http://a/b/c/g/"}, {u"g/./h", u"http://a/b/c/g/h"}, {u"g/../h", u"http://a/b/c/h"},
    {u"g;x=1/./y", u"http://a/b/c/g;x=1/y"}, {u"g;x=1/../y", u"http://a/b/c/y"}, {u"g?y/./x", u"http://a/b/c/g?y/./x"},
    {u"g?y/../x", u"http://a/b/c/g?y/../x"}, {u"g#s/./x", u"http://a/b/c/g#s/./x"},
    {u"g#s/../x", u"http://a/b/c/g#s/../x"}, {u"http:g", u"http:g"},
    // Ours: whitespace around an attribute's value, a template's braces.
    {u"  g\n", u"http://a/b/c/g"}, {u"p/{pageNumber}?w={maxWidth}", u"http://a/b/c/p/{pageNumber}?w={maxWidth}"},
};

TEST(ResolveUrl, RfcExamples) {
  for (std::size_t i = 0; i < std::size(kRfcCases); ++i)
    EXPECT_EQ(ResolveUrl(u"http://a/b/c/d;p?q", kRfcCases[i].reference), kRfcCases[i].expected) << "case " << i;
}

TEST(ResolveUrl, RefusesWhatItCannotResolve) {
  EXPECT_EQ(ResolveUrl(u"/relative/base", u"g"), u"");
  EXPECT_EQ(ResolveUrl(u"http://a/", std::u16string(kMaxUrlLength + 1, u'g')), u"");
  EXPECT_EQ(ResolveUrl(u"http://a/" + std::u16string(kMaxUrlLength - 12, u'b') + u"/", u"ggg"), u"");
}

TEST(IsWebUrl, OnlyHttpWithAHost) {
  const std::pair<const char16_t*, bool> cases[] = {
      {u"http://a/b", true},     {u"HTTPS://a", true},           {u"javascript:alert(1)", false},
      {u"file:///etc/passwd", false}, {u"data:text/html,x", false}, {u"http:/no-host", false},
      {u"http:///x", false},     {u"//a/b", false},              {u"ftp://a/b", false},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(IsWebUrl(cases[i].first), cases[i].second) << "case " << i;
}

}  // namespace
