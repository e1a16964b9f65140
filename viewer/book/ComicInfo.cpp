#include "viewer/book/ComicInfo.h"

#include "platform/xml.h"

namespace {

std::optional<bool> Boolean(std::u16string_view text) {
  text = XmlTrimmed(text);
  if (text == u"true" || text == u"1") return true;
  if (text == u"false" || text == u"0") return false;
  return std::nullopt;
}

ComicPageType TypeOf(std::u16string_view text) {
  text = XmlTrimmed(text);
  if (text == u"FrontCover") return ComicPageType::FrontCover;
  if (text == u"Deleted") return ComicPageType::Deleted;
  return ComicPageType::Other;
}

// "Yes" says the book is a manga, not which way it reads.
ReadingDirection DirectionOf(std::u16string_view text) {
  text = XmlTrimmed(text);
  if (text == u"YesAndRightToLeft") return ReadingDirection::RightToLeft;
  if (text == u"No") return ReadingDirection::LeftToRight;
  return ReadingDirection::Unknown;
}

// A Page element's attributes; a page with no believable index is none.
std::optional<ComicPage> PageOf(const XmlReader& reader) {
  ComicPage page;
  const std::optional<std::u16string> index = reader.Attribute(u"Image");
  const std::optional<int32_t> number = index ? XmlCount(*index, INT32_MAX - 1) : std::nullopt;
  if (!number) return std::nullopt;
  page.index = *number;
  if (const auto type = reader.Attribute(u"Type")) page.type = TypeOf(*type);
  if (const auto twice = reader.Attribute(u"DoublePage")) page.doublePage = Boolean(*twice).value_or(false);
  const auto width = reader.Attribute(u"ImageWidth"), height = reader.Attribute(u"ImageHeight");
  // A size is both sides or none: one side alone tells no shape (0: not stated).
  const int32_t w = width ? XmlCount(*width, kMaxStatedSide).value_or(0) : 0;
  const int32_t h = height ? XmlCount(*height, kMaxStatedSide).value_or(0) : 0;
  if (w > 0 && h > 0) page.width = w, page.height = h;
  return page;
}

std::u16string* FieldOf(ComicInfo& info, std::u16string_view name) {
  if (name == u"Series") return &info.series;
  if (name == u"Number") return &info.number;
  if (name == u"Volume") return &info.volume;
  if (name == u"Title") return &info.title;
  if (name == u"Writer") return &info.writer;
  if (name == u"Summary") return &info.summary;
  return nullptr;
}

}  // namespace

std::optional<ComicInfo> ParseComicInfo(std::string_view bytes, std::u16string* why) {
  auto refuse = [&](std::u16string reason) -> std::optional<ComicInfo> {
    if (why != nullptr) *why = std::move(reason);
    return std::nullopt;
  };
  XmlLimits limits;
  limits.maxBytes = kMaxComicInfoBytes;
  XmlReader reader(bytes, limits);
  ComicInfo info;
  std::u16string manga;
  std::u16string* field = nullptr;  // the text field open at depth 2, if any
  bool inPages = false;
  for (;;) {
    switch (reader.Next()) {
      case XmlEvent::Error:
        return refuse(reader.Error());
      case XmlEvent::End:
        info.direction = DirectionOf(manga);
        return info;
      case XmlEvent::StartElement: {
        const int depth = reader.Depth();
        const std::u16string name = reader.Name();
        if (depth == 1 && name != u"ComicInfo") return refuse(u"no ComicInfo root");
        if (depth == 2) {
          field = name == u"Manga" ? &manga : FieldOf(info, name);
          inPages = name == u"Pages";
        } else if (depth == 3 && inPages && name == u"Page" && info.pages.size() < kMaxComicInfoPages) {
          if (std::optional<ComicPage> page = PageOf(reader)) info.pages.push_back(*page);
        }
        break;
      }
      case XmlEvent::EndElement:
        if (reader.Depth() == 2) field = nullptr, inPages = false;
        break;
      case XmlEvent::Text:
        // A field's own text only, not that of elements inside it.
        if (field != nullptr && reader.Depth() == 2 && field->size() < kMaxComicInfoText) {
          const std::u16string text = reader.Text();
          field->append(text, 0, kMaxComicInfoText - field->size());
        }
        break;
    }
  }
}
