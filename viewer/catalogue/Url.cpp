#include "viewer/catalogue/Url.h"

#include <optional>

namespace {

struct UrlParts {
  std::optional<std::u16string_view> scheme, authority, query, fragment;
  std::u16string_view path;
};

bool IsAlpha(char16_t unit) { return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z'); }

bool IsSpace(char16_t unit) { return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n'; }

// A scheme is a letter then letters, digits, "+", "-" or "."; anything else
// before the first ":" makes that colon part of a relative path.
std::optional<std::u16string_view> SchemeOf(std::u16string_view url) {
  const std::size_t colon = url.find(u':');
  if (colon == std::u16string_view::npos || colon == 0 || !IsAlpha(url[0])) return std::nullopt;
  for (std::size_t i = 1; i < colon; ++i) {
    const char16_t unit = url[i];
    if (!IsAlpha(unit) && !(unit >= u'0' && unit <= u'9') && unit != u'+' && unit != u'-' && unit != u'.')
      return std::nullopt;
  }
  return url.substr(0, colon);
}

// The five components (the appendix B expression, by hand).
UrlParts Split(std::u16string_view url) {
  UrlParts parts;
  if ((parts.scheme = SchemeOf(url))) url.remove_prefix(parts.scheme->size() + 1);
  if (const std::size_t hash = url.find(u'#'); hash != std::u16string_view::npos) {
    parts.fragment = url.substr(hash + 1);
    url = url.substr(0, hash);
  }
  if (const std::size_t mark = url.find(u'?'); mark != std::u16string_view::npos) {
    parts.query = url.substr(mark + 1);
    url = url.substr(0, mark);
  }
  if (url.starts_with(u"//")) {
    const std::size_t slash = url.find(u'/', 2);
    parts.authority = url.substr(2, slash == std::u16string_view::npos ? url.size() - 2 : slash - 2);
    url = slash == std::u16string_view::npos ? std::u16string_view() : url.substr(slash);
  }
  parts.path = url;
  return parts;
}

// Section 5.2.4. `in` only ever shrinks from its front, and a segment taken
// off `out` is one put there: linear in the path's length. Between dot
// segments the path is copied in one piece, not a segment at a time: a base
// of thousands of segments is resolved against for every link of a feed.
std::u16string RemoveDotSegments(std::u16string_view in) {
  std::u16string out;
  auto dropLast = [&out] {
    const std::size_t slash = out.rfind(u'/');
    out.erase(slash == std::u16string::npos ? 0 : slash);
  };
  while (!in.empty()) {
    if (in.starts_with(u"../")) {
      in.remove_prefix(3);
    } else if (in.starts_with(u"./")) {
      in.remove_prefix(2);
    } else if (in.starts_with(u"/./")) {
      in.remove_prefix(2);
    } else if (in == u"/.") {
      in = u"/";
    } else if (in.starts_with(u"/../")) {
      in.remove_prefix(3);
      dropLast();
    } else if (in == u"/..") {
      in = u"/";
      dropLast();
    } else if (in == u"." || in == u"..") {
      in = {};
    } else {
      // Up to the next "/." that may begin a dot segment; what comes first
      // holds none.
      const std::size_t end = in.find(u"/.", 1);
      const std::size_t length = end == std::u16string_view::npos ? in.size() : end;
      out.append(in.substr(0, length));
      in.remove_prefix(length);
    }
  }
  return out;
}

// Section 5.2.3.
std::u16string Merge(const UrlParts& base, std::u16string_view path) {
  if (base.authority && base.path.empty()) return u"/" + std::u16string(path);
  const std::size_t slash = base.path.rfind(u'/');
  std::u16string merged(slash == std::u16string_view::npos ? std::u16string_view() : base.path.substr(0, slash + 1));
  return merged.append(path);
}

}  // namespace

std::u16string ResolveUrl(std::u16string_view base, std::u16string_view reference) {
  while (!reference.empty() && IsSpace(reference.front())) reference.remove_prefix(1);
  while (!reference.empty() && IsSpace(reference.back())) reference.remove_suffix(1);
  if (base.size() > kMaxUrlLength || reference.size() > kMaxUrlLength) return {};
  const UrlParts b = Split(base), r = Split(reference);
  if (!b.scheme) return {};
  // Section 5.2.2, strict: a reference's own scheme is always its own.
  UrlParts t;
  std::u16string path;
  if (r.scheme) {
    t.scheme = r.scheme, t.authority = r.authority, t.query = r.query;
    path = RemoveDotSegments(r.path);
  } else {
    t.scheme = b.scheme;
    if (r.authority) {
      t.authority = r.authority, t.query = r.query;
      path = RemoveDotSegments(r.path);
    } else {
      t.authority = b.authority;
      if (r.path.empty()) {
        path = b.path;
        t.query = r.query ? r.query : b.query;
      } else {
        path = RemoveDotSegments(r.path.starts_with(u'/') ? std::u16string(r.path) : Merge(b, r.path));
        t.query = r.query;
      }
    }
  }
  t.fragment = r.fragment;
  // Section 5.3.
  std::u16string url(*t.scheme);
  url += u':';
  if (t.authority) url.append(u"//").append(*t.authority);
  url += path;
  if (t.query) url.append(u"?").append(*t.query);
  if (t.fragment) url.append(u"#").append(*t.fragment);
  return url.size() > kMaxUrlLength ? std::u16string() : url;
}

bool IsWebUrl(std::u16string_view url) {
  if (url.size() > kMaxUrlLength) return false;
  const UrlParts parts = Split(url);
  if (!parts.scheme || !parts.authority || parts.authority->empty()) return false;
  const std::u16string scheme = AsciiLower(*parts.scheme);
  return scheme == u"http" || scheme == u"https";
}

std::u16string AsciiLower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& unit : lower)
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  return lower;
}
