// The page renderer: a tiled background, one page centred or two meeting
// at the middle, and the loupe, drawn through the 2D drawing interface. The
// window that derives from it rebuilds what a lost device takes with it.
#pragma once

#include "platform/d2d1.h"

class D2D {
 public:
  virtual ~D2D();

  // 0, or the factory's failure (the window cannot run then).
  HRESULT CreateFactory();
  // A render target over the window's client area at the screen's DPI.
  void CreateTarget();
  void ResizeTarget();
  // 0 and a bitmap of a 32bppPBGRA source in *bitmap, else 1.
  int32_t MakeBitmap(ID2D1Bitmap** bitmap, IWICBitmapSource* source);

  // One frame of the pages by the view mode; a failed frame releases and
  // rebuilds the device.
  void Paint(ID2D1Bitmap* firstPage, ID2D1Bitmap* secondPage);
  void DrawPage(ID2D1Bitmap* page);
  void DrawSpread(ID2D1Bitmap* left, ID2D1Bitmap* right);

  virtual void ReleaseDevice() = 0;
  virtual int32_t RebuildDevice() = 0;

  HWND m_hwnd = nullptr;
  ID2D1Factory* m_factory = nullptr;
  ID2D1HwndRenderTarget* m_renderTarget = nullptr;
  ID2D1Bitmap* m_background = nullptr;
  int32_t m_mouseX = 0;
  int32_t m_mouseY = 0;
  bool m_loupe = false;

 protected:
  // Releases the renderer's own device objects (target and background).
  void ReleaseRendererObjects();

 private:
  void DrawBackground(float left, float top, float right, float bottom, float opacity);
  void DrawLoupe(const D2D1_RECT_F* pages, ID2D1Bitmap* const* bitmaps, int count);
};
