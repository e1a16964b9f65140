// The page renderer: a tiled background, one page centred or two meeting
// at the middle, and the loupe, drawn through the 2D drawing interface.
// A failed frame says so; the owner then rebuilds what the lost device
// took with it.
#pragma once

#include <cstdint>

#include "platform/d2d1.h"
#include "viewer/book/PageMode.h"

// The magnifier: twice the pages under a square around the mouse.
struct Loupe {
  int32_t x = 0;  // the mouse in the client area, in the target's units
  int32_t y = 0;
  bool on = false;
};

class D2D {
 public:
  D2D() = default;
  ~D2D();
  D2D(const D2D&) = delete;
  D2D& operator=(const D2D&) = delete;

  // 0, or the factory's failure (the window cannot run then).
  HRESULT CreateFactory();
  // A render target over the window's client area at the screen's DPI.
  void CreateTarget(HWND window, int32_t dpiX, int32_t dpiY);
  void ResizeTarget();
  // 0 and a bitmap of a 32bppPBGRA source in *bitmap, else 1.
  int32_t MakeBitmap(ID2D1Bitmap** bitmap, IWICBitmapSource* source);
  // The tile under the pages (a reference of its own is kept).
  void SetBackground(ID2D1Bitmap* tile);

  // One frame of the pages as the mode lays them out. S_OK, or the failed
  // frame's status: the device is lost, and everything made on it must be
  // released and made again.
  HRESULT Paint(ID2D1Bitmap* firstPage, ID2D1Bitmap* secondPage, PageMode mode, const Loupe& loupe);
  // Lets the target and the background go.
  void ReleaseDeviceObjects();

 private:
  void DrawPage(ID2D1Bitmap* page, const Loupe& loupe);
  void DrawSpread(ID2D1Bitmap* left, ID2D1Bitmap* right, const Loupe& loupe);
  void DrawBackground(float left, float top, float right, float bottom, float opacity);
  void DrawLoupe(const Loupe& loupe, const D2D1_RECT_F* pages, ID2D1Bitmap* const* bitmaps, int count);

  HWND m_window = nullptr;
  int32_t m_dpiX = 96;
  int32_t m_dpiY = 96;
  ID2D1Factory* m_factory = nullptr;
  ID2D1HwndRenderTarget* m_renderTarget = nullptr;
  ID2D1Bitmap* m_background = nullptr;
};
