#include "viewer/catalogue/CatalogueBrowser.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>
#include <vector>

#include "platform/catalogue/catalogue_window.h"
#include "platform/http/http_client.h"
#include "viewer/catalogue/BookDownload.h"
#include "viewer/catalogue/CatalogueBrowsing.h"
#include "viewer/catalogue/FetchedFeed.h"

namespace {

constexpr std::int64_t kMaxCoverBytes = std::int64_t{8} << 20;
constexpr int kCoversAtOnce = 4;

// A grid cell's entry and its picture, asked for once.
struct Entry {
  OpdsEntry entry;
  std::optional<OpdsLink> cover;
  bool coverAsked = false;
};

CatalogueCell CellOf(const Entry& shown) {
  CatalogueCell cell;
  cell.title = shown.entry.title;
  cell.tooltip = shown.entry.title;
  for (const std::u16string& author : shown.entry.authors) cell.tooltip += u'\n' + author;
  // A catalogue further down, with no picture of its own: a folder.
  cell.folder = !shown.cover && shown.entry.navigation && !BookLink(shown.entry);
  return cell;
}

}  // namespace

struct CatalogueBrowser::Impl {
  OpenBook openBook;
  OpenRemote openRemote;
  BlockingFetch remoteFetch;
  CatalogueBrowserOptions options;
  HttpClient client;
  std::optional<CatalogueBrowsing> browsing;
  std::optional<HttpCredentials> credentials;
  std::map<std::u16string, std::u16string> searchTemplates;  // by description URL
  std::u16string searchTemplate;  // the feed's, once known

  std::optional<HttpFetchId> feedFetch, searchFetch, download;
  std::map<HttpFetchId, int> coverFetches;  // the row each is for
  std::u16string failure;
  // The book whose download failed, fetched again by Retry.
  std::optional<std::pair<OpdsEntry, OpdsLink>> failedBook;
  // The entry picked last in each feed left, picked again on coming back.
  std::map<std::u16string, int> picked;
  std::u16string shown;  // the feed whose entries the grid holds
  std::vector<Entry> entries;
  std::vector<int> rowsInView;
  CatalogueScreen screen;
  // Last: it goes first, and the client's fetches end after it, unheard.
  CatalogueWindow window;

  Impl(OpenBook open, const CatalogueBrowserOptions& given)
      : openBook(std::move(open)),
        options(given),
        client(HttpClientOptions{.cacheFolder = given.httpCacheFolder.empty() ? DefaultHttpCacheFolder()
                                                                              : given.httpCacheFolder}),
        window(Actions(), given.windowTexts) {
    if (options.bookFolder.empty()) options.bookFolder = DefaultBookCacheFolder();
  }

  CatalogueWindowActions Actions() {
    CatalogueWindowActions actions;
    actions.back = [this] { Go(BrowseMove::Back); };
    actions.up = [this] { Go(BrowseMove::Up); };
    actions.start = [this] { Go(BrowseMove::Start); };
    actions.previous = [this] { Go(BrowseMove::Previous); };
    actions.next = [this] { Go(BrowseMove::Next); };
    actions.retry = [this] { Retry(); };
    actions.cancelDownload = [this] {
      if (download) client.Cancel(*download);
    };
    actions.search = [this](const std::u16string& terms) { Search(terms); };
    actions.activate = [this](int row) { Activate(row); };
    actions.rowsInView = [this](const std::vector<int>& rows) {
      rowsInView = rows;
      AskCovers();
    };
    // Nobody sees the feed any more: its fetches end. A download goes on,
    // and its book opens.
    actions.closed = [this] { EndFeedFetches(); };
    return actions;
  }

  void Retry() {
    if (std::optional<std::pair<OpdsEntry, OpdsLink>> book = std::exchange(failedBook, std::nullopt))
      return OpenBookOf(book->first, book->second);
    if (browsing) FetchFeed();
  }

  // Browsing: every move fetches the feed it leads to.
  void Go(BrowseMove move) {
    if (browsing && browsing->Go(move)) FetchFeed();
  }

  void FetchFeed() {
    if (const int row = window.CurrentRow(); !shown.empty() && row >= 0) {
      if (picked.size() >= 2 * kMaxBrowsingDepth) picked.clear();
      picked[shown] = row;
    }
    shown.clear();
    EndFeedFetches();
    entries.clear();
    rowsInView.clear();
    window.ClearCells();
    searchTemplate.clear();
    failure.clear();
    failedBook.reset();
    screen.heading = browsing->Url();  // until the feed gives its title
    screen.loading = true;
    screen.retry = false;
    UpdateButtons();
    window.Show(screen);
    const bool withCredentials = credentials.has_value();
    HttpRequest request = FeedRequest(browsing->Url(), credentials);
    request.totalLimit = options.feedLimit;
    request.stallLimit = options.stallLimit;
    feedFetch = client.Fetch(std::move(request), [this, withCredentials](HttpResponse response) {
      feedFetch.reset();
      if (response.error == HttpError::Cancelled) return;
      std::u16string why;
      std::optional<OpdsFeed> feed = ReadFetchedFeed(response, withCredentials, &why, options.lines);
      if (!feed) return Fail(why);
      Show(std::move(*feed));
    });
  }

  // The feed's fetch, its search description's and its covers' end unheard.
  void EndFeedFetches() {
    for (std::optional<HttpFetchId>* fetch : {&feedFetch, &searchFetch})
      if (const std::optional<HttpFetchId> id = std::exchange(*fetch, std::nullopt)) client.Cancel(*id);
    const std::map<HttpFetchId, int> covers = std::exchange(coverFetches, {});
    for (const auto& [id, row] : covers) client.Cancel(id);
  }

  // A line on the status line, in place of whatever it said.
  void Say(const std::u16string& line, bool retry) {
    screen.loading = false;
    screen.status = line;
    screen.retry = retry;
  }

  void Fail(const std::u16string& why) {
    failure = why;
    Say(why, true);
    UpdateButtons();
    window.Show(screen);
  }

  void Show(OpdsFeed feed) {
    screen.heading = screen.windowTitle = feed.title.empty() ? browsing->Url() : feed.title;
    Say(feed.entries.empty() ? options.lines.nothingHere : u"", false);
    std::vector<CatalogueCell> cells;
    cells.reserve(feed.entries.size());
    for (OpdsEntry& entry : feed.entries) {
      std::optional<OpdsLink> cover = CoverLink(entry);
      entries.push_back(Entry{std::move(entry), std::move(cover)});
      cells.push_back(CellOf(entries.back()));
    }
    feed.entries.clear();
    const OpdsFeedLinks links = feed.links;
    browsing->Arrived(std::move(feed));
    shown = browsing->Url();
    const auto before = picked.find(shown);
    const int row = before == picked.end() ? 0 : std::min(before->second, static_cast<int>(cells.size()) - 1);
    window.SetCells(cells, row);
    UpdateButtons();
    FindSearch(links);
    window.Show(screen);
  }

  void UpdateButtons() {
    auto leads = [this](BrowseMove move) { return browsing && !browsing->Target(move).empty(); };
    screen.back = leads(BrowseMove::Back);
    screen.up = leads(BrowseMove::Up);
    screen.start = leads(BrowseMove::Start);
    screen.previous = leads(BrowseMove::Previous);
    screen.next = leads(BrowseMove::Next);
  }

  // The search field shows once the feed's template is known: given, or
  // read from its description (each fetched once a session).
  void FindSearch(const OpdsFeedLinks& links) {
    screen.search = false;
    if (links.search.empty()) return;
    if (links.searchIsTemplate) return UseSearch(links.search);
    if (const auto known = searchTemplates.find(links.search); known != searchTemplates.end())
      return UseSearch(known->second);
    HttpRequest request;
    request.url = links.search;
    request.credentials = credentials;
    request.maxBytes = static_cast<std::int64_t>(kMaxSearchDescriptionBytes);
    request.cache = HttpCacheUse::Revalidate;
    request.totalLimit = options.feedLimit;
    request.stallLimit = options.stallLimit;
    searchFetch = client.Fetch(std::move(request), [this, description = links.search](HttpResponse response) {
      searchFetch.reset();
      if (response.error != HttpError::None) return;
      const std::u16string found = ParseOpenSearchDescription(response.body, response.finalUrl);
      searchTemplates[description] = found;
      UseSearch(found);
      window.Show(screen);
    });
  }

  void UseSearch(const std::u16string& found) {
    searchTemplate = found;
    screen.search = !found.empty();
  }

  void Search(const std::u16string& terms) {
    const std::u16string url = FillSearchTemplate(searchTemplate, terms);
    if (browsing && !url.empty() && browsing->Open(url)) FetchFeed();
  }

  // Enter or a double click: a book is opened, a catalogue further down
  // browsed.
  void Activate(int row) {
    if (!browsing || row < 0 || static_cast<std::size_t>(row) >= entries.size()) return;
    const OpdsEntry& entry = entries[static_cast<std::size_t>(row)].entry;
    if (entry.stream && entry.stream->count > 0 && openRemote) return OpenStream(entry);
    if (const std::optional<OpdsLink> book = BookLink(entry)) return OpenBookOf(entry, *book);
    if (entry.navigation && browsing->Open(entry.navigation->href)) FetchFeed();
  }

  void OpenBookOf(const OpdsEntry& entry, const OpdsLink& link) {
    if (!failure.empty()) {  // a book's before, now asked for again or another
      failure.clear();
      Say({}, false);
      window.Show(screen);
    }
    const std::u16string name = BookFileName(entry, link);
    if (const auto cached = CachedBook(options.bookFolder, name)) return openBook(cached->u16string());
    if (download) client.Cancel(*download);
    failedBook.reset();
    window.ShowDownload(entry.title);
    if (openRemote) return AskForRange(entry, link);
    Download(entry, link);
  }

  // A book the server streams page by page: read as its pages are wanted.
  void OpenStream(const OpdsEntry& entry) {
    const PseStream& stream = *entry.stream;
    RemoteBook book;
    book.url = stream.hrefTemplate;
    book.title = entry.title.empty() ? RemoteBookName(stream.hrefTemplate) : entry.title;
    book.stream = stream;
    if (browsing && SameWebOrigin(stream.hrefTemplate, browsing->RootUrl())) book.credentials = credentials;
    book.fetch = remoteFetch;
    window.Later([this, book] { openRemote(book); });
  }

  // A first range request: a server that honours it has the book read in
  // place, the others send it whole as before. The catalogue's password
  // goes to its own origin only.
  void AskForRange(const OpdsEntry& entry, const OpdsLink& link) {
    RemoteAddress address{link.href, std::nullopt};
    if (browsing && SameWebOrigin(link.href, browsing->RootUrl())) address.credentials = credentials;
    const RemoteFileOptions blocks;  // not the browser's own options
    download = client.Fetch(RangeRequest(address, 0, blocks.blockSize - 1, blocks),
                            [this, entry, link, address, blocks](HttpResponse answer) {
                              download.reset();
                              if (answer.error == HttpError::Cancelled) return window.HideDownload();
                              RemoteOpening opening = RemoteFileOf(address, std::move(answer), remoteFetch, blocks);
                              if (!opening.file) return Download(entry, link);
                              window.HideDownload();
                              RemoteBook book;
                              book.file = opening.file;
                              book.url = link.href;
                              book.title = entry.title.empty() ? RemoteBookName(link.href) : entry.title;
                              book.count = opening.count;
                              window.Later([this, book] { openRemote(book); });
                            });
  }

  void Download(const OpdsEntry& entry, const OpdsLink& link) {
    const std::u16string name = BookFileName(entry, link);
    const BookDownloadRequest request{.url = link.href,
                                      .credentials = credentials,
                                      .folder = options.bookFolder,
                                      .fileName = name,
                                      .maxBytes = options.maxBookBytes,
                                      .totalLimit = options.bookLimit,
                                      .stallLimit = options.bookStallLimit};
    auto progress = [this](std::int64_t received, std::int64_t total) { window.DownloadProgress(received, total); };
    auto done = [this, picked = std::pair(entry, link)](const std::filesystem::path& book, const std::u16string& why) {
      download.reset();
      window.HideDownload();
      if (book.empty()) {
        if (why == u"Cancelled.") return;
        // The feed stays; Retry now asks for the book again.
        failedBook = picked;
        failure = why;
        Say(why, true);
        window.Show(screen);
        return;
      }
      // Out of the client's answer: opening may ask for a password in a
      // dialog of its own, and the client's other fetches go on meanwhile.
      window.Later([this, path = book.u16string()] { openBook(path); });
    };
    download = DownloadBook(client, request, progress, std::move(done), options.lines);
  }

  // Covers for the cells in view, a few at a time; a cover that fails
  // leaves its cell to the title.
  void AskCovers() {
    for (const int row : rowsInView) {
      if (static_cast<int>(coverFetches.size()) >= kCoversAtOnce) break;
      if (row < 0 || static_cast<std::size_t>(row) >= entries.size()) continue;
      Entry& shownEntry = entries[static_cast<std::size_t>(row)];
      if (shownEntry.coverAsked || !shownEntry.cover) continue;
      shownEntry.coverAsked = true;
      HttpRequest request;
      request.url = shownEntry.cover->href;
      request.credentials = credentials;
      request.maxBytes = kMaxCoverBytes;
      request.cache = HttpCacheUse::Revalidate;
      request.totalLimit = options.feedLimit;
      request.stallLimit = options.stallLimit;
      const HttpFetchId id = client.Fetch(std::move(request), [this, row](HttpResponse response) {
        if (response.error == HttpError::Cancelled) return;
        for (auto it = coverFetches.begin(); it != coverFetches.end(); ++it)
          if (it->second == row) {
            coverFetches.erase(it);
            break;
          }
        if (response.error == HttpError::None) window.SetCover(row, response.body);
        AskCovers();
      });
      coverFetches.emplace(id, row);
    }
  }
};

CatalogueBrowser::CatalogueBrowser(OpenBook openBook, const CatalogueBrowserOptions& options)
    : m_impl(std::make_unique<Impl>(std::move(openBook), options)) {}

CatalogueBrowser::~CatalogueBrowser() = default;

void CatalogueBrowser::ReadBooksInPlace(OpenRemote open, BlockingFetch fetch) {
  m_impl->openRemote = std::move(open);
  m_impl->remoteFetch = std::move(fetch);
}

void CatalogueBrowser::Open(const std::u16string& url, std::optional<HttpCredentials> credentials) {
  Impl& impl = *m_impl;
  impl.credentials = std::move(credentials);
  impl.browsing.emplace(url);
  impl.searchTemplates.clear();
  impl.picked.clear();
  impl.window.Present();
  impl.FetchFeed();
}

bool CatalogueBrowser::IsVisible() const { return m_impl->window.IsVisible(); }

std::u16string CatalogueBrowser::Title() const { return m_impl->window.Heading(); }

void CatalogueBrowser::Activate(int row) { m_impl->Activate(row); }

void CatalogueBrowser::Retry() { m_impl->Retry(); }

void CatalogueBrowser::Search(const std::u16string& terms) { m_impl->Search(terms); }

std::u16string CatalogueBrowser::FailureLine() const { return m_impl->failure; }

bool CatalogueBrowser::RetryOffered() const { return m_impl->screen.retry && !m_impl->screen.loading; }

std::size_t CatalogueBrowser::EntryCount() const { return m_impl->window.CellCount(); }

bool CatalogueBrowser::Loading() const { return m_impl->feedFetch.has_value(); }

bool CatalogueBrowser::Downloading() const { return m_impl->download.has_value(); }

std::size_t CatalogueBrowser::CellsInView() const { return m_impl->rowsInView.size(); }

std::size_t CatalogueBrowser::CoversShown() const { return m_impl->window.CoverCount(); }
