#include "viewer/shell/Settings.h"

#include <algorithm>

#include "platform/system.h"

std::u16string g_moduleDir = GetModuleDirectory();
int32_t ScreenDpiX = 96;
int32_t ScreenDpiY = 96;

int32_t g_pageMode = PageModeSpreadRight;
int32_t g_mono2Color = 1;

std::vector<HistoryEntry> g_history;

void AddHistory(const std::u16string& name, int32_t index) {
  auto found = std::find_if(g_history.begin(), g_history.end(), [&](const HistoryEntry& e) { return e.name == name; });
  if (found != g_history.end()) {
    g_history.erase(found);
    g_history.insert(g_history.begin(), HistoryEntry{name, index});
    return;
  }
  g_history.insert(g_history.begin(), HistoryEntry{name, index});
  if (g_history.size() > kHistoryLength) g_history.pop_back();
}
