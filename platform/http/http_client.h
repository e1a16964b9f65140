// Fetches over HTTP and HTTPS for the catalogues: bounded in bytes, time
// and redirects, TLS verified, credentials kept to their origin, no
// cookies, a disk cache only where asked for. Asynchronous on the thread
// that made the client (a Qt event loop must run there), or blocking.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/http/http_request.h"

struct HttpClientOptions {
  std::filesystem::path cacheFolder;  // none: no disk cache
  std::int64_t cacheMaxBytes = std::int64_t{100} << 20;
};

// $XDG_CACHE_HOME/velmora/http, or ~/.cache/velmora/http.
std::filesystem::path DefaultHttpCacheFolder();

class HttpClient {
 public:
  using Done = std::function<void(HttpResponse)>;

  // Needs a QCoreApplication (or one of its kind) alive.
  explicit HttpClient(const HttpClientOptions& options = {});
  // Ends the fetches under way; their callbacks are not run.
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Starts a GET; `done` runs once, later, on this thread (and must not
  // destroy the client).
  HttpFetchId Fetch(HttpRequest request, Done done);
  // Ends a fetch under way: its callback runs with `Cancelled` before this
  // returns. Nothing for a fetch already answered.
  void Cancel(HttpFetchId id);
  // Fetches in a local event loop, for tools and tests.
  HttpResponse FetchAndWait(HttpRequest request);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
