#include "viewer/catalogue/CatalogueBrowsing.h"

#include <array>

#include "platform/text.h"
#include "platform/xml.h"
#include "viewer/catalogue/Url.h"

namespace {

constexpr std::u16string_view kOpenSearch = u"http://a9.com/-/spec/opensearch/1.1/";
constexpr std::u16string_view kOpenAccess = u"http://opds-spec.org/acquisition/open-access";

struct ArchiveKind {
  std::u16string_view name;  // a media type, or an extension with its dot
  std::u16string_view extension;
};

// Comic archives by media type; a Zip is read as a comic book, as are RAR
// and 7z.
constexpr std::array kArchiveTypes{
    ArchiveKind{u"application/zip", u".cbz"},
    ArchiveKind{u"application/x-cbz", u".cbz"},
    ArchiveKind{u"application/vnd.comicbook+zip", u".cbz"},
    ArchiveKind{u"application/x-cbr", u".cbr"},
    ArchiveKind{u"application/vnd.comicbook-rar", u".cbr"},
    ArchiveKind{u"application/x-rar-compressed", u".cbr"},
    ArchiveKind{u"application/vnd.rar", u".cbr"},
    ArchiveKind{u"application/x-cb7", u".cb7"},
    ArchiveKind{u"application/x-7z-compressed", u".cb7"},
};
constexpr std::array kArchiveExtensions{
    ArchiveKind{u".cbz", u".cbz"}, ArchiveKind{u".zip", u".cbz"}, ArchiveKind{u".cbr", u".cbr"},
    ArchiveKind{u".rar", u".cbr"}, ArchiveKind{u".cb7", u".cb7"}, ArchiveKind{u".7z", u".cb7"},
};

// Types that say no more than "bytes": the address decides.
bool SaysNothing(std::u16string_view essence) {
  return essence.empty() || essence == u"application/octet-stream" || essence == u"binary/octet-stream";
}

// The extension a comic archive behind `link` is kept with; empty when it
// is no comic archive.
std::u16string_view ArchiveExtension(const OpdsLink& link) {
  const std::u16string essence = MediaTypeEssence(link.type);
  for (const ArchiveKind& kind : kArchiveTypes)
    if (essence == kind.name) return kind.extension;
  if (!SaysNothing(essence)) return {};
  std::u16string_view path = link.href;
  path = path.substr(0, path.find_first_of(u"?#"));
  const std::u16string last = AsciiLower(path.substr(path.rfind(u'/') + 1));
  for (const ArchiveKind& kind : kArchiveExtensions)
    if (last.size() > kind.name.size() && last.ends_with(kind.name)) return kind.extension;
  return {};
}

void AppendPercentEncoded(std::u16string& out, std::u16string_view text) {
  constexpr char16_t kHex[] = u"0123456789ABCDEF";
  for (const char byte : Utf16ToUtf8(text)) {
    const auto unit = static_cast<unsigned char>(byte);
    const bool unreserved = (unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z') ||
                            (unit >= '0' && unit <= '9') || unit == '-' || unit == '.' || unit == '_' || unit == '~';
    if (unreserved) {
      out += static_cast<char16_t>(unit);
    } else {
      out += u'%';
      out += kHex[unit >> 4];
      out += kHex[unit & 15];
    }
  }
}

// The value of an OpenSearch parameter other than the terms: the first
// page and index, any language, UTF-8; none for one it does not define.
std::optional<std::u16string_view> DefaultParameter(std::u16string_view name) {
  if (name == u"startPage" || name == u"startIndex") return u"1";
  if (name == u"language") return u"*";
  if (name == u"inputEncoding" || name == u"outputEncoding") return u"UTF-8";
  return std::nullopt;
}

}  // namespace

CatalogueBrowsing::CatalogueBrowsing(std::u16string rootUrl) : m_root(std::move(rootUrl)), m_url(m_root) {}

std::u16string CatalogueBrowsing::Target(BrowseMove move) const {
  if (move == BrowseMove::Back) return m_back.empty() ? std::u16string() : m_back.back();
  std::u16string target;
  if (m_feed) {
    const OpdsFeedLinks& links = m_feed->links;
    switch (move) {
      case BrowseMove::Up: target = links.up; break;
      case BrowseMove::Start: target = links.start; break;
      case BrowseMove::Previous: target = links.previous; break;
      case BrowseMove::Next: target = links.next; break;
      case BrowseMove::Back: break;
    }
  }
  // A catalogue's start is where browsing began when the feed does not say.
  if (move == BrowseMove::Start && target.empty()) target = m_root;
  return target == m_url ? std::u16string() : target;
}

bool CatalogueBrowsing::Go(BrowseMove move) {
  std::u16string target = Target(move);
  if (target.empty()) return false;
  if (move == BrowseMove::Back) {
    m_back.pop_back();
    m_url = std::move(target);
    m_feed.reset();
  } else {
    Leave(std::move(target));
  }
  return true;
}

bool CatalogueBrowsing::Open(const std::u16string& url) {
  if (!IsWebUrl(url)) return false;
  Leave(url);
  return true;
}

void CatalogueBrowsing::Leave(std::u16string url) {
  if (m_back.size() == kMaxBrowsingDepth) m_back.erase(m_back.begin());
  m_back.push_back(std::move(m_url));
  m_url = std::move(url);
  m_feed.reset();
}

std::u16string ParseOpenSearchDescription(std::string_view bytes, std::u16string_view descriptionUrl) {
  XmlReader reader(bytes, XmlLimits{kMaxSearchDescriptionBytes, 8});
  for (XmlEvent event = reader.Next(); event != XmlEvent::End && event != XmlEvent::Error; event = reader.Next()) {
    if (event != XmlEvent::StartElement || reader.NamespaceUri() != kOpenSearch) continue;
    if (reader.Depth() == 1 && reader.Name() != u"OpenSearchDescription") return {};
    if (reader.Depth() != 2 || reader.Name() != u"Url") continue;
    if (MediaTypeEssence(reader.AttributeNs({}, u"type").value_or(u"")) != u"application/atom+xml") continue;
    const std::u16string url = ResolveUrl(descriptionUrl, reader.AttributeNs({}, u"template").value_or(u""));
    if (IsWebUrl(url) && url.find(u"{searchTerms}") != std::u16string::npos) return url;
  }
  return {};
}

std::u16string FillSearchTemplate(std::u16string_view searchTemplate, std::u16string_view terms) {
  terms = XmlTrimmed(terms);
  if (terms.empty()) return {};
  std::u16string url;
  while (!searchTemplate.empty()) {
    const std::size_t open = searchTemplate.find(u'{');
    const std::size_t close = searchTemplate.find(u'}', open);
    if (open == std::u16string_view::npos || close == std::u16string_view::npos) {
      url += searchTemplate;
      break;
    }
    url += searchTemplate.substr(0, open);
    std::u16string_view name = searchTemplate.substr(open + 1, close - open - 1);
    searchTemplate.remove_prefix(close + 1);
    const bool optional = name.ends_with(u'?');
    if (optional) name.remove_suffix(1);
    if (name == u"searchTerms") {
      AppendPercentEncoded(url, terms);
    } else if (const auto value = DefaultParameter(name); value && !optional) {
      url += *value;
    } else if (!optional) {
      return {};
    }
  }
  return IsWebUrl(url) ? url : std::u16string();
}

std::optional<OpdsLink> BookLink(const OpdsEntry& entry) {
  for (const OpdsLink& link : entry.acquisitions)
    if ((link.rel == kOpdsAcquisition || link.rel == kOpenAccess) && !ArchiveExtension(link).empty()) return link;
  return std::nullopt;
}

std::u16string ComicArchiveExtension(std::u16string_view type, std::u16string_view url) {
  OpdsLink link;
  link.type = std::u16string(type);
  link.href = std::u16string(url);
  return std::u16string(ArchiveExtension(link));
}

std::optional<OpdsLink> CoverLink(const OpdsEntry& entry) { return entry.thumbnail ? entry.thumbnail : entry.cover; }

std::u16string BookFileName(const OpdsEntry& entry, const OpdsLink& link) {
  // FNV-1a over both, so the name is the same from run to run.
  std::uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](std::u16string_view text) {
    for (const char16_t unit : text) {
      hash = (hash ^ (unit & 0xFF)) * 1099511628211ull;
      hash = (hash ^ (unit >> 8)) * 1099511628211ull;
    }
  };
  mix(entry.id);
  mix(u"\n");
  mix(link.href);
  std::u16string name(16, u'0');
  for (int i = 15; i >= 0; --i, hash >>= 4) name[static_cast<std::size_t>(i)] = u"0123456789abcdef"[hash & 15];
  return name + std::u16string(ArchiveExtension(link));
}
