#include "viewer/catalogue/AddressOpening.h"

#include <optional>
#include <utility>

#include "platform/text.h"
#include "viewer/catalogue/BookDownload.h"
#include "viewer/catalogue/CatalogueBrowsing.h"

CAddressOpening::CAddressOpening(BlockingFetch fetch, AddressTargets targets, std::filesystem::path bookFolder)
    : m_fetch(std::move(fetch)),
      m_targets(std::move(targets)),
      m_bookFolder(bookFolder.empty() ? DefaultBookCacheFolder() : std::move(bookFolder)) {}

CAddressOpening::~CAddressOpening() = default;

std::function<std::function<void()>()> CAddressOpening::Opening(const std::u16string& url,
                                                                std::optional<HttpCredentials> credentials) {
  return [this, fetch = m_fetch, url, credentials = std::move(credentials)]() -> std::function<void()> {
    auto probe = std::make_shared<WebAddressProbe>(ProbeWebAddress(RemoteAddress{url, credentials}, fetch));
    return [this, url, probe, credentials] { Finish(url, std::move(*probe), credentials); };
  };
}

void CAddressOpening::Finish(const std::u16string& url, WebAddressProbe probe,
                             const std::optional<HttpCredentials>& credentials) {
  if (probe.kind == WebAddressKind::Catalogue) return m_targets.browse(url, credentials);
  if (probe.kind == WebAddressKind::Book && !probe.opening.file) {
    // Its server sends it only whole: kept in the book cache, as a
    // catalogue's book is, and opened from there.
    OpdsEntry entry;
    entry.id = url;
    OpdsLink link;
    link.href = url;
    link.type = Utf8ToUtf16(probe.opening.answer.contentType);
    const std::u16string name = BookFileName(entry, link);
    if (const auto cached = CachedBook(m_bookFolder, name)) return m_targets.openFile(cached->u16string());
    if (!m_downloads) m_downloads = std::make_unique<HttpClient>();
    DownloadBook(*m_downloads, BookDownloadRequest{url, credentials, m_bookFolder, name, kMaxBookBytes},
                 [](std::int64_t, std::int64_t) {},
                 [this, url](const std::filesystem::path& book, const std::u16string& why) {
                   if (book.empty()) return m_targets.say(url, why);
                   m_targets.openFile(book.u16string());
                 });
    return;
  }
  if (!probe.opening.file) m_targets.say(url, probe.why);
  RemoteBook book;
  book.file = probe.opening.file;
  book.url = url;
  book.title = RemoteBookName(url);
  book.count = probe.opening.count;
  book.credentials = credentials;
  m_targets.openRemote(book);
}
