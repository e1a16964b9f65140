// The window operations the viewer's core calls (title, client size,
// invalidation, beep), over a window object the shell supplies. Tests and
// benchmarks use COffscreenWindow, which needs no display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

class QPaintDevice;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

class PlatformWindow {
 public:
  virtual ~PlatformWindow() = default;
  virtual void SetTitle(const std::u16string& title) = 0;
  virtual std::u16string Title() const = 0;
  virtual void ClientSize(int* width, int* height) const = 0;
  // Device pixels per unit of the client size (2 on a screen scaled 200 %).
  virtual float PixelRatio() const { return 1.0f; }
  virtual void Invalidate() = 0;
  // A finished frame: premultiplied BGRA rows, `stride` bytes apart.
  virtual void PresentFrame(const BYTE* pixels, int width, int height, int stride) = 0;
  // Where a frame is drawn in place while the window paints (the toolkit's
  // own surface, so that no copy of the frame is made and presented); null
  // where frames are presented.
  virtual QPaintDevice* PaintingSurface() { return nullptr; }
};

using HWND = PlatformWindow*;

BOOL SetWindowTextW(HWND window, const char16_t* text);
BOOL GetClientRect(HWND window, RECT* rect);
// The window's device pixels per client unit; 1 without a window.
float GetWindowPixelRatio(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);

// Sounds the system beep; tests may count beeps instead.
BOOL MessageBeep(UINT type);
using BeepSink = void (*)(UINT type, void* context);
void SetBeepSink(BeepSink sink, void* context);

// A window without a display: keeps its title, counts invalidations and
// holds the last presented frame.
class COffscreenWindow final : public PlatformWindow {
 public:
  COffscreenWindow(int width, int height) : m_width(width), m_height(height) {}

  void SetTitle(const std::u16string& title) override { m_title = title; }
  std::u16string Title() const override { return m_title; }
  void ClientSize(int* width, int* height) const override {
    *width = m_width;
    *height = m_height;
  }
  float PixelRatio() const override { return pixelRatio; }
  void Invalidate() override { ++invalidations; }
  void PresentFrame(const BYTE* pixels, int width, int height, int stride) override;

  void Resize(int width, int height) {
    m_width = width;
    m_height = height;
  }
  // The pixel at (x, y) of the last frame as 0xAARRGGBB, 0 outside it.
  uint32_t Pixel(int x, int y) const;

  float pixelRatio = 1.0f;
  int invalidations = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  std::vector<uint32_t> frame;  // premultiplied 0xAARRGGBB, row after row

 private:
  int m_width;
  int m_height;
  std::u16string m_title;
};
