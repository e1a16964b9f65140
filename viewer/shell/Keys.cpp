#include "viewer/shell/Keys.h"

#include "viewer/shell/Language.h"

KeyAction ActionOfKey(WPARAM key, KeyModifiers modifiers) {
  switch (key) {
    // The keys the viewer has always had: whatever the modifiers.
    case VK_RETURN:
      return KeyAction::ToggleFullScreen;
    case VK_LEFT:
      return KeyAction::PageLeft;
    case VK_RIGHT:
      return KeyAction::PageRight;
    case VK_UP:
      return KeyAction::SpreadBack;
    case VK_DOWN:
      return KeyAction::SpreadForward;
    case 'L':
      return KeyAction::Loupe;
    // The others.
    case VK_F11:
      return KeyAction::ToggleFullScreen;
    case VK_ESCAPE:
      return KeyAction::LeaveFullScreen;
    case VK_HOME:
      return KeyAction::FirstPage;
    case VK_END:
      return KeyAction::LastPage;
    case VK_NEXT:
      return KeyAction::SpreadForward;
    case VK_PRIOR:
    case VK_BACK:
      return KeyAction::SpreadBack;
    case VK_SPACE:
      return modifiers.shift ? KeyAction::SpreadBack : KeyAction::SpreadForward;
    case 'O':
      if (!modifiers.control) return KeyAction::None;
      return modifiers.shift ? KeyAction::OpenFolder : KeyAction::OpenFile;
    case 'Q':
      return modifiers.alt ? KeyAction::None : KeyAction::Quit;
    case 'W':
      return modifiers.control ? KeyAction::Quit : KeyAction::None;
    case 'N':
      if (modifiers.control || modifiers.alt) return KeyAction::None;
      return modifiers.shift ? KeyAction::PreviousArchive : KeyAction::NextArchive;
    case 'G':
      return modifiers.control ? KeyAction::GoToPage : KeyAction::None;
    case 'P':
      return modifiers.control || modifiers.alt ? KeyAction::None : KeyAction::PageNumber;
    case VK_APPS:
      return KeyAction::ContextMenu;
    case VK_F10:
      return modifiers.shift ? KeyAction::ContextMenu : KeyAction::None;
    case VK_F1:
    case VK_OEM_2:
      return KeyAction::Help;
    default:
      return KeyAction::None;
  }
}

KeyModifiers CurrentModifiers() {
  return KeyModifiers{GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0};
}

std::vector<std::pair<std::u16string, std::u16string>> HelpLines() {
  static const std::pair<const char*, const char*> kLines[] = {
      {"\u2190 \u2192", "\u30da\u30fc\u30b8\u3092\u3081\u304f\u308b (\u958b\u304d\u306e\u5411\u304d\u306b\u5408\u308f\u305b\u3066)"},
      {"\u2191 \u2193  PageUp PageDown", "\u898b\u958b\u304d\u5358\u4f4d\u3067\u623b\u308b\u30fb\u9032\u3080"},
      {"Space  BackSpace", "\u898b\u958b\u304d\u5358\u4f4d\u3067\u9032\u3080\u30fb\u623b\u308b"},
      {"Home  End", "\u6700\u521d\u30fb\u6700\u5f8c\u306e\u30da\u30fc\u30b8"},
      {"Ctrl+G", "\u30da\u30fc\u30b8\u3092\u6307\u5b9a\u3057\u3066\u79fb\u52d5"},
      {"P", "\u30da\u30fc\u30b8\u756a\u53f7\u3092\u8868\u793a"},
      {"N  Shift+N", "\u6b21\u30fb\u524d\u306e\u30a2\u30fc\u30ab\u30a4\u30d6"},
      {"Enter  F11", "\u5168\u753b\u9762\u8868\u793a\u306e\u5207\u308a\u66ff\u3048"},
      {"Esc", "\u5168\u753b\u9762\u8868\u793a\u3092\u7d42\u3048\u308b"},
      {"L  \u4e2d\u30dc\u30bf\u30f3", "\u30eb\u30fc\u30da"},
      {"\u30db\u30a4\u30fc\u30eb", "\u898b\u958b\u304d\u5358\u4f4d\u3067\u623b\u308b\u30fb\u9032\u3080"},
      {"\u5de6\u30af\u30ea\u30c3\u30af (\u5de6\u30fb\u53f3\u306e 3 \u5206\u306e 1)", "\u30da\u30fc\u30b8\u3092\u3081\u304f\u308b"},
      {"\u53f3\u30af\u30ea\u30c3\u30af  Menu  Shift+F10", "\u30e1\u30cb\u30e5\u30fc"},
      {"Ctrl+O  Ctrl+Shift+O", "\u30d5\u30a1\u30a4\u30eb\u30fb\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u958b\u304f"},
      {"\u30c9\u30ed\u30c3\u30d7", "\u30d5\u30a1\u30a4\u30eb\u304b\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u958b\u304f"},
      {"Q  Ctrl+Q  Ctrl+W", "\u7d42\u4e86"},
      {"F1  ?", "\u3053\u306e\u30d8\u30eb\u30d7"},
  };
  std::vector<std::pair<std::u16string, std::u16string>> lines;
  for (const auto& [keys, action] : kLines) lines.emplace_back(Text(keys), Text(action));
  return lines;
}
