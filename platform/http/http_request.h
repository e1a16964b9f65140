// One HTTP fetch as its caller asks for it and as it ends: plain values,
// UTF-16 addresses, bytes for bodies and header values.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// How a fetch failed; `None` when the server answered 1xx-3xx (the last,
// after redirects) with a body within the cap.
enum class HttpError {
  None,
  BadUrl,           // not an absolute http or https address with a host
  Network,          // no connection, or it broke
  Tls,              // the certificate or the handshake failed
  Status,           // the server answered 4xx or 5xx (its body is kept)
  TooLarge,         // the body went over the request's cap
  Timeout,          // over the time limit, or silent over the stall limit
  RefusedRedirect,  // off HTTPS, to another scheme, or too many
  Cancelled,
  Write,            // the request's body sink refused the bytes
};

// Bytes `first` to `last`, both included, as the Range header counts them.
struct HttpByteRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

// HTTP Basic credentials, sent to the origin of the request's URL only.
struct HttpCredentials {
  std::u16string user;
  std::u16string password;
};

// Whether the client's disk cache is read and written for a fetch.
enum class HttpCacheUse {
  Bypass,       // neither read nor written
  Revalidate,   // a fresh copy by the server's caching headers, else the network
  PreferCache,  // any copy, however old; the network only when there is none
};

// Asked before a redirect to `target` is followed, once the client's own
// rules allow it: `answer` (now or later) is given "" to follow it, or the
// one line refusing it, which becomes the fetch's reason.
using HttpRedirectCheck =
    std::function<void(const std::u16string& target, std::function<void(const std::u16string& refusal)> answer)>;

struct HttpRequest {
  std::u16string url;
  std::int64_t maxBytes = std::int64_t{16} << 20;  // of the body; over it the fetch fails
  std::optional<HttpByteRange> range;
  std::optional<HttpCredentials> credentials;
  HttpCacheUse cache = HttpCacheUse::Bypass;  // a range is never cached
  std::string accept;                         // the Accept header, when not empty
  std::chrono::milliseconds totalLimit{60000};  // from the request to the last byte
  std::chrono::milliseconds stallLimit{15000};  // without a byte
  int maxRedirects = 5;
  HttpRedirectCheck redirectCheck;  // none: the client's rules alone
  // Where a 2xx answer's body goes as it comes, instead of into the
  // response (a download of a book is too large to hold): false ends the
  // fetch with `Write`. The cap counts as ever.
  std::function<bool(std::string_view bytes)> bodySink;
  // Told as a 2xx answer's body comes: the bytes so far, and the length the
  // server announced (-1 when it did not).
  std::function<void(std::int64_t received, std::int64_t total)> progress;
};

struct HttpResponse {
  HttpError error = HttpError::None;
  std::u16string reason;  // one line saying why, when failed
  int status = 0;         // the last answer's, 0 when none came
  std::u16string finalUrl;
  std::string contentType, etag, lastModified;  // the type also when the body went over the cap
  std::string wwwAuthenticate;  // a 401's challenge
  // The request's credentials went with the last hop: false when they were
  // given for an origin a redirect left.
  bool credentialsSent = false;
  bool rangeHonoured = false;   // a range was asked for and came as 206
  // The whole resource's size: a 206's Content-Range total, else the size
  // of a complete body; unknown for a failure or a "*" total.
  std::optional<std::int64_t> totalSize;
  bool fromCache = false;
  std::string body;  // empty for a failure, but for a 4xx or 5xx answer's
};

// Names a fetch under way, to cancel it.
enum class HttpFetchId : std::uint64_t {};
