#include "viewer/shell/Actions.h"

#include "viewer/shell/Language.h"

namespace {

constexpr unsigned kShift = 1, kControl = 2, kAlt = 4;

// A key does its action when every `required` modifier is down and none of
// the `refused` ones; the first binding in the table that matches wins.
struct Binding {
  WPARAM key = 0;  // 0: no more bindings in the row
  unsigned required = 0;
  unsigned refused = 0;
  Action action = Action::None;
};

// One row: the keys it binds, the menu command it is (0: none), and its
// line in the help (null: none). Texts are as the Japanese menus show them;
// Text() gives them in the user's language. Rows come in the help's order.
struct Row {
  Binding keys[4];
  UINT command = 0;
  Action commandAction = Action::None;
  const char* commandText = nullptr;
  const char* helpKeys = nullptr;
  const char* helpText = nullptr;
};

// clang-format off
const Row kRows[] = {
    {{{VK_LEFT, 0, 0, Action::PageLeft}, {VK_RIGHT, 0, 0, Action::PageRight}}, 0, Action::None, nullptr,
     "\u2190 \u2192", "\u30da\u30fc\u30b8\u3092\u3081\u304f\u308b (\u958b\u304d\u306e\u5411\u304d\u306b\u5408\u308f\u305b\u3066)"},
    {{{VK_UP, 0, 0, Action::LineBack}, {VK_DOWN, 0, 0, Action::LineForward}, {VK_PRIOR, 0, 0, Action::SpreadBack},
      {VK_NEXT, 0, 0, Action::SpreadForward}}, 0, Action::None, nullptr,
     "\u2191 \u2193  PageUp PageDown", "\u898b\u958b\u304d\u5358\u4f4d\u3067\u623b\u308b\u30fb\u9032\u3080"},
    {{{VK_SPACE, kShift, 0, Action::SpreadBack}, {VK_SPACE, 0, 0, Action::SpreadForward}, {VK_BACK, 0, 0, Action::SpreadBack}},
     0, Action::None, nullptr,
     "Space  BackSpace", "\u898b\u958b\u304d\u5358\u4f4d\u3067\u9032\u3080\u30fb\u623b\u308b"},
    {{{VK_HOME, 0, 0, Action::FirstPage}, {VK_END, 0, 0, Action::LastPage}}, 0, Action::None, nullptr,
     "Home  End", "\u6700\u521d\u30fb\u6700\u5f8c\u306e\u30da\u30fc\u30b8"},
    {{{'G', kControl, 0, Action::GoToPage}}, IDM_GO_TO_PAGE, Action::GoToPage, "Go to Page...",
     "Ctrl+G", "\u30da\u30fc\u30b8\u3092\u6307\u5b9a\u3057\u3066\u79fb\u52d5"},
    {{{'P', 0, kControl | kAlt, Action::PageNumber}}, 0, Action::None, nullptr,
     "P", "\u30da\u30fc\u30b8\u756a\u53f7\u3092\u8868\u793a"},
    {{{'I', 0, kControl | kAlt, Action::BookInfo}}, IDM_BOOK_INFO, Action::BookInfo, "\u672c\u306e\u60c5\u5831",
     "I", "\u672c\u306e\u60c5\u5831 (\u30b7\u30ea\u30fc\u30ba\u30fb\u984c\u540d\u30fb\u4f5c\u8005\u30fb\u3042\u3089\u3059\u3058)"},
    {{{'N', kShift, kControl | kAlt, Action::PreviousArchive}, {'N', 0, kControl | kAlt, Action::NextArchive}},
     IDM_OPEN_NEXT_ARCHIVE, Action::NextArchive, "Open Next Archive File",
     "N  Shift+N", "\u6b21\u30fb\u524d\u306e\u30a2\u30fc\u30ab\u30a4\u30d6"},
    {{}, IDM_OPEN_PREVIOUS_ARCHIVE, Action::PreviousArchive, "Open Previous Archive File"},
    {{{VK_RETURN, 0, 0, Action::ToggleFullScreen}, {VK_F11, 0, 0, Action::ToggleFullScreen}},
     IDM_FULL_SCREEN, Action::ToggleFullScreen, "Window/Full Screen",
     "Enter  F11", "\u5168\u753b\u9762\u8868\u793a\u306e\u5207\u308a\u66ff\u3048"},
    {{{VK_ESCAPE, 0, 0, Action::LeaveFullScreen}}, 0, Action::None, nullptr,
     "Esc", "\u5168\u753b\u9762\u8868\u793a\u3092\u7d42\u3048\u308b"},
    {{{'L', 0, 0, Action::Loupe}}, 0, Action::None, nullptr,
     "L  \u4e2d\u30dc\u30bf\u30f3", "\u30eb\u30fc\u30da"},
    {{}, 0, Action::None, nullptr,
     "\u30db\u30a4\u30fc\u30eb", "\u898b\u958b\u304d\u5358\u4f4d\u3067\u623b\u308b\u30fb\u9032\u3080"},
    {{}, 0, Action::None, nullptr,
     "\u5de6\u30af\u30ea\u30c3\u30af (\u5de6\u30fb\u53f3\u306e 3 \u5206\u306e 1)", "\u30da\u30fc\u30b8\u3092\u3081\u304f\u308b"},
    {{{'B', 0, kControl | kAlt, Action::FitBest}, {'W', 0, kControl | kAlt, Action::FitWidth},
      {'H', 0, kControl | kAlt, Action::FitHeight}, {'O', 0, kControl | kAlt, Action::FitOriginal}},
     IDM_FIT_BEST, Action::FitBest, "\u5168\u4f53\u3092\u8868\u793a",
     "B  W  H  O", "\u5168\u4f53\u30fb\u5e45\u30fb\u9ad8\u3055\u30fb\u539f\u5bf8\u306b\u5408\u308f\u305b\u308b"},
    {{}, IDM_FIT_WIDTH, Action::FitWidth, "\u5e45\u306b\u5408\u308f\u305b\u308b"},
    {{}, IDM_FIT_HEIGHT, Action::FitHeight, "\u9ad8\u3055\u306b\u5408\u308f\u305b\u308b"},
    {{}, IDM_FIT_ORIGINAL, Action::FitOriginal, "\u539f\u5bf8\u5927"},
    {{{VK_OEM_PLUS, 0, kAlt, Action::ZoomIn}, {VK_OEM_MINUS, 0, kAlt, Action::ZoomOut}, {'0', 0, kAlt, Action::FitBest}},
     IDM_ZOOM_IN, Action::ZoomIn, "\u62e1\u5927",
     "+  -  0  Ctrl+\u30db\u30a4\u30fc\u30eb", "\u62e1\u5927\u30fb\u7e2e\u5c0f\u30fb\u5168\u4f53\u306b\u623b\u3059"},
    {{}, IDM_ZOOM_OUT, Action::ZoomOut, "\u7e2e\u5c0f"},
    {{{'X', 0, kControl | kAlt, Action::ShiftPairs}, {'S', 0, kControl | kAlt, Action::ShiftPairs}},
     IDM_SHIFT_PAIRS, Action::ShiftPairs, "\u898b\u958b\u304d\u3092 1 \u30da\u30fc\u30b8\u305a\u3089\u3059",
     "X  S", "\u898b\u958b\u304d\u306e\u7d44\u3092 1 \u30da\u30fc\u30b8\u305a\u3089\u3059 (\u3053\u306e\u672c\u3060\u3051)"},
    {{}, IDM_RESET_BOOK, Action::ResetBook,
     "\u3053\u306e\u672c\u306e\u8a2d\u5b9a\u3092\u65e2\u5b9a\u306b\u623b\u3059"},
    {{{'C', 0, kControl | kAlt, Action::Continuous}}, IDM_CONTINUOUS, Action::Continuous,
     "\u9023\u7d9a\u30b9\u30af\u30ed\u30fc\u30eb",
     "C", "\u30da\u30fc\u30b8\u3092\u7e26\u306b\u3064\u306a\u3052\u3066\u30b9\u30af\u30ed\u30fc\u30eb"},
    {{{'T', 0, kControl | kAlt, Action::PageGrid}}, IDM_PAGE_GRID, Action::PageGrid,
     "\u30da\u30fc\u30b8\u4e00\u89a7\u2026",
     "T", "\u5168\u30da\u30fc\u30b8\u3092\u7e2e\u5c0f\u3057\u3066\u4e26\u3079\u308b (Enter\u30fb\u30af\u30ea\u30c3\u30af\u3067\u958b\u304f)"},
    {{}, 0, Action::None, nullptr,
     "\u30c9\u30e9\u30c3\u30b0", "\u7a93\u3088\u308a\u5927\u304d\u306a\u30da\u30fc\u30b8\u3092\u52d5\u304b\u3059"},
    {{{VK_APPS, 0, 0, Action::ContextMenu}, {VK_F10, kShift, 0, Action::ContextMenu}}, 0, Action::None, nullptr,
     "\u53f3\u30af\u30ea\u30c3\u30af  Menu  Shift+F10", "\u30e1\u30cb\u30e5\u30fc"},
    {{{'O', kControl | kShift, 0, Action::OpenFolder}, {'O', kControl, 0, Action::OpenFile}},
     IDM_OPEN_FILE, Action::OpenFile, "Open File...",
     "Ctrl+O  Ctrl+Shift+O", "\u30d5\u30a1\u30a4\u30eb\u30fb\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u958b\u304f"},
    {{}, IDM_OPEN_DIRECTORY, Action::OpenFolder, "Open Directory..."},
    {{}, 0, Action::None, nullptr,
     "\u30c9\u30ed\u30c3\u30d7", "\u30d5\u30a1\u30a4\u30eb\u304b\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u958b\u304f"},
    {{{'Q', 0, kAlt, Action::Quit}, {'W', kControl, 0, Action::Quit}}, IDM_EXIT, Action::Quit, "Exit",
     "Q  Ctrl+Q  Ctrl+W", "\u7d42\u4e86"},
    {{{VK_F1, 0, 0, Action::Help}, {VK_OEM_2, 0, 0, Action::Help}}, IDM_KEYS, Action::Help, "Keys and Mouse",
     "F1  ?", "\u3053\u306e\u30d8\u30eb\u30d7"},
    // The menu's own.
    {{}, IDM_EMPTY, Action::None, "Empty"},
    {{}, IDM_MANUAL, Action::None, "Manual"},
    {{}, IDM_ABOUT, Action::About, "About"},
    // In English words in both languages, as the rest of the menu's first level.
    {{}, IDM_CATALOGUES, Action::Catalogues, "Catalogues..."},
    {{}, IDM_SINGLE, Action::SingleMode, "1\u679a"},
    {{}, IDM_SPREAD_RIGHT, Action::SpreadRightMode, "\u898b\u958b\u304d \u53f3\u958b\u304d"},
    {{}, IDM_SPREAD_LEFT, Action::SpreadLeftMode, "\u898b\u958b\u304d \u5de6\u958b\u304d"},
    {{}, IDM_MONO2COLOR, Action::Colorize, "\u30e2\u30ce\u30af\u30ed\u753b\u50cf\u306e\u30ab\u30e9\u30fc\u5316"},
    {{}, IDM_COVER_ALONE, Action::CoverAlone, "\u8868\u7d19\u3092\u5358\u72ec\u3067\u8868\u793a"},
    {{}, IDM_EXIF_ORIENTATION, Action::ExifOrientation, "\u753b\u50cf\u306e\u5411\u304d (Exif) \u306b\u5f93\u3046"},
    {{}, IDM_NATURAL_ORDER, Action::NaturalOrder, "\u540d\u524d\u306e\u6570\u5b57\u3092\u6570\u3068\u3057\u3066\u4e26\u3079\u308b"},
    {{}, IDM_RESUME, Action::Resume, "\u524d\u56de\u306e\u30da\u30fc\u30b8\u304b\u3089\u958b\u304f"},
    {{}, IDM_READ_ON, Action::ReadOn, "\u6b21\u306e\u5dfb\u3078\u7d9a\u3051\u3066\u8aad\u3080"},
    {{}, IDM_PAGE_NUMBER, Action::PageNumberSwitch, "\u5168\u753b\u9762\u3067\u30da\u30fc\u30b8\u756a\u53f7\u3092\u8868\u793a"},
};
// clang-format on

const Row* RowOfCommand(UINT id) {
  for (const Row& row : kRows)
    if (row.command == id && id != 0) return &row;
  return nullptr;
}

}  // namespace

Action ActionOfKey(WPARAM key, KeyModifiers modifiers) {
  const unsigned down = (modifiers.shift ? kShift : 0) | (modifiers.control ? kControl : 0) | (modifiers.alt ? kAlt : 0);
  for (const Row& row : kRows)
    for (const Binding& binding : row.keys) {
      if (binding.key == 0) break;
      if (binding.key == key && (down & binding.required) == binding.required && (down & binding.refused) == 0)
        return binding.action;
    }
  return Action::None;
}

KeyModifiers CurrentModifiers() {
  return KeyModifiers{GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0};
}

Action ActionOfCommand(UINT id) {
  const Row* row = RowOfCommand(id);
  return row != nullptr ? row->commandAction : Action::None;
}

std::u16string MenuText(UINT id) {
  const Row* row = RowOfCommand(id);
  return row != nullptr && row->commandText != nullptr ? Text(row->commandText) : std::u16string();
}

std::vector<std::pair<std::u16string, std::u16string>> HelpLines() {
  std::vector<std::pair<std::u16string, std::u16string>> lines;
  for (const Row& row : kRows)
    if (row.helpKeys != nullptr) lines.emplace_back(Text(row.helpKeys), Text(row.helpText));
  return lines;
}
