// The bytes as a book's ComicInfo.xml: read, or refused with a reason, and
// what is read stays within the bounds the parser promises, the same twice.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "harnesses.h"
#include "viewer/book/ComicInfo.h"

void FuzzComicInfo(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::u16string why;
  const std::optional<ComicInfo> info = ParseComicInfo(bytes, &why);
  if (!info) {
    if (why.empty()) std::abort();
    return;
  }
  if (info->pages.size() > kMaxComicInfoPages) std::abort();
  for (const std::u16string* text : {&info->series, &info->number, &info->volume, &info->title, &info->writer,
                                     &info->summary})
    if (text->size() > kMaxComicInfoText) std::abort();
  for (const ComicPage& page : info->pages) {
    if (page.index < 0 || page.width < 0 || page.height < 0) std::abort();
    if (page.width > kMaxStatedSide || page.height > kMaxStatedSide || (page.width == 0) != (page.height == 0))
      std::abort();
  }
  const std::optional<ComicInfo> again = ParseComicInfo(bytes);
  if (!again || again->pages != info->pages || again->title != info->title || again->direction != info->direction)
    std::abort();
}
