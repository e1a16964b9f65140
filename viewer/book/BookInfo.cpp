#include "viewer/book/BookInfo.h"

#include <algorithm>
#include <vector>

#include "platform/debug.h"
#include "viewer/archive/Archive.h"

namespace {

char16_t Lower(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit; }

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

// Whether a name is that of an image file: the description counts its pages
// among these, as the tools that write it do.
bool NamedAsImage(std::u16string_view name) {
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return false;
  const std::u16string_view extension = name.substr(dot + 1);
  for (std::u16string_view known : {u"jpg", u"jpeg", u"jpe", u"jfif", u"png", u"gif", u"bmp", u"webp", u"avif",
                                    u"jxl", u"heic", u"heif", u"tif", u"tiff", u"jp2", u"j2k"})
    if (SameIgnoringCase(extension, known)) return true;
  return false;
}

// The entry's bytes, up to `most`; false when it does not read, or holds more.
bool ReadWhole(IDirectory* root, const std::u16string& path, std::size_t most, std::string& bytes) {
  ComRef<IFile> file;
  if (root == nullptr || root->OpenFile(&file, path.c_str(), nullptr) != 0) return false;
  char buffer[16384];
  for (;;) {
    uint32_t got = 0;
    if (file->Read(buffer, sizeof buffer, &got) != 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, got);
    if (bytes.size() > most) return false;
  }
}

void Ignored(const std::u16string& why) { OutputDebugStringW((u"ComicInfo Ignored : " + why + u"\r\n").c_str()); }

}  // namespace

bool IsComicInfoPath(std::u16string_view path) { return SameIgnoringCase(path, u"/ComicInfo.xml"); }

void ApplyComicInfo(Book& book) {
  const auto found = std::find_if(book.pages.begin(), book.pages.end(), [](const PageEntry& entry) {
    return entry.state != PageState::Folder && IsComicInfoPath(entry.path);
  });
  if (found == book.pages.end()) return;
  // Kept among the entries, as any file that is no page: the page numbers
  // stay the archive's own.
  found->state = PageState::NotImage;
  const PageEntry description = *found;

  std::string bytes;
  if (description.size > kMaxComicInfoBytes) return Ignored(u"too large");
  // Behind the pages of a solid archive it would cost a pass through them
  // all before the first page shows.
  if (ArchiveItemLiesBehindOthers(book.root.get(), description.path.c_str()))
    return Ignored(u"behind the pages of a solid archive");
  if (!ReadWhole(book.root.get(), description.path, kMaxComicInfoBytes, bytes))
    return Ignored(bytes.size() > kMaxComicInfoBytes ? u"too large" : u"not readable");
  std::u16string why;
  std::optional<ComicInfo> info = ParseComicInfo(bytes, &why);
  if (!info) return Ignored(why);

  // The pages by their number among the images.
  std::vector<std::size_t> images;
  for (std::size_t i = 0; i < book.pages.size(); ++i)
    if (book.pages[i].state != PageState::Folder && NamedAsImage(book.pages[i].name)) images.push_back(i);
  std::vector<bool> deleted(book.pages.size(), false), said(images.size(), false);
  std::size_t cover = book.pages.size();
  for (const ComicPage& page : info->pages) {
    const auto image = static_cast<std::size_t>(page.index);
    // A page described twice: its first description holds.
    if (image >= images.size() || said[image]) continue;
    said[image] = true;
    const std::size_t at = images[image];
    if (page.type == ComicPageType::Deleted) deleted[at] = true;
    if (page.type == ComicPageType::FrontCover && cover == book.pages.size()) cover = at;
    if (page.doublePage)
      book.pages[at].stated = PageShape::Wide;
    else if (page.width > 0)
      book.pages[at].stated = page.width < page.height ? PageShape::Upright : PageShape::Wide;
  }

  // A deleted page keeps its place and number, passed over as a file that
  // is no page is.
  for (std::size_t i = 0; i < book.pages.size(); ++i)
    if (deleted[i]) book.pages[i].state = PageState::NotImage;
  book.statedCover = cover < book.pages.size() && !deleted[cover] ? static_cast<int32_t>(cover) : -1;
  info->pages.clear();  // applied: the book keeps what it shows
  book.info = std::move(info);
}
