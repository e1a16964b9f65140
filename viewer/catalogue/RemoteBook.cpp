#include "viewer/catalogue/RemoteBook.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

#include "platform/text.h"
#include "viewer/catalogue/CatalogueBrowsing.h"
#include "viewer/catalogue/OpdsFeed.h"
#include "viewer/catalogue/PseBook.h"
#include "viewer/catalogue/Url.h"

namespace {

bool StartsWithBytes(const std::string& body, std::string_view magic) {
  return body.size() >= magic.size() && std::string_view(body).substr(0, magic.size()) == magic;
}

// How many first bytes tell an archive: a tar's mark ends there.
constexpr std::size_t kArchiveHead = 262;

// Zip (a local header, or an empty one's end record), RAR 4 and 5, 7z, tar.
bool LooksLikeArchive(const std::string& body) {
  return StartsWithBytes(body, "PK\x03\x04") || StartsWithBytes(body, "PK\x05\x06") ||
         StartsWithBytes(body, "Rar!\x1A\x07") || StartsWithBytes(body, "7z\xBC\xAF\x27\x1C") ||
         (body.size() >= kArchiveHead && body.compare(257, 5, "ustar") == 0);
}

int HexValue(char unit) {
  if (unit >= '0' && unit <= '9') return unit - '0';
  if (unit >= 'a' && unit <= 'f') return unit - 'a' + 10;
  if (unit >= 'A' && unit <= 'F') return unit - 'A' + 10;
  return -1;
}

// Scheme, host and port in one lowered text; empty for no web address.
std::u16string OriginText(std::u16string_view url) {
  if (!IsWebUrl(url)) return {};
  const std::size_t colon = url.find(u':');
  const std::u16string scheme = AsciiLower(url.substr(0, colon));
  std::u16string_view rest = url.substr(colon + 3);
  rest = rest.substr(0, rest.find_first_of(u"/?#"));
  rest = rest.substr(rest.rfind(u'@') == std::u16string_view::npos ? 0 : rest.rfind(u'@') + 1);
  std::u16string authority = AsciiLower(rest);
  const std::size_t bracket = authority.rfind(u']');
  const std::size_t portColon = authority.rfind(u':');
  if (portColon == std::u16string::npos || (bracket != std::u16string::npos && portColon < bracket))
    authority += scheme == u"https" ? u":443" : u":80";
  return scheme + u"://" + authority;
}

// The path of an address, from its first "/" after the host to its query
// or fragment; empty when it has none.
std::u16string_view PathOfAddress(std::u16string_view url) {
  url = url.substr(0, url.find_first_of(u"?#"));
  const std::size_t scheme = url.find(u"://");
  const std::size_t root = scheme == std::u16string_view::npos ? scheme : url.find(u'/', scheme + 3);
  return root == std::u16string_view::npos ? std::u16string_view{} : url.substr(root);
}

// How many whole segments two addresses' paths share from their start.
std::size_t SharedPathSegments(std::u16string_view a, std::u16string_view b) {
  std::u16string_view x = PathOfAddress(a), y = PathOfAddress(b);
  std::size_t shared = 0;
  while (!x.empty() && !y.empty()) {
    x.remove_prefix(1);  // the "/" before each segment
    y.remove_prefix(1);
    const std::u16string_view segment = x.substr(0, x.find(u'/'));
    if (segment != y.substr(0, y.find(u'/'))) break;
    ++shared;
    x.remove_prefix(segment.size());
    y.remove_prefix(segment.size());
  }
  return shared;
}

// A whole decimal number from `low` to `high`, else none.
std::optional<int32_t> DecimalBetween(std::u16string_view text, int32_t low, int32_t high) {
  const std::string digits = Utf16ToUtf8(text);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc{} || end != digits.data() + digits.size() || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

WebAddressKind KindOfAnswer(const HttpResponse& answer, std::u16string_view url) {
  const std::u16string essence = MediaTypeEssence(Utf8ToUtf16(answer.contentType));
  if (essence == u"application/atom+xml" || essence == u"application/xml" || essence == u"text/xml")
    return WebAddressKind::Catalogue;
  if (!ComicArchiveExtension(essence, url).empty() || LooksLikeArchive(answer.body)) return WebAddressKind::Book;
  return WebAddressKind::Neither;
}

WebAddressProbe ProbeWebAddress(const RemoteAddress& address, const BlockingFetch& fetch,
                                const RemoteFileOptions& options) {
  WebAddressProbe probe;
  const BlockingFetch asking = [&fetch](HttpRequest request) {
    request.accept = "application/atom+xml;profile=opds-catalog, application/atom+xml;q=0.9, */*;q=0.5";
    return fetch(std::move(request));
  };
  probe.opening = OpenRemoteFile(address, asking, options);
  const HttpResponse& answer = probe.opening.answer;
  if (probe.opening.file) {
    // Its first bytes went into the file: the type and the address decide.
    HttpResponse head = answer;
    ComRef<IFile>& file = probe.opening.file;
    char magic[kArchiveHead] = {};
    uint32_t got = 0;
    file->Read(magic, sizeof magic, &got);
    file->Seek(0, 0, nullptr);
    head.body.assign(magic, got);
    probe.kind = KindOfAnswer(head, address.url);
  } else if (answer.error == HttpError::None || answer.error == HttpError::TooLarge) {
    // A feed is fetched again by the browser, whole; an archive whose
    // server sends it whole (cut off here) is downloaded.
    probe.kind = KindOfAnswer(answer, address.url);
  } else {
    probe.why = answer.reason;
  }
  if (probe.kind != WebAddressKind::Book) probe.opening.file = {};
  if (probe.kind == WebAddressKind::Neither && probe.why.empty())
    probe.why = u"neither a catalogue nor a book (" + Utf8ToUtf16(answer.contentType) + u")";
  return probe;
}

std::u16string RemoteBookName(std::u16string_view url) {
  std::u16string_view path = url.substr(0, url.find_first_of(u"?#"));
  const std::size_t scheme = path.find(u"://");
  const std::size_t root = scheme == std::u16string_view::npos ? 0 : path.find(u'/', scheme + 3);
  if (root == std::u16string_view::npos) return std::u16string(url);
  path = path.substr(root);
  while (!path.empty() && path.back() == u'/') path.remove_suffix(1);
  const std::u16string_view last = path.substr(path.rfind(u'/') + 1);
  if (last.empty()) return std::u16string(url);
  // Decoded as UTF-8 bytes: an escape may stand for part of a letter.
  const std::string text = Utf16ToUtf8(last);
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return Utf8ToUtf16(bytes);
}

bool SameWebOrigin(std::u16string_view a, std::u16string_view b) {
  const std::u16string origin = OriginText(a);
  return !origin.empty() && origin == OriginText(b);
}

const Catalogue* CatalogueOfAddress(const std::vector<Catalogue>& kept, std::u16string_view url) {
  const Catalogue* best = nullptr;
  std::size_t bestShared = 0;
  for (const Catalogue& catalogue : kept) {
    if (catalogue.user.empty() || !SameWebOrigin(catalogue.url, url)) continue;
    const std::size_t shared = SharedPathSegments(catalogue.url, url);
    if (best == nullptr || shared > bestShared) best = &catalogue, bestShared = shared;
  }
  return best;
}

std::vector<RemotePlace> RemotePlacesFromRecords(const std::vector<std::u16string>& records) {
  std::vector<RemotePlace> places;
  for (const std::u16string_view record : records) {
    // URL, index, page; an archive's title after them, or a streamed book's
    // count and title (the title last, as it may hold anything but a tab).
    std::u16string_view fields[5];
    std::size_t n = 0, from = 0;
    for (; n < 4; ++n) {
      const std::size_t tab = record.find(u'\t', from);
      if (tab == std::u16string_view::npos) break;
      fields[n] = record.substr(from, tab - from);
      from = tab + 1;
    }
    fields[n++] = record.substr(from);
    if (n < 3) continue;
    RemotePlace place;
    place.url = fields[0];
    place.page = fields[2];
    const std::optional<int32_t> index = DecimalBetween(fields[1], 0, std::numeric_limits<int32_t>::max());
    const std::optional<int32_t> count =
        n == 5 ? DecimalBetween(fields[3], 1, kMaxStreamedPages) : std::optional<int32_t>(0);
    // A streamed book's template without its count does not open again.
    const bool templateWithoutCount = n == 4 && place.url.find(u"{pageNumber}") != std::u16string::npos;
    if (!index || !count || !IsWebUrl(place.url) || templateWithoutCount) continue;
    place.index = *index;
    place.count = *count;
    if (n > 3) place.title = fields[n - 1];
    NoteRemotePlace(places, std::move(place));
  }
  return places;
}

std::vector<std::u16string> RecordsOfRemotePlaces(const std::vector<RemotePlace>& places) {
  std::vector<std::u16string> records;
  for (const RemotePlace& place : places) {
    std::u16string record = place.url + u'\t' + Utf8ToUtf16(std::to_string(place.index)) + u'\t' + place.page;
    // An archive's record without a title of its own stays as it always was.
    if (place.count > 0) record += u'\t' + Utf8ToUtf16(std::to_string(place.count)) + u'\t' + place.title;
    else if (!place.title.empty()) record += u'\t' + place.title;
    records.push_back(std::move(record));
  }
  return records;
}

bool NoteRemotePlace(std::vector<RemotePlace>& places, RemotePlace place) {
  // A tab would split the record: such a page is found by its number alone,
  // such a title keeps a space in its place.
  if (place.page.find(u'\t') != std::u16string::npos) place.page.clear();
  std::replace(place.title.begin(), place.title.end(), u'\t', u' ');
  if (!places.empty() && places.back() == place) return false;
  std::erase_if(places, [&](const RemotePlace& kept) { return kept.url == place.url; });
  places.push_back(std::move(place));
  if (places.size() > kMaxRemotePlaces)
    places.erase(places.begin(), places.begin() + static_cast<std::ptrdiff_t>(places.size() - kMaxRemotePlaces));
  return true;
}
