#include "viewer/catalogue/BookDownload.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <system_error>

#include "platform/text.h"
#include "viewer/catalogue/FetchedFeed.h"

namespace {

// The partial book, removed unless it was made whole.
struct PartFile {
  std::filesystem::path path;
  int fd = -1;
  ~PartFile() {
    if (fd >= 0) ::close(fd);
    if (!path.empty()) ::unlink(path.c_str());
  }
  bool Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd, bytes.data(), bytes.size());
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }
  // Closes it and gives it its name: false, and it is gone, when either fails.
  bool Keep(const std::filesystem::path& name) {
    const bool closed = ::close(fd) == 0;
    fd = -1;
    if (!closed || ::rename(path.c_str(), name.c_str()) != 0) return false;
    path.clear();
    return true;
  }
};

std::u16string BookFailureLine(const HttpResponse& response, const CatalogueLines& lines) {
  if (response.error == HttpError::Status && response.status == 401)
    return response.credentialsSent ? lines.passwordRefused : lines.serverAsksPassword;
  if (response.error == HttpError::Cancelled) return u"Cancelled.";
  if (response.error == HttpError::Write) return lines.bookNotWritten;
  if (response.error == HttpError::TooLarge) return lines.bookTooLarge + response.reason + u".";
  return lines.bookFailed + response.reason + u".";
}

}  // namespace

std::filesystem::path DefaultBookCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && *cache == '/') return std::filesystem::path(cache) / "velmora" / "books";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "") / ".cache" / "velmora" / "books";
}

std::optional<std::filesystem::path> CachedBook(const std::filesystem::path& folder, const std::u16string& fileName) {
  const std::filesystem::path book = folder / Utf16ToUtf8(fileName);
  std::error_code error;
  if (fileName.empty() || !std::filesystem::is_regular_file(book, error)) return std::nullopt;
  return book;
}

HttpFetchId DownloadBook(HttpClient& client, const BookDownloadRequest& request, BookProgress progress, BookDone done,
                         const CatalogueLines& lines) {
  auto part = std::make_shared<PartFile>();
  const std::filesystem::path book = request.folder / Utf16ToUtf8(request.fileName);
  std::error_code error;
  std::filesystem::create_directories(request.folder, error);
  std::string pattern = (request.folder / ("." + Utf16ToUtf8(request.fileName) + ".XXXXXX")).string();
  part->fd = request.fileName.empty() ? -1 : ::mkostemp(pattern.data(), O_CLOEXEC);
  if (part->fd >= 0) part->path = pattern;
  HttpRequest fetch;
  fetch.url = request.url;
  fetch.credentials = request.credentials;
  fetch.maxBytes = request.maxBytes;
  fetch.totalLimit = request.totalLimit;
  fetch.stallLimit = request.stallLimit;
  fetch.bodySink = [part](std::string_view bytes) { return part->fd >= 0 && part->Write(bytes); };
  fetch.progress = std::move(progress);
  return client.Fetch(std::move(fetch), [part, book, done = std::move(done), lines](HttpResponse response) {
    if (response.error != HttpError::None) return done({}, BookFailureLine(response, lines));
    if (IsWebPageType(response.contentType)) return done({}, lines.bookWebPage);
    if (!part->Keep(book)) return done({}, lines.bookNotWritten);
    done(book, {});
  });
}
