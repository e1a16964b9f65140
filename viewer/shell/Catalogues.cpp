#include "viewer/shell/Catalogues.h"

#include "platform/debug.h"
#include "platform/winuser.h"
#include "viewer/shell/Language.h"

namespace {

constexpr char16_t kList[] = u"catalogues/list";

}  // namespace

std::vector<Catalogue> LoadCatalogues() { return CataloguesFromRecords(GetUserSettingTexts(kList)); }

void SaveCatalogues(const std::vector<Catalogue>& catalogues) {
  std::vector<std::u16string> records;
  for (const Catalogue& catalogue : catalogues) records.push_back(CatalogueRecord(catalogue));
  SetUserSettingTexts(kList, records);
}

std::u16string CatalogueProblemText(CatalogueProblem problem) {
  switch (problem) {
    case CatalogueProblem::None:
      return {};
    case CatalogueProblem::NoName:
      return Text("\u540d\u524d\u3092\u5165\u529b\u3057\u3066\u304f\u3060\u3055\u3044\u3002");
    case CatalogueProblem::NameTooLong:
      return Text("\u540d\u524d\u304c\u9577\u3059\u304e\u307e\u3059\u3002");
    case CatalogueProblem::NameTaken:
      return Text("\u540c\u3058\u540d\u524d\u306e\u30ab\u30bf\u30ed\u30b0\u304c\u3042\u308a\u307e\u3059\u3002");
    case CatalogueProblem::NoUrl:
      return Text("URL \u3092\u5165\u529b\u3057\u3066\u304f\u3060\u3055\u3044\u3002");
    case CatalogueProblem::NotWebUrl:
      return Text("http:// \u304b https:// \u3067\u59cb\u307e\u308b URL \u3092\u5165\u529b\u3057\u3066\u304f\u3060\u3055\u3044\u3002");
    case CatalogueProblem::UrlCredentials:
      return Text("URL \u306b\u306f\u30e6\u30fc\u30b6\u30fc\u540d\u3084\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u5165\u308c\u306a\u3044\u3067\u304f\u3060\u3055\u3044\u3002");
    case CatalogueProblem::UserTooLong:
      return Text("\u30e6\u30fc\u30b6\u30fc\u540d\u304c\u9577\u3059\u304e\u307e\u3059\u3002");
    case CatalogueProblem::ControlCharacters:
      return Text("\u30bf\u30d6\u3084\u6539\u884c\u306f\u4f7f\u3048\u307e\u305b\u3093\u3002");
  }
  return {};
}

CatalogueDialogTexts CatalogueTexts() {
  CatalogueDialogTexts texts;
  texts.title = Text("\u30ab\u30bf\u30ed\u30b0");
  texts.add = Text("\u8ffd\u52a0\u2026");
  texts.edit = Text("\u7de8\u96c6\u2026");
  texts.remove = Text("\u524a\u9664");
  texts.open = Text("\u958b\u304f");
  texts.close = Text("\u9589\u3058\u308b");
  texts.addTitle = Text("\u30ab\u30bf\u30ed\u30b0\u306e\u8ffd\u52a0");
  texts.editTitle = Text("\u30ab\u30bf\u30ed\u30b0\u306e\u7de8\u96c6");
  texts.name = Text("\u540d\u524d");
  texts.url = Text("URL");
  texts.user = Text("\u30e6\u30fc\u30b6\u30fc\u540d");
  texts.password = Text("\u30d1\u30b9\u30ef\u30fc\u30c9");
  texts.removeQuestion = Text("\u3053\u306e\u30ab\u30bf\u30ed\u30b0\u3092\u524a\u9664\u3057\u307e\u3059\u304b?");
  return texts;
}

CatalogueBrowserOptions CatalogueBrowserInLanguage() {
  CatalogueBrowserOptions options;
  CatalogueWindowTexts& window = options.windowTexts;
  window.windowTitle = Text("\u30ab\u30bf\u30ed\u30b0\u95b2\u89a7");
  window.back = Text("\u623b\u308b");
  window.up = Text("\u4e0a\u3078");
  window.start = Text("\u30c8\u30c3\u30d7");
  window.previous = Text("\u524d\u306e\u30da\u30fc\u30b8");
  window.next = Text("\u6b21\u306e\u30da\u30fc\u30b8");
  window.search = Text("\u691c\u7d22");
  window.retry = Text("\u518d\u8a66\u884c");
  window.cancel = Text("\u30ad\u30e3\u30f3\u30bb\u30eb");
  window.loading = Text("\u8aad\u307f\u8fbc\u307f\u4e2d\u2026");
  window.downloading = Text("\u300c%1\u300d\u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\u4e2d");
  CatalogueLines& lines = options.lines;
  lines.nothingHere = Text("\u3053\u306e\u30ab\u30bf\u30ed\u30b0\u306b\u306f\u4f55\u3082\u3042\u308a\u307e\u305b\u3093\u3002");
  lines.asksPassword = Text("\u3053\u306e\u30ab\u30bf\u30ed\u30b0\u306b\u306f\u30e6\u30fc\u30b6\u30fc\u540d\u3068\u30d1\u30b9\u30ef\u30fc\u30c9\u304c\u5fc5\u8981\u3067\u3059 (401)\u3002");
  lines.passwordRefused = Text("\u30e6\u30fc\u30b6\u30fc\u540d\u307e\u305f\u306f\u30d1\u30b9\u30ef\u30fc\u30c9\u304c\u62d2\u5426\u3055\u308c\u307e\u3057\u305f (401)\u3002");
  lines.asksElsewhere = Text("\u8ee2\u9001\u5148\u306e\u5225\u306e\u30b5\u30fc\u30d0\u30fc\u304c\u30e6\u30fc\u30b6\u30fc\u540d\u3068\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u6c42\u3081\u3066\u3044\u307e\u3059 (401)\u3002\u30ab\u30bf\u30ed\u30b0\u306e\u3082\u306e\u306f\u9001\u308a\u307e\u305b\u3093\u3002");
  lines.forbidden = Text("\u30b5\u30fc\u30d0\u30fc\u304c\u30a2\u30af\u30bb\u30b9\u3092\u62d2\u5426\u3057\u307e\u3057\u305f (403)\u3002");
  lines.notFound = Text("\u3053\u306e\u30a2\u30c9\u30ec\u30b9\u306b\u30ab\u30bf\u30ed\u30b0\u306f\u3042\u308a\u307e\u305b\u3093 (404)\u3002");
  lines.serverError = Text("\u30b5\u30fc\u30d0\u30fc\u304c\u30a8\u30e9\u30fc\u3092\u8fd4\u3057\u307e\u3057\u305f: ");
  lines.badUrl = Text("http \u307e\u305f\u306f https \u306e\u30a2\u30c9\u30ec\u30b9\u3067\u306f\u3042\u308a\u307e\u305b\u3093\u3002");
  lines.tls = Text("\u5b89\u5168\u306a\u63a5\u7d9a\u306b\u5931\u6557\u3057\u307e\u3057\u305f: ");
  lines.tooSlow = Text("\u30b5\u30fc\u30d0\u30fc\u306e\u5fdc\u7b54\u304c\u9045\u3059\u304e\u307e\u3059: ");
  lines.feedTooLarge = Text("\u30d5\u30a3\u30fc\u30c9\u304c\u5927\u304d\u3059\u304e\u307e\u3059: ");
  lines.redirect = Text("\u30b5\u30fc\u30d0\u30fc\u306e\u8ee2\u9001\u306b\u5f93\u3044\u307e\u305b\u3093\u3067\u3057\u305f: ");
  lines.unreachable = Text("\u30b5\u30fc\u30d0\u30fc\u306b\u63a5\u7d9a\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f: ");
  lines.webPage = Text("\u3053\u306e\u30a2\u30c9\u30ec\u30b9\u306f\u30ab\u30bf\u30ed\u30b0\u306e\u30d5\u30a3\u30fc\u30c9\u3067\u306f\u306a\u304f\u30a6\u30a7\u30d6\u30da\u30fc\u30b8\u3067\u3059\u3002");
  lines.notFeed = Text("\u30ab\u30bf\u30ed\u30b0\u306e\u30d5\u30a3\u30fc\u30c9\u3067\u306f\u3042\u308a\u307e\u305b\u3093: ");
  lines.serverAsksPassword = Text("\u30b5\u30fc\u30d0\u30fc\u304c\u30e6\u30fc\u30b6\u30fc\u540d\u3068\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u6c42\u3081\u3066\u3044\u307e\u3059 (401)\u3002");
  lines.bookNotWritten = Text("\u672c\u3092\u30ad\u30e3\u30c3\u30b7\u30e5\u30d5\u30a9\u30eb\u30c0\u30fc\u306b\u4fdd\u5b58\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002");
  lines.bookTooLarge = Text("\u672c\u304c\u5927\u304d\u3059\u304e\u307e\u3059: ");
  lines.bookFailed = Text("\u672c\u3092\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f: ");
  lines.bookWebPage = Text("\u30b5\u30fc\u30d0\u30fc\u304c\u672c\u3067\u306f\u306a\u304f\u30a6\u30a7\u30d6\u30da\u30fc\u30b8\u3092\u8fd4\u3057\u307e\u3057\u305f\u3002");
  return options;
}

CCatalogues::CCatalogues(SecretStore& secrets) : m_secrets(secrets), m_list(LoadCatalogues()) {}

std::vector<std::u16string> CCatalogues::Names() const {
  std::vector<std::u16string> names;
  for (const Catalogue& catalogue : m_list) names.push_back(catalogue.name);
  return names;
}

CatalogueFields CCatalogues::Fields(std::size_t row) {
  if (row >= m_list.size()) return {};
  const Catalogue& catalogue = m_list[row];
  CatalogueFields fields{catalogue.name, catalogue.url, catalogue.user, {}, false, {}};
  const SecretResult secret = m_secrets.ReadSecret(SecretKeyOf(catalogue));
  if (secret.status == SecretStatus::Done) fields.password = secret.value;
  if (secret.status == SecretStatus::Failed)
    fields.note = Text("\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u8aad\u3081\u307e\u305b\u3093\u3067\u3057\u305f: ") +
                  secret.reason;
  return fields;
}

CatalogueKept CCatalogues::Keep(std::optional<std::size_t> row, const CatalogueFields& fields) {
  if (row && *row >= m_list.size()) return {};
  const Catalogue candidate = Tidied(Catalogue{fields.name, fields.url, fields.user});
  if (const CatalogueProblem problem = CheckCatalogue(candidate, m_list, row); problem != CatalogueProblem::None)
    return CatalogueKept{false, CatalogueProblemText(problem)};
  const std::u16string key = SecretKeyOf(candidate);
  const std::optional<std::u16string> oldKey = row ? std::optional(SecretKeyOf(m_list[*row])) : std::nullopt;
  // What to keep under the key: the password typed, or the one the form
  // was given, moved along with a URL or user name that changed.
  std::optional<std::u16string> password;
  if (fields.passwordEdited)
    password = fields.password;
  else if (oldKey && *oldKey != key && !fields.password.empty())
    password = fields.password;
  if (row)
    m_list[*row] = candidate;
  else
    m_list.push_back(candidate);
  SaveCatalogues(m_list);
  CatalogueKept kept{true, {}};
  if (password) {
    const SecretResult stored = password->empty() ? m_secrets.DeleteSecret(key) : m_secrets.WriteSecret(key, *password);
    if (stored.status == SecretStatus::Failed)
      kept.note = Text("\u30d1\u30b9\u30ef\u30fc\u30c9\u3092\u4fdd\u5b58\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f: ") +
                  stored.reason;
  }
  if (oldKey && *oldKey != key && !SecretKeyInUse(m_list, *oldKey)) m_secrets.DeleteSecret(*oldKey);
  return kept;
}

void CCatalogues::Remove(std::size_t row) {
  if (row >= m_list.size()) return;
  const std::u16string key = SecretKeyOf(m_list[row]);
  m_list.erase(m_list.begin() + static_cast<std::ptrdiff_t>(row));
  SaveCatalogues(m_list);
  if (!SecretKeyInUse(m_list, key)) m_secrets.DeleteSecret(key);
}

std::u16string KeptPassword(SecretStore& secrets, const Catalogue& catalogue) {
  const SecretResult secret = secrets.ReadSecret(SecretKeyOf(catalogue));
  if (secret.status == SecretStatus::Failed)
    OutputDebugStringW((u"Catalogue Password Not Read : " + secret.reason + u"\r\n").c_str());
  return secret.status == SecretStatus::Done ? secret.value : std::u16string();
}

OpenedCatalogue CCatalogues::Opened(std::size_t row) {
  if (row >= m_list.size()) return {};
  return OpenedCatalogue{m_list[row], KeptPassword(m_secrets, m_list[row])};
}
