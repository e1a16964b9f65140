// The library's 2D engine as callers receive it: the engine (IGraphic), the
// handler the caller supplies (IGraphicHandler), the surfaces it makes, and
// the vertex it draws. Slot orders are fixed: these vtables cross modules.
#pragma once

#include <cstdint>

#include "ordel/FileSystem.h"
#include "platform/window.h"  // RECT

struct ID3D11ShaderResourceView;
struct ID3D11RenderTargetView;

struct Vertex2D {
  float x, y;        // pixels of the current target
  float u, v;        // texture coordinates, (0, 0) the top left
  float r, g, b, a;  // colour, 1 full
};
static_assert(sizeof(Vertex2D) == 32);

// Implemented by the caller; the engine only receives it, so it has no
// identifier of its own.
struct IGraphicHandler : IUnknown {
  virtual void OnInitialize() = 0;  // once, at the end of a successful Initialize
  virtual void OnUpdate() = 0;      // once per 16-millisecond tick
  virtual void OnDraw() = 0;        // once per frame, before it is shown
  virtual void OnExit() = 0;        // once, when Run leaves its loop
};

// A surface implements both of these with one reference count, whichever of
// them it is held by.
struct ISurface : IUnknown {
  static constexpr GUID iid = MakeGuid("{64B7034F-F497-44E4-A8A0-C954E9135156}");
  virtual void Reserved() = 0;
};

struct ISurfaceGetInterface : IUnknown {
  static constexpr GUID iid = MakeGuid("{E0558CD9-3F5F-41E6-958F-E4D7B13CF856}");
  virtual HRESULT GetShaderResourceView(ID3D11ShaderResourceView** out) = 0;
  virtual HRESULT GetRenderTargetView(ID3D11RenderTargetView** out) = 0;
};

struct IGraphic : IUnknown {
  static constexpr GUID iid = MakeGuid("{394F173F-872C-4C70-9091-5600FC602CE2}");
  // 0 with the window shown and the device ready; 1 when a window exists
  // already or the handler is null.
  virtual int32_t Initialize(void* reserved, IGraphicHandler* handler, int32_t width, int32_t height, bool windowed) = 0;
  // Ticks and frames until the window closes; 0.
  virtual int32_t Run() = 0;
  virtual int32_t CreateSurfaceFromFile(ISurface** out, IFile* file) = 0;
  // kind 0: a texture; 1: a texture that can be a render target; 2: CPU-writable.
  virtual int32_t CreateSurface(ISurface** out, uint32_t width, uint32_t height, int32_t kind) = 0;
  // Null: the back buffer.
  virtual int32_t SetRenderTarget(ISurface* target) = 0;
  // Null: flat colour. additive non-zero: added to the target, else alpha-blended.
  virtual int32_t SetTexture(ISurface* texture, int32_t additive) = 0;
  // Always four vertices, a triangle strip.
  virtual int32_t DrawVertices(const Vertex2D* vertices, uint32_t count) = 0;
  virtual int32_t DrawTestQuad() = 0;
  // source: pixels of the texture (null: all of it); colour: r, g, b, a (null: white).
  virtual int32_t DrawQuad(const RECT* destination, const RECT* source, const float* colour) = 0;
};

inline constexpr const GUID& IID_IGraphic = IGraphic::iid;
inline constexpr const GUID& IID_ISurface = ISurface::iid;
inline constexpr const GUID& IID_ISurfaceGetInterface = ISurfaceGetInterface::iid;
