#include "platform/http/http_client.h"

#include <QtCore/QEventLoop>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkCookie>
#include <QtNetwork/QNetworkCookieJar>
#include <QtNetwork/QNetworkDiskCache>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>

#include "platform/http/http_rules.h"

std::filesystem::path DefaultHttpCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && *cache == '/') return std::filesystem::path(cache) / "velmora" / "http";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "") / ".cache" / "velmora" / "http";
}

namespace {

// Neither keeps nor gives cookies: a catalogue is asked with its
// credentials, and nothing else follows the reader from server to server.
class NoCookies final : public QNetworkCookieJar {
 public:
  using QNetworkCookieJar::QNetworkCookieJar;
  QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
  bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

HttpOrigin OriginOf(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return HttpOrigin{.scheme = scheme.toStdU16String(),
                    .host = url.host().toLower().toStdU16String(),
                    .port = url.port(scheme == u"https" ? 443 : 80)};
}

bool IsWeb(const QUrl& url) {
  return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
}

std::u16string Text(const QString& text) { return text.toStdU16String(); }

std::u16string Number(long long value) { return Text(QString::number(value)); }

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One fetch through its redirects: each hop is a reply of its own.
struct Transfer {
  HttpFetchId id{};
  HttpRequest request;
  HttpClient::Done done;
  std::optional<HttpOrigin> credentialsFor;
  QUrl url;
  int redirects = 0;
  QPointer<QNetworkReply> reply;
  QTimer total, stall;
  HttpResponse response;
  qint64 received = 0;  // of this hop's body, whether kept or sunk
  bool ending = false;  // its answer is on its way
};

}  // namespace

struct HttpClient::Impl {
  QObject context;  // the timers' and replies' connections end with it
  QNetworkAccessManager manager;
  std::map<HttpFetchId, std::unique_ptr<Transfer>> transfers;
  std::uint64_t lastId = 0;
  // Held by a redirect's check while it is asked: gone with the client.
  std::shared_ptr<Impl*> self = std::make_shared<Impl*>(this);

  explicit Impl(const HttpClientOptions& options) {
    manager.setCookieJar(new NoCookies(&manager));
    if (!options.cacheFolder.empty()) {
      auto* cache = new QNetworkDiskCache(&manager);
      cache->setCacheDirectory(QString::fromStdString(options.cacheFolder.string()));
      cache->setMaximumCacheSize(options.cacheMaxBytes);
      manager.setCache(cache);
    }
  }

  ~Impl() {
    for (auto& [id, transfer] : transfers) Drop(*transfer);
  }

  Transfer* Find(HttpFetchId id) {
    const auto found = transfers.find(id);
    return found == transfers.end() ? nullptr : found->second.get();
  }

  // Lets go of the reply under way, unheard. Only this client's
  // connections go: Qt's own carry the abort to its network thread.
  void Drop(Transfer& t) {
    if (QNetworkReply* reply = t.reply) {
      t.reply = nullptr;
      QObject::disconnect(reply, nullptr, &context, nullptr);
      reply->abort();
      reply->deleteLater();
    }
  }

  // Answers later, out of the reply's and the timers' own signals.
  void End(Transfer& t, HttpError error, std::u16string reason) {
    if (t.ending) return;
    t.ending = true;
    t.total.stop();
    t.stall.stop();
    if (error != HttpError::None) {
      t.response.error = error;
      t.response.reason = std::move(reason);
      t.response.totalSize.reset();
      if (error != HttpError::Status) t.response.body.clear();  // a part is no answer
    }
    Drop(t);
    QTimer::singleShot(0, &context, [this, id = t.id] { Answer(id); });
  }

  void Answer(HttpFetchId id) {
    const auto found = transfers.find(id);
    if (found == transfers.end()) return;
    std::unique_ptr<Transfer> t = std::move(found->second);
    transfers.erase(found);
    t->done(std::move(t->response));
  }

  HttpFetchId Fetch(HttpRequest request, Done done) {
    auto owned = std::make_unique<Transfer>();
    Transfer& t = *owned;
    t.id = HttpFetchId{++lastId};
    t.done = std::move(done);
    // Tolerant: a feed's links may carry spaces and letters beyond ASCII.
    t.url = QUrl(QString::fromStdU16String(request.url));
    t.url.setUserInfo(QString());  // credentials come as such, not in addresses
    if (request.credentials) t.credentialsFor = OriginOf(t.url);
    t.request = std::move(request);
    transfers.emplace(t.id, std::move(owned));
    if (!IsWeb(t.url)) {
      End(t, HttpError::BadUrl, u"not an http or https address");
      return t.id;
    }
    t.total.setSingleShot(true);
    t.stall.setSingleShot(true);
    QObject::connect(&t.total, &QTimer::timeout, &context, [this, &t] {
      End(t, HttpError::Timeout, u"timed out: over " + Number(t.request.totalLimit.count()) + u" ms all told");
    });
    QObject::connect(&t.stall, &QTimer::timeout, &context, [this, &t] {
      End(t, HttpError::Timeout, u"timed out: nothing for " + Number(t.request.stallLimit.count()) + u" ms");
    });
    t.total.start(t.request.totalLimit);
    Hop(t);
    return t.id;
  }

  void Hop(Transfer& t) {
    QNetworkRequest request(t.url);
    // Every redirect is looked at here: its scheme, its count, and whether
    // the credentials go along.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    const bool cached = t.request.cache != HttpCacheUse::Bypass && !t.request.range;
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         !cached ? QNetworkRequest::AlwaysNetwork
                         : t.request.cache == HttpCacheUse::PreferCache ? QNetworkRequest::PreferCache
                                                                        : QNetworkRequest::PreferNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, cached);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Velmora/" VELMORA_VERSION));
    if (!t.request.accept.empty()) request.setRawHeader("Accept", QByteArray::fromStdString(t.request.accept));
    if (const auto& range = t.request.range)
      request.setRawHeader("Range", "bytes=" + QByteArray::number(range->first) + '-' + QByteArray::number(range->last));
    t.response.credentialsSent = t.credentialsFor && CredentialsGoTo(*t.credentialsFor, OriginOf(t.url));
    if (t.response.credentialsSent) {
      const QString pair = QString::fromStdU16String(t.request.credentials->user) + u':' +
                           QString::fromStdU16String(t.request.credentials->password);
      request.setRawHeader("Authorization", "Basic " + pair.toUtf8().toBase64());
    }
    QNetworkReply* reply = manager.get(request);
    t.reply = reply;
    reply->setReadBufferSize(64 * 1024);  // taken out as it comes, into the body
    t.stall.start(t.request.stallLimit);
    // Read on readyRead only: a reply from the cache read from within its
    // metaDataChanged never finishes.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &context, [this, &t] {
      t.stall.start(t.request.stallLimit);
      CheckLength(t);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &context, [this, &t] {
      t.stall.start(t.request.stallLimit);
      Take(t);
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &context, [&t] { t.stall.start(t.request.stallLimit); });
    QObject::connect(reply, &QNetworkReply::finished, &context, [this, &t] { Finished(t); });
  }

  // An announced length over the cap ends the fetch at once.
  void CheckLength(Transfer& t) {
    QNetworkReply* reply = t.reply;
    if (reply == nullptr || t.ending || IsRedirect(Status(*reply))) return;
    // Said even when the body is refused: what a too large answer is.
    t.response.contentType = reply->rawHeader("Content-Type").toStdString();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > t.request.maxBytes) TooLarge(t);
  }

  // Moves what has come into the body, up to the cap: the length a server
  // announces may end it early, never lets it run longer.
  void Take(Transfer& t) {
    CheckLength(t);
    QNetworkReply* reply = t.reply;
    if (reply == nullptr || t.ending) return;
    const qint64 cap = t.request.maxBytes;
    const int status = Status(*reply);
    const bool success = status >= 200 && status < 300;
    const bool sunk = t.request.bodySink && success;
    std::string& body = t.response.body;
    while (reply->bytesAvailable() > 0 && t.received <= cap) {
      // No more than has come: a read makes room for all it is allowed, and
      // a book's cap is gigabytes.
      const QByteArray bytes = reply->read(std::min(cap + 1 - t.received, reply->bytesAvailable()));
      t.received += bytes.size();
      if (t.received > cap) break;
      const std::string_view part(bytes.constData(), static_cast<std::size_t>(bytes.size()));
      if (!sunk) body.append(part);
      else if (!t.request.bodySink(part)) return End(t, HttpError::Write, u"the body could not be kept");
    }
    if (t.received > cap) return TooLarge(t);
    if (t.request.progress && success) {
      const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
      t.request.progress(t.received, length.isValid() ? length.toLongLong() : -1);
    }
  }

  void TooLarge(Transfer& t) {
    End(t, HttpError::TooLarge, u"too large: over " + Number(t.request.maxBytes) + u" bytes");
  }

  static int Status(const QNetworkReply& reply) {
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  }

  void Finished(Transfer& t) {
    QNetworkReply* reply = t.reply;
    if (reply == nullptr || t.ending) return;
    Take(t);
    if (t.ending) return;
    const int status = Status(*reply);
    HttpResponse& response = t.response;
    response.status = status;
    response.finalUrl = Text(t.url.toString(QUrl::FullyEncoded));
    if (IsRedirect(status)) return Redirect(t, *reply);
    const auto header = [reply](const char* name) { return reply->rawHeader(name).toStdString(); };
    response.contentType = header("Content-Type");
    response.etag = header("ETag");
    response.lastModified = header("Last-Modified");
    response.wwwAuthenticate = header("WWW-Authenticate");
    response.fromCache = reply->attribute(QNetworkRequest::SourceIsFromCacheAttribute).toBool();
    if (status >= 400) {
      const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
      return End(t, HttpError::Status, u"status " + Number(status) + (phrase.isEmpty() ? u"" : u" " + Text(phrase)));
    }
    switch (reply->error()) {
      case QNetworkReply::NoError:
        break;
      case QNetworkReply::SslHandshakeFailedError:
        return End(t, HttpError::Tls, u"TLS: " + Text(reply->errorString()));
      case QNetworkReply::TimeoutError:
        return End(t, HttpError::Timeout, u"timed out: " + Text(reply->errorString()));
      default:
        return End(t, HttpError::Network, u"no answer: " + Text(reply->errorString()));
    }
    if (status == 206) {
      const auto range = ParseContentRange(header("Content-Range"));
      response.rangeHonoured = t.request.range.has_value() && range.has_value();
      if (!response.rangeHonoured) return End(t, HttpError::Network, u"a partial answer not asked for");
      response.totalSize = range->total;
    } else {
      response.totalSize = t.received;
    }
    End(t, HttpError::None, {});
  }

  void Redirect(Transfer& t, QNetworkReply& reply) {
    QUrl target = reply.attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (target.isEmpty()) target = QUrl(QString::fromUtf8(reply.rawHeader("Location")));
    target = t.url.resolved(target);
    target.setUserInfo(QString());
    if (++t.redirects > t.request.maxRedirects)
      return End(t, HttpError::RefusedRedirect, u"redirect refused: more than " + Number(t.request.maxRedirects));
    if (!IsWeb(target) || !RedirectAllowed(Text(t.url.scheme()), Text(target.scheme())))
      return End(t, HttpError::RefusedRedirect,
                 u"redirect refused: from " + Text(t.url.scheme()) + u" to " + Text(target.toString()));
    Drop(t);
    t.response = HttpResponse{};
    t.received = 0;
    if (!t.request.redirectCheck) return Follow(t, target);
    t.stall.stop();  // the check takes its time, the total counts on
    std::weak_ptr<Impl*> alive = self;
    t.request.redirectCheck(Text(target.toString(QUrl::FullyEncoded)),
                            [alive, id = t.id, target](const std::u16string& refusal) {
                              const auto impl = alive.lock();
                              Transfer* const t = impl ? (*impl)->Find(id) : nullptr;
                              if (t == nullptr || t->ending || t->reply != nullptr) return;
                              if (!refusal.empty()) return (*impl)->End(*t, HttpError::RefusedRedirect, refusal);
                              (*impl)->Follow(*t, target);
                            });
  }

  void Follow(Transfer& t, const QUrl& target) {
    t.url = target;
    Hop(t);
  }

  void Cancel(HttpFetchId id) {
    Transfer* t = Find(id);
    if (t == nullptr) return;
    Drop(*t);
    t->response = HttpResponse{};
    t->response.error = HttpError::Cancelled;
    t->response.reason = u"cancelled";
    t->ending = true;
    Answer(id);
  }
};

HttpClient::HttpClient(const HttpClientOptions& options) : m_impl(std::make_unique<Impl>(options)) {}

HttpClient::~HttpClient() = default;

HttpFetchId HttpClient::Fetch(HttpRequest request, Done done) {
  return m_impl->Fetch(std::move(request), std::move(done));
}

void HttpClient::Cancel(HttpFetchId id) { m_impl->Cancel(id); }

HttpResponse HttpClient::FetchAndWait(HttpRequest request) {
  QEventLoop loop;
  HttpResponse result;
  Fetch(std::move(request), [&](HttpResponse response) {
    result = std::move(response);
    loop.quit();
  });
  loop.exec();  // the answer never comes before the loop runs
  return result;
}
