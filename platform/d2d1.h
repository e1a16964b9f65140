// The 2D drawing interface the renderer is written against, on QPainter: a
// factory, a window render target that draws into a frame buffer and hands
// finished frames to its window, bitmaps made from 32bppPBGRA sources, and
// a solid brush. Only what the viewer draws with is here.
#pragma once

#include "platform/wincodec.h"
#include "platform/window.h"

struct D2D1_SIZE_F {
  float width;
  float height;
};
struct D2D1_SIZE_U {
  UINT width;
  UINT height;
};
struct D2D1_RECT_F {
  float left;
  float top;
  float right;
  float bottom;
};
struct D2D1_COLOR_F {
  float r;
  float g;
  float b;
  float a;
};

enum D2D1_FACTORY_TYPE : uint32_t { D2D1_FACTORY_TYPE_SINGLE_THREADED = 0, D2D1_FACTORY_TYPE_MULTI_THREADED = 1 };
enum D2D1_BITMAP_INTERPOLATION_MODE : uint32_t {
  D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR = 0,
  D2D1_BITMAP_INTERPOLATION_MODE_LINEAR = 1,
};
enum D2D1_ANTIALIAS_MODE : uint32_t { D2D1_ANTIALIAS_MODE_PER_PRIMITIVE = 0, D2D1_ANTIALIAS_MODE_ALIASED = 1 };
enum D2D1_RENDER_TARGET_TYPE : uint32_t { D2D1_RENDER_TARGET_TYPE_DEFAULT = 0 };
enum D2D1_RENDER_TARGET_USAGE : uint32_t { D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE = 2 };
enum D2D1_ALPHA_MODE : uint32_t { D2D1_ALPHA_MODE_PREMULTIPLIED = 1 };
enum D2D1_PRESENT_OPTIONS : uint32_t { D2D1_PRESENT_OPTIONS_NONE = 0 };
constexpr uint32_t DXGI_FORMAT_B8G8R8A8_UNORM = 87;

struct D2D1_PIXEL_FORMAT {
  uint32_t format;
  D2D1_ALPHA_MODE alphaMode;
};
struct D2D1_RENDER_TARGET_PROPERTIES {
  D2D1_RENDER_TARGET_TYPE type;
  D2D1_PIXEL_FORMAT pixelFormat;
  float dpiX;
  float dpiY;
  D2D1_RENDER_TARGET_USAGE usage;
  uint32_t minLevel;
};
struct D2D1_HWND_RENDER_TARGET_PROPERTIES {
  HWND hwnd;
  D2D1_SIZE_U pixelSize;
  D2D1_PRESENT_OPTIONS presentOptions;
};
struct D2D1_BITMAP_PROPERTIES;  // never passed: bitmaps take their source's format

// The part of a DirectWrite text format the viewer sets: the size of the
// font in drawing units, the alignment in the layout box, the weight. The
// box's text is laid out in lines that break between words.
enum DWRITE_TEXT_ALIGNMENT : uint32_t {
  DWRITE_TEXT_ALIGNMENT_LEADING = 0,
  DWRITE_TEXT_ALIGNMENT_TRAILING = 1,
  DWRITE_TEXT_ALIGNMENT_CENTER = 2,
};
struct DWRITE_TEXT_FORMAT_DESC {
  float fontSize;
  DWRITE_TEXT_ALIGNMENT alignment;
  bool bold;
};

// What a lost device answers at the end of a frame.
constexpr HRESULT D2DERR_RECREATE_TARGET = static_cast<HRESULT>(0x8899000Cu);

struct ID2D1Resource : IUnknown {};

struct ID2D1Bitmap : ID2D1Resource {
  static constexpr GUID iid = MakeGuid("{A2296057-EA42-4099-983B-539FB6505426}");
  virtual D2D1_SIZE_F GetSize() const = 0;
  virtual D2D1_SIZE_U GetPixelSize() const = 0;
};

struct ID2D1Brush : ID2D1Resource {};

struct ID2D1SolidColorBrush : ID2D1Brush {
  static constexpr GUID iid = MakeGuid("{2CD906A9-12E2-11DC-9FED-001143A055F9}");
  virtual D2D1_COLOR_F GetColor() const = 0;
};

struct ID2D1RenderTarget : ID2D1Resource {
  virtual HRESULT CreateBitmapFromWicBitmap(IWICBitmapSource* source, const D2D1_BITMAP_PROPERTIES* properties,
                                            ID2D1Bitmap** bitmap) = 0;
  virtual HRESULT CreateSolidColorBrush(const D2D1_COLOR_F& color, ID2D1SolidColorBrush** brush) = 0;
  virtual void DrawRectangle(const D2D1_RECT_F& rect, ID2D1Brush* brush, float strokeWidth, void* strokeStyle) = 0;
  virtual void DrawBitmap(ID2D1Bitmap* bitmap, const D2D1_RECT_F* destination, float opacity,
                          D2D1_BITMAP_INTERPOLATION_MODE mode, const D2D1_RECT_F* source) = 0;
  virtual void Clear(const D2D1_COLOR_F* color) = 0;
  virtual void PushAxisAlignedClip(const D2D1_RECT_F& clip, D2D1_ANTIALIAS_MODE mode) = 0;
  virtual void PopAxisAlignedClip() = 0;
  virtual void BeginDraw() = 0;
  virtual HRESULT EndDraw(uint64_t* tag1 = nullptr, uint64_t* tag2 = nullptr) = 0;
  virtual D2D1_SIZE_F GetSize() const = 0;
  virtual D2D1_SIZE_U GetPixelSize() const = 0;
  virtual void GetDpi(float* dpiX, float* dpiY) const = 0;
  virtual void FillRectangle(const D2D1_RECT_F& rect, ID2D1Brush* brush) = 0;
  // Text in the box, in the brush's colour. Without a display's fonts (no
  // application running) nothing is drawn.
  virtual void DrawText(const char16_t* text, UINT length, const DWRITE_TEXT_FORMAT_DESC& format,
                        const D2D1_RECT_F& layout, ID2D1Brush* brush) = 0;
  // The width and height the text takes laid out in a box `maxWidth` wide
  // (0 x 0 without a display's fonts).
  virtual D2D1_SIZE_F MeasureText(const char16_t* text, UINT length, const DWRITE_TEXT_FORMAT_DESC& format,
                                  float maxWidth) = 0;
};

struct ID2D1HwndRenderTarget : ID2D1RenderTarget {
  static constexpr GUID iid = MakeGuid("{2CD90698-12E2-11DC-9FED-001143A055F9}");
  virtual HRESULT Resize(const D2D1_SIZE_U* pixelSize) = 0;
  virtual HWND GetHwnd() const = 0;
};

struct ID2D1Factory : IUnknown {
  static constexpr GUID iid = MakeGuid("{06152247-6F50-465A-9245-118BFD3B6007}");
  virtual HRESULT CreateHwndRenderTarget(const D2D1_RENDER_TARGET_PROPERTIES& properties,
                                         const D2D1_HWND_RENDER_TARGET_PROPERTIES& windowProperties,
                                         ID2D1HwndRenderTarget** target) = 0;
};
inline constexpr const GUID& IID_ID2D1Factory = ID2D1Factory::iid;

HRESULT D2D1CreateFactory(D2D1_FACTORY_TYPE type, REFIID iid, const void* options, void** factory);

// Test hook: the next EndDraw of any render target fails as a lost device does.
void D2D1SimulateDeviceLoss();
