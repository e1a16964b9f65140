// What the HTTP client decides without the network: which redirects it
// follows, where credentials may go, and what a Content-Range says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A URL's scheme, host and port (the scheme's default when none is given),
// lowercase as a URL parser gives them.
struct HttpOrigin {
  std::u16string scheme;
  std::u16string host;
  int port = 0;
  bool operator==(const HttpOrigin&) const = default;
};

// A redirect from a URL of scheme `from` is followed only to http or https,
// and never from https down to http.
bool RedirectAllowed(std::u16string_view from, std::u16string_view to);

// Credentials given for `given` are sent to `target` only when it is the
// same origin (so never over plain http unless given for that very origin).
bool CredentialsGoTo(const HttpOrigin& given, const HttpOrigin& target);

struct HttpContentRange {
  std::int64_t first = 0, last = 0;  // included
  std::optional<std::int64_t> total;  // none for "*"
};
// "bytes 0-99/1234" or "bytes 0-99/*"; nothing for anything else, a last
// before the first, or a total not past the last.
std::optional<HttpContentRange> ParseContentRange(std::string_view value);
