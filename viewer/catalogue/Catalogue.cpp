#include "viewer/catalogue/Catalogue.h"

#include <algorithm>
#include <string_view>

#include "viewer/catalogue/Url.h"

namespace {

// Blank to a reader: ASCII white space, and the no-break and ideographic spaces.
bool IsBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n' || unit == u'\u3000' || unit == u'\u00a0';
}

std::u16string Trimmed(const std::u16string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool HasControl(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x20 || unit == 0x7f; });
}

// The authority of an absolute URL (what IsWebUrl has already accepted).
std::u16string_view AuthorityOf(std::u16string_view url) {
  const std::size_t start = url.find(u"//");
  if (start == std::u16string_view::npos) return {};
  url.remove_prefix(start + 2);
  return url.substr(0, url.find_first_of(u"/?#"));
}

}  // namespace

Catalogue Tidied(Catalogue catalogue) {
  catalogue.name = Trimmed(catalogue.name);
  catalogue.url = Trimmed(catalogue.url);
  catalogue.user = Trimmed(catalogue.user);
  return catalogue;
}

CatalogueProblem CheckCatalogue(const Catalogue& candidate, const std::vector<Catalogue>& kept,
                                std::optional<std::size_t> replacing) {
  if (candidate.name.empty()) return CatalogueProblem::NoName;
  if (candidate.name.size() > kMaxCatalogueName) return CatalogueProblem::NameTooLong;
  if (HasControl(candidate.name) || HasControl(candidate.url) || HasControl(candidate.user))
    return CatalogueProblem::ControlCharacters;
  if (candidate.url.empty()) return CatalogueProblem::NoUrl;
  // Spaces inside a URL would also make the secret key ambiguous.
  if (!IsWebUrl(candidate.url) || std::any_of(candidate.url.begin(), candidate.url.end(), IsBlank))
    return CatalogueProblem::NotWebUrl;
  if (AuthorityOf(candidate.url).find(u'@') != std::u16string_view::npos) return CatalogueProblem::UrlCredentials;
  if (candidate.user.size() > kMaxCatalogueUser) return CatalogueProblem::UserTooLong;
  // Names compare with ASCII letters' case folded: "Komga" and "komga" in
  // one list would only confuse.
  const std::u16string name = AsciiLower(candidate.name);
  for (std::size_t i = 0; i < kept.size(); ++i)
    if (i != replacing && AsciiLower(kept[i].name) == name) return CatalogueProblem::NameTaken;
  return CatalogueProblem::None;
}

std::u16string SecretKeyOf(const Catalogue& catalogue) {
  // A kept URL holds no space, so the user name cannot be mistaken for part of it.
  return catalogue.user.empty() ? catalogue.url : catalogue.url + u" " + catalogue.user;
}

bool SecretKeyInUse(const std::vector<Catalogue>& kept, const std::u16string& key, std::optional<std::size_t> except) {
  for (std::size_t i = 0; i < kept.size(); ++i)
    if (i != except && SecretKeyOf(kept[i]) == key) return true;
  return false;
}

std::u16string CatalogueRecord(const Catalogue& catalogue) {
  return catalogue.name + u'\t' + catalogue.url + u'\t' + catalogue.user;
}

std::vector<Catalogue> CataloguesFromRecords(const std::vector<std::u16string>& records) {
  std::vector<Catalogue> catalogues;
  for (const std::u16string& record : records) {
    const std::size_t first = record.find(u'\t');
    const std::size_t second = first == std::u16string::npos ? first : record.find(u'\t', first + 1);
    if (second == std::u16string::npos || record.find(u'\t', second + 1) != std::u16string::npos) continue;
    Catalogue catalogue = Tidied(Catalogue{record.substr(0, first), record.substr(first + 1, second - first - 1),
                                           record.substr(second + 1)});
    if (CheckCatalogue(catalogue, catalogues) == CatalogueProblem::None) catalogues.push_back(std::move(catalogue));
  }
  return catalogues;
}
