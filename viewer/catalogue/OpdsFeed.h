// A catalogue feed as book servers publish it (OPDS 1.2, on Atom), with the
// page streaming links comic servers add: parsed into plain values, every
// link resolved to an absolute http or https URL. What the viewer has no
// use for is passed over. The server may be hostile: everything is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kMaxOpdsFeedBytes = std::size_t{8} << 20;
inline constexpr std::size_t kMaxOpdsEntries = 5000;
inline constexpr std::size_t kMaxOpdsLinks = 64;    // of the feed, or of one entry
inline constexpr std::size_t kMaxOpdsAuthors = 64;  // of one entry
inline constexpr std::size_t kMaxOpdsText = 16 * 1024;
inline constexpr int32_t kMaxPseCount = 100000;
// What resolving a feed's links may cost, in UTF-16 units: the lengths of
// each one's base and reference, summed. A feed of 5000 entries with a few
// links each costs a few million; links against a base of 8 KiB, by the
// hundred thousand, would cost minutes and gigabytes: past this, links are
// dropped.
inline constexpr std::size_t kMaxOpdsUrlWork = std::size_t{4} << 20;

inline constexpr std::u16string_view kOpdsAcquisition = u"http://opds-spec.org/acquisition";

// A media type without its parameters, trimmed and lowered.
std::u16string MediaTypeEssence(std::u16string_view type);

enum class OpdsFeedKind { Navigation, Acquisition };

struct OpdsLink {
  std::u16string rel, type;
  std::u16string href;  // absolute, http or https
  std::u16string title;
  bool operator==(const OpdsLink&) const = default;
};

// Pages fetched one by one: `hrefTemplate` holds "{pageNumber}" (from 0)
// and perhaps "{maxWidth}"; see PageUrl.
struct PseStream {
  std::u16string hrefTemplate;
  int32_t count = 0;
  std::optional<int32_t> lastRead;  // the page last read, from 1
  std::u16string lastReadDate;
  bool operator==(const PseStream&) const = default;
};

struct OpdsEntry {
  std::u16string id, title, summary, updated;  // summary: the summary's text, else the content's
  std::vector<std::u16string> authors;
  std::optional<OpdsLink> navigation;  // a catalogue further down
  std::vector<OpdsLink> acquisitions;  // the book itself, with the ways to get it
  std::optional<OpdsLink> cover, thumbnail;
  std::optional<PseStream> stream;
};

// The feed's own links; empty where it has none.
struct OpdsFeedLinks {
  std::u16string self, start, up, first, previous, next, last;
  // Where a search goes: an OpenSearch description, or (searchIsTemplate) a
  // feed URL with "{searchTerms}" in it.
  std::u16string search;
  bool searchIsTemplate = false;
};

struct OpdsFeed {
  std::u16string id, title;
  OpdsFeedKind kind = OpdsFeedKind::Navigation;
  OpdsFeedLinks links;
  std::vector<OpdsEntry> entries;  // the first kMaxOpdsEntries
};

// The feed in `bytes`, fetched from `feedUrl` (absolute, http or https),
// against which its links resolve; nullopt, and why in `why`, when the bytes
// are no Atom feed, break the reader's bounds or are over kMaxOpdsFeedBytes.
std::optional<OpdsFeed> ParseOpdsFeed(std::string_view bytes, std::u16string_view feedUrl,
                                      std::u16string* why = nullptr);

// The URL of page `pageIndex` (from 0) of `stream`, at most `maxWidth` pixels
// wide where the server's template asks for a width.
std::u16string PageUrl(const PseStream& stream, int32_t pageIndex, int32_t maxWidth);
