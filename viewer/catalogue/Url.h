// URLs as a catalogue's links give them: a reference resolved against the
// document's base as RFC 3986 says (section 5.2), with no library's idea of
// which characters to escape in between, so that a template's braces stay.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Longer than this, a URL is a server's mistake or malice, not a link.
inline constexpr std::size_t kMaxUrlLength = 8 * 1024;

// `reference` (relative or absolute) resolved against the absolute `base`;
// empty when the base has no scheme, or it, the reference or the result is
// longer than kMaxUrlLength.
// Whitespace around the reference, as XML attributes carry it, is dropped.
std::u16string ResolveUrl(std::u16string_view base, std::u16string_view reference);

// An absolute http or https URL with a host, no longer than kMaxUrlLength:
// the only kind a catalogue's link may lead to (no script, file or data).
bool IsWebUrl(std::u16string_view url);

// ASCII letters lowered, the rest as it is: what schemes, media types and
// the names of files, parameters and catalogues are compared by.
std::u16string AsciiLower(std::u16string_view text);
