// A catalogue's feed as the HTTP client brought it: read, or the one line
// the browser shows for why not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/http/http_request.h"
#include "viewer/catalogue/CatalogueLines.h"
#include "viewer/catalogue/OpdsFeed.h"

// A Content-Type of a web page (HTML or XHTML): a login or error page where
// a feed or a book was asked for.
bool IsWebPageType(std::string_view contentType);

// What a fetch of a feed is asked for with: a feed's worth of bytes at most,
// an OPDS feed preferred.
HttpRequest FeedRequest(std::u16string url, const std::optional<HttpCredentials>& credentials);

// The feed in `response` (fetched with credentials or not), or nothing and
// the line saying why in `failure`, in `lines`' words: the fetch's failure, a refused password,
// a web page or anything else that is no feed.
std::optional<OpdsFeed> ReadFetchedFeed(const HttpResponse& response, bool withCredentials, std::u16string* failure,
                                        const CatalogueLines& lines = {});
