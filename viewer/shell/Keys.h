// What each key does, and the list of keys and mouse actions the help
// shows. The arrows, Enter and L do what they always did; the others are
// the keys readers of comics reach for.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/winuser.h"

enum class KeyAction {
  None,
  ToggleFullScreen,  // Enter, F11
  LeaveFullScreen,   // Esc (and it closes the help)
  PageLeft,          // the left arrow: forward unless the spread opens to the left
  PageRight,
  SpreadBack,        // Up, Page Up, Backspace, Shift+Space
  SpreadForward,     // Down, Page Down, Space
  FirstPage,         // Home
  LastPage,          // End
  Loupe,             // L
  OpenFile,          // Ctrl+O
  OpenFolder,        // Ctrl+Shift+O
  Quit,              // Q, Ctrl+Q, Ctrl+W
  NextArchive,       // N
  PreviousArchive,   // Shift+N
  ContextMenu,       // the Menu key, Shift+F10
  Help,              // F1, ?
  GoToPage,          // Ctrl+G
  PageNumber,        // P
};

struct KeyModifiers {
  bool shift = false;
  bool control = false;
  bool alt = false;
};

// The action of a virtual key pressed with these modifiers.
KeyAction ActionOfKey(WPARAM key, KeyModifiers modifiers);
// The modifiers as the key message being handled saw them.
KeyModifiers CurrentModifiers();

// The help's lines: what to press or click, and what it does, in the
// user's language.
std::vector<std::pair<std::u16string, std::u16string>> HelpLines();
