// The window where it was last time, kept on the screens present now.
#pragma once

#include <vector>

#include "platform/winuser.h"

// `window` moved (and shrunk) as little as needed to stand wholly inside one
// of `workAreas` (the first is the primary): the one it overlaps most, or,
// when it overlaps none, the one nearest to it. A window already inside one
// stays as it is; with no work areas it stays as it is too.
RECT FitOnScreens(const RECT& window, const std::vector<RECT>& workAreas);

// The work areas of the monitors present, the primary first.
std::vector<RECT> WorkAreas();

// At start: the window at its saved place, fitted to the screens; whether
// it was maximized in *maximized. False when there is no saved place.
bool RestoreWindowPlace(HWND hwnd, bool* maximized);
// At the end: the window's normal place (as it was before full screen, when
// it is full screen) and whether it was maximized.
void RememberWindowPlace(const WINDOWPLACEMENT& normal, bool maximized);
