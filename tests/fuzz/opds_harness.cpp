// The bytes as a catalogue feed fetched from a fixed URL: read, or refused
// with a reason; what is read stays within the parser's bounds, every link
// is an http or https URL, and a second reading gives the same.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "harnesses.h"
#include "viewer/catalogue/OpdsFeed.h"
#include "viewer/catalogue/Url.h"

namespace {

constexpr std::u16string_view kFeedUrl = u"https://books.example/opds/feed?page=2";

void CheckUrl(const std::u16string& url) {
  if (!url.empty() && !IsWebUrl(url)) std::abort();
}

void CheckLink(const std::optional<OpdsLink>& link) {
  if (!link) return;
  if (!IsWebUrl(link->href) || link->rel.size() > kMaxOpdsText || link->title.size() > kMaxOpdsText) std::abort();
}

}  // namespace

void FuzzOpdsFeed(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string why;
  const std::optional<OpdsFeed> feed = ParseOpdsFeed(bytes, kFeedUrl, &why);
  if (!feed) {
    if (why.empty()) std::abort();
    return;
  }
  if (feed->entries.size() > kMaxOpdsEntries || feed->title.size() > kMaxOpdsText) std::abort();
  const OpdsFeedLinks& links = feed->links;
  for (const std::u16string* url : {&links.self, &links.start, &links.up, &links.first, &links.previous, &links.next,
                                    &links.last, &links.search})
    CheckUrl(*url);
  for (const OpdsEntry& entry : feed->entries) {
    for (const std::u16string* text : {&entry.id, &entry.title, &entry.summary, &entry.updated})
      if (text->size() > kMaxOpdsText) std::abort();
    if (entry.authors.size() > kMaxOpdsAuthors || entry.acquisitions.size() > kMaxOpdsLinks) std::abort();
    CheckLink(entry.navigation);
    CheckLink(entry.cover);
    CheckLink(entry.thumbnail);
    for (const OpdsLink& link : entry.acquisitions) CheckLink(link);
    if (entry.stream) {
      const PseStream& stream = *entry.stream;
      if (stream.count < 0 || stream.count > kMaxPseCount || !IsWebUrl(stream.hrefTemplate)) std::abort();
      if (stream.lastRead && (*stream.lastRead < 1 || *stream.lastRead > stream.count)) std::abort();
      PageUrl(stream, stream.count, 1600);
    }
  }
  const std::optional<OpdsFeed> again = ParseOpdsFeed(bytes, kFeedUrl);
  if (!again || again->entries.size() != feed->entries.size() || again->links.next != links.next ||
      again->kind != feed->kind)
    std::abort();
}
