// From bytes to the code that reads what others made: the profile, an
// archive and every entry in it, a page from its file to the bitmap drawn,
// a web page's markup, a book's own description, a server's catalogue feed.
// The fuzzers call these with whatever bytes they invent; the corpus test
// calls them with every kept input. Each returns whatever the bytes are,
// and aborts where a promise the code makes is broken.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes as the profile file: loaded, saved, loaded again; the second
// load must give the first one's state, and saving it the same bytes.
void FuzzProfile(const uint8_t* data, std::size_t size);

// The bytes as an archive file, opened by whichever route knows it: its
// tree walked as a book's is, every entry opened and read to its end.
void FuzzArchive(const uint8_t* data, std::size_t size);

// The bytes as a page: loaded as the window loads one (decoded in its own
// colours and in false colour, as stored and turned upright, scaled for a
// screen, made into bitmaps), then scaled again from the kept pixels.
void FuzzPage(const uint8_t* data, std::size_t size);

// The bytes as a page's markup fetched for the about window (UTF-8),
// measured against the bounds that decide whether it is laid out at all.
void FuzzMarkup(const uint8_t* data, std::size_t size);

// The bytes as a book's ComicInfo.xml: read within the parser's bounds, or
// refused with a reason.
void FuzzComicInfo(const uint8_t* data, std::size_t size);

// The bytes as a catalogue feed: read within the parser's bounds, every link
// an http or https URL, or refused with a reason.
void FuzzOpdsFeed(const uint8_t* data, std::size_t size);
