#include "viewer/reading/ContinuousLayout.h"

#include <algorithm>
#include <cmath>

#include "viewer/reading/PageParts.h"
#include "viewer/reading/ViewScale.h"

D2D1_SIZE_U ContinuousLayout::CoverAt(double scale, D2D1_SIZE_U size) {
  if (size.width == 0 || size.height == 0) return {};
  return {static_cast<UINT>(std::max<int64_t>(1, std::llround(size.width * scale))),
          static_cast<UINT>(std::max<int64_t>(1, std::llround(size.height * scale)))};
}

void ContinuousLayout::Reset(int32_t count) {
  m_pages.assign(static_cast<std::size_t>(std::max(count, 0)), Entry{});
  m_offset = 0;
  Estimate();
}

void ContinuousLayout::SetSize(int32_t page, D2D1_SIZE_U size) {
  if (page < 0 || page >= count() || size.width == 0 || size.height == 0) return;
  Entry& entry = m_pages[static_cast<std::size_t>(page)];
  if (entry.state == Entry::State::Known && entry.size.width == size.width && entry.size.height == size.height) return;
  const Anchor anchor = AnchorNow();
  entry = Entry{size, Entry::State::Known};
  Estimate();
  KeepAnchor(anchor, true);
}

void ContinuousLayout::SetNoPage(int32_t page) {
  if (page < 0 || page >= count() || m_pages[static_cast<std::size_t>(page)].state == Entry::State::NoPage) return;
  const Anchor anchor = AnchorNow();
  m_pages[static_cast<std::size_t>(page)] = Entry{{}, Entry::State::NoPage};
  Estimate();
  // The entry under the middle going away leaves its successor there.
  KeepAnchor(anchor, true);
}

void ContinuousLayout::SetScreen(const Screen& screen) {
  const Anchor anchor = AnchorNow();
  m_screen = screen;
  Estimate();
  KeepAnchor(anchor, false);
}

void ContinuousLayout::SetZoom(float zoom) {
  const Anchor anchor = AnchorNow();
  m_zoom = zoom;
  KeepAnchor(anchor, false);
}

double ContinuousLayout::ScreenWidth() const { return m_screen.width * m_screen.dpiX / 96.0; }
double ContinuousLayout::ScreenHeight() const { return m_screen.height * m_screen.dpiY / 96.0; }

double ContinuousLayout::Fit() const {
  // Shrunk so that the widest known page fits the window's width.
  UINT widest = 0;
  for (const Entry& entry : m_pages)
    if (entry.state == Entry::State::Known) widest = std::max(widest, entry.size.width);
  return widest > 0 && ScreenWidth() > 0 ? std::min(1.0, ScreenWidth() / widest) : 1.0;
}

double ContinuousLayout::Scale() const {
  return std::clamp(Fit() * m_zoom, static_cast<double>(kLeastZoom), static_cast<double>(kMostZoom));
}

float ContinuousLayout::ZoomStep(int direction) const {
  const double fit = Fit();
  const float zoom = direction > 0 ? m_zoom * kZoomStep : m_zoom / kZoomStep;
  const float least = static_cast<float>(kLeastZoom / fit), most = static_cast<float>(kMostZoom / fit);
  if (zoom >= most) return most;
  if (zoom <= least) return least;
  return std::fabs(zoom - 1.0f) < 0.02f ? 1.0f : zoom;
}

D2D1_SIZE_U ContinuousLayout::PixelsAt(double scale, D2D1_SIZE_U size) {
  D2D1_SIZE_U pixels = CoverAt(scale, size);
  const uint64_t area = static_cast<uint64_t>(pixels.width) * pixels.height;
  if (area > kMostScaledPixels) {
    const double k = std::sqrt(static_cast<double>(kMostScaledPixels) / static_cast<double>(area));
    pixels = {std::max<UINT>(1, static_cast<UINT>(pixels.width * k)),
              std::max<UINT>(1, static_cast<UINT>(pixels.height * k))};
  }
  return pixels;
}

D2D1_SIZE_U ContinuousLayout::PixelsOf(int32_t page) const {
  if (page < 0 || page >= count()) return {};
  return PixelsAt(Scale(), m_pages[static_cast<std::size_t>(page)].size);
}

D2D1_SIZE_U ContinuousLayout::CoverOf(int32_t page) const {
  if (page < 0 || page >= count()) return {};
  return CoverAt(Scale(), m_pages[static_cast<std::size_t>(page)].size);
}

std::vector<WICRect> ContinuousLayout::PartsWanted(int32_t page, int direction) const {
  std::vector<WICRect> wanted;
  const D2D1_SIZE_U cover = CoverOf(page);
  if (!InParts(cover) || m_pages[static_cast<std::size_t>(page)].state == Entry::State::NoPage) return wanted;
  // The window over the page's cover, as Visible places it.
  const std::vector<int64_t> tops = Tops();
  const int64_t pan = std::llround(std::clamp(m_panX, -MostPan(), MostPan()));
  const int64_t width = std::llround(ScreenWidth()), height = std::llround(ScreenHeight());
  const int64_t left = (static_cast<int64_t>(cover.width) - width) / 2 + pan;
  const int64_t top = std::llround(m_offset) - tops[static_cast<std::size_t>(page)];
  const int64_t margin = width / 4;
  auto add = [&](int64_t from, int64_t to) {
    for (const WICRect& part : PartsMeeting(cover, {left - margin, from, left + width + margin, to}))
      if (std::none_of(wanted.begin(), wanted.end(), [&](const WICRect& w) { return w.X == part.X && w.Y == part.Y; }))
        wanted.push_back(part);
  };
  add(top, top + height);
  if (direction < 0) {
    add(top - 2 * height, top);
    add(top + height, top + 2 * height);
  } else {
    add(top + height, top + 3 * height);
    add(top - height, top);
  }
  return wanted;
}

void ContinuousLayout::Estimate() {
  // Before any page is known: a page the window's shape.
  D2D1_SIZE_U shape{static_cast<UINT>(std::max(1.0, std::round(ScreenWidth()))),
                    static_cast<UINT>(std::max(1.0, std::round(ScreenHeight())))};
  for (const Entry& entry : m_pages)
    if (entry.state == Entry::State::Known) {
      shape = entry.size;
      break;
    }
  for (Entry& entry : m_pages) {
    if (entry.state == Entry::State::Known) shape = entry.size;
    if (entry.state == Entry::State::Unknown) entry.size = shape;
  }
}

std::vector<int64_t> ContinuousLayout::Tops() const {
  const double scale = Scale();
  std::vector<int64_t> tops(m_pages.size() + 1, 0);
  for (std::size_t k = 0; k < m_pages.size(); ++k)
    tops[k + 1] = tops[k] + (m_pages[k].state == Entry::State::NoPage ? 0 : CoverAt(scale, m_pages[k].size).height);
  return tops;
}

double ContinuousLayout::MostOffset(const std::vector<int64_t>& tops) const {
  // As far as the column's end at the window's bottom, or the last page's
  // top at the window's top, whichever is further: End shows the last page.
  double most = static_cast<double>(tops.back()) - ScreenHeight();
  for (std::size_t k = m_pages.size(); k-- > 0;)
    if (m_pages[k].state != Entry::State::NoPage) {
      most = std::max(most, static_cast<double>(tops[k]));
      break;
    }
  return std::max(most, 0.0);
}

bool ContinuousLayout::ScrollBy(double pixels) {
  const double was = m_offset;
  m_offset = std::clamp(m_offset + pixels, 0.0, MostOffset(Tops()));
  return std::fabs(m_offset - was) > 0.25;
}

void ContinuousLayout::ScrollToPage(int32_t page) {
  if (page < 0 || page >= count()) return;
  const std::vector<int64_t> tops = Tops();
  m_offset = std::clamp(static_cast<double>(tops[static_cast<std::size_t>(page)]), 0.0, MostOffset(tops));
}

double ContinuousLayout::MostPan() const {
  const double scale = Scale();
  UINT widest = 0;
  for (const Entry& entry : m_pages)
    if (entry.state != Entry::State::NoPage) widest = std::max(widest, CoverAt(scale, entry.size).width);
  return std::max(0.0, (static_cast<double>(widest) - ScreenWidth()) / 2);
}

bool ContinuousLayout::PanBy(double pixels) {
  const double was = m_panX, most = MostPan();
  m_panX = std::clamp(m_panX + pixels, -most, most);
  return std::fabs(m_panX - was) > 0.25;
}

int32_t ContinuousLayout::Current() const { return AnchorNow().page; }

ContinuousLayout::Anchor ContinuousLayout::AnchorNow() const {
  const std::vector<int64_t> tops = Tops();
  const double middle = m_offset + ScreenHeight() / 2;
  Anchor anchor;
  for (std::size_t k = 0; k < m_pages.size(); ++k) {
    const int64_t height = tops[k + 1] - tops[k];
    if (height == 0) continue;
    // The last page stays current below the column's end.
    anchor.page = static_cast<int32_t>(k);
    anchor.share = std::clamp((middle - static_cast<double>(tops[k])) / static_cast<double>(height), 0.0, 1.0);
    anchor.top = static_cast<double>(tops[k]) - m_offset;
    if (middle < static_cast<double>(tops[k + 1])) break;
  }
  return anchor;
}

void ContinuousLayout::KeepAnchor(const Anchor& anchor, bool byTop) {
  const std::vector<int64_t> tops = Tops();
  if (anchor.page < 0 || anchor.page >= count()) {
    m_offset = std::clamp(m_offset, 0.0, MostOffset(tops));
    return;
  }
  const auto k = static_cast<std::size_t>(anchor.page);
  const double point = static_cast<double>(tops[k]) + anchor.share * static_cast<double>(tops[k + 1] - tops[k]);
  const double offset = byTop ? static_cast<double>(tops[k]) - anchor.top : point - ScreenHeight() / 2;
  m_offset = std::clamp(offset, 0.0, MostOffset(tops));
}

std::vector<ColumnPlace> ContinuousLayout::Visible() const {
  std::vector<ColumnPlace> visible;
  const std::vector<int64_t> tops = Tops();
  const double scale = Scale();
  // On whole device pixels, so that a copy made for them draws one to one.
  const int64_t offset = std::llround(m_offset), bottom = offset + std::llround(ScreenHeight());
  const int64_t pan = std::llround(std::clamp(m_panX, -MostPan(), MostPan()));
  const float kx = m_screen.dpiX / 96.0f, ky = m_screen.dpiY / 96.0f;
  for (std::size_t k = 0; k < m_pages.size(); ++k) {
    if (tops[k + 1] <= offset || tops[k + 1] == tops[k]) continue;
    if (tops[k] >= bottom) break;
    const D2D1_SIZE_U cover = CoverAt(scale, m_pages[k].size);
    const int64_t left = (std::llround(ScreenWidth()) - static_cast<int64_t>(cover.width)) / 2 - pan;
    const int64_t top = tops[k] - offset;
    ColumnPlace place;
    place.page = static_cast<int32_t>(k);
    place.estimated = m_pages[k].state == Entry::State::Unknown;
    place.place.rect = {static_cast<float>(left) / kx, static_cast<float>(top) / ky,
                        static_cast<float>(left + cover.width) / kx, static_cast<float>(top + cover.height) / ky};
    place.place.pixels = PixelsAt(scale, m_pages[k].size);
    visible.push_back(place);
  }
  return visible;
}

std::vector<int32_t> ContinuousLayout::Wanted(int direction, uint64_t budgetBytes) const {
  std::vector<int32_t> wanted;
  const std::vector<int64_t> tops = Tops();
  const double scale = Scale();
  uint64_t bytes = 0;
  // A page made in parts takes what its wanted parts take.
  auto bytesOf = [&](int32_t page, D2D1_SIZE_U pixels) {
    if (!InParts(CoverOf(page))) return BytesOf(pixels);
    uint64_t sum = 0;
    for (const WICRect& part : PartsWanted(page, direction)) sum += ::BytesOf(part);
    return sum;
  };
  for (const ColumnPlace& place : Visible()) {
    wanted.push_back(place.page);
    bytes += bytesOf(place.page, place.place.pixels);
  }
  if (wanted.empty()) return wanted;
  const double screen = ScreenHeight();
  const double top = m_offset, bottom = m_offset + screen;
  // The pages off screen within `screens` screens one way from `from`,
  // nearest first, while they fit.
  auto within = [&](int32_t from, int way, double screens) {
    for (int32_t k = from; k >= 0 && k < count(); k += way) {
      const auto at = static_cast<std::size_t>(k);
      if (tops[at + 1] == tops[at]) continue;
      const bool near = way > 0 ? static_cast<double>(tops[at]) < bottom + screens * screen
                                : static_cast<double>(tops[at + 1]) > top - screens * screen;
      if (!near) return;
      const uint64_t more = bytesOf(k, PixelsAt(scale, m_pages[at].size));
      if (bytes + more > budgetBytes) return;
      bytes += more;
      wanted.push_back(k);
    }
  };
  const int32_t first = wanted.front(), last = wanted.back();
  if (direction < 0) {
    within(first - 1, -1, 2);
    within(last + 1, +1, 1);
  } else {
    within(last + 1, +1, 2);
    within(first - 1, -1, 1);
  }
  return wanted;
}
