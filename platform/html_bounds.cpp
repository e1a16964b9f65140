#include "platform/html_bounds.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsNameUnit(char16_t c) { return IsLetter(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u':'; }
char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// Sets of tag names are written "|a|b|": one name is looked for with its bars.
bool In(std::u16string_view name, std::u16string_view set) {
  for (std::size_t at = set.find(name); at != std::u16string_view::npos; at = set.find(name, at + 1))
    if (at > 0 && set[at - 1] == u'|' && at + name.size() < set.size() && set[at + name.size()] == u'|') return true;
  return false;
}

constexpr std::u16string_view kVoid = u"|area|base|br|col|embed|hr|img|input|link|meta|param|source|track|wbr|";

// A start tag that closes an open element of its group, looking down the
// open elements no further than the first of `stops`.
struct ImplicitClose {
  std::u16string_view tag, closes, stops;
};
constexpr std::u16string_view kListStops = u"|ul|ol|dl|table|div|blockquote|td|th|body|";
constexpr std::array<ImplicitClose, 8> kImplicit = {{
    {u"p", u"|p|", u"|div|li|td|th|table|blockquote|body|"},
    {u"li", u"|li|", kListStops},
    {u"dt", u"|dt|dd|", kListStops},
    {u"dd", u"|dt|dd|", kListStops},
    {u"tr", u"|tr|", u"|table|"},
    {u"td", u"|td|th|", u"|tr|table|"},
    {u"th", u"|td|th|", u"|tr|table|"},
    {u"option", u"|option|", u"|select|"},
}};

// The end of a tag from just after its name: past the '>' outside quotes,
// or npos when the text ends first.
std::size_t TagEnd(std::u16string_view html, std::size_t at) {
  char16_t quote = 0;
  for (; at < html.size(); ++at) {
    const char16_t c = html[at];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u'>') {
      return at + 1;
    }
  }
  return std::u16string_view::npos;
}

}  // namespace

HtmlVerdict CheckHtmlBounds(std::u16string_view html, const HtmlLimits& limits) {
  if (html.size() > limits.maxUnits) return HtmlVerdict::TooLarge;
  const auto deadline = std::chrono::steady_clock::now() + limits.maxTime;
  std::vector<std::u16string> open;  // never more than maxDepth + 1
  std::u16string name;
  int elements = 0;
  int tables = 0;  // open around what comes next
  std::uint64_t weight = 0;
  // Past 2^40 no page fits the bound: the shift stops there.
  const auto weigh = [&](std::uint64_t units) {
    weight += units << std::min(tables, 40);
    return weight > limits.maxLayoutWeight;
  };
  const auto close = [&](std::vector<std::u16string>::iterator from) {
    tables -= static_cast<int>(std::count(from, open.end(), u"table"));
    open.erase(from, open.end());
  };
  std::size_t at = 0;
  std::size_t nextClock = 0;
  while (at < html.size()) {
    if (at >= nextClock) {  // the clock costs more than a few thousand units of scanning
      if (std::chrono::steady_clock::now() > deadline) return HtmlVerdict::TooSlow;
      nextClock = at + 4096;
    }
    const std::size_t lt = std::min(html.find(u'<', at), html.size());
    if (weigh((lt - at) / 16)) return HtmlVerdict::TooCostly;  // the text before; short runs go with their tags
    if (lt == html.size()) break;
    const std::u16string_view rest = html.substr(lt);
    if (rest.starts_with(u"<!--")) {
      const std::size_t end = html.find(u"-->", lt + 4);
      at = end == std::u16string_view::npos ? html.size() : end + 3;
      continue;
    }
    if (rest.starts_with(u"<!") || rest.starts_with(u"<?")) {
      const std::size_t end = html.find(u'>', lt);
      at = end == std::u16string_view::npos ? html.size() : end + 1;
      continue;
    }
    const bool closing = rest.size() > 1 && rest[1] == u'/';
    std::size_t cursor = lt + (closing ? 2 : 1);
    if (cursor >= html.size() || !IsLetter(html[cursor])) {
      at = lt + 1;  // a '<' in the text
      continue;
    }
    name.clear();
    for (; cursor < html.size() && IsNameUnit(html[cursor]); ++cursor) name += Lower(html[cursor]);
    const std::size_t end = TagEnd(html, cursor);
    at = end == std::u16string_view::npos ? html.size() : end;
    if (closing) {
      const auto found = std::find(open.rbegin(), open.rend(), name);
      if (found != open.rend()) close(std::prev(found.base()));
      continue;
    }
    if (++elements > limits.maxElements) return HtmlVerdict::TooManyElements;
    if (weigh(1)) return HtmlVerdict::TooCostly;
    if (In(name, kVoid)) continue;
    for (const ImplicitClose& rule : kImplicit) {
      if (rule.tag != name) continue;
      for (auto it = open.rbegin(); it != open.rend(); ++it) {
        if (In(*it, rule.closes)) {
          close(std::prev(it.base()));
          break;
        }
        if (In(*it, rule.stops)) break;
      }
      break;
    }
    open.push_back(name);
    tables += name == u"table";
    if (static_cast<int>(open.size()) > limits.maxDepth) return HtmlVerdict::TooDeep;
  }
  return HtmlVerdict::Fine;
}

const char16_t* HtmlVerdictReason(HtmlVerdict verdict) {
  switch (verdict) {
    case HtmlVerdict::Fine:
      return u"";
    case HtmlVerdict::TooLarge:
      return u"too large";
    case HtmlVerdict::TooDeep:
      return u"too deeply nested";
    case HtmlVerdict::TooManyElements:
      return u"too many elements";
    case HtmlVerdict::TooCostly:
      return u"too costly to lay out";
    case HtmlVerdict::TooSlow:
      return u"too slow to check";
  }
  return u"";
}
