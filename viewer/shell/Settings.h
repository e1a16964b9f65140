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

// The profile: g_moduleDir + "profile/velmora.ini", UTF-16LE with its
// byte-order mark, one "key=value" line each, CR LF.
std::u16string ProfilePath();
// Reads the settings and the history; a missing or unreadable file leaves
// the defaults and an empty history.
void LoadProfile();
// Writes the settings and the whole history. The new file replaces the old
// one only once it is completely written.
void SaveProfile();
// Moves the book to the front of the history with its page (in memory), or
// puts a new one there and writes the profile at once.
void AddHistory(const std::u16string& name, int32_t index);
