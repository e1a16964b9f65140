// The page renderer: a tiled background, one page centred or two meeting
// at the middle, and the loupe, drawn through the 2D drawing interface.
// A failed frame says so; the owner then rebuilds what the lost device
// took with it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/d2d1.h"
#include "viewer/book/PageMode.h"
#include "viewer/imaging/PageImage.h"
#include "viewer/imaging/PageLoader.h"

// The magnifier: twice the pages under a square around the mouse.
struct Loupe {
  int32_t x = 0;  // the mouse in the client area, in the target's units
  int32_t y = 0;
  bool on = false;
};

// Words drawn over the pages: one line saying why a picture stands where a
// page should, and the help's rows of what to press and what it does.
struct Overlay {
  std::u16string caption;
  std::u16string corner;  // small, in the lower right corner: where the reader is in the book
  std::vector<std::pair<std::u16string, std::u16string>> help;  // empty: no help shown
  // The book's own description, a label and its words on each row (long
  // words wrapped); empty: none shown.
  std::vector<std::pair<std::u16string, std::u16string>> info;
};

// Where a page goes on screen: a rectangle in drawing units (1/96 inch),
// and the device pixels it covers.
struct PagePlace {
  D2D1_RECT_F rect{};
  D2D1_SIZE_U pixels{};  // 0 x 0: no page there
};
struct Placement {
  PagePlace first;
  PagePlace second;
};
// A page ready to draw and where it goes (continuous scroll's column).
struct PlacedPage {
  PageImage image;
  PagePlace place;
};

// The page grid over the window: each cell's frame and page number, the
// thumbnails made so far where the grid put them, and a header of the
// book's title and its description's rows above the cells.
struct GridFrame {
  struct Cell {
    D2D1_RECT_F box{};
    D2D1_RECT_F label{};
    std::u16string number;
    bool selected = false;
    bool current = false;  // on screen when the grid opened (the page, or both of a spread)
    bool noPage = false;   // an entry known to be no picture: its number alone
  };
  std::vector<Cell> cells;
  std::vector<PlacedPage> thumbnails;
  std::u16string title;
  std::vector<std::pair<std::u16string, std::u16string>> header;
};

// The drawing area as it is now: a value any thread may lay pages out in.
struct Screen {
  float width = 0;   // drawing units
  float height = 0;
  float dpiX = 96;   // device pixels per inch
  float dpiY = 96;

  // Where pages of these sizes go as the mode lays them out (a size of
  // 0 x 0: no such page).
  Placement Place(D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode) const;
  // The device pixels a page of this size covers shown alone, or as one of
  // a pair of pages of its shape.
  D2D1_SIZE_U PixelsAlone(D2D1_SIZE_U page) const;
  D2D1_SIZE_U PixelsPaired(D2D1_SIZE_U page) const;
  // A rectangle in drawing units and the device pixels it covers.
  PagePlace PlaceAt(const D2D1_RECT_F& rect) const;

 private:
  D2D1_RECT_F RectAlone(D2D1_SIZE_U page) const;
  void RectsPaired(D2D1_SIZE_U left, D2D1_SIZE_U right, D2D1_RECT_F* rects) const;
};

class D2D {
 public:
  D2D() = default;
  ~D2D();
  D2D(const D2D&) = delete;
  D2D& operator=(const D2D&) = delete;

  // 0, or the factory's failure (the window cannot run then).
  HRESULT CreateFactory();
  // A render target over the window's client area at the screen's DPI, in
  // the window's device pixels (on a scaled screen, more than its units).
  void CreateTarget(HWND window, int32_t dpiX, int32_t dpiY);
  void ResizeTarget();
  // 0 and a bitmap of a 32bppPBGRA source in *bitmap, else 1.
  int32_t MakeBitmap(ID2D1Bitmap** bitmap, IWICBitmapSource* source);
  // The same for a worker: it holds the current target, so a lost device
  // cannot pull it away while a page is being made.
  BitmapMaker Maker() const;
  // The drawing area now (empty without a target).
  Screen CurrentScreen() const;
  // The tile under the pages (a reference of its own is kept).
  void SetBackground(ID2D1Bitmap* tile);

  // One frame of the pages where the view placed them. S_OK, or the failed
  // frame's status: the device is lost, and everything made on it must be
  // released and made again.
  HRESULT Paint(const PageImage& firstPage, const PageImage& secondPage, const Placement& placement,
                const Loupe& loupe, const Overlay& overlay);
  // The same for any number of pages, clipped to the window (a column of
  // pages scrolled past its edges).
  HRESULT Paint(const std::vector<PlacedPage>& pages, const Loupe& loupe, const Overlay& overlay);
  // The page grid over the background.
  HRESULT PaintGrid(const GridFrame& frame);
  // The height of a grid's header with the title and `rows` rows.
  static float GridHeaderHeight(std::size_t rows);
  // Lets the target and the background go.
  void ReleaseDeviceObjects();

 private:
  D2D1_SIZE_U TargetPixels() const;
  void DrawImage(const PageImage& page, const PagePlace& place);
  void DrawBackground(float left, float top, float right, float bottom, float opacity);
  void DrawLoupe(const Loupe& loupe, const PagePlace* places, const PageImage* const* pages, int count);
  // One frame: the background, the pages, the loupe, the words.
  HRESULT PaintFrame(const PagePlace* places, const PageImage* const* pages, int count, bool clip, const Loupe& loupe,
                     const Overlay& overlay);
  void DrawCaption(const std::u16string& caption);
  void DrawCorner(const std::u16string& words);
  void DrawHelp(const std::vector<std::pair<std::u16string, std::u16string>>& rows);
  void DrawInfo(const std::vector<std::pair<std::u16string, std::u16string>>& rows);
  void DrawGridHeader(const GridFrame& frame);

  HWND m_window = nullptr;
  int32_t m_dpiX = 96;  // the screen's logical resolution: the loupe's size
  int32_t m_dpiY = 96;
  float m_pixelRatio = 1.0f;  // device pixels per window unit
  ID2D1Factory* m_factory = nullptr;
  ID2D1HwndRenderTarget* m_renderTarget = nullptr;
  ID2D1Bitmap* m_background = nullptr;
};
