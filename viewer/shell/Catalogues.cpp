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

OpenedCatalogue CCatalogues::Opened(std::size_t row) {
  if (row >= m_list.size()) return {};
  OpenedCatalogue opened{m_list[row], {}};
  const SecretResult secret = m_secrets.ReadSecret(SecretKeyOf(opened.catalogue));
  if (secret.status == SecretStatus::Done) opened.password = secret.value;
  if (secret.status == SecretStatus::Failed)
    OutputDebugStringW((u"Catalogue Password Not Read : " + secret.reason + u"\r\n").c_str());
  return opened;
}
