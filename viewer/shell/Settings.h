// Process-wide facts of the running viewer, read once at start: where it
// lives and the screen's resolution.
#pragma once

#include <cstdint>
#include <string>

// The executable's folder with a trailing "/".
extern std::u16string g_moduleDir;
// Logical pixels per inch of the screen.
extern int32_t ScreenDpiX;
extern int32_t ScreenDpiY;
