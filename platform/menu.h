// Popup menus: built in code, shown as a QMenu, the chosen item coming back
// to the owner window as WM_COMMAND. Monitors and the cursor position for
// placing them.
#pragma once

#include <string>

#include "platform/winuser.h"

struct CMenu;
using HMENU = CMenu*;
using HMONITOR = void*;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MIIM_ID = 0x0002;
constexpr UINT MIIM_STRING = 0x0040;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr DWORD MONITOR_DEFAULTTONULL = 0;
constexpr DWORD MONITOR_DEFAULTTONEAREST = 2;

struct MENUITEMINFOW {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  void* hbmpChecked;
  void* hbmpUnchecked;
  uintptr_t dwItemData;
  char16_t* dwTypeData;
  UINT cch;
  void* hbmpItem;
};

struct MONITORINFO {
  DWORD cbSize;
  RECT rcMonitor;
  RECT rcWork;
  DWORD dwFlags;
};

HMENU CreatePopupMenu();
// flags: MF_STRING, MF_SEPARATOR, MF_POPUP (id is then the submenu), MF_GRAYED.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);
// The command id at a position; 0xFFFFFFFF for a submenu, 0 for a separator.
UINT GetMenuItemID(HMENU menu, int position);
int GetMenuStringW(HMENU menu, UINT item, char16_t* buffer, int size, UINT flags);
// MF_CHECKED, MF_GRAYED, MF_SEPARATOR, MF_POPUP bits of an item; 0xFFFFFFFF when missing.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
// By command id, looking into submenus as well; the previous state or 0xFFFFFFFF.
DWORD CheckMenuItem(HMENU menu, UINT id, UINT check);
BOOL EnableMenuItem(HMENU menu, UINT id, UINT enable);
BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
BOOL DestroyMenu(HMENU menu);
// Shows the menu at (x, y) on the screen; a chosen item is posted to the
// owner as WM_COMMAND. Returns TRUE when the menu was shown.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);
// Tests answer menus themselves: the hook receives the menu and returns
// the chosen id (0 for none) instead of a menu appearing.
using MenuTrackHook = UINT (*)(HMENU menu, int x, int y, void* context);
void SetMenuTrackHook(MenuTrackHook hook, void* context);

BOOL GetCursorPos(POINT* point);
HMONITOR MonitorFromPoint(POINT point, DWORD flags);
BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info);
// Calls `callback` for every monitor present, the primary first, with its
// rectangle; stops when it returns FALSE. (No device context here: `hdc`
// and `clip` must be null.)
using MONITORENUMPROC = BOOL (*)(HMONITOR monitor, void* hdc, RECT* rect, LPARAM data);
BOOL EnumDisplayMonitors(void* hdc, const RECT* clip, MONITORENUMPROC callback, LPARAM data);
