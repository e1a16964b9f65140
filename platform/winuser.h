// Windows, messages, timers, cursor, drag and drop, touch, message boxes
// and window placement as the viewer's shell calls them. Qt Widgets stands
// behind them (qtwindow.cpp); Qt stays inside this layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using HDROP = void*;
using HTOUCHINPUT = void*;
using HCURSOR = void*;
using SHORT = int16_t;

constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_DROPFILES = 0x0233;
constexpr UINT WM_TOUCH = 0x0240;
constexpr UINT WM_APP = 0x8000;  // the first of the messages a program defines for itself

constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_SHIFT = 0x10;
constexpr WPARAM VK_CONTROL = 0x11;
constexpr WPARAM VK_MENU = 0x12;  // Alt
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_PRIOR = 0x21;  // Page Up
constexpr WPARAM VK_NEXT = 0x22;   // Page Down
constexpr WPARAM VK_END = 0x23;
constexpr WPARAM VK_HOME = 0x24;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;
constexpr WPARAM VK_APPS = 0x5D;  // the Menu key
constexpr WPARAM VK_F1 = 0x70;
constexpr WPARAM VK_F10 = 0x79;
constexpr WPARAM VK_F11 = 0x7A;
constexpr WPARAM VK_OEM_PLUS = 0xBB;   // "=" and "+"
constexpr WPARAM VK_OEM_MINUS = 0xBD;  // "-"
constexpr WPARAM VK_OEM_2 = 0xBF;      // "/" and "?"

constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;

constexpr UINT MB_OK = 0;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOW = 5;
constexpr int GWL_STYLE = -16;
constexpr LONG_PTR WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr LONG_PTR WS_MAXIMIZE = 0x01000000;
constexpr LONG_PTR WS_POPUP = static_cast<LONG_PTR>(0x80000000u);

constexpr int SM_DIGITIZER = 94;

constexpr DWORD TOUCHEVENTF_MOVE = 0x01;
constexpr DWORD TOUCHEVENTF_DOWN = 0x02;
constexpr DWORD TOUCHEVENTF_UP = 0x04;
constexpr DWORD TOUCHEVENTF_INRANGE = 0x08;
constexpr DWORD TOUCHEVENTF_PRIMARY = 0x10;
constexpr DWORD TOUCHEVENTF_NOCOALESCE = 0x20;
constexpr DWORD TOUCHEVENTF_PALM = 0x80;

struct POINT {
  LONG x;
  LONG y;
};

struct WINDOWPLACEMENT {
  UINT length;
  UINT flags;
  UINT showCmd;
  POINT ptMinPosition;
  POINT ptMaxPosition;
  RECT rcNormalPosition;
};

struct TOUCHINPUT {
  LONG x;  // hundredths of a screen pixel
  LONG y;
  void* hSource;
  DWORD dwID;
  DWORD dwFlags;
  DWORD dwMask;
  DWORD dwTime;
  uintptr_t dwExtraInfo;
  DWORD cxContact;
  DWORD cyContact;
};

constexpr WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr LPARAM MAKELPARAM(int low, int high) {
  return static_cast<LPARAM>((static_cast<uint32_t>(high & 0xFFFF) << 16) | static_cast<uint32_t>(low & 0xFFFF));
}
constexpr int16_t GET_WHEEL_DELTA_WPARAM(WPARAM w) { return static_cast<int16_t>(HIWORD(w)); }

// A window implementation: the messages of its window arrive here.
class CWindowImpl {
 public:
  virtual ~CWindowImpl();
  // true when handled (then `result` is the message's result); false sends
  // the message to the default processing.
  virtual bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                    DWORD mapId) = 0;
  // Creates the window, hidden: WM_NCCREATE, then WM_CREATE. Null when the
  // implementation refused WM_NCCREATE.
  HWND Create(const char16_t* title, int width, int height);

  HWND m_hWnd = nullptr;
};

// The application: made once, before any window, and ended after the last
// window is gone (not at exit, when Qt's own state may already be gone).
void InitApplication(int& argc, char** argv);
void ShutdownApplication();
// Runs the message loop until PostQuitMessage; returns its code.
int RunMessageLoop();
void PostQuitMessage(int code);
// SIGTERM and SIGINT post WM_CLOSE to the window, as the close box does.
void CloseOnTerminationSignals(HWND hwnd);
// Whether SIGTERM or SIGINT has come: what the window's thread waits for
// may give way, so that the close is served at once.
bool TerminationRequested();

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int command);
// Brings the window in front of the program's others and gives it the keys.
BOOL SetForegroundWindow(HWND hwnd);
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds, void* callback);
BOOL KillTimer(HWND hwnd, UINT_PTR id);
// Null hides the cursor over the window; any other value shows the arrow.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR ArrowCursor();

void DragAcceptFiles(HWND hwnd, BOOL accept);
UINT DragQueryFileW(HDROP drop, UINT index, char16_t* buffer, UINT size);
// A drop handle over paths, for tests that send WM_DROPFILES themselves.
HDROP MakeDrop(const std::u16string* paths, UINT count);
void DragFinish(HDROP drop);

BOOL RegisterTouchWindow(HWND hwnd, ULONG flags);
BOOL UnregisterTouchWindow(HWND hwnd);
BOOL GetTouchInputInfo(HTOUCHINPUT input, UINT count, TOUCHINPUT* inputs, int size);
BOOL CloseTouchInputHandle(HTOUCHINPUT input);
// A touch handle over records, for tests that send WM_TOUCH themselves;
// an input of 0 records makes GetTouchInputInfo fail.
HTOUCHINPUT MakeTouchInput(const TOUCHINPUT* inputs, UINT count);

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type);

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement);
BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement);
// The window's outer rectangle on the screen.
BOOL GetWindowRect(HWND hwnd, RECT* rect);
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL ClientToScreen(HWND hwnd, POINT* point);
// Centres the window in the work area of its monitor.
void CenterWindow(HWND hwnd);
// The program's icon as the window's big icon (WM_SETICON, ICON_BIG).
void SetWindowIcon(HWND hwnd);

// Whether a key is down (the high bit: the value is negative) as the key
// message being handled saw it: VK_SHIFT, VK_CONTROL and VK_MENU.
SHORT GetKeyState(int virtualKey);
// Sets that state (256 bytes, bit 0x80 for a key down), for tests that
// send key messages themselves.
BOOL SetKeyboardState(const BYTE* keys);

int GetSystemMetrics(int index);
// Logical pixels per inch of the primary screen.
void GetScreenDpi(int32_t* dpiX, int32_t* dpiY);
// A per-user setting (the stand-in for the registry value).
void SetUserSetting(const char16_t* key, const char16_t* name, DWORD value);

// The program's own per-user settings, in the same file, by "group/name"
// key. Texts round-trip whatever they hold (file names that are not UTF-8
// included). A value that is missing, or not of the kind asked for, reads
// as the fallback (empty for texts and lists).
int64_t GetUserSettingInteger(const char16_t* key, int64_t fallback);
void SetUserSettingInteger(const char16_t* key, int64_t value);
std::u16string GetUserSettingText(const char16_t* key);
void SetUserSettingText(const char16_t* key, const std::u16string& value);
std::vector<std::u16string> GetUserSettingTexts(const char16_t* key);
void SetUserSettingTexts(const char16_t* key, const std::vector<std::u16string>& values);
BOOL HasUserSetting(const char16_t* key);
// The settings kept in this file instead of the user's (tests); empty: the
// user's again.
void SetUserSettingsFile(const std::u16string& path);

// Menus, dialogs and messages in the user's language. The program's texts
// are written as its Japanese menus show them; other languages come from a
// Qt translation file.
// Whether the user's language (the locale's, LANGUAGE first) is Japanese.
BOOL UserLanguageIsJapanese();
// Texts are looked up in this translation file (a path, or ":/..." for one
// built into the program) from now on; null: shown as written. FALSE when
// the file cannot be read (the texts are then shown as written).
BOOL LoadTranslation(const char16_t* file);
// `text` (UTF-8, as written in the program) as the loaded translation has
// it, or as written.
std::u16string TranslateText(const char* context, const char* text);
