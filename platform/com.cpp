#include "platform/com.h"

#include <cerrno>
#include <cstdio>

namespace {
int g_comCount = 0;
}  // namespace

DWORD GetLastError() { return static_cast<DWORD>(errno); }

HRESULT CoInitialize(void* /*reserved*/) { return ++g_comCount == 1 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (g_comCount > 0) --g_comCount;
}

int CoInitializeCount() { return g_comCount; }

std::string GuidToString(const GUID& g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}
