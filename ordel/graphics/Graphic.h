// The library's 2D engine inside the library: the factory's maker, the
// frame loop's clock, and views of the engine's objects for tests. Callers
// see only ordel/Graphic.h.
#pragma once

#include <cstdint>

#include "ordel/Graphic.h"
#include "platform/d3d11.h"

// A new engine handed out as IGraphic (all members empty until Initialize).
int32_t CreateGraphic(void** out);

// The millisecond clock of the frame loop (timeGetTime); tests replace it.
extern uint32_t (*g_timeGetTime)();

// The engine's window and device objects, for tests.
GraphicWindow WindowOf(IGraphic* graphic);
ID3D11Texture2D* BackBufferOf(IGraphic* graphic);
ID3D11Texture2D* TextureOf(ISurface* surface);
