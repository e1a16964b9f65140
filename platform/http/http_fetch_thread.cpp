#include "platform/http/http_fetch_thread.h"

#include <QtCore/QEventLoop>
#include <QtCore/QMetaObject>
#include <QtCore/QObject>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/http/http_client.h"

namespace {

// A caller's wait for its answer, shared with the thread: whichever comes
// first, the answer or the end of the thread, lets it go.
struct Waiting {
  std::mutex mutex;
  std::condition_variable answered;
  std::optional<HttpResponse> response;

  void Answer(HttpResponse given) {
    std::lock_guard lock(mutex);
    if (!response) response = std::move(given);
    answered.notify_all();
  }
};

}  // namespace

struct HttpFetchThread::Impl {
  std::mutex mutex;
  std::set<std::shared_ptr<Waiting>> pending;
  std::condition_variable ready;
  QObject* inbox = nullptr;  // lives on the thread: what is posted to it runs there
  QEventLoop* loop = nullptr;
  HttpClient* client = nullptr;
  bool ending = false;
  std::thread thread;

  Impl() {
    thread = std::thread([this] { Run(); });
    std::unique_lock lock(mutex);
    ready.wait(lock, [this] { return inbox != nullptr; });
  }

  void Run() {
    QObject own;
    QEventLoop ownLoop;
    HttpClient ownClient;
    {
      std::lock_guard lock(mutex);
      inbox = &own;
      loop = &ownLoop;
      client = &ownClient;
    }
    ready.notify_all();
    ownLoop.exec();
    std::set<std::shared_ptr<Waiting>> left;
    {
      std::lock_guard lock(mutex);
      inbox = nullptr;
      left.swap(pending);
    }
    // The client drops its fetches unanswered: their callers are told here.
    HttpResponse cancelled;
    cancelled.error = HttpError::Cancelled;
    cancelled.reason = u"cancelled";
    for (const auto& waiting : left) waiting->Answer(cancelled);
  }

  ~Impl() {
    {
      std::lock_guard lock(mutex);
      ending = true;
    }
    QMetaObject::invokeMethod(inbox, [this] { loop->quit(); }, Qt::QueuedConnection);
    thread.join();
  }
};

HttpFetchThread::HttpFetchThread() : m_impl(std::make_unique<Impl>()) {}

HttpFetchThread::~HttpFetchThread() = default;

HttpResponse HttpFetchThread::Fetch(HttpRequest request) {
  auto waiting = std::make_shared<Waiting>();
  Impl* impl = m_impl.get();
  const auto answer = [impl, waiting](HttpResponse response) {
    {
      std::lock_guard lock(impl->mutex);
      impl->pending.erase(waiting);
    }
    waiting->Answer(std::move(response));
  };
  {
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->ending || m_impl->inbox == nullptr) {
      HttpResponse refused;
      refused.error = HttpError::Cancelled;
      refused.reason = u"cancelled";
      return refused;
    }
    m_impl->pending.insert(waiting);
    HttpClient* client = m_impl->client;
    QMetaObject::invokeMethod(
        m_impl->inbox, [client, answer, request = std::move(request)]() mutable { client->Fetch(std::move(request), answer); },
        Qt::QueuedConnection);
  }
  std::unique_lock lock(waiting->mutex);
  waiting->answered.wait(lock, [&] { return waiting->response.has_value(); });
  return std::move(*waiting->response);
}
