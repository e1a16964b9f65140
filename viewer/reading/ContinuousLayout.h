// Continuous scroll: the book's pages stacked in one column, in book order
// and with no gap, each at its own width one image pixel to one device
// pixel, all shrunk by one factor when the widest is wider than the window,
// then zoomed. The window stands over the column at a scroll offset. A page
// whose size is not known yet takes the last known page's shape; when its
// size comes, the page under the middle of the window stays where it is on
// screen. Pure layout, in device pixels, for tests and any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wincodec.h"
#include "viewer/imaging/D2D.h"

// A page of the column placed on screen.
struct ColumnPlace {
  int32_t page = 0;
  PagePlace place;  // its rectangle in drawing units, and its device pixels
  bool estimated = false;  // its size is not known yet
};

class ContinuousLayout {
 public:
  // `count` entries, none of known size.
  void Reset(int32_t count);
  int32_t count() const { return static_cast<int32_t>(m_pages.size()); }
  // A page's size, now known; the page under the middle of the window keeps
  // its place on screen.
  void SetSize(int32_t page, D2D1_SIZE_U size);
  // An entry that is no page: it takes no room.
  void SetNoPage(int32_t page);
  // The drawing area; the point under its middle stays there.
  void SetScreen(const Screen& screen);
  const Screen& screen() const { return m_screen; }

  // The zoom over the column's own size, as kept (the scale it comes to is
  // bounded); one step in (+1) or out (-1) from it, within the bounds.
  float zoom() const { return m_zoom; }
  void SetZoom(float zoom);
  float ZoomStep(int direction) const;
  // Device pixels per image pixel.
  double Scale() const;
  // The device pixels a page of this size covers at `scale` (bounded to
  // what the scaler makes at most: the painter enlarges a smaller copy).
  static D2D1_SIZE_U PixelsAt(double scale, D2D1_SIZE_U size);
  // The same, unbounded.
  static D2D1_SIZE_U CoverAt(double scale, D2D1_SIZE_U size);

  // Where the window's top stands over the column, in device pixels.
  double offset() const { return m_offset; }
  // Scrolls by `pixels` device pixels (down when positive), kept within the
  // column; whether it moved.
  bool ScrollBy(double pixels);
  // The page's top at the window's top (as far as the column goes).
  void ScrollToPage(int32_t page);
  // Moves the window sideways by `pixels` over a column zoomed wider than
  // it (right when positive), kept within the column; whether it moved.
  bool PanBy(double pixels);

  // The page under the middle of the window; -1 when there is none.
  int32_t Current() const;
  // The pages the window covers now, top to bottom.
  std::vector<ColumnPlace> Visible() const;
  // The pages to have ready, most urgent first: those on screen, then
  // those within two screens ahead in the direction of scrolling (+1 down,
  // -1 up), then one screen behind; as many of the ones off screen as fit
  // in `budgetBytes` of scaled pixels (a page made in parts counts the
  // parts it wants).
  std::vector<int32_t> Wanted(int direction, uint64_t budgetBytes) const;
  // Whether the page's size is known (not an estimate, and a page).
  bool Known(int32_t page) const {
    return page >= 0 && page < count() && m_pages[static_cast<std::size_t>(page)].state == Entry::State::Known;
  }
  // The page's own pixels (its estimate while unknown).
  D2D1_SIZE_U SizeOf(int32_t page) const {
    return page >= 0 && page < count() ? m_pages[static_cast<std::size_t>(page)].size : D2D1_SIZE_U{};
  }
  // The device pixels the page is drawn at now (its estimate while unknown).
  D2D1_SIZE_U PixelsOf(int32_t page) const;
  // All the device pixels the page covers now, unbounded: a page too large
  // to scale as one bitmap (InParts) is made in parts of this.
  D2D1_SIZE_U CoverOf(int32_t page) const;
  // The parts of such a page to have ready, most urgent first: those on
  // screen, then those within two screens ahead in the direction of
  // scrolling, then one screen behind (across, the window grown by a
  // quarter of its width on each side). None for a page made whole.
  std::vector<WICRect> PartsWanted(int32_t page, int direction) const;
  // Bytes a scaled copy of these pixels takes.
  static uint64_t BytesOf(D2D1_SIZE_U pixels) { return 4ull * pixels.width * pixels.height; }

 private:
  struct Entry {
    D2D1_SIZE_U size{};  // the image's pixels, or the estimate
    enum class State : uint8_t { Unknown, Known, NoPage } state = State::Unknown;
  };
  // Estimates for the pages not known: the last known page's shape before
  // them (the first known after them at the start).
  void Estimate();
  // Each page's top in device pixels at the scale now; one more: the end.
  std::vector<int64_t> Tops() const;
  // The scale at zoom 1.
  double Fit() const;
  double ScreenHeight() const;
  double ScreenWidth() const;
  double MostOffset(const std::vector<int64_t>& tops) const;
  // How far the window may stand right or left of the column's middle.
  double MostPan() const;
  // The page under the middle, the share of it above the middle and where
  // its top is on screen; the offset that keeps its top there (a size that
  // came), or the same point of it under the middle (a zoom, a new window).
  struct Anchor {
    int32_t page = -1;
    double share = 0;
    double top = 0;
  };
  Anchor AnchorNow() const;
  void KeepAnchor(const Anchor& anchor, bool byTop);

  std::vector<Entry> m_pages;
  Screen m_screen;
  float m_zoom = 1.0f;
  double m_offset = 0;
  double m_panX = 0;  // the window's middle right of the column's, device pixels
};
