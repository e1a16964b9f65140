#include "platform/menu.h"

#include <QtGui/QCursor>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidget>

#include <memory>
#include <vector>

struct CMenu {
  struct Item {
    std::u16string text;
    UINT id = 0;
    UINT state = 0;  // MF_CHECKED | MF_GRAYED
    bool separator = false;
    std::unique_ptr<CMenu> submenu;
  };
  std::vector<Item> items;
};

namespace {

MenuTrackHook g_trackHook = nullptr;
void* g_trackContext = nullptr;

CMenu::Item* FindById(HMENU menu, UINT id) {
  if (menu == nullptr) return nullptr;
  for (CMenu::Item& item : menu->items) {
    if (item.submenu) {
      if (CMenu::Item* inner = FindById(item.submenu.get(), id)) return inner;
    } else if (!item.separator && item.id == id) {
      return &item;
    }
  }
  return nullptr;
}

CMenu::Item* Find(HMENU menu, UINT item, UINT flags) {
  if (menu == nullptr) return nullptr;
  if (flags & MF_BYPOSITION) return item < menu->items.size() ? &menu->items[item] : nullptr;
  return FindById(menu, item);
}

void Build(QMenu* target, HMENU menu, std::vector<std::pair<QAction*, UINT>>& actions) {
  for (const CMenu::Item& item : menu->items) {
    if (item.separator) {
      target->addSeparator();
    } else if (item.submenu) {
      QMenu* sub = target->addMenu(QString::fromStdU16String(item.text));
      Build(sub, item.submenu.get(), actions);
    } else {
      QAction* action = target->addAction(QString::fromStdU16String(item.text));
      action->setCheckable((item.state & MF_CHECKED) != 0);
      action->setChecked((item.state & MF_CHECKED) != 0);
      action->setEnabled((item.state & (MF_GRAYED | MF_DISABLED)) == 0);
      actions.emplace_back(action, item.id);
    }
  }
}

}  // namespace

HMENU CreatePopupMenu() { return new CMenu; }

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text) {
  if (menu == nullptr) return FALSE;
  CMenu::Item item;
  item.separator = (flags & MF_SEPARATOR) != 0;
  if (flags & MF_POPUP)
    item.submenu.reset(reinterpret_cast<HMENU>(id));
  else
    item.id = static_cast<UINT>(id);
  if (text != nullptr) item.text = text;
  item.state = flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED);
  menu->items.push_back(std::move(item));
  return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
  if (menu == nullptr || position < 0 || static_cast<std::size_t>(position) >= menu->items.size()) return nullptr;
  return menu->items[static_cast<std::size_t>(position)].submenu.get();
}

int GetMenuItemCount(HMENU menu) { return menu != nullptr ? static_cast<int>(menu->items.size()) : -1; }

UINT GetMenuItemID(HMENU menu, int position) {
  if (menu == nullptr || position < 0 || static_cast<std::size_t>(position) >= menu->items.size()) return 0xFFFFFFFFu;
  const CMenu::Item& item = menu->items[static_cast<std::size_t>(position)];
  return item.submenu ? 0xFFFFFFFFu : item.id;
}

int GetMenuStringW(HMENU menu, UINT item, char16_t* buffer, int size, UINT flags) {
  const CMenu::Item* found = Find(menu, item, flags);
  if (found == nullptr) return 0;
  if (buffer == nullptr || size <= 0) return static_cast<int>(found->text.size());
  const std::size_t n = std::min<std::size_t>(found->text.size(), static_cast<std::size_t>(size - 1));
  found->text.copy(buffer, n);
  buffer[n] = u'\0';
  return static_cast<int>(n);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  const CMenu::Item* found = Find(menu, item, flags);
  if (found == nullptr) return 0xFFFFFFFFu;
  return found->state | (found->separator ? MF_SEPARATOR : 0) | (found->submenu ? MF_POPUP : 0);
}

DWORD CheckMenuItem(HMENU menu, UINT id, UINT check) {
  CMenu::Item* found = FindById(menu, id);
  if (found == nullptr) return 0xFFFFFFFFu;
  const DWORD previous = found->state & MF_CHECKED;
  found->state = (found->state & ~MF_CHECKED) | (check & MF_CHECKED);
  return previous;
}

BOOL EnableMenuItem(HMENU menu, UINT id, UINT enable) {
  CMenu::Item* found = FindById(menu, id);
  if (found == nullptr) return -1;
  const BOOL previous = static_cast<BOOL>(found->state & (MF_GRAYED | MF_DISABLED));
  found->state = (found->state & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return previous;
}

BOOL InsertMenuItemW(HMENU menu, UINT position, BOOL byPosition, const MENUITEMINFOW* info) {
  if (menu == nullptr || info == nullptr || !byPosition) return FALSE;
  CMenu::Item item;
  if (info->fMask & MIIM_ID) item.id = info->wID;
  if ((info->fMask & MIIM_STRING) && info->dwTypeData != nullptr) item.text = info->dwTypeData;
  const std::size_t at = std::min<std::size_t>(position, menu->items.size());
  menu->items.insert(menu->items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
  return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
  if (menu == nullptr || !(flags & MF_BYPOSITION) || position >= menu->items.size()) return FALSE;
  menu->items.erase(menu->items.begin() + static_cast<std::ptrdiff_t>(position));
  return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
  delete menu;
  return TRUE;
}

void SetMenuTrackHook(MenuTrackHook hook, void* context) {
  g_trackHook = hook;
  g_trackContext = context;
}

BOOL TrackPopupMenu(HMENU menu, UINT, int x, int y, int, HWND owner, const RECT*) {
  if (menu == nullptr) return FALSE;
  UINT chosen = 0;
  if (g_trackHook != nullptr) {
    chosen = g_trackHook(menu, x, y, g_trackContext);
  } else {
    QMenu popup(dynamic_cast<QWidget*>(owner));
    std::vector<std::pair<QAction*, UINT>> actions;
    Build(&popup, menu, actions);
    QAction* picked = popup.exec(QPoint(x, y));
    for (const auto& [action, id] : actions)
      if (action == picked) chosen = id;
  }
  if (chosen != 0) PostMessageW(owner, WM_COMMAND, chosen, 0);
  return TRUE;
}

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  const QPoint at = QCursor::pos();
  *point = POINT{at.x(), at.y()};
  return TRUE;
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags) {
  const QPoint at(point.x, point.y);
  if (QScreen* screen = QGuiApplication::screenAt(at)) return screen;
  if (flags != MONITOR_DEFAULTTONEAREST) return nullptr;
  QScreen* nearest = QGuiApplication::primaryScreen();
  int best = INT32_MAX;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect g = screen->geometry();
    const int dx = std::max({g.left() - at.x(), 0, at.x() - g.right()});
    const int dy = std::max({g.top() - at.y(), 0, at.y() - g.bottom()});
    if (dx + dy < best) best = dx + dy, nearest = screen;
  }
  return nearest;
}

BOOL EnumDisplayMonitors(void* hdc, const RECT* clip, MONITORENUMPROC callback, LPARAM data) {
  if (hdc != nullptr || clip != nullptr || callback == nullptr) return FALSE;
  QList<QScreen*> screens = QGuiApplication::screens();
  QScreen* primary = QGuiApplication::primaryScreen();
  if (primary != nullptr && screens.removeOne(primary)) screens.prepend(primary);
  for (QScreen* screen : screens) {
    const QRect g = screen->geometry();
    RECT rect{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
    if (!callback(screen, nullptr, &rect, data)) break;
  }
  return TRUE;
}

BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info) {
  auto* screen = static_cast<QScreen*>(monitor);
  if (screen == nullptr || info == nullptr) return FALSE;
  const QRect g = screen->geometry(), w = screen->availableGeometry();
  info->rcMonitor = RECT{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
  info->rcWork = RECT{w.left(), w.top(), w.right() + 1, w.bottom() + 1};
  info->dwFlags = screen == QGuiApplication::primaryScreen() ? 1 : 0;
  return TRUE;
}
