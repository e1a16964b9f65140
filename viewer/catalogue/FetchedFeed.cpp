#include "viewer/catalogue/FetchedFeed.h"

#include <string_view>

namespace {

std::u16string FailureLine(const HttpResponse& response, bool withCredentials) {
  switch (response.error) {
    case HttpError::Status:
      if (response.status == 401) {
        if (response.credentialsSent) return u"The user name or password was refused (401).";
        // Given, but kept from the other origin a redirect led to.
        return withCredentials ? u"A server elsewhere asks for a user name and password (401); the catalogue's are "
                                 u"not sent there."
                               : u"The catalogue asks for a user name and password (401).";
      }
      if (response.status == 403) return u"The server refused access (403).";
      if (response.status == 404) return u"There is no catalogue at this address (404).";
      return u"The server answered with an error: " + response.reason + u".";
    case HttpError::BadUrl:
      return u"Not an http or https address.";
    case HttpError::Tls:
      return u"The secure connection failed: " + response.reason + u".";
    case HttpError::Timeout:
      return u"The server took too long: " + response.reason + u".";
    case HttpError::TooLarge:
      return u"The feed is too large: " + response.reason + u".";
    case HttpError::RefusedRedirect:
      return u"The server's redirect was not followed: " + response.reason + u".";
    default:
      return u"The server could not be reached: " + response.reason + u".";
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

std::optional<OpdsFeed> ReadFetchedFeed(const HttpResponse& response, bool withCredentials, std::u16string* failure) {
  if (response.error != HttpError::None) {
    *failure = FailureLine(response, withCredentials);
    return std::nullopt;
  }
  std::u16string why;
  // Links resolve against where the feed came from, after redirects.
  std::optional<OpdsFeed> feed = ParseOpdsFeed(response.body, response.finalUrl, &why);
  if (!feed) {
    *failure = IsWebPageType(response.contentType) ? u"The address gives a web page, not a catalogue feed."
                                               : u"Not a catalogue feed: " + why + u".";
  }
  return feed;
}
