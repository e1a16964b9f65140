// Blocking fetches from any thread, made on a thread of the client's own:
// a reader of remote bytes (an archive's worker, the opening on the window's
// thread) waits for its answer without running an event loop of its own,
// so no window event is served in the middle of a read.
#pragma once

#include <memory>

#include "platform/http/http_request.h"

class HttpFetchThread {
 public:
  // Needs a QCoreApplication (or one of its kind) alive while it lives.
  HttpFetchThread();
  // Ends the fetches under way (their callers get `Cancelled`) and the thread.
  ~HttpFetchThread();
  HttpFetchThread(const HttpFetchThread&) = delete;
  HttpFetchThread& operator=(const HttpFetchThread&) = delete;

  // Waits for the answer; the request's own limits bound the wait. Its
  // callbacks (sink, progress, redirect check) run on the client's thread.
  HttpResponse Fetch(HttpRequest request);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
