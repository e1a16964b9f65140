// Dialog windows with child controls (a push button, a light web browser)
// on Qt Widgets. Their notifications reach the dialog's window
// implementation as messages: WM_INITDIALOG once, WM_COMMAND for a button,
// WM_BROWSER_DOCUMENT_COMPLETE when a page has loaded.
#pragma once

#include <string>

#include "platform/com.h"
#include "platform/winuser.h"

constexpr UINT WM_INITDIALOG = 0x0110;
// A loaded page: wParam is the browser control's id.
constexpr UINT WM_BROWSER_DOCUMENT_COMPLETE = 0x8000 + 259;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Creates a dialog owned by `owner`, hidden, of the given client size, then
// sends it WM_INITDIALOG. The close box sends WM_COMMAND with IDCANCEL.
HWND CreateDialogWindow(CWindowImpl* impl, HWND owner, const char16_t* caption, int width, int height);
// Destroys the dialog and its controls; its implementation hears nothing more.
void DestroyDialogWindow(HWND dialog);
HWND CreatePushButton(HWND parent, int id, const char16_t* text);
// A light browser: it shows HTML fetched over HTTPS, or the page shipped
// with the program (a Qt resource, ":/...") when the fetch fails or the
// page is refused, with a debug line saying why ("About Page Refused :
// ..."): an http: address, a host of the local networks (see
// IsLocalNetworkAddress; a redirect to one, or off HTTPS, too), over 20 s
// all told, over 1 MiB, or markup nested over 64 deep, of over 5000
// elements or too costly to lay out (platform/html_bounds.h), measured
// before any layout. It never reads a local file for a fetched page: that
// page's pictures come over HTTPS only, up to 4 MiB and 4096 x 4096 pixels
// each, 64 of them and 64 MiB decoded a page; other resources are not
// loaded. A click opens an HTTPS link in the desktop's browser and does
// nothing for any other.
HWND CreateBrowser(HWND parent, int id);
void BrowserNavigate(HWND browser, const char16_t* url, const char16_t* fallbackResource);
// Page zoom in percent (100 = as designed).
void BrowserSetZoom(HWND browser, int percent);
int BrowserZoom(HWND browser);
// The text the browser shows, for tests.
std::u16string BrowserText(HWND browser);

// Every address the light browser is about to fetch, told before the network
// is asked (tests check what is fetched, and that nothing is).
using BrowserFetchHook = void (*)(const char16_t* url, void* context);
void SetBrowserFetchHook(BrowserFetchHook hook, void* context);

// Whether the browser takes `address` (an IPv4 or IPv6 address in text) for
// one of this machine or of a private or link-local network.
bool IsLocalNetworkAddress(const char16_t* address);
// For tests only, whose servers listen on 127.0.0.1: pages and pictures at
// that address are fetched, the page over plain http too. Never on
// otherwise; redirects are checked as ever.
void AllowBrowserLoopbackForTests(bool allow);
// For tests only: the whole-fetch deadline in ms; 0 restores the 20 s.
void SetBrowserDeadlineForTests(int milliseconds);

// A small modal dialog asking for a whole number from `minimum` to `maximum`
// (a spin box and a slider), starting at `value`: TRUE and the number in
// *result when accepted (Enter), FALSE when cancelled.
BOOL AskForNumber(HWND owner, const char16_t* title, const char16_t* label, int value, int minimum, int maximum,
                  int* result);
// Tests answer it themselves: the hook gets what the dialog would show.
using NumberDialogHook = BOOL (*)(const char16_t* title, const char16_t* label, int value, int minimum, int maximum,
                                  int* result, void* context);
void SetNumberDialogHook(NumberDialogHook hook, void* context);

// A small modal dialog asking for a password, typed unseen: TRUE and the
// text in *password when accepted, FALSE when cancelled. `wrongBefore`,
// when not null, is a line saying that the last one given was wrong.
BOOL AskForPassword(HWND owner, const char16_t* title, const char16_t* prompt, const char16_t* wrongBefore,
                    std::u16string* password);
// Tests answer it themselves: the hook gets what the dialog would show.
using PasswordDialogHook = BOOL (*)(const char16_t* title, const char16_t* prompt, const char16_t* wrongBefore,
                                    std::u16string* password, void* context);
void SetPasswordDialogHook(PasswordDialogHook hook, void* context);

// The folder an open dialog starts in (the part of the common item
// dialog's SetFolder the viewer uses), asked for with QueryInterface on the
// dialog object.
struct IFileDialogFolder : IUnknown {
  static constexpr GUID iid = MakeGuid("{B5E1C3A0-7D2F-4E19-9C41-6A0D2F3B8E57}");
  virtual HRESULT SetFolder(const char16_t* path) = 0;
};
// The folder of the open dialog being shown; for tests answering it.
std::u16string ShownFileDialogFolder();

HWND GetDlgItem(HWND dialog, int id);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
// Centres `hwnd` over `owner`.
void CenterWindowOver(HWND hwnd, HWND owner);
// Pixels of a number of dialog units across and down (MS Shell Dlg 8).
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);
