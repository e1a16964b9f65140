#include "platform/window.h"

#include <cstdio>
#include <cstring>

namespace {
BeepSink g_beepSink = nullptr;
void* g_beepContext = nullptr;
}  // namespace

BOOL SetWindowTextW(HWND window, const char16_t* text) {
  if (window == nullptr || text == nullptr) return FALSE;
  window->SetTitle(text);
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  if (window == nullptr || rect == nullptr) return FALSE;
  int width = 0, height = 0;
  window->ClientSize(&width, &height);
  *rect = RECT{0, 0, width, height};
  return TRUE;
}

float GetWindowPixelRatio(HWND window) {
  if (window == nullptr) return 1.0f;
  const float ratio = window->PixelRatio();
  return ratio > 0 ? ratio : 1.0f;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
  if (window == nullptr) return FALSE;
  window->Invalidate();
  return TRUE;
}

void SetBeepSink(BeepSink sink, void* context) {
  g_beepSink = sink;
  g_beepContext = context;
}

BOOL MessageBeep(UINT type) {
  if (g_beepSink != nullptr) {
    g_beepSink(type, g_beepContext);
  } else {
    static const char bell = '\a';  // no display here: the terminal's bell
    (void)!std::fwrite(&bell, 1, 1, stderr);
  }
  return TRUE;
}

void COffscreenWindow::PresentFrame(const BYTE* pixels, int width, int height, int stride) {
  frameWidth = width;
  frameHeight = height;
  frame.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    std::memcpy(&frame[static_cast<std::size_t>(y) * width], pixels + static_cast<std::size_t>(y) * stride,
                static_cast<std::size_t>(width) * 4);
}

uint32_t COffscreenWindow::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= frameWidth || y >= frameHeight) return 0;
  return frame[static_cast<std::size_t>(y) * frameWidth + x];
}
