#include "platform/http/http_rules.h"

#include <charconv>

bool RedirectAllowed(std::u16string_view from, std::u16string_view to) {
  if (to != u"https" && to != u"http") return false;
  return !(from == u"https" && to == u"http");
}

bool CredentialsGoTo(const HttpOrigin& given, const HttpOrigin& target) {
  return !given.host.empty() && given == target;
}

namespace {

// A whole non-negative decimal number taking all of `text`.
std::optional<std::int64_t> Number(std::string_view text) {
  std::int64_t value = 0;
  if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<HttpContentRange> ParseContentRange(std::string_view value) {
  constexpr std::string_view kUnit = "bytes ";
  if (!value.starts_with(kUnit)) return std::nullopt;
  value.remove_prefix(kUnit.size());
  const std::size_t dash = value.find('-');
  const std::size_t slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
  const auto first = Number(value.substr(0, dash));
  const auto last = Number(value.substr(dash + 1, slash - dash - 1));
  if (!first || !last || *last < *first) return std::nullopt;
  HttpContentRange range{.first = *first, .last = *last, .total = std::nullopt};
  const std::string_view total = value.substr(slash + 1);
  if (total != "*") {
    range.total = Number(total);
    if (!range.total || *range.total <= *last) return std::nullopt;
  }
  return range;
}
