// Turning the book's entries into page bitmaps, and putting the page or
// the pair of pages a move asks for on screen.
#include <new>
#include <string>

#include "platform/debug.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/shell/MainWindow.h"

namespace {

PageShape ShapeOf(ID2D1Bitmap* bitmap) {
  const D2D1_SIZE_U size = bitmap->GetPixelSize();
  return size.width < size.height ? PageShape::Upright : PageShape::Wide;
}

}  // namespace

ComRef<ID2D1Bitmap> CMainWindow::DecodeBitmap(IDirectory* root, const std::u16string& path) {
  ComRef<ID2D1Bitmap> bitmap;
  ComRef<IFile> file;
  if (root == nullptr || root->OpenFile(&file, path.c_str(), nullptr) != 0) return bitmap;
  ComRef<IWICBitmapSource> pixels;
  if (DecodeImage(file.get(), m_profile.settings.colorizing(), pixels) != 0) return bitmap;
  m_renderer.MakeBitmap(&bitmap, pixels.get());
  return bitmap;
}

int32_t CMainWindow::DecodePage(int32_t index, int32_t* slot) {
  if (const int32_t hit = m_pageCache.Find(index); hit >= 0) {
    *slot = hit;
    return 0;
  }
  if (index < 0 || index >= m_book.PageCount()) return 1;
  PageEntry& entry = m_book.pages[static_cast<std::size_t>(index)];
  if (entry.state != PageState::Unknown && entry.state != PageState::Image) return 1;
  try {
    const ComRef<ID2D1Bitmap> bitmap = DecodeBitmap(m_book.root.get(), entry.path);
    if (!bitmap) {
      entry.state = PageState::NotImage;
      return 1;
    }
    entry.state = PageState::Image;
    *slot = m_pageCache.Put(index, bitmap.get());
    return 0;
  } catch (const std::bad_alloc&) {
    entry.state = PageState::NotImage;
    return 1;
  }
}

int32_t CMainWindow::ShowPage(int32_t index, int32_t step) {
  // The spread rules see the pages through the cache: a page is decoded
  // (and kept) when asked for, and the page on screen is looked up only.
  class Pages final : public IPageShapes {
   public:
    explicit Pages(CMainWindow& window) : m_window(window) {}
    PageShape Decode(int32_t page) override {
      int32_t slot = 0;
      if (m_window.DecodePage(page, &slot) != 0) return PageShape::NotImage;
      return ShapeOf(m_window.m_pageCache.Peek(page));
    }
    PageShape Known(int32_t page) const override {
      ID2D1Bitmap* bitmap = m_window.m_pageCache.Peek(page);
      return bitmap != nullptr ? ShapeOf(bitmap) : PageShape::Wide;
    }

   private:
    CMainWindow& m_window;
  } pages(*this);

  const int32_t n = m_book.PageCount();
  const std::optional<Spread> found =
      FindSpread(n, m_profile.settings.pageMode, Spread{m_book.current, m_book.second}, index, step, pages);
  if (!found) {
    MessageBeep(0);
    return 1;
  }

  // Both pages come from the cache, where the search just put them.
  m_book.current = found->first;
  m_book.second = found->second;
  m_firstPage.Set(m_pageCache.Peek(found->first));
  if (found->second >= 0)
    m_secondPage.Set(m_pageCache.Peek(found->second));
  else
    m_secondPage.Reset();

  std::u16string trace = u"Show Image\r\n";
  auto describe = [&](int32_t page, ID2D1Bitmap* bitmap) {
    const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
    const D2D1_SIZE_U size = bitmap != nullptr ? bitmap->GetPixelSize() : D2D1_SIZE_U{0, 0};
    trace += u"  Index : [" + Decimal(page + 1) + u"/" + Decimal(n) + u"]\r\n";
    trace += u"  Name : " + entry.path + u"\r\n";
    trace += u"    Size : " + Decimal(static_cast<int64_t>(entry.size)) + u"\r\n";
    trace += u"    Width : " + Decimal(size.width) + u"  Height : " + Decimal(size.height) + u"\r\n";
  };
  describe(found->first, m_firstPage.get());
  if (found->second >= 0) describe(found->second, m_secondPage.get());
  OutputDebugStringW(trace.c_str());

  const std::u16string& firstName = m_book.pages[static_cast<std::size_t>(found->first)].name;
  std::u16string title;
  if (found->second >= 0)
    title = u"[" + Decimal(found->first + 1) + u"," + Decimal(found->second + 1) + u"/" + Decimal(n) + u"] " +
            firstName + u" | " + m_book.pages[static_cast<std::size_t>(found->second)].name;
  else
    title = u"[" + Decimal(found->first + 1) + u"/" + Decimal(n) + u"] " + firstName;
  title += u" <" + m_book.displayName + u"> " + kProductTitle;
  SetWindowTextW(m_hWnd, title.c_str());

  m_profile.AddHistory(m_book.source, m_book.current);
  return 0;
}
