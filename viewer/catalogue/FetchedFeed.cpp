#include "viewer/catalogue/FetchedFeed.h"

#include <string_view>

namespace {

std::u16string FailureLine(const HttpResponse& response, bool withCredentials, const CatalogueLines& lines) {
  switch (response.error) {
    case HttpError::Status:
      if (response.status == 401) {
        if (response.credentialsSent) return lines.passwordRefused;
        // Given, but kept from the other origin a redirect led to.
        return withCredentials ? lines.asksElsewhere : lines.asksPassword;
      }
      if (response.status == 403) return lines.forbidden;
      if (response.status == 404) return lines.notFound;
      return lines.serverError + response.reason + u".";
    case HttpError::BadUrl:
      return lines.badUrl;
    case HttpError::Tls:
      return lines.tls + response.reason + u".";
    case HttpError::Timeout:
      return lines.tooSlow + response.reason + u".";
    case HttpError::TooLarge:
      return lines.feedTooLarge + response.reason + u".";
    case HttpError::RefusedRedirect:
      return lines.redirect + response.reason + u".";
    default:
      return lines.unreachable + response.reason + u".";
  }
}

}  // namespace

bool IsWebPageType(std::string_view contentType) {
  std::string lower(contentType.substr(0, contentType.find(';')));
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.find("html") != std::string::npos;
}

HttpRequest FeedRequest(std::u16string url, const std::optional<HttpCredentials>& credentials) {
  HttpRequest request;
  request.url = std::move(url);
  request.maxBytes = static_cast<std::int64_t>(kMaxOpdsFeedBytes);
  request.credentials = credentials;
  request.cache = HttpCacheUse::Revalidate;
  request.accept = "application/atom+xml;profile=opds-catalog, application/atom+xml;q=0.9, */*;q=0.5";
  request.totalLimit = std::chrono::seconds(30);
  return request;
}

std::optional<OpdsFeed> ReadFetchedFeed(const HttpResponse& response, bool withCredentials, std::u16string* failure,
                                        const CatalogueLines& lines) {
  if (response.error != HttpError::None) {
    *failure = FailureLine(response, withCredentials, lines);
    return std::nullopt;
  }
  std::u16string why;
  // Links resolve against where the feed came from, after redirects.
  std::optional<OpdsFeed> feed = ParseOpdsFeed(response.body, response.finalUrl, &why);
  if (!feed) {
    *failure = IsWebPageType(response.contentType) ? lines.webPage : lines.notFeed + why + u".";
  }
  return feed;
}
