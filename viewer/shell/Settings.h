// Process-wide values of the viewer: where it lives, the screen's
// resolution, the view settings and the history of books.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

// The executable's folder with a trailing "/".
extern std::u16string g_moduleDir;
// Logical pixels per inch of the screen, read once at start.
extern int32_t ScreenDpiX;
extern int32_t ScreenDpiY;

constexpr int32_t PageModeSingle = 0;
constexpr int32_t PageModeSpreadRight = 1;
constexpr int32_t PageModeSpreadLeft = 2;

extern int32_t g_pageMode;    // default spread opening to the right
extern int32_t g_mono2Color;  // default on

struct HistoryEntry {
  std::u16string name;  // the book's source path
  int32_t index = 0;    // the page last shown
};

constexpr std::size_t kHistoryLength = 20;
extern std::vector<HistoryEntry> g_history;  // newest first

// Moves (or puts) the book at the front of the history with its page.
void AddHistory(const std::u16string& name, int32_t index);
