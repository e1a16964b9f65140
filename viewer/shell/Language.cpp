#include "viewer/shell/Language.h"

#include "platform/winuser.h"

namespace {

// The translation's context: one for the whole program.
constexpr char kContext[] = "Velmora";
// The English translation, built from translations/velmora_en.ts.
constexpr char16_t kEnglish[] = u":/velmora/i18n/velmora_en.qm";

}  // namespace

UiLanguage UserLanguage() { return UserLanguageIsJapanese() ? UiLanguage::Japanese : UiLanguage::English; }

void UseLanguage(UiLanguage language) {
  // Without its translation English falls back to the texts as written.
  LoadTranslation(language == UiLanguage::English ? kEnglish : nullptr);
}

std::u16string Text(const char* text) { return TranslateText(kContext, text); }

std::u16string DamageText(const std::u16string& reason) {
  if (reason.empty()) return {};
  return Text("\u3053\u306e\u30da\u30fc\u30b8\u306f\u58ca\u308c\u3066\u3044\u307e\u3059: ") + reason;
}

std::u16string PagesMissingText() {
  return Text("\u58ca\u308c\u3066\u3044\u307e\u3059: \u4e00\u90e8\u306e\u30da\u30fc\u30b8\u3092\u8aad\u3081\u307e\u305b\u3093\u3067\u3057\u305f");
}

std::u16string NoVolumeText(int way) {
  return way > 0 ? Text("\u6b21\u306e\u5dfb\u306f\u3042\u308a\u307e\u305b\u3093")
                 : Text("\u524d\u306e\u5dfb\u306f\u3042\u308a\u307e\u305b\u3093");
}

std::u16string CatalogueNoticeText() {
  return Text("\u30ab\u30bf\u30ed\u30b0\u306e\u95b2\u89a7\u306f\u307e\u3060\u3067\u304d\u307e\u305b\u3093");
}

std::vector<std::pair<std::u16string, std::u16string>> InfoLines(const ComicInfo& info, bool summary) {
  const std::pair<const char*, const std::u16string*> fields[] = {
      {"\u30b7\u30ea\u30fc\u30ba", &info.series}, {"\u756a\u53f7", &info.number},
      {"\u5dfb", &info.volume},                     {"\u984c\u540d", &info.title},
      {"\u4f5c\u8005", &info.writer},               {"\u3042\u3089\u3059\u3058", &info.summary}};
  std::vector<std::pair<std::u16string, std::u16string>> lines;
  for (const auto& [label, words] : fields)
    if ((summary || words != &info.summary) && words->find_first_not_of(u" \t\r\n") != std::u16string::npos)
      lines.emplace_back(Text(label), *words);
  return lines;
}

std::u16string FailureText(OpenFailure why) {
  switch (why) {
    case OpenFailure::None:
      return {};
    case OpenFailure::NotFound:
      return Text("\u30d5\u30a1\u30a4\u30eb\u307e\u305f\u306f\u30d5\u30a9\u30eb\u30c0\u30fc\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3002");
    case OpenFailure::NoPermission:
      return Text("\u8aad\u307f\u53d6\u308b\u6a29\u9650\u304c\u3042\u308a\u307e\u305b\u3093\u3002");
    case OpenFailure::NotImageOrArchive:
      return Text("\u753b\u50cf\u3067\u3082\u30a2\u30fc\u30ab\u30a4\u30d6\u3067\u3082\u3042\u308a\u307e\u305b\u3093\u3002");
    case OpenFailure::NeedsPassword:
      return Text("\u30d1\u30b9\u30ef\u30fc\u30c9\u304c\u5fc5\u8981\u306a\u30a2\u30fc\u30ab\u30a4\u30d6\u3067\u3059\u3002");
    case OpenFailure::Damaged:
      return Text("\u30a2\u30fc\u30ab\u30a4\u30d6\u307e\u305f\u306f\u30da\u30fc\u30b8\u304c\u58ca\u308c\u3066\u3044\u307e\u3059\u3002");
    case OpenFailure::UnsupportedCompression:
      return Text("\u8aad\u3081\u306a\u3044\u5727\u7e2e\u5f62\u5f0f\u3067\u3059\u3002");
    case OpenFailure::TooLarge:
      return Text("\u5927\u304d\u3059\u304e\u3066\u8aad\u3081\u306a\u3044\u30da\u30fc\u30b8\u3067\u3059\u3002");
    case OpenFailure::NoImages:
      return Text("\u753b\u50cf\u304c\u5165\u3063\u3066\u3044\u307e\u305b\u3093\u3002");
    case OpenFailure::ArchiveLibraryMissing:
      return Text("7-Zip \u306e\u30e9\u30a4\u30d6\u30e9\u30ea (7z.so) \u304c\u898b\u3064\u304b\u3089\u306a\u3044\u305f\u3081\u958b\u3051\u307e\u305b\u3093\u3002");
    case OpenFailure::ArchiveLibraryRefused:
      return Text("7-Zip \u306e\u30e9\u30a4\u30d6\u30e9\u30ea (7z.so) \u306b\u4e92\u63db\u6027\u304c\u306a\u3044\u305f\u3081\u958b\u3051\u307e\u305b\u3093\u3002");
  }
  return {};
}
