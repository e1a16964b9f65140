// Turning the book's entries into pages ready to draw, and putting the page
// or the pair of pages a move asks for on screen. The workers load the
// pages a turn may show next and scale the pages on screen; what the user
// sees, and every debug line, comes as if each page were decoded when shown.
#include <new>
#include <string>

#include "platform/debug.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/shell/MainWindow.h"

namespace {

PageShape ShapeOf(D2D1_SIZE_U size) { return size.width < size.height ? PageShape::Upright : PageShape::Wide; }

bool SameSize(D2D1_SIZE_U a, D2D1_SIZE_U b) { return a.width == b.width && a.height == b.height; }

// Pages looked for ahead in each direction.
constexpr int kAheadPerSide = 2;

}  // namespace

PageRequest CMainWindow::RequestFor(int32_t index) const {
  PageRequest request;
  request.page = index;
  request.root = m_book.root;
  request.path = m_book.pages[static_cast<std::size_t>(index)].path;
  request.colorizing = m_profile.settings.colorizing();
  request.orientation = m_reading.orientation();
  request.make = m_renderer.Maker();
  return request;
}

int32_t CMainWindow::DecodePage(int32_t index, int32_t* slot) {
  if (const int32_t hit = m_pageCache.Find(index); hit >= 0) {
    *slot = hit;
    return 0;
  }
  if (index < 0 || index >= m_book.PageCount()) return 1;
  PageEntry& entry = m_book.pages[static_cast<std::size_t>(index)];
  if (entry.state != PageState::Unknown && entry.state != PageState::Image) return 1;
  // Told to end: no new decode, and the page keeps what is known of it.
  if (TerminationRequested()) return 1;
  try {
    // Loaded ahead, or being loaded: taken (waiting only for a load under
    // way); otherwise loaded here, at full size, to be scaled later.
    std::optional<LoadedPage> loaded = m_loader.Take(index);
    if (!loaded && TerminationRequested()) return 1;
    if (!loaded) {
      PageRequest request = RequestFor(index);
      request.keepFull = true;
      loaded = LoadPage(request, m_loader.OpenLock());
    }
    // The load's debug lines belong here, where the page is decoded for use.
    if (!loaded->trace.empty()) OutputDebugStringW(loaded->trace.c_str());
    if (!loaded->decoded) {
      entry.state = PageState::NotImage;
      return 1;
    }
    entry.state = PageState::Image;
    *slot = m_pageCache.Put(index, std::move(loaded->image));
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
      return ShapeOf(m_window.m_pageCache.Peek(page)->size);
    }
    PageShape Known(int32_t page) const override {
      const PageImage* image = m_window.m_pageCache.Peek(page);
      return image != nullptr ? ShapeOf(image->size) : PageShape::Wide;
    }

   private:
    CMainWindow& m_window;
  } pages(*this);

  LoadLikelyPages(index, step);
  const int32_t n = m_book.PageCount();
  const std::optional<Spread> found = FindSpread(n, m_profile.settings.pageMode, Spread{m_book.current, m_book.second},
                                                 index, step, pages, CoverPage());
  if (!found) {
    MessageBeep(0);
    return 1;
  }

  // Both pages come from the cache, where the search just put them.
  m_book.current = found->first;
  m_book.second = found->second;
  m_firstPage = *m_pageCache.Peek(found->first);
  m_secondPage = found->second >= 0 ? *m_pageCache.Peek(found->second) : PageImage{};

  std::u16string trace = u"Show Image\r\n";
  auto describe = [&](int32_t page, const PageImage& image) {
    const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
    trace += u"  Index : [" + Decimal(page + 1) + u"/" + Decimal(n) + u"]\r\n";
    trace += u"  Name : " + entry.path + u"\r\n";
    trace += u"    Size : " + Decimal(static_cast<int64_t>(entry.size)) + u"\r\n";
    trace += u"    Width : " + Decimal(image.size.width) + u"  Height : " + Decimal(image.size.height) + u"\r\n";
  };
  describe(found->first, m_firstPage);
  if (found->second >= 0) describe(found->second, m_secondPage);
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

  m_failure = OpenFailure::None;
  if (m_profile.AddHistory(m_book.source, m_book.current, m_book.pages[static_cast<std::size_t>(m_book.current)].path))
    SaveHistoryPages(m_profile.history);

  // Pages off screen keep only what draws them; the workers make the pages
  // on screen sharp and load what comes next.
  m_pageCache.KeepFullPixelsOf(m_book.current, m_book.second);
  ScaleShownPages();
  LoadAhead();
  // Full screen has no title bar: the page number stands in for it.
  if (m_fullScreen != 0 && m_reading.pageNumber) ShowPageNumber();
  return 0;
}

int32_t CMainWindow::CoverPage() {
  if (!m_reading.coverAlone || m_profile.settings.pageMode == PageMode::Single) return -1;
  // The first entry that decodes; those not tried yet are tried now, so
  // that the cover is known wherever the reader is in the book.
  for (int32_t k = 0; k < m_book.PageCount(); ++k) {
    const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
    if (state == PageState::Image) return k;
    int32_t slot = 0;
    if (state == PageState::Unknown && DecodePage(k, &slot) == 0) return k;
  }
  return -1;
}

void CMainWindow::LoadLikelyPages(int32_t index, int32_t step) {
  // The pages the search will most likely ask for, given to the workers
  // first: the two pages of a spread then decode side by side.
  const bool spread = m_profile.settings.pageMode != PageMode::Single;
  int32_t from = index, direction = +1;
  if (step < 0) {
    from = index - 1, direction = -1;
  } else if (step > 0 && spread) {
    from = step == 2 && m_book.second != -1 ? m_book.second + 1 : m_book.current + 1;
  } else if (step > 0) {
    from = index + 1;
  }
  int found = 0;
  for (int32_t k = from; k >= 0 && k < m_book.PageCount() && found < (spread ? 2 : 1); k += direction) {
    const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
    if (state != PageState::Unknown && state != PageState::Image) continue;
    ++found;
    if (m_pageCache.Peek(k) != nullptr || m_loader.Has(k)) continue;
    PageRequest request = RequestFor(k);
    request.keepFull = true;
    m_loader.Submit(std::move(request));
  }
}

void CMainWindow::LoadAhead() {
  // The entries a turn may reach next, forward then back, skipping those
  // known not to be pages.
  std::vector<int32_t> ahead;
  auto consider = [&](int32_t from, int32_t direction) {
    int found = 0;
    for (int32_t k = from; k >= 0 && k < m_book.PageCount() && found < kAheadPerSide; k += direction) {
      const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
      if (state != PageState::Unknown && state != PageState::Image) continue;
      ++found;
      if (m_pageCache.Peek(k) == nullptr) ahead.push_back(k);
    }
  };
  const int32_t last = m_book.second >= 0 ? m_book.second : m_book.current;
  consider(last + 1, +1);
  consider(m_book.current - 1, -1);
  m_loader.KeepAhead(ahead);

  // Scaled for where they will most likely stand: an upright page beside
  // its partner in a spread, any other page alone.
  const Screen screen = m_renderer.CurrentScreen();
  const bool spread = m_profile.settings.pageMode != PageMode::Single;
  for (int32_t page : ahead) {
    PageRequest request = RequestFor(page);
    request.ahead = true;
    request.targetFor = [screen, spread](D2D1_SIZE_U size) {
      return spread && ShapeOf(size) == PageShape::Upright ? screen.PixelsPaired(size) : screen.PixelsAlone(size);
    };
    m_loader.Submit(std::move(request));
  }
}

void CMainWindow::ScaleShownPages() {
  const Placement placement =
      m_renderer.CurrentScreen().Place(m_firstPage.size, m_secondPage.size, m_profile.settings.pageMode);
  const std::pair<int32_t, const PagePlace*> shown[] = {{m_book.current, &placement.first},
                                                       {m_book.second, &placement.second}};
  for (const auto& [page, place] : shown) {
    if (page < 0 || place->pixels.width == 0) continue;
    PageImage* image = m_pageCache.Edit(page);
    if (image == nullptr) continue;
    const bool sharp = image->scaled && SameSize(image->scaled->GetPixelSize(), place->pixels);
    const bool loupeReady = !m_loupe.on || image->full;
    if (sharp && !m_loupe.on && image->full) {
      // Drawn from the scaled copy: the full pixels wait for the loupe or a
      // new size to be asked for again.
      image->DropFullPixels();
      if (page == m_book.current) m_firstPage = *image;
      if (page == m_book.second) m_secondPage = *image;
    }
    if (sharp && loupeReady) continue;
    PageRequest request = RequestFor(page);
    request.source = image->source;  // when kept, no second decode
    request.keepFull = m_loupe.on;
    const D2D1_SIZE_U target = place->pixels;
    request.targetFor = [target](D2D1_SIZE_U) { return target; };
    m_loader.Submit(std::move(request));
  }
}

void CMainWindow::CollectLoads() {
  bool repaint = false;
  for (LoadedPage& loaded : m_loader.TakeFinished()) {
    PageImage* image = m_pageCache.Edit(loaded.page);
    // A page loaded for a turn that did not show it (the page after a wide
    // one in a spread) waits for the turn that will.
    if (image == nullptr && loaded.decoded) m_loader.Keep(std::move(loaded));
    if (image == nullptr || !loaded.decoded || !SameSize(image->size, loaded.image.size)) continue;
    if (loaded.image.scaled) image->scaled = loaded.image.scaled;
    if (loaded.image.full) image->full = loaded.image.full;
    if (loaded.image.source) image->source = loaded.image.source;
    if (loaded.page == m_book.current) m_firstPage = *image, repaint = true;
    if (loaded.page == m_book.second) m_secondPage = *image, repaint = true;
  }
  m_pageCache.KeepFullPixelsOf(m_book.current, m_book.second);
  if (repaint) {
    Invalidate();
    ScaleShownPages();  // a size that changed meanwhile
  }
}

void CMainWindow::FinishLoads() {
  m_loader.WaitIdle();
  CollectLoads();
  m_loader.WaitIdle();
  CollectLoads();
}

void CMainWindow::DropLoads() { m_loader.Cancel(); }
