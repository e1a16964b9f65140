// The page grid: every page of the book as a thumbnail in rows of cells
// under a header, scrolled over the window, with one cell selected. Pure
// layout in drawing units (1/96 inch), for tests and any thread; the
// thumbnails themselves are made at a fixed size in device pixels, so that
// one made on a screen serves every screen.
#pragma once

#include <cstdint>
#include <vector>

#include "viewer/imaging/D2D.h"

// The keys that move the selection.
enum class GridKey { Left, Right, Up, Down, PageUp, PageDown, Home, End };

// The selection after `key`, from `selected` among `count` cells laid out
// `columns` to a row with `rowsInView` whole rows on screen; kept within the
// cells (-1 when there are none).
int32_t GridMove(int32_t selected, GridKey key, int32_t count, int32_t columns, int32_t rowsInView);

// A cell on screen: its thumbnail's place, centred in its box, and the line
// under it for the page number.
struct GridCell {
  int32_t page = 0;
  D2D1_RECT_F box{};    // the whole cell's frame
  D2D1_RECT_F label{};  // the page number's line
};

class PageGrid {
 public:
  // The box a thumbnail fits in, in device pixels.
  static constexpr uint32_t kThumbWidth = 160;
  static constexpr uint32_t kThumbHeight = 240;
  // The device pixels of a page's thumbnail: the page fitted into the box,
  // never enlarged; at least one pixel each way.
  static D2D1_SIZE_U ThumbPixels(D2D1_SIZE_U page);

  // `count` cells, `selected` among them, scrolled so that it shows.
  void Reset(int32_t count, int32_t selected);
  int32_t count() const { return m_count; }
  // The drawing area and the height of the header above the cells.
  void SetScreen(const Screen& screen, float headerHeight);
  const Screen& screen() const { return m_screen; }
  float headerHeight() const { return m_header; }

  int32_t columns() const;
  int32_t rowsInView() const;
  int32_t selected() const { return m_selected; }
  // Selects `page` (kept within the cells) and scrolls it into view.
  void Select(int32_t page);
  // Moves the selection by a key; whether it moved.
  bool Move(GridKey key);
  // Scrolls by `units` (down when positive), kept within the cells; whether
  // it moved.
  bool ScrollBy(float units);
  float offset() const { return m_offset; }

  // The cells the window shows now, in page order.
  std::vector<GridCell> Visible() const;
  // Where the thumbnail of a page with these device pixels goes in `cell`.
  PagePlace ThumbPlace(const GridCell& cell, D2D1_SIZE_U thumb) const;
  // The page whose cell is under (x, y); -1 for none.
  int32_t PageAt(float x, float y) const;
  // The pages to have thumbnails of, most urgent first: those in view, then
  // a screen ahead, then a screen behind.
  std::vector<int32_t> Wanted() const;

 private:
  float CellWidth() const;
  float CellHeight() const;
  float ViewHeight() const;
  float Left() const;
  float MostOffset() const;
  GridCell CellOf(int32_t page) const;
  void ScrollIntoView(int32_t page);

  int32_t m_count = 0;
  int32_t m_selected = -1;
  Screen m_screen;
  float m_header = 0;
  float m_offset = 0;  // how far the cells are scrolled up under the header
};
