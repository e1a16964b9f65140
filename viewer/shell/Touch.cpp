// Turning pages by tapping regions of the window.
#include <vector>

#include "platform/debug.h"
#include "viewer/shell/MainWindow.h"

namespace {
// 1 bottom, 2 right, 3 left, 4 top, 5 elsewhere; tested in this order.
int32_t Region(LONG x, LONG y, LONG w, LONG h) {
  if (x >= 0 && x < w && y >= 3 * h / 4 && y < h) return 1;
  if (x >= 3 * w / 4 && x < w && y >= 0 && y < 3 * h / 4) return 2;
  if (x >= 0 && x < w / 4 && y >= 0 && y < 3 * h / 4) return 3;
  if (x >= w / 4 && x < 3 * w / 4 && y >= 0 && y < h / 4) return 4;
  return 5;
}
}  // namespace

LRESULT CMainWindow::OnTouch(WPARAM wParam, LPARAM lParam) {
  const UINT count = LOWORD(wParam);
  const auto handle = reinterpret_cast<HTOUCHINPUT>(lParam);
  std::vector<TOUCHINPUT> inputs(count);
  if (!GetTouchInputInfo(handle, count, inputs.data(), sizeof(TOUCHINPUT)))
    return DefWindowProcW(m_hWnd, WM_TOUCH, wParam, lParam);

  for (const TOUCHINPUT& input : inputs) {
    if (!(input.dwFlags & TOUCHEVENTF_PRIMARY)) continue;
    // The records are in screen pixels; the regions are the client area's,
    // so the point is taken into client coordinates first.
    POINT at{input.x / 100, input.y / 100};
    ScreenToClient(m_hWnd, &at);
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const int32_t region = Region(at.x, at.y, client.right, client.bottom);
    if (input.dwFlags & TOUCHEVENTF_DOWN) {
      m_touchGesture = region;
    } else if (input.dwFlags & TOUCHEVENTF_UP) {
      if (m_touchGesture >= 1 && m_touchGesture <= 4 && region == m_touchGesture && !m_book.pages.empty()) {
        const bool leftIsBack = LeftIsBack();
        const int32_t step = region == 1   ? 2
                             : region == 2 ? (leftIsBack ? 1 : -1)
                             : region == 3 ? (leftIsBack ? -1 : 1)
                                           : -2;
        Step(step);
      }
      m_touchGesture = 0;
    }
    break;
  }

  std::u16string log = u"OnToouch\r\n";
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const TOUCHINPUT& input = inputs[i];
    log += u"  " + Decimal(static_cast<int64_t>(i)) + u": ID=" + Decimal(input.dwID) + u" (x,y)=(" +
           Decimal(input.x / 100) + u"," + Decimal(input.y / 100) + u") ";
    const std::pair<DWORD, const char16_t*> names[] = {
        {TOUCHEVENTF_MOVE, u" MOVE"},       {TOUCHEVENTF_DOWN, u" DOWN"},   {TOUCHEVENTF_UP, u" UP"},
        {TOUCHEVENTF_INRANGE, u" INRANGE"}, {TOUCHEVENTF_PRIMARY, u" PRIMARY"}, {TOUCHEVENTF_NOCOALESCE, u" NOCOALESCE"},
        {TOUCHEVENTF_PALM, u" PALM"}};
    for (const auto& [flag, name] : names)
      if (input.dwFlags & flag) log += name;
    log += u"\r\n";
  }
  OutputDebugStringW(log.c_str());
  CloseTouchInputHandle(handle);
  return 0;
}
