#include <SDL2/SDL.h>

#include "platform/mmsystem.h"

DWORD timeGetTime() { return static_cast<DWORD>(SDL_GetTicks()); }
