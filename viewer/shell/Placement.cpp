#include "viewer/shell/Placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/menu.h"
#include "viewer/shell/ReaderSettings.h"

namespace {

int64_t Overlap(const RECT& a, const RECT& b) {
  const int64_t w = std::min<int64_t>(a.right, b.right) - std::max<int64_t>(a.left, b.left);
  const int64_t h = std::min<int64_t>(a.bottom, b.bottom) - std::max<int64_t>(a.top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

// How far `window` is from `area`: 0 when they touch.
int64_t Distance(const RECT& window, const RECT& area) {
  const int64_t dx = std::max<int64_t>({int64_t{area.left} - window.right, 0, int64_t{window.left} - area.right});
  const int64_t dy = std::max<int64_t>({int64_t{area.top} - window.bottom, 0, int64_t{window.top} - area.bottom});
  return dx + dy;
}

bool Inside(const RECT& window, const RECT& area) {
  return window.left >= area.left && window.top >= area.top && window.right <= area.right &&
         window.bottom <= area.bottom;
}

}  // namespace

RECT FitOnScreens(const RECT& window, const std::vector<RECT>& workAreas) {
  if (workAreas.empty()) return window;
  for (const RECT& area : workAreas)
    if (Inside(window, area)) return window;
  const RECT* best = &workAreas.front();
  int64_t bestOverlap = 0, bestDistance = std::numeric_limits<int64_t>::max();
  for (const RECT& area : workAreas) {
    const int64_t overlap = Overlap(window, area), distance = Distance(window, area);
    if (overlap > bestOverlap || (bestOverlap == 0 && overlap == 0 && distance < bestDistance)) {
      best = &area;
      bestOverlap = overlap;
      bestDistance = distance;
    }
  }
  const RECT& area = *best;
  const LONG width = std::min(window.right - window.left, area.right - area.left);
  const LONG height = std::min(window.bottom - window.top, area.bottom - area.top);
  const LONG left = std::clamp(window.left, area.left, area.right - width);
  const LONG top = std::clamp(window.top, area.top, area.bottom - height);
  return RECT{left, top, left + width, top + height};
}

std::vector<RECT> WorkAreas() {
  std::vector<RECT> areas;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, void*, RECT*, LPARAM data) -> BOOL {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (GetMonitorInfoW(monitor, &info)) reinterpret_cast<std::vector<RECT>*>(data)->push_back(info.rcWork);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&areas));
  return areas;
}

bool RestoreWindowPlace(HWND hwnd, bool* maximized) {
  WindowPlace saved;
  if (!LoadWindowPlace(&saved)) return false;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(hwnd, &placement)) return false;
  placement.rcNormalPosition = FitOnScreens(saved.normal, WorkAreas());
  placement.showCmd = saved.maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  if (!SetWindowPlacement(hwnd, &placement)) return false;
  if (maximized != nullptr) *maximized = saved.maximized;
  return true;
}

void RememberWindowPlace(const WINDOWPLACEMENT& normal, bool maximized) {
  SaveWindowPlace(WindowPlace{normal.rcNormalPosition, maximized});
}
