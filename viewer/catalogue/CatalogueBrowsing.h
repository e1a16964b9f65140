// Where a catalogue browser is and where its buttons lead, what a search
// asks for, and which entries are books the viewer can open: decided on
// plain values, with no network and no display. The caller fetches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/catalogue/OpdsFeed.h"

// Feeds remembered for Back; past this the oldest are forgotten, so that a
// server's endless chain of pages costs no more memory than this.
inline constexpr std::size_t kMaxBrowsingDepth = 100;
// An OpenSearch description is a few hundred bytes.
inline constexpr std::size_t kMaxSearchDescriptionBytes = std::size_t{256} << 10;

enum class BrowseMove { Back, Up, Start, Previous, Next };

class CatalogueBrowsing {
 public:
  // Browsing starts at `rootUrl`, the catalogue's address.
  explicit CatalogueBrowsing(std::u16string rootUrl);

  // The feed shown, or being fetched.
  const std::u16string& Url() const { return m_url; }
  const std::u16string& RootUrl() const { return m_root; }
  // The feed read for Url(); none until it has come.
  const std::optional<OpdsFeed>& Feed() const { return m_feed; }

  // Where `move` leads from here; empty when nowhere (no such link, nothing
  // to go back to, or the link is the feed itself).
  std::u16string Target(BrowseMove move) const;
  // Follows `move`; false, with nothing changed, when it leads nowhere.
  bool Go(BrowseMove move);
  // Goes down to `url` (an entry's feed, a search), remembering this feed
  // for Back; false for an address no catalogue link may have.
  bool Open(const std::u16string& url);
  // The feed fetched for Url().
  void Arrived(OpdsFeed feed) { m_feed = std::move(feed); }
  std::size_t BackDepth() const { return m_back.size(); }

 private:
  void Leave(std::u16string url);

  std::u16string m_root, m_url;
  std::optional<OpdsFeed> m_feed;
  std::vector<std::u16string> m_back;  // oldest first
};

// The search template an OpenSearch description gives: its Url of an Atom
// type with "{searchTerms}", resolved against `descriptionUrl`; empty when
// it has none, or the bytes are not such a description.
std::u16string ParseOpenSearchDescription(std::string_view bytes, std::u16string_view descriptionUrl);

// The template with the terms in, percent-encoded as UTF-8 (surrounding
// whitespace dropped); the other parameters OpenSearch defines get their
// first page and any encoding, an optional one left unfilled goes. Empty for
// blank terms, or a template asking for a parameter nobody knows.
std::u16string FillSearchTemplate(std::u16string_view searchTemplate, std::u16string_view terms);

// The link that downloads an entry as a comic archive the viewer opens:
// open or plain acquisition, by the type it gives or, for a type that says
// nothing, by the address's extension. None for other entries.
std::optional<OpdsLink> BookLink(const OpdsEntry& entry);
// The extension (".cbz", ".cbr", ".cb7") of a comic archive of media type
// `type` at `url` (the address decides for a type that says nothing); empty
// for anything else.
std::u16string ComicArchiveExtension(std::u16string_view type, std::u16string_view url);
// The picture for an entry's cell: its thumbnail, else its cover.
std::optional<OpdsLink> CoverLink(const OpdsEntry& entry);
// The name a downloaded book is kept under in the book cache: a hash of the
// entry's id and the link's address, with the archive's extension
// (".cbz", ".cbr" or ".cb7").
std::u16string BookFileName(const OpdsEntry& entry, const OpdsLink& link);
