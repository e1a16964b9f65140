// A book a server streams page by page (the OPDS Page Streaming Extension):
// a directory of its pages, each fetched by its number when it is opened,
// so that the window reads it as it reads an archive.
#pragma once

#include <cstdint>

#include "ordel/FileSystem.h"
#include "viewer/catalogue/OpdsFeed.h"
#include "viewer/catalogue/RemoteFile.h"

// More pages than this a stream is not believed to have.
inline constexpr int32_t kMaxStreamedPages = 100000;
// A page's bytes at most.
inline constexpr std::int64_t kMaxStreamedPageBytes = std::int64_t{64} << 20;

// The name of page `index` (from 0) in the directory: "/" and its number
// from 1, zero-padded so that names sort in page order. No extension: a
// page is told by its bytes, whatever type the server states.
std::u16string StreamedPageName(int32_t index);

// The pages of `stream` as a directory in *out (0); 1 for a stream without
// pages. Each page is asked for `maxWidth` wide where the template has a
// width, with `credentials` (to the template's origin only), and held in
// memory once opened; a page the server does not give fails to open.
int32_t OpenStreamedPages(const PseStream& stream, std::optional<HttpCredentials> credentials, BlockingFetch fetch,
                          int32_t maxWidth, IDirectory** out);
