// Books downloaded from a catalogue into a cache folder of their own: whole
// or not at all (written to a temporary file, renamed when complete), so a
// book found there opens without the network.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/http/http_client.h"
#include "viewer/catalogue/CatalogueLines.h"

inline constexpr std::int64_t kMaxBookBytes = std::int64_t{2} << 30;

// $XDG_CACHE_HOME/velmora/books, or ~/.cache/velmora/books.
std::filesystem::path DefaultBookCacheFolder();

struct BookDownloadRequest {
  std::u16string url;
  std::optional<HttpCredentials> credentials;
  std::filesystem::path folder;  // the book cache
  std::u16string fileName;       // as BookFileName gives it
  std::int64_t maxBytes = kMaxBookBytes;
  // A large book on a slow line takes its time; a silent server does not.
  std::chrono::milliseconds totalLimit = std::chrono::hours(2);
  std::chrono::milliseconds stallLimit = std::chrono::seconds(30);
};

// The book's file when it was downloaded whole before.
std::optional<std::filesystem::path> CachedBook(const std::filesystem::path& folder, const std::u16string& fileName);

// Downloads the book with `client`: `progress` hears of the bytes as they
// come (and the length announced, -1 when none), `done` runs once, on the
// client's thread, with the book's path, or an empty one and the line saying
// why in `lines`' words (a web page, as a login page answers, is no book),
// or "Cancelled." after a cancel through the client, which is never shown.
// Nothing is left in the folder but a whole book.
using BookProgress = std::function<void(std::int64_t received, std::int64_t total)>;
using BookDone = std::function<void(const std::filesystem::path& book, const std::u16string& why)>;
HttpFetchId DownloadBook(HttpClient& client, const BookDownloadRequest& request, BookProgress progress, BookDone done,
                         const CatalogueLines& lines = {});
