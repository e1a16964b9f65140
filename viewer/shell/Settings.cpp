#include "viewer/shell/Settings.h"

#include "platform/system.h"

std::u16string g_moduleDir = GetModuleDirectory();
int32_t ScreenDpiX = 96;
int32_t ScreenDpiY = 96;
