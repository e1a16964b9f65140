// Books read from a web server without being downloaded first: what an
// address turns out to be on its first answer, the book's name, and the
// places in remote books the reader left, kept by URL.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/catalogue/Catalogue.h"
#include "viewer/catalogue/OpdsFeed.h"
#include "viewer/catalogue/RemoteFile.h"

// A book on a web server: an archive read over range requests, ready for
// the archive routes, or a book the server streams page by page.
struct RemoteBook {
  ComRef<IFile> file;
  std::u16string url;    // the archive's, or the stream's page template: what its place is kept by
  std::u16string title;  // what the window calls it
  std::shared_ptr<RemoteFileCount> count;
  // Streamed: its pages (made by the window, which knows its width), the
  // credentials for them and what fetches them.
  std::optional<PseStream> stream;
  std::optional<HttpCredentials> credentials;
  BlockingFetch fetch;
};

enum class WebAddressKind { Catalogue, Book, Neither };

// What an answer from `url` is: a catalogue feed (Atom or XML), a comic
// archive (by its media type, its first bytes, or the address's extension
// for a type that says nothing), or neither.
WebAddressKind KindOfAnswer(const HttpResponse& answer, std::u16string_view url);

struct WebAddressProbe {
  WebAddressKind kind = WebAddressKind::Neither;
  // A book: its file over range requests when the server honours them
  // (else none, and it is to be downloaded whole).
  RemoteOpening opening;
  std::u16string why;  // Neither: the one line saying why
};

// Asks `address` once (its first block, feeds and archives accepted) what
// it is. What the window does with an address typed, given or dropped.
WebAddressProbe ProbeWebAddress(const RemoteAddress& address, const BlockingFetch& fetch,
                                const RemoteFileOptions& options = {});

// The address's last segment, percent-decoded, without query or fragment;
// the address itself when it has none.
std::u16string RemoteBookName(std::u16string_view url);

// Whether two http(s) addresses share scheme, host and port: a
// catalogue's credentials go to its own books only.
bool SameWebOrigin(std::u16string_view a, std::u16string_view b);

// The kept catalogue whose user name and password go with requests for
// `url`: one with a user name on the address's origin, among several the
// one whose URL shares the most leading path segments with the address
// (the first listed among equals); null when none is.
const Catalogue* CatalogueOfAddress(const std::vector<Catalogue>& kept, std::u16string_view url);

// The place the reader left a remote book at.
struct RemotePlace {
  std::u16string url;
  int32_t index = 0;      // the page, from 0
  std::u16string page;    // its path in the archive: found again by name first
  // A book streamed page by page, whose URL is its page template: how many
  // pages it has, which the template does not say, so that it opens again
  // from the places alone. 0 for an archive.
  int32_t count = 0;
  // What the book is called where the URL does not say it (a streamed
  // book's template, an archive at calibre's ".../get/cbz/2/lib"); empty
  // when the URL's last segment says it.
  std::u16string title{};
  bool operator==(const RemotePlace&) const = default;
};

inline constexpr std::size_t kMaxRemotePlaces = 20;

// The places as the settings file keeps them (one text each: URL, index,
// page, between tabs, then an archive's title when it has one, or a
// streamed book's page count and title), the latest last; what does not
// read is dropped.
std::vector<RemotePlace> RemotePlacesFromRecords(const std::vector<std::u16string>& records);
std::vector<std::u16string> RecordsOfRemotePlaces(const std::vector<RemotePlace>& places);
// `place` made the latest, its URL's older place gone, the oldest beyond
// kMaxRemotePlaces dropped; false when it was the latest already.
bool NoteRemotePlace(std::vector<RemotePlace>& places, RemotePlace place);
