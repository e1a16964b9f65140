#include "viewer/catalogue/OpdsFeed.h"

#include <algorithm>
#include <string>

#include "platform/xml.h"
#include "viewer/catalogue/Url.h"

std::u16string MediaTypeEssence(std::u16string_view type) {
  return AsciiLower(XmlTrimmed(type.substr(0, type.find(u';'))));
}

namespace {

// Elements and attributes are told by their namespace's URI: a feed may
// bind any prefix to it, or make it the default.
constexpr std::u16string_view kAtom = u"http://www.w3.org/2005/Atom";
constexpr std::u16string_view kPse = u"http://vaemendis.net/opds-pse/ns";
constexpr std::u16string_view kXml = u"http://www.w3.org/XML/1998/namespace";
constexpr std::u16string_view kDcTerms = u"http://purl.org/dc/terms/";
constexpr std::u16string_view kDcElements = u"http://purl.org/dc/elements/1.1/";

constexpr std::u16string_view kImage = u"http://opds-spec.org/image";
constexpr std::u16string_view kThumbnail = u"http://opds-spec.org/image/thumbnail";
constexpr std::u16string_view kStream = u"http://vaemendis.net/opds-pse/stream";

// Atom's content may be XHTML, nested as deep as its author liked; deeper
// than this, the feed is refused.
constexpr int kMaxFeedDepth = 32;

std::u16string Capped(std::u16string_view text) { return std::u16string(text.substr(0, kMaxOpdsText)); }

// The value of a media type's parameter, lower case; empty when absent.
std::u16string Parameter(std::u16string_view type, std::u16string_view name) {
  for (std::size_t semicolon = type.find(u';'); semicolon != std::u16string_view::npos;) {
    type.remove_prefix(semicolon + 1);
    semicolon = type.find(u';');
    const std::u16string_view part = type.substr(0, semicolon);
    const std::size_t equals = part.find(u'=');
    if (equals == std::u16string_view::npos || AsciiLower(XmlTrimmed(part.substr(0, equals))) != name) continue;
    std::u16string_view value = XmlTrimmed(part.substr(equals + 1));
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') value = value.substr(1, value.size() - 2);
    return AsciiLower(value);
  }
  return {};
}

bool IsCatalogType(std::u16string_view type) {
  return MediaTypeEssence(type) == u"application/atom+xml" && Parameter(type, u"profile") == u"opds-catalog";
}

bool IsAcquisition(std::u16string_view rel) {
  return rel.starts_with(kOpdsAcquisition) && (rel.size() == kOpdsAcquisition.size() || rel[kOpdsAcquisition.size()] == u'/');
}

class FeedParser {
 public:
  FeedParser(std::string_view bytes, std::u16string_view feedUrl)
      : m_reader(bytes, XmlLimits{kMaxOpdsFeedBytes, kMaxFeedDepth}), m_bases{{0, std::u16string(feedUrl)}} {}

  std::optional<OpdsFeed> Run(std::u16string* why) {
    auto refuse = [&](std::u16string reason) -> std::optional<OpdsFeed> {
      if (why != nullptr) *why = std::move(reason);
      return std::nullopt;
    };
    if (!IsWebUrl(m_bases.front().url)) return refuse(u"feed URL not http or https");
    for (;;) {
      switch (m_reader.Next()) {
        case XmlEvent::Error:
          return refuse(m_reader.Error());
        case XmlEvent::End:
          Finish();
          return std::move(m_feed);
        case XmlEvent::StartElement:
          if (!Start()) return refuse(u"no Atom feed");
          break;
        case XmlEvent::EndElement:
          End();
          break;
        case XmlEvent::Text:
          if (m_field != nullptr && m_reader.Depth() >= m_fieldDepth && m_field->size() < kMaxOpdsText)
            m_field->append(m_reader.Text().substr(0, kMaxOpdsText - m_field->size()));
          break;
      }
    }
  }

 private:
  // False when the root is no Atom feed.
  bool Start() {
    const int depth = m_reader.Depth();
    while (m_bases.size() > 1 && m_bases.back().depth >= depth) m_bases.pop_back();
    const bool atom = m_reader.NamespaceUri() == kAtom;
    const std::u16string name = m_reader.Name();
    if (depth == 1) {
      if (!atom || name != u"feed") return false;
      MoveBase();
    } else if (depth == 2 && atom) {
      if (name == u"title") Capture(m_feed.title);
      else if (name == u"id") Capture(m_feed.id);
      else if (name == u"link" && m_feedLinks++ < kMaxOpdsLinks) MoveBase(), FeedLink();
      else if (name == u"entry" && m_feed.entries.size() < kMaxOpdsEntries) {
        m_entry.emplace();
        m_entryLinks = 0;
        MoveBase();
      }
    } else if (depth == 3 && m_entry) {
      const std::u16string ns = m_reader.NamespaceUri();
      if (atom && name == u"title") Capture(m_entry->title);
      else if (atom && name == u"id") Capture(m_entry->id);
      else if (atom && name == u"updated") Capture(m_entry->updated);
      else if (atom && name == u"summary") Capture(m_entry->summary);
      else if (atom && name == u"content") Capture(m_content);
      else if (atom && name == u"link" && m_entryLinks++ < kMaxOpdsLinks) MoveBase(), EntryLink();
      else if ((atom && name == u"author") || ((ns == kDcTerms || ns == kDcElements) && name == u"creator")) {
        m_author.clear();
        m_authorOpen = true;
        if (!atom) Capture(m_author);
      }
    } else if (depth == 4 && m_authorOpen && atom && name == u"name") {
      Capture(m_author);
    }
    return true;
  }

  void End() {
    const int depth = m_reader.Depth();
    if (m_field != nullptr && depth == m_fieldDepth) {
      *m_field = std::u16string(XmlTrimmed(*m_field));
      m_field = nullptr;
    }
    if (depth == 3 && m_authorOpen) {
      m_authorOpen = false;
      if (!m_author.empty() && m_entry->authors.size() < kMaxOpdsAuthors) m_entry->authors.push_back(m_author);
    } else if (depth == 2 && m_entry) {
      if (m_entry->summary.empty()) m_entry->summary = std::move(m_content);
      m_content.clear();
      m_anyAcquisition = m_anyAcquisition || !m_entry->acquisitions.empty();
      m_feed.entries.push_back(std::move(*m_entry));
      m_entry.reset();
    }
  }

  void Finish() {
    const std::u16string kind = Parameter(m_selfType, u"kind");
    if (kind == u"navigation") m_feed.kind = OpdsFeedKind::Navigation;
    else if (kind == u"acquisition") m_feed.kind = OpdsFeedKind::Acquisition;
    else m_feed.kind = m_anyAcquisition ? OpdsFeedKind::Acquisition : OpdsFeedKind::Navigation;
  }

  // The element's xml:base, if it has one, moves the base of what it holds
  // (and of its own href). Only the feed, its entries and links are asked:
  // no other element holds a link read, and a hostile feed's thousands of
  // other elements each with a base to resolve would cost time for nothing.
  void MoveBase() {
    if (const auto moved = m_reader.AttributeNs(kXml, u"base"))
      m_bases.push_back({m_reader.Depth(), Resolve(*moved)});
  }

  // The reference against the base here, while the feed's budget lasts.
  std::u16string Resolve(std::u16string_view reference) {
    const std::u16string& base = m_bases.back().url;
    const std::size_t cost = base.size() + reference.size();
    if (cost > m_urlWork) return {};
    m_urlWork -= cost;
    return ResolveUrl(base, reference);
  }

  // The element's text (and its children's) goes to `field`, from scratch.
  void Capture(std::u16string& field) {
    field.clear();
    m_field = &field;
    m_fieldDepth = m_reader.Depth();
  }

  // The link element's, with its href resolved; none when it leads nowhere
  // a reader may go.
  std::optional<OpdsLink> Link() {
    const std::optional<std::u16string> href = m_reader.AttributeNs({}, u"href");
    if (!href) return std::nullopt;
    OpdsLink link;
    link.href = Resolve(*href);
    if (!IsWebUrl(link.href)) return std::nullopt;
    link.rel = Capped(XmlTrimmed(m_reader.AttributeNs({}, u"rel").value_or(u"alternate")));
    link.type = Capped(XmlTrimmed(m_reader.AttributeNs({}, u"type").value_or(u"")));
    link.title = Capped(m_reader.AttributeNs({}, u"title").value_or(u""));
    return link;
  }

  void FeedLink() {
    std::optional<OpdsLink> link = Link();
    if (!link) return;
    OpdsFeedLinks& links = m_feed.links;
    const std::u16string& rel = link->rel;
    if (rel == u"self") links.self = link->href, m_selfType = link->type;
    else if (rel == u"start") links.start = link->href;
    else if (rel == u"up") links.up = link->href;
    else if (rel == u"first") links.first = link->href;
    else if (rel == u"previous" || rel == u"prev") links.previous = link->href;
    else if (rel == u"next") links.next = link->href;
    else if (rel == u"last") links.last = link->href;
    else if (rel == u"search") {
      // A template is used as it is; a description costs another fetch.
      if (MediaTypeEssence(link->type) == u"application/atom+xml" && link->href.find(u"{searchTerms}") != std::u16string::npos)
        links.search = link->href, links.searchIsTemplate = true;
      else if (MediaTypeEssence(link->type) == u"application/opensearchdescription+xml" && !links.searchIsTemplate)
        links.search = link->href;
    }
  }

  void EntryLink() {
    std::optional<OpdsLink> link = Link();
    if (!link) return;
    OpdsEntry& entry = *m_entry;
    const std::u16string& rel = link->rel;
    if (rel == kStream) {
      if (entry.stream) return;
      const std::optional<int32_t> count = XmlCount(m_reader.AttributeNs(kPse, u"count").value_or(u""), kMaxPseCount);
      if (!count) return;  // a stream of no stated length cannot be paged
      PseStream& stream = entry.stream.emplace();
      stream.hrefTemplate = std::move(link->href);
      stream.count = *count;
      const std::optional<int32_t> last = XmlCount(m_reader.AttributeNs(kPse, u"lastRead").value_or(u""), *count);
      if (last && *last >= 1) stream.lastRead = last;
      stream.lastReadDate = Capped(XmlTrimmed(m_reader.AttributeNs(kPse, u"lastReadDate").value_or(u"")));
    } else if (IsAcquisition(rel)) {
      entry.acquisitions.push_back(std::move(*link));
    } else if (rel == kImage) {
      if (!entry.cover) entry.cover = std::move(link);
    } else if (rel == kThumbnail) {
      if (!entry.thumbnail) entry.thumbnail = std::move(link);
    } else if (rel == u"subsection" || IsCatalogType(link->type)) {
      if (!entry.navigation) entry.navigation = std::move(link);
    }
  }

  // A base URL and the depth of the element that set it: only those that
  // move it are kept, the feed's URL first, so no element copies one.
  struct Base {
    int depth = 0;
    std::u16string url;
  };

  XmlReader m_reader;
  std::vector<Base> m_bases;
  std::size_t m_urlWork = kMaxOpdsUrlWork;  // what resolving may still cost
  OpdsFeed m_feed;
  std::u16string m_selfType;
  std::size_t m_feedLinks = 0;
  bool m_anyAcquisition = false;
  std::optional<OpdsEntry> m_entry;  // the entry open, unless over the bound
  std::size_t m_entryLinks = 0;
  std::u16string m_content;  // the entry's content, its summary when it has none
  std::u16string m_author;
  bool m_authorOpen = false;
  std::u16string* m_field = nullptr;  // where text goes, while the element at m_fieldDepth is open
  int m_fieldDepth = 0;
};

void ReplaceAll(std::u16string& text, std::u16string_view what, std::u16string_view with) {
  for (std::size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

std::u16string Decimal(int32_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::optional<OpdsFeed> ParseOpdsFeed(std::string_view bytes, std::u16string_view feedUrl, std::u16string* why) {
  return FeedParser(bytes, feedUrl).Run(why);
}

std::u16string PageUrl(const PseStream& stream, int32_t pageIndex, int32_t maxWidth) {
  std::u16string url = stream.hrefTemplate;
  ReplaceAll(url, u"{pageNumber}", Decimal(std::max(pageIndex, 0)));
  ReplaceAll(url, u"{maxWidth}", Decimal(std::max(maxWidth, 1)));
  return url;
}
