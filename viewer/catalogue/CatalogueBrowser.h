// The catalogue browser: a window over a book server's feeds. Its title,
// its entries as a grid of covers with their titles, Back, Up, Start and
// the page buttons as the feed's links allow, a search field when the
// catalogue has search; a book (an entry with a comic archive to acquire)
// is downloaded into the book cache, or found there, and handed to the
// caller to open. It fetches through the HTTP client, decides with
// CatalogueBrowsing and drives the window with plain values.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/catalogue/catalogue_window.h"
#include "platform/http/http_request.h"
#include "viewer/catalogue/RemoteBook.h"
#include "viewer/catalogue/CatalogueLines.h"

struct CatalogueBrowserOptions {
  std::filesystem::path bookFolder;       // empty: DefaultBookCacheFolder()
  std::filesystem::path httpCacheFolder;  // empty: DefaultHttpCacheFolder()
  std::int64_t maxBookBytes = std::int64_t{2} << 30;
  // A feed, a search description or a cover: all told, and without a byte.
  std::chrono::milliseconds feedLimit = std::chrono::seconds(30);
  std::chrono::milliseconds stallLimit = std::chrono::seconds(15);
  // A book: a large one on a slow line takes its time, a silent server not.
  std::chrono::milliseconds bookLimit = std::chrono::hours(2);
  std::chrono::milliseconds bookStallLimit = std::chrono::seconds(30);
  // What the window and its status line say, in the user's language.
  CatalogueWindowTexts windowTexts{};
  CatalogueLines lines{};
};

class CatalogueBrowser {
 public:
  // Gets the path of a book downloaded whole, or found in the cache.
  using OpenBook = std::function<void(const std::u16string& path)>;
  // Gets a book read through range requests.
  using OpenRemote = std::function<void(const RemoteBook& book)>;

  // Needs a QApplication alive; the window shows on Open.
  explicit CatalogueBrowser(OpenBook openBook, const CatalogueBrowserOptions& options = {});
  ~CatalogueBrowser();
  CatalogueBrowser(const CatalogueBrowser&) = delete;
  CatalogueBrowser& operator=(const CatalogueBrowser&) = delete;

  // Shows the window on the feed at `url`, from a fresh start; every fetch
  // of the catalogue carries `credentials` (to its own origin only).
  void Open(const std::u16string& url, std::optional<HttpCredentials> credentials = std::nullopt);
  bool IsVisible() const;
  // From now on a book not in the cache, on a server that honours range
  // requests, goes to `open` as it is read there, instead of downloaded
  // whole; `fetch` does the file's reads.
  void ReadBooksInPlace(OpenRemote open, BlockingFetch fetch);

  // The entry at `row` picked, as Enter or a double click picks it: a
  // catalogue further down browsed, a book downloaded and opened.
  void Activate(int row);
  // What Retry does: the book whose download failed last fetched again,
  // else the feed.
  void Retry();
  // What the search field does with the terms typed; nothing when the
  // catalogue has no search.
  void Search(const std::u16string& terms);

  // What the window shows, for tests and benchmarks: the feed's title, the
  // line saying why the feed or the book picked last did not come (empty
  // when none), whether Retry is offered, the entries, whether a fetch of
  // the feed or a download is under way.
  std::u16string Title() const;
  std::u16string FailureLine() const;
  bool RetryOffered() const;
  std::size_t EntryCount() const;
  bool Loading() const;
  bool Downloading() const;
  // The cells in view, and those showing their cover.
  std::size_t CellsInView() const;
  std::size_t CoversShown() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
