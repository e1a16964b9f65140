// The library's 2D engine: a window with a device, a fixed pipeline for
// textured and coloured rectangles, surfaces, and a frame loop that calls
// the user's handler.
#pragma once

#include <cstdint>

#include "ordel/FileSystem.h"
#include "platform/d3d11.h"
#include "platform/window.h"

struct Vertex2D {
  float x, y;        // pixels of the current target
  float u, v;        // texture coordinates, (0, 0) the top left
  float r, g, b, a;  // colour, 1 full
};
static_assert(sizeof(Vertex2D) == 32);

struct IGraphicHandler : IUnknown {
  virtual void OnInitialize() = 0;
  virtual void OnUpdate() = 0;
  virtual void OnDraw() = 0;
  virtual void OnExit() = 0;
};

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
  virtual int32_t Initialize(void* reserved, IGraphicHandler* handler, int32_t width, int32_t height, bool windowed) = 0;
  virtual int32_t Run() = 0;
  virtual int32_t CreateSurfaceFromFile(ISurface** out, IFile* file) = 0;
  virtual int32_t CreateSurface(ISurface** out, uint32_t width, uint32_t height, int32_t kind) = 0;
  virtual int32_t SetRenderTarget(ISurface* target) = 0;
  virtual int32_t SetTexture(ISurface* texture, int32_t additive) = 0;
  virtual int32_t DrawVertices(const Vertex2D* vertices, uint32_t count) = 0;
  virtual int32_t DrawTestQuad() = 0;
  virtual int32_t DrawQuad(const RECT* destination, const RECT* source, const float* colour) = 0;
};
inline constexpr const GUID& IID_IGraphic = IGraphic::iid;

// A new engine handed out as IGraphic (all members empty until Initialize).
int32_t CreateGraphic(void** out);

// The millisecond clock of the frame loop (SDL's ticks); tests replace it.
extern uint32_t (*g_timeGetTime)();

// The engine's window and device objects, for tests.
GraphicWindow WindowOf(IGraphic* graphic);
ID3D11Texture2D* BackBufferOf(IGraphic* graphic);
ID3D11Texture2D* TextureOf(ISurface* surface);
