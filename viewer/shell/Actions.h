// Everything the user can ask of the viewer, as one table: each action with
// the keys that do it, the menu command that does it and the help's line.
// The key handler, the menu and the help all read the table; the window
// does an action in one place. The arrows, Enter and L do what they always
// did; the other keys are the ones readers of comics reach for.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/winuser.h"

enum class Action {
  None,
  ToggleFullScreen,  // Enter, F11, the menu
  LeaveFullScreen,   // Esc (and it closes the help and the book's description)
  PageLeft,          // the left arrow: forward unless the book opens to the left
  PageRight,
  SpreadBack,        // Page Up, Backspace, Shift+Space
  SpreadForward,     // Page Down, Space
  LineBack,          // Up: a spread back, or a small step up in continuous scroll
  LineForward,       // Down
  FirstPage,         // Home
  LastPage,          // End
  Loupe,             // L
  OpenFile,          // Ctrl+O
  OpenFolder,        // Ctrl+Shift+O
  Quit,              // Q, Ctrl+Q, Ctrl+W, the menu's Exit
  NextArchive,       // N
  PreviousArchive,   // Shift+N
  ContextMenu,       // the Menu key, Shift+F10
  Help,              // F1, ?, the menu
  GoToPage,          // Ctrl+G
  PageNumber,        // P
  BookInfo,          // I, the menu: the book's own description over the pages
  About,
  SingleMode,
  SpreadRightMode,
  SpreadLeftMode,
  Colorize,
  ShiftPairs,        // X, S: the open book's first page alone or not, the pairs after it shifted by one
  ResetBook,         // the menu: the open book read as the defaults say again
  // The reader's switches.
  CoverAlone,
  ExifOrientation,
  NaturalOrder,
  Resume,
  PageNumberSwitch,
  ReadOn,            // a turn past either end opens the volume beside the book
  // How large the pages are drawn.
  FitBest,      // B, 0, Ctrl+0
  FitWidth,     // W
  FitHeight,    // H
  FitOriginal,  // O
  ZoomIn,       // +, =, Ctrl+wheel
  ZoomOut,      // -
  Continuous,   // C: the pages in one column, scrolled
  PageGrid,     // T, the menu: every page as a thumbnail in a grid over the window
  Catalogues,   // the menu: the book servers kept, to add, edit, remove and open
};

// Command ids of the context menu.
constexpr UINT IDM_OPEN_FILE = 32771;
constexpr UINT IDM_OPEN_DIRECTORY = 32773;
constexpr UINT IDM_FULL_SCREEN = 32780;
constexpr UINT IDM_EXIT = 32783;
constexpr UINT IDM_ABOUT = 32784;
constexpr UINT IDM_EMPTY = 32786;
constexpr UINT IDM_SINGLE = 32787;
constexpr UINT IDM_SPREAD_RIGHT = 32788;
constexpr UINT IDM_SPREAD_LEFT = 32789;
constexpr UINT IDM_MANUAL = 32790;
constexpr UINT IDM_MONO2COLOR = 32791;
constexpr UINT IDM_OPEN_NEXT_ARCHIVE = 32792;
constexpr UINT IDM_OPEN_PREVIOUS_ARCHIVE = 32793;
constexpr UINT IDM_GO_TO_PAGE = 32794;
constexpr UINT IDM_COVER_ALONE = 32795;
constexpr UINT IDM_EXIF_ORIENTATION = 32796;
constexpr UINT IDM_NATURAL_ORDER = 32797;
constexpr UINT IDM_RESUME = 32798;
constexpr UINT IDM_KEYS = 32799;
constexpr UINT IDM_PAGE_NUMBER = 32800;
constexpr UINT IDM_FIT_BEST = 32801;
constexpr UINT IDM_FIT_WIDTH = 32802;
constexpr UINT IDM_FIT_HEIGHT = 32803;
constexpr UINT IDM_FIT_ORIGINAL = 32804;
constexpr UINT IDM_ZOOM_IN = 32805;
constexpr UINT IDM_ZOOM_OUT = 32806;
constexpr UINT IDM_BOOK_INFO = 32807;
constexpr UINT IDM_CONTINUOUS = 32808;
constexpr UINT IDM_SHIFT_PAIRS = 32809;
constexpr UINT IDM_READ_ON = 32810;
constexpr UINT IDM_PAGE_GRID = 32811;
constexpr UINT IDM_RESET_BOOK = 32812;
constexpr UINT IDM_CATALOGUES = 32813;
constexpr UINT IDM_HISTORY_FIRST = 10000;
// The books read in place from servers, after the history's own.
constexpr UINT IDM_REMOTE_HISTORY_FIRST = 10100;

struct KeyModifiers {
  bool shift = false;
  bool control = false;
  bool alt = false;
};

// The action of a virtual key pressed with these modifiers.
Action ActionOfKey(WPARAM key, KeyModifiers modifiers);
// The modifiers as the key message being handled saw them.
KeyModifiers CurrentModifiers();
// The action of a menu command (None for the history's and unknown ones).
Action ActionOfCommand(UINT id);
// A menu command's text, in the user's language; empty for an unknown id.
std::u16string MenuText(UINT id);

// The help's lines: what to press or click, and what it does, in the
// user's language.
std::vector<std::pair<std::u16string, std::u16string>> HelpLines();
