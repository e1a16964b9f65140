#include "viewer/shell/Settings.h"

#include "platform/system.h"

std::u16string g_moduleDir = GetModuleDirectory();
int32_t ScreenDpiX = 96;
int32_t ScreenDpiY = 96;

int32_t g_pageMode = PageModeSpreadRight;
int32_t g_mono2Color = 1;

std::vector<HistoryEntry> g_history;
