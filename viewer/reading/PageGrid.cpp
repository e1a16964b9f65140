#include "viewer/reading/PageGrid.h"

#include <algorithm>
#include <cmath>

namespace {

// Around each thumbnail's box, and the page number's line under it.
constexpr float kGap = 8;
constexpr float kLabel = 18;

}  // namespace

int32_t GridMove(int32_t selected, GridKey key, int32_t count, int32_t columns, int32_t rowsInView) {
  if (count <= 0) return -1;
  columns = std::max(columns, 1);
  const int32_t from = std::clamp(selected, 0, count - 1);
  const int32_t screen = columns * std::max(rowsInView, 1);
  switch (key) {
    case GridKey::Left:
      return std::max(from - 1, 0);
    case GridKey::Right:
      return std::min(from + 1, count - 1);
    case GridKey::Up:
      return from - columns >= 0 ? from - columns : from;
    case GridKey::Down:
      // Into a shorter last row: its last cell.
      if (from + columns < count) return from + columns;
      return (count - 1) / columns > from / columns ? count - 1 : from;
    case GridKey::PageUp:
      return std::max(from - screen, 0);
    case GridKey::PageDown:
      return std::min(from + screen, count - 1);
    case GridKey::Home:
      return 0;
    case GridKey::End:
      return count - 1;
  }
  return from;
}

D2D1_SIZE_U PageGrid::ThumbPixels(D2D1_SIZE_U page) {
  if (page.width == 0 || page.height == 0) return {};
  const double scale = std::min({1.0, static_cast<double>(kThumbWidth) / page.width,
                                 static_cast<double>(kThumbHeight) / page.height});
  return D2D1_SIZE_U{std::max(1u, static_cast<uint32_t>(std::lround(page.width * scale))),
                     std::max(1u, static_cast<uint32_t>(std::lround(page.height * scale)))};
}

void PageGrid::Reset(int32_t count, int32_t selected) {
  m_count = std::max(count, 0);
  m_offset = 0;
  m_selected = -1;
  Select(selected);
}

void PageGrid::SetScreen(const Screen& screen, float headerHeight) {
  m_screen = screen;
  m_header = std::max(headerHeight, 0.0f);
  m_offset = std::clamp(m_offset, 0.0f, MostOffset());
  if (m_selected >= 0) ScrollIntoView(m_selected);
}

float PageGrid::CellWidth() const { return kThumbWidth * 96.0f / std::max(m_screen.dpiX, 1.0f) + 2 * kGap; }
float PageGrid::CellHeight() const { return kThumbHeight * 96.0f / std::max(m_screen.dpiY, 1.0f) + kLabel + 2 * kGap; }
float PageGrid::ViewHeight() const { return std::max(m_screen.height - m_header, 0.0f); }

int32_t PageGrid::columns() const {
  return std::max(1, static_cast<int32_t>(std::floor(m_screen.width / CellWidth())));
}

int32_t PageGrid::rowsInView() const {
  return std::max(1, static_cast<int32_t>(std::floor(ViewHeight() / CellHeight())));
}

float PageGrid::Left() const {
  return std::max((m_screen.width - static_cast<float>(columns()) * CellWidth()) / 2, 0.0f);
}

float PageGrid::MostOffset() const {
  const int32_t rows = (m_count + columns() - 1) / columns();
  return std::max(static_cast<float>(rows) * CellHeight() - ViewHeight(), 0.0f);
}

void PageGrid::Select(int32_t page) {
  if (m_count == 0) {
    m_selected = -1;
    return;
  }
  m_selected = std::clamp(page, 0, m_count - 1);
  ScrollIntoView(m_selected);
}

bool PageGrid::Move(GridKey key) {
  const int32_t to = GridMove(m_selected, key, m_count, columns(), rowsInView());
  if (to == m_selected) return false;
  Select(to);
  return true;
}

void PageGrid::ScrollIntoView(int32_t page) {
  const float top = static_cast<float>(page / columns()) * CellHeight();
  if (top < m_offset) m_offset = top;
  if (top + CellHeight() > m_offset + ViewHeight()) m_offset = top + CellHeight() - ViewHeight();
  m_offset = std::clamp(m_offset, 0.0f, MostOffset());
}

bool PageGrid::ScrollBy(float units) {
  const float was = m_offset;
  m_offset = std::clamp(m_offset + units, 0.0f, MostOffset());
  return m_offset != was;
}

GridCell PageGrid::CellOf(int32_t page) const {
  const int32_t column = page % columns(), row = page / columns();
  const float left = Left() + static_cast<float>(column) * CellWidth();
  const float top = m_header + static_cast<float>(row) * CellHeight() - m_offset;
  GridCell cell;
  cell.page = page;
  cell.box = {left + kGap / 2, top + kGap / 2, left + CellWidth() - kGap / 2, top + CellHeight() - kGap / 2};
  cell.label = {left + kGap, top + CellHeight() - kGap - kLabel, left + CellWidth() - kGap, top + CellHeight() - kGap};
  return cell;
}

std::vector<GridCell> PageGrid::Visible() const {
  std::vector<GridCell> cells;
  if (m_count == 0 || ViewHeight() <= 0) return cells;
  const int32_t first = static_cast<int32_t>(std::floor(m_offset / CellHeight()));
  const int32_t last = static_cast<int32_t>(std::ceil((m_offset + ViewHeight()) / CellHeight()));
  for (int32_t page = std::max(first, 0) * columns(); page < std::min(last * columns(), m_count); ++page)
    cells.push_back(CellOf(page));
  return cells;
}

PagePlace PageGrid::ThumbPlace(const GridCell& cell, D2D1_SIZE_U thumb) const {
  const float kx = m_screen.dpiX / 96.0f, ky = m_screen.dpiY / 96.0f;
  const float width = static_cast<float>(thumb.width) / kx, height = static_cast<float>(thumb.height) / ky;
  // Centred over the page number's line, standing on it.
  const float middle = (cell.box.left + cell.box.right) / 2;
  const float bottom = cell.label.top - kGap / 2;
  PagePlace place;
  place.rect = {middle - width / 2, bottom - height, middle + width / 2, bottom};
  place.pixels = thumb;
  return place;
}

int32_t PageGrid::PageAt(float x, float y) const {
  if (y < m_header) return -1;
  for (const GridCell& cell : Visible())
    if (x >= cell.box.left && x < cell.box.right && y >= cell.box.top && y < cell.box.bottom) return cell.page;
  return -1;
}

std::vector<int32_t> PageGrid::Wanted() const {
  std::vector<int32_t> wanted;
  if (m_count == 0) return wanted;
  const int32_t perScreen = columns() * (rowsInView() + 1);
  const std::vector<GridCell> visible = Visible();
  for (const GridCell& cell : visible) wanted.push_back(cell.page);
  const int32_t first = visible.empty() ? 0 : visible.front().page;
  const int32_t end = visible.empty() ? 0 : visible.back().page + 1;
  for (int32_t page = end; page < std::min(end + perScreen, m_count); ++page) wanted.push_back(page);
  for (int32_t page = first - 1; page >= std::max(first - perScreen, 0); --page) wanted.push_back(page);
  return wanted;
}
