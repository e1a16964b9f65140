#include "viewer/reading/ReadingUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "platform/debug.h"
#include "viewer/archive/Archive.h"
#include "viewer/imaging/PixelBuffer.h"

namespace {

PageShape ShapeOf(D2D1_SIZE_U size) { return size.width < size.height ? PageShape::Upright : PageShape::Wide; }

bool SameSize(D2D1_SIZE_U a, D2D1_SIZE_U b) { return a.width == b.width && a.height == b.height; }

// Whether pixels decoded small are at least `target` on both sides.
bool Covers(IWICBitmapSource* pixels, D2D1_SIZE_U target) {
  UINT width = 0, height = 0;
  return pixels != nullptr && SUCCEEDED(pixels->GetSize(&width, &height)) && width >= target.width &&
         height >= target.height;
}

// Pages looked for ahead in each direction.
constexpr int kAheadPerSide = 2;

}  // namespace

CReadingUnit::CReadingUnit(Book& book, const D2D& renderer, const IPageView& view,
                           std::function<ReadingSettings()> settings)
    : m_book(book), m_renderer(renderer), m_view(view), m_settings(std::move(settings)) {}

CReadingUnit::~CReadingUnit() { LeavePassAlone(); }

bool CReadingUnit::PassOfThisBook() {
  if (m_book.kind != BookKind::Archive || !m_book.root) return false;
  const IDirectory* root = m_book.root.get();
  if ((m_readingOn && m_readingOn.get() != root) || (m_givingWay && m_givingWay.get() != root)) LeavePassAlone();
  return true;
}

void CReadingUnit::LetPassReadOn() {
  if (!PassOfThisBook() || m_readingOn) return;
  m_readingOn = m_book.root;
  ReadSolidArchiveOn(m_readingOn.get(), LoadsBusy());
}

void CReadingUnit::LetPassGiveWay() {
  if (!PassOfThisBook() || m_givingWay) return;
  m_givingWay = m_book.root;
  GiveWayInSolidArchive(m_givingWay.get(), LoadsBusy());
}

std::function<bool()> CReadingUnit::LoadsBusy() {
  // Asked on the pass's thread; the loaders outlive it, as it is left
  // alone before they go.
  return [this] { return m_aheadWaiting || !m_loader.Idle() || !m_partLoader.Idle(); };
}

void CReadingUnit::LeavePassAlone() {
  if (m_readingOn) ReadSolidArchiveOn(m_readingOn.get(), {});
  if (m_givingWay) GiveWayInSolidArchive(m_givingWay.get(), {});
  m_readingOn.Reset();
  m_givingWay.Reset();
}

void CReadingUnit::DropPages() {
  m_aheadWaiting = false;
  m_loader.Cancel();
  m_partLoader.Cancel();
  m_partsLoading.clear();
  m_cache.Reset();
  m_thumbnails.Reset();
  m_gridAsked.clear();
  m_columnPages.clear();
  m_columnAsked.clear();
}

void CReadingUnit::Reset() {
  LeavePassAlone();
  DropPages();
  m_first = PageImage{};
  m_second = PageImage{};
}

PageRequest CReadingUnit::RequestFor(int32_t index) const {
  const ReadingSettings settings = m_settings();
  PageRequest request;
  request.page = index;
  request.root = m_book.root;
  request.path = m_book.pages[static_cast<std::size_t>(index)].path;
  request.colorizing = settings.colorizing;
  request.orientation = settings.orientation;
  request.make = m_renderer.Maker();
  return request;
}

IPageView::Sizer CReadingUnit::DecodeForTurn() const {
  // Under the loupe every pixel; otherwise enough for the page alone or in
  // a spread, whichever the pairing comes to.
  const ReadingSettings settings = m_settings();
  if (settings.loupe) return nullptr;
  return [alone = m_view.AheadPixels(PageMode::Single), here = m_view.AheadPixels(settings.mode)](D2D1_SIZE_U page) {
    const D2D1_SIZE_U one = alone(page), other = here(page);
    return D2D1_SIZE_U{std::max(one.width, other.width), std::max(one.height, other.height)};
  };
}

int32_t CReadingUnit::Decode(int32_t index) {
  if (m_cache.Find(index) >= 0) return 0;
  if (index < 0 || index >= m_book.PageCount()) return 1;
  PageEntry& entry = m_book.pages[static_cast<std::size_t>(index)];
  if (entry.state == PageState::Damaged && m_damaged) {
    // Keeps its place, so that the page numbers after it stay the book's.
    m_cache.Put(index, PageImage::Of(m_damaged.get()));
    return 0;
  }
  if (entry.state != PageState::Unknown && entry.state != PageState::Image) return 1;
  // The turn waits for an earlier page: it is asked again, nothing more now.
  if (m_waitingFor >= 0) return 1;
  // Told to end: no new decode, and the page keeps what is known of it.
  if (m_giveWay && m_giveWay()) return 1;
  try {
    // Loaded ahead, being loaded or queued: taken once made; otherwise
    // asked for, at full size, to be scaled later. Never loaded here.
    PageRequest request = RequestFor(index);
    KeepForTurn(request);
    request.decodeFor = DecodeForTurn();
    // Scaled on the worker too, for where it will most likely stand: the
    // first frame that shows it draws it as it is, instead of shrinking
    // the decoded pixels on this thread.
    request.targetFor = m_view.AheadPixels(m_settings().mode);
    LetPassGiveWay();
    m_loader.Submit(std::move(request));
    std::optional<LoadedPage> loaded = m_loader.Take(index, m_deadline);
    if (!loaded) {
      if (!(m_giveWay && m_giveWay())) m_waitingFor = index;
      return 1;
    }
    // The load's debug lines belong here, where the page is decoded for use.
    if (!loaded->trace.empty()) OutputDebugStringW(loaded->trace.c_str());
    entry.damage = loaded->damage;
    if (!loaded->decoded && !entry.damage.empty()) {
      entry.state = PageState::Damaged;
      return Decode(index);
    }
    if (!loaded->decoded) {
      entry.state = PageState::NotImage;
      return 1;
    }
    entry.state = PageState::Image;
    entry.stated.reset();  // what the book said of its shape, the pixels now say
    m_cache.Put(index, std::move(loaded->image));
    return 0;
  } catch (const std::bad_alloc&) {
    entry.state = PageState::NotImage;
    return 1;
  }
}

TurnResult CReadingUnit::Turn(int32_t index, int32_t step, bool coverAlone) {
  // The spread rules see the pages through the cache: a page is decoded
  // (and kept) when asked for, and the page on screen is looked up only.
  class Pages final : public IPageShapes {
   public:
    explicit Pages(CReadingUnit& unit) : m_unit(unit) {}
    PageShape Decode(int32_t page) override {
      if (m_unit.Decode(page) != 0) return PageShape::NotImage;
      return ShapeOf(m_unit.m_cache.Peek(page)->size);
    }
    PageShape Known(int32_t page) const override {
      const PageImage* image = m_unit.m_cache.Peek(page);
      if (image != nullptr) return ShapeOf(image->size);
      return Stated(page).value_or(PageShape::Wide);
    }
    std::optional<PageShape> Stated(int32_t page) const override {
      if (page < 0 || page >= m_unit.m_book.PageCount() || m_unit.m_cache.Peek(page) != nullptr) return std::nullopt;
      return m_unit.m_book.pages[static_cast<std::size_t>(page)].stated;
    }

   private:
    CReadingUnit& m_unit;
  } pages(*this);

  m_deadline = m_patience == kNoLimit ? CPageLoader::kNoDeadline : std::chrono::steady_clock::now() + m_patience;
  m_waitingFor = -1;
  // The front cover the book names is the one that stands alone.
  const int32_t cover = !coverAlone ? -1 : m_book.statedCover >= 0 ? m_book.statedCover : FirstPage();
  if (m_waitingFor >= 0) return TurnResult{TurnState::Waiting, {}};
  LoadLikelyPages(index, step);
  const std::optional<Spread> found = FindSpread(m_book.PageCount(), m_settings().mode,
                                                 Spread{m_book.current, m_book.second}, index, step, pages, cover);
  if (m_waitingFor >= 0) return TurnResult{TurnState::Waiting, {}};
  if (!found) return TurnResult{};
  // Both pages come from the cache, where the search just put them.
  m_book.current = found->first;
  m_book.second = found->second;
  ShowFully(found->first, found->second);
  m_first = *m_cache.Peek(found->first);
  m_second = found->second >= 0 ? *m_cache.Peek(found->second) : PageImage{};
  // Pages off screen keep only what draws them; the workers make the pages
  // on screen sharp and load what comes next.
  m_cache.KeepFullPixelsOf(m_book.current, m_book.second);
  Rescale();
  if (m_aheadAfterFrame)
    m_aheadWaiting = true;
  else
    LoadAhead();
  LetPassReadOn();
  return TurnResult{TurnState::Shown, *found};
}

void CReadingUnit::KeepForTurn(PageRequest& request) const {
  // The decoded pixels are kept; the full-size bitmap is made from them
  // only where the scaled copy does not fit the page's place (ShowFully):
  // for a false-colour page it is a second conversion of every pixel. The
  // loupe and a zoom keep it at once.
  const ReadingSettings settings = m_settings();
  request.keepFull = settings.loupe || settings.zoomed;
  request.keepSource = true;
}

void CReadingUnit::ShowFully(int32_t first, int32_t second) {
  const PageImage* one = m_cache.Peek(first);
  const PageImage* other = second >= 0 ? m_cache.Peek(second) : nullptr;
  if (one == nullptr) return;
  const Placement placement = m_view.Place(one->size, other != nullptr ? other->size : D2D1_SIZE_U{}, m_settings().mode);
  const std::pair<int32_t, const PagePlace*> shown[] = {{first, &placement.first}, {second, &placement.second}};
  for (const auto& [page, place] : shown) {
    PageImage* image = page >= 0 ? m_cache.Edit(page) : nullptr;
    if (image == nullptr || image->full || !image->source) continue;
    if (image->scaled && SameSize(image->scaled->GetPixelSize(), place->pixels)) continue;
    // Drawn from its full pixels, scaled by the painter, until a copy for
    // this place is made.
    if (FAILED(m_renderer.Maker()(image->source.get(), &image->full))) image->full.Reset();
  }
}

int32_t CReadingUnit::FirstPage() {
  // Those not tried yet are tried now, so that the cover is known wherever
  // the reader is in the book.
  for (int32_t k = 0; k < m_book.PageCount(); ++k) {
    const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
    if (state == PageState::Image || (state == PageState::Damaged && m_damaged)) return k;
    if (state == PageState::Unknown && Decode(k) == 0) return k;
  }
  return -1;
}

void CReadingUnit::Adopt(int32_t index, PageImage image) { m_cache.Put(index, std::move(image)); }

void CReadingUnit::ShowPicture(ID2D1Bitmap* picture) {
  m_first = PageImage::Of(picture);
  m_second = PageImage{};
}

void CReadingUnit::LoadLikelyPages(int32_t index, int32_t step) {
  // The pages the search will most likely ask for, given to the workers
  // first: the two pages of a spread then decode side by side.
  const bool spread = m_settings().mode != PageMode::Single;
  int32_t from = index, direction = +1;
  if (step < 0) {
    from = index - 1, direction = -1;
  } else if (step > 0 && spread) {
    from = step == 2 && m_book.second != -1 ? m_book.second + 1 : m_book.current + 1;
  } else if (step > 0) {
    from = index + 1;
  }
  std::vector<int32_t> likely;
  bool known = false;  // decoded, or asked for ahead of this turn
  for (int32_t k = from; k >= 0 && k < m_book.PageCount() && likely.size() < (spread ? 2u : 1u); k += direction) {
    const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
    if (state != PageState::Unknown && state != PageState::Image) continue;
    likely.push_back(k);
    known = known || m_cache.Peek(k) != nullptr || m_loader.Has(k);
  }
  // A jump, past what was loaded ahead: the loads ahead for the old place
  // that have not started give way, so that none takes a worker (or a
  // core) from the pages the jump shows.
  if (!likely.empty() && !known) m_loader.KeepAhead(likely);
  for (int32_t k : likely) {
    if (m_cache.Peek(k) != nullptr || m_loader.Has(k)) continue;
    PageRequest request = RequestFor(k);
    request.purpose = LoadFor::Likely;
    KeepForTurn(request);
    request.decodeFor = DecodeForTurn();
    request.targetFor = m_view.AheadPixels(m_settings().mode);
    LetPassGiveWay();
    m_loader.Submit(std::move(request));
  }
}

void CReadingUnit::LoadAhead() {
  // The entries a turn may reach next, forward then back, skipping those
  // known not to be pages.
  std::vector<int32_t> ahead;
  auto consider = [&](int32_t from, int32_t direction) {
    int found = 0;
    for (int32_t k = from; k >= 0 && k < m_book.PageCount() && found < kAheadPerSide; k += direction) {
      const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
      if (state != PageState::Unknown && state != PageState::Image) continue;
      ++found;
      if (m_cache.Peek(k) == nullptr) ahead.push_back(k);
    }
  };
  const int32_t last = m_book.second >= 0 ? m_book.second : m_book.current;
  consider(last + 1, +1);
  consider(m_book.current - 1, -1);
  m_loader.KeepAhead(ahead);

  // Scaled for where they will most likely stand.
  const IPageView::Sizer sizer = m_view.AheadPixels(m_settings().mode);
  for (int32_t page : ahead) {
    PageRequest request = RequestFor(page);
    request.purpose = LoadFor::Ahead;
    request.targetFor = sizer;
    request.decodeFor = sizer;
    m_loader.Submit(std::move(request));
  }
}

std::array<std::pair<int32_t, const PagePlace*>, 2> CReadingUnit::ShownPlaces(const Placement& placement) const {
  return {{{m_book.current, &placement.first}, {m_book.second, &placement.second}}};
}

void CReadingUnit::Rescale() {
  if (m_column != nullptr) {
    KeepColumnReady();
    return;
  }
  const ReadingSettings settings = m_settings();
  const Placement placement = m_view.Place(m_first.size, m_second.size, settings.mode);
  for (const auto& [page, place] : ShownPlaces(placement)) {
    if (page < 0 || place->pixels.width == 0) continue;
    PageImage* image = m_cache.Edit(page);
    if (image == nullptr) continue;
    const bool sharp = image->scaled && SameSize(image->scaled->GetPixelSize(), place->pixels);
    const bool loupeReady = !settings.loupe || (image->full && !image->decodedToDraw);
    if (sharp && !settings.loupe && !settings.zoomed && (image->full || image->source)) {
      // Drawn from the scaled copy: the full pixels wait for the loupe or a
      // new size to be asked for again.
      image->DropFullPixels();
      if (page == m_book.current) m_first = *image;
      if (page == m_book.second) m_second = *image;
    }
    if (sharp && loupeReady) continue;
    PageRequest request = RequestFor(page);
    request.purpose = LoadFor::Rescale;
    const D2D1_SIZE_U target = place->pixels;
    // When kept, no second decode; pixels decoded small only where they
    // still cover the size asked, never upscaled nor magnified.
    if (!image->decodedToDraw || (!settings.loupe && Covers(image->source.get(), target)))
      request.source = image->source;
    request.keepFull = settings.loupe;
    request.keepSource = settings.zoomed;
    if (!settings.loupe) request.decodeFor = [target](D2D1_SIZE_U) { return target; };
    request.targetFor = [target](D2D1_SIZE_U) { return target; };
    m_loader.Submit(std::move(request));
  }
  KeepPartsInView();
}

void CReadingUnit::KeepPartsInView() {
  if (m_column != nullptr || m_grid != nullptr) return;
  const Screen screen = m_renderer.CurrentScreen();
  const float kx = screen.dpiX / 96.0f, ky = screen.dpiY / 96.0f;
  const D2D1_SIZE_U window{static_cast<UINT>(std::lround(screen.width * kx)),
                           static_cast<UINT>(std::lround(screen.height * ky))};
  const Placement placement = Placed();
  for (const auto& [page, place] : ShownPlaces(placement)) {
    if (page < 0 || place->pixels.width == 0) continue;
    PageImage* image = m_cache.Edit(page);
    if (image == nullptr) continue;
    const D2D1_SIZE_U cover = screen.PlaceAt(place->rect).pixels;
    const std::vector<WICRect> wanted =
        InParts(cover) ? PartsInView(cover, std::lround(place->rect.left * kx), std::lround(place->rect.top * ky), window)
                       : std::vector<WICRect>{};
    auto isWanted = [&](const WICRect& area) {
      return std::any_of(wanted.begin(), wanted.end(), [&](const WICRect& w) { return w.X == area.X && w.Y == area.Y; });
    };
    // Out of view, or made for another zoom: let go.
    const std::size_t had = image->parts.size();
    std::erase_if(image->parts, [&](const PagePart& part) { return !SameSize(part.cover, cover) || !isWanted(part.area); });
    if (image->parts.size() != had) {
      if (page == m_book.current) m_first = *image;
      if (page == m_book.second) m_second = *image;
    }
    if (auto loading = m_partsLoading.find(page); loading != m_partsLoading.end()) {
      if (SameSize(loading->second, cover)) continue;
      // Made for a zoom that is gone.
      m_partLoader.Withdraw(page);
      m_partsLoading.erase(loading);
    }
    // Those on screen first, then those of the margin around it.
    const std::vector<WICRect> onScreen =
        InParts(cover) ? PartsInView(cover, std::lround(place->rect.left * kx), std::lround(place->rect.top * ky),
                                     window, false)
                       : std::vector<WICRect>{};
    PageRequest request = RequestFor(page);
    for (const std::vector<WICRect>* parts : {&onScreen, &wanted}) {
      for (const WICRect& area : *parts)
        if (std::none_of(image->parts.begin(), image->parts.end(),
                         [&](const PagePart& part) { return part.area.X == area.X && part.area.Y == area.Y; }))
          request.parts.push_back(area);
      if (!request.parts.empty()) break;
    }
    if (request.parts.empty()) continue;
    request.purpose = LoadFor::Rescale;
    request.partsCover = cover;
    // Cut from the pixels the zoom keeps; decoded again only where they were
    // decoded small.
    if (!image->decodedToDraw) request.source = image->source;
    request.decodeFor = [cover](D2D1_SIZE_U) { return cover; };
    request.budgetBytes = PartSourceBytes(image->size, cover, kPageBudgetBytes);
    m_partLoader.Submit(std::move(request));
    m_partsLoading[page] = cover;
  }
}

bool CReadingUnit::TakeParts(LoadedPage& loaded) {
  const int32_t page = loaded.page;
  m_partsLoading.erase(page);
  if (!loaded.decoded || m_grid != nullptr) return false;
  auto add = [&](PageImage& image, D2D1_SIZE_U cover) {
    std::erase_if(image.parts, [&](const PagePart& part) { return !SameSize(part.cover, cover); });
    for (PagePart& part : loaded.image.parts)
      if (SameSize(part.cover, cover)) image.parts.push_back(std::move(part));
  };
  if (m_column != nullptr) {
    // Scrolled far away meanwhile: not held.
    if (m_columnAsked.count(page) == 0) return false;
    PageImage& held = m_columnPages[page];
    if (held.empty()) held.size = loaded.image.size;
    if (loaded.image.scaled) held.scaled = loaded.image.scaled;  // the copy that stands in
    if (loaded.image.source) {
      held.source = loaded.image.source;
      held.decodedToDraw = loaded.image.decodedToDraw;
    }
    add(held, m_column->CoverOf(page));
    KeepOneSource();
    return true;
  }
  PageImage* image = m_cache.Edit(page);
  if (image == nullptr || !SameSize(image->size, loaded.image.size)) return false;
  const Placement placement = Placed();
  const PagePlace& place = page == m_book.current ? placement.first : placement.second;
  if (page != m_book.current && page != m_book.second) return false;
  add(*image, m_renderer.CurrentScreen().PlaceAt(place.rect).pixels);
  if (page == m_book.current) m_first = *image;
  if (page == m_book.second) m_second = *image;
  return true;
}

void CReadingUnit::Resized() {
  if (m_column != nullptr) {
    m_column->SetScreen(m_renderer.CurrentScreen());
    KeepColumnReady();
    return;
  }
  Rescale();
  if (m_cache.Peek(m_book.current) != nullptr) LoadAhead();
}

bool CReadingUnit::Collect() {
  bool repaint = false;
  bool partsMade = false;
  for (LoadedPage& loaded : m_partLoader.TakeFinished()) partsMade = TakeParts(loaded) || partsMade;
  if (partsMade && m_column == nullptr) KeepPartsInView();  // what the view wants more meanwhile
  repaint = partsMade;
  for (LoadedPage& loaded : m_loader.TakeFinished()) {
    if (m_grid != nullptr) {
      TakeIntoGrid(loaded);
      repaint = true;
      continue;
    }
    if (m_column != nullptr) {
      TakeIntoColumn(loaded);
      LetPassReadOn();
      repaint = true;
      continue;
    }
    PageImage* image = m_cache.Edit(loaded.page);
    // A page loaded for a turn that did not show it (the page after a wide
    // one in a spread, a turn still waiting) waits for the turn that will,
    // an entry that is no image too.
    if (image == nullptr) {
      m_loader.Keep(std::move(loaded));
      continue;
    }
    if (!loaded.decoded || !SameSize(image->size, loaded.image.size)) continue;
    if (loaded.image.scaled) image->scaled = loaded.image.scaled;
    if (loaded.image.full) image->full = loaded.image.full;
    if (loaded.image.source) image->source = loaded.image.source;
    if (loaded.image.full || loaded.image.source) image->decodedToDraw = loaded.image.decodedToDraw;
    if (loaded.page == m_book.current) m_first = *image, repaint = true;
    if (loaded.page == m_book.second) m_second = *image, repaint = true;
  }
  if (m_column != nullptr) {
    // The sizes found move what is wanted.
    if (repaint) KeepColumnReady();
    return repaint;
  }
  m_cache.KeepFullPixelsOf(m_book.current, m_book.second);
  if (repaint) Rescale();  // a size that changed meanwhile
  return repaint;
}

void CReadingUnit::FrameDrawn() {
  if (!m_aheadWaiting) return;
  if (m_column == nullptr && m_grid == nullptr && m_cache.Peek(m_book.current) != nullptr) LoadAhead();
  m_aheadWaiting = false;  // after the loads are asked for: a pass reading on sees no gap
}

bool CReadingUnit::FinishLoads() {
  bool repaint = false;
  for (int round = 0; round < 3; ++round) {
    m_loader.WaitIdle();
    m_partLoader.WaitIdle();
    repaint = Collect() || repaint;
  }
  return repaint;
}

void CReadingUnit::ShowColumn(ContinuousLayout* column, int direction) {
  if (column != m_column) {
    // The loads of the other way of reading are for other sizes.
    m_loader.Cancel();
    m_partLoader.Cancel();
    m_partsLoading.clear();
    m_columnPages.clear();
    m_columnAsked.clear();
    m_column = column;
    if (m_column == nullptr) return;
    m_column->SetScreen(m_renderer.CurrentScreen());
    // What is known already: the pages decoded for turns, the entries that
    // are no pages.
    for (int32_t k = 0; k < m_book.PageCount() && k < m_column->count(); ++k) {
      const PageState state = m_book.pages[static_cast<std::size_t>(k)].state;
      if (state != PageState::Unknown && state != PageState::Image && !(state == PageState::Damaged && m_damaged))
        m_column->SetNoPage(k);
      else if (const PageImage* image = m_cache.Peek(k); image != nullptr)
        m_column->SetSize(k, image->size);
    }
  }
  if (m_column == nullptr) return;
  m_direction = direction < 0 ? -1 : 1;
  KeepColumnReady();
}

void CReadingUnit::KeepColumnReady() {
  const std::vector<int32_t> wanted = m_column->Wanted(m_direction, m_columnBudget);
  auto isWanted = [&](int32_t page) { return std::find(wanted.begin(), wanted.end(), page) != wanted.end(); };
  // Behind and far away: let go, and no longer made.
  for (auto held = m_columnPages.begin(); held != m_columnPages.end();)
    held = isWanted(held->first) ? std::next(held) : m_columnPages.erase(held);
  KeepOneSource();
  for (auto asked = m_columnAsked.begin(); asked != m_columnAsked.end();) {
    if (isWanted(asked->first)) {
      ++asked;
      continue;
    }
    m_loader.Withdraw(asked->first);
    m_partLoader.Withdraw(asked->first);
    m_partsLoading.erase(asked->first);
    asked = m_columnAsked.erase(asked);
  }
  const double scale = m_column->Scale();
  // A page found too large to scale whole comes first as the small copy that
  // stands in for its parts, decoded small for it.
  const IPageView::Sizer sizer = [scale](D2D1_SIZE_U page) {
    const D2D1_SIZE_U cover = ContinuousLayout::CoverAt(scale, page);
    return InParts(cover) ? StandInOf(cover) : ContinuousLayout::PixelsAt(scale, page);
  };
  const std::vector<ColumnPlace> visible = m_column->Visible();
  for (int32_t page : wanted) {
    if (page < 0 || page >= m_book.PageCount()) continue;
    const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
    if (entry.state == PageState::Damaged && m_damaged) {
      // The picture that stands in its place, at the picture's size.
      m_columnPages[page] = PageImage::Of(m_damaged.get());
      m_column->SetSize(page, m_damaged->GetPixelSize());
      continue;
    }
    if (entry.state != PageState::Unknown && entry.state != PageState::Image) continue;
    const bool onScreen = std::any_of(visible.begin(), visible.end(), [&](const ColumnPlace& p) { return p.page == page; });
    if (const D2D1_SIZE_U cover = m_column->CoverOf(page); m_column->Known(page) && InParts(cover)) {
      KeepColumnParts(page, cover, onScreen);
      continue;
    }
    // Asked for at this scale already: made, or on its way.
    if (auto asked = m_columnAsked.find(page); asked != m_columnAsked.end() && asked->second == scale) continue;
    PageRequest request = RequestFor(page);
    // Those on screen before those ahead, in the order wanted.
    request.purpose = onScreen ? LoadFor::Rescale : LoadFor::Likely;
    request.targetFor = sizer;
    request.decodeFor = sizer;
    // A load under way for another scale ends and is asked for again.
    m_loader.Withdraw(page);
    m_loader.Submit(std::move(request));
    m_columnAsked[page] = scale;
  }
}

void CReadingUnit::KeepColumnParts(int32_t page, D2D1_SIZE_U cover, bool onScreen) {
  const double scale = m_column->Scale();
  const std::vector<WICRect> wanted = m_column->PartsWanted(page, m_direction);
  auto same = [](const WICRect& a, const WICRect& b) { return a.X == b.X && a.Y == b.Y; };
  auto held = m_columnPages.find(page);
  if (held != m_columnPages.end())
    std::erase_if(held->second.parts, [&](const PagePart& part) {
      return !SameSize(part.cover, cover) ||
             std::none_of(wanted.begin(), wanted.end(), [&](const WICRect& w) { return same(w, part.area); });
    });
  auto asked = m_columnAsked.find(page);
  if (asked == m_columnAsked.end() || asked->second != scale) {
    // Asked for at another scale: those loads end.
    m_loader.Withdraw(page);
    m_partLoader.Withdraw(page);
    m_partsLoading.erase(page);
  }
  m_columnAsked[page] = scale;
  // One load at a time: what it does not make is asked for when it ends.
  if (m_partsLoading.count(page) != 0) return;
  PageRequest request = RequestFor(page);
  for (const WICRect& area : wanted)
    if (held == m_columnPages.end() || std::none_of(held->second.parts.begin(), held->second.parts.end(),
                                                    [&](const PagePart& part) { return same(part.area, area); }))
      request.parts.push_back(area);
  const D2D1_SIZE_U standIn = StandInOf(cover);
  const bool hasStandIn = held != m_columnPages.end() && held->second.scaled &&
                          SameSize(held->second.scaled->GetPixelSize(), standIn);
  if (request.parts.empty() && hasStandIn) return;
  request.purpose = onScreen ? LoadFor::Rescale : LoadFor::Likely;
  request.partsCover = cover;
  if (!hasStandIn) request.targetFor = [standIn](D2D1_SIZE_U) { return standIn; };
  // The decoded pixels are kept (those of one page at most, the nearest
  // the middle of the window), so that the bands that come into the window
  // are cut without decoding it again.
  const bool kept = held != m_columnPages.end() && held->second.source &&
                    (!held->second.decodedToDraw || Covers(held->second.source.get(), cover));
  if (kept) request.source = held->second.source;
  request.keepSource = true;
  request.decodeFor = [cover](D2D1_SIZE_U) { return cover; };
  request.budgetBytes = PartSourceBytes(m_column->SizeOf(page), cover, kPageBudgetBytes);
  m_partLoader.Submit(std::move(request));
  m_partsLoading[page] = cover;
}

void CReadingUnit::KeepOneSource() {
  const int32_t current = m_column->Current();
  auto nearest = m_columnPages.end();
  for (auto held = m_columnPages.begin(); held != m_columnPages.end(); ++held)
    if (held->second.source &&
        (nearest == m_columnPages.end() || std::abs(held->first - current) < std::abs(nearest->first - current)))
      nearest = held;
  for (auto held = m_columnPages.begin(); held != m_columnPages.end(); ++held)
    if (held != nearest) held->second.source.Reset();
}

void CReadingUnit::TakeIntoColumn(LoadedPage& loaded) {
  const int32_t page = loaded.page;
  if (page < 0 || page >= m_book.PageCount()) return;
  PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
  // The load's debug lines belong here, where the page comes into use.
  if (!loaded.trace.empty()) OutputDebugStringW(loaded.trace.c_str());
  entry.damage = loaded.damage;
  const bool wanted = m_columnAsked.count(page) != 0;
  if (!loaded.decoded) {
    entry.state = !entry.damage.empty() ? PageState::Damaged : PageState::NotImage;
    if (entry.state == PageState::Damaged && m_damaged) {
      m_column->SetSize(page, m_damaged->GetPixelSize());
      if (wanted) m_columnPages[page] = PageImage::Of(m_damaged.get());
    } else {
      m_column->SetNoPage(page);
    }
    return;
  }
  entry.state = PageState::Image;
  m_column->SetSize(page, loaded.image.size);
  if (wanted) m_columnPages[page] = std::move(loaded.image);
}

std::vector<PlacedPage> CReadingUnit::ColumnShown() const {
  std::vector<PlacedPage> shown;
  if (m_column == nullptr) return shown;
  for (const ColumnPlace& place : m_column->Visible())
    if (auto held = m_columnPages.find(place.page); held != m_columnPages.end())
      shown.push_back(PlacedPage{held->second, place.place});
  return shown;
}

void CReadingUnit::ShowGrid(const PageGrid* grid) {
  if (grid != m_grid) {
    const bool leaving = grid == nullptr;
    // The loads of the pages or the column wait; the grid's own end.
    m_loader.Cancel();
    m_partLoader.Cancel();
    m_partsLoading.clear();
    m_gridAsked.clear();
    m_grid = grid;
    if (leaving) {
      LeaveGrid();
      return;
    }
    m_bookStamp = StampOf(m_book.source);
    // A solid archive: its pages in the order its pass reads them, those it
    // does not hold last.
    m_passOrder.clear();
    m_gridMade.clear();
    m_onDisk.assign(static_cast<std::size_t>(m_book.PageCount()), DiskState::Unknown);
    std::vector<std::u16string> paths;
    for (const PageEntry& entry : m_book.pages) paths.push_back(entry.path);
    const auto places = m_book.kind == BookKind::Archive ? ArchivePassPlaces(m_book.root.get(), paths) : std::nullopt;
    if (places) {
      for (int32_t page = 0; page < m_book.PageCount(); ++page) m_passOrder.push_back(page);
      auto place = [&](int32_t page) {
        const int32_t at = (*places)[static_cast<std::size_t>(page)];
        return at < 0 ? INT32_MAX : at;
      };
      std::stable_sort(m_passOrder.begin(), m_passOrder.end(),
                       [&](int32_t a, int32_t b) { return place(a) < place(b); });
    }
  }
  if (m_grid != nullptr) KeepGridReady();
}

void CReadingUnit::LeaveGrid() {
  if (m_column != nullptr) {
    // What the column held stays; what it had asked for is asked again.
    m_columnAsked.clear();
    const double scale = m_column->Scale();
    for (const auto& held : m_columnPages) m_columnAsked[held.first] = scale;
  }
  // For the window as it is now: it may have changed under the grid.
  Resized();
}

ThumbnailKey CReadingUnit::KeyOf(int32_t page) const {
  const ReadingSettings settings = m_settings();
  const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
  ThumbnailKey key;
  key.book = m_book.source;
  key.stamp = m_bookStamp.value_or(FileStamp{});
  key.entry = entry.path;
  key.entrySize = entry.size;
  key.variant = static_cast<uint32_t>(settings.colorizing) * 2 + (settings.orientation == ExifOrientation::Honoured);
  return key;
}

bool CReadingUnit::Unwanted(int32_t page) {
  if (page < 0 || page >= m_book.PageCount() || m_gridAsked.count(page) != 0) return true;
  const PageState state = m_book.pages[static_cast<std::size_t>(page)].state;
  return (state != PageState::Unknown && state != PageState::Image) || m_thumbnails.Find(page) != nullptr;
}

bool CReadingUnit::FromDisk(int32_t page) {
  if (!m_store || !m_bookStamp || static_cast<std::size_t>(page) >= m_onDisk.size()) return false;
  std::optional<PixelRows> kept = m_store->Load(KeyOf(page));
  m_onDisk[static_cast<std::size_t>(page)] = kept ? DiskState::Kept : DiskState::Missing;
  if (!kept) return false;
  ComRef<IWICBitmapSource> pixels;
  pixels.Set(new CPixelBuffer(std::move(*kept)));
  ComRef<ID2D1Bitmap> bitmap;
  if (m_renderer.Maker()(pixels.get(), &bitmap) != S_OK) return false;
  m_thumbnails.Put(page, bitmap.get());
  return true;
}

bool CReadingUnit::OnDisk(int32_t page) {
  if (static_cast<std::size_t>(page) >= m_onDisk.size()) return false;
  DiskState& known = m_onDisk[static_cast<std::size_t>(page)];
  if (known == DiskState::Unknown)
    known = m_store && m_bookStamp && m_store->Has(KeyOf(page)) ? DiskState::Kept : DiskState::Missing;
  return known == DiskState::Kept;
}

void CReadingUnit::AskForThumbnail(int32_t page, bool inView) {
  PageRequest request = RequestFor(page);
  request.purpose = inView ? LoadFor::Rescale : LoadFor::Likely;
  request.targetFor = [](D2D1_SIZE_U size) { return PageGrid::ThumbPixels(size); };
  request.decodeFor = request.targetFor;
  if (m_store && m_bookStamp) {
    // On the worker, the thumbnail is kept on disk as it is made.
    request.make = [make = request.make, store = m_store, key = KeyOf(page)](IWICBitmapSource* made,
                                                                            ID2D1Bitmap** bitmap) {
      // Only a thumbnail (not a page's full pixels when it could not be
      // scaled).
      UINT width = 0, height = 0;
      PixelRows rows;
      if (made == nullptr || FAILED(made->GetSize(&width, &height)) || width > PageGrid::kThumbWidth ||
          height > PageGrid::kThumbHeight || !CopyRows(made, &rows))
        return make(made, bitmap);
      store->Save(key, rows);
      ComRef<IWICBitmapSource> copy;
      copy.Set(new CPixelBuffer(std::move(rows)));
      return make(copy.get(), bitmap);
    };
  }
  m_loader.Submit(std::move(request));
  m_gridAsked.insert(page);
}

void CReadingUnit::KeepGridReady() {
  const std::vector<int32_t> wanted = m_grid->Wanted();
  const bool inPasses = !m_passOrder.empty();
  if (!inPasses) {
    // Scrolled away: no longer made.
    for (auto asked = m_gridAsked.begin(); asked != m_gridAsked.end();) {
      if (std::find(wanted.begin(), wanted.end(), *asked) != wanted.end()) {
        ++asked;
        continue;
      }
      m_loader.Withdraw(*asked);
      asked = m_gridAsked.erase(asked);
    }
  }
  // The pages wanted from memory, else from the disk, else made, those in
  // view first.
  const std::vector<GridCell> visible = m_grid->Visible();
  for (int32_t page : wanted) {
    if (Unwanted(page) || FromDisk(page)) continue;
    // In one pass, only a page the pass has made once and memory has let
    // go of since (there is no disk to keep it) is made out of turn.
    if (inPasses && m_gridMade.count(page) == 0) continue;
    const bool inView =
        std::any_of(visible.begin(), visible.end(), [&](const GridCell& cell) { return cell.page == page; });
    AskForThumbnail(page, inView);
  }
  if (!inPasses) return;
  // In an archive read in one pass, the pages the disk does not have are
  // made in the pass's order, a screenful at a time: a page far ahead would
  // hold the pass there, and one it had let go of would start it again.
  const std::size_t most = static_cast<std::size_t>(m_grid->columns() * (m_grid->rowsInView() + 1));
  for (int32_t page : m_passOrder) {
    if (m_gridAsked.size() >= most) break;
    if (m_gridMade.count(page) != 0 || Unwanted(page) || OnDisk(page)) continue;
    AskForThumbnail(page, false);
  }
}

void CReadingUnit::TakeIntoGrid(LoadedPage& loaded) {
  const int32_t page = loaded.page;
  // Only what the grid asked for: a page made for a turn is no thumbnail.
  if (page < 0 || page >= m_book.PageCount() || m_gridAsked.erase(page) == 0) return;
  m_gridMade.insert(page);
  PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
  entry.damage = loaded.damage;
  if (!loaded.decoded) {
    entry.state = !entry.damage.empty() ? PageState::Damaged : PageState::NotImage;
  } else {
    entry.state = PageState::Image;
    ID2D1Bitmap* thumbnail = loaded.image.scaled ? loaded.image.scaled.get() : loaded.image.full.get();
    const D2D1_SIZE_U pixels = thumbnail != nullptr ? thumbnail->GetPixelSize() : D2D1_SIZE_U{};
    if (pixels.width <= PageGrid::kThumbWidth && pixels.height <= PageGrid::kThumbHeight)
      m_thumbnails.Put(page, thumbnail);
  }
  // In one pass the next pages are asked for as these come.
  if (!m_passOrder.empty() && m_grid != nullptr) KeepGridReady();
}

std::vector<PlacedPage> CReadingUnit::GridShown() {
  std::vector<PlacedPage> shown;
  if (m_grid == nullptr) return shown;
  for (const GridCell& cell : m_grid->Visible()) {
    ID2D1Bitmap* thumbnail = m_thumbnails.Find(cell.page);
    if (thumbnail == nullptr) continue;
    PlacedPage placed;
    placed.image.size = thumbnail->GetPixelSize();
    placed.image.scaled.Set(thumbnail);
    placed.place = m_grid->ThumbPlace(cell, placed.image.size);
    shown.push_back(std::move(placed));
  }
  return shown;
}
