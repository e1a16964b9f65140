#include "viewer/shell/ReaderSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace {

constexpr char16_t kNaturalOrder[] = u"reading/naturalOrder";
constexpr char16_t kCoverAlone[] = u"reading/coverAlone";
constexpr char16_t kResume[] = u"reading/resume";
constexpr char16_t kExifOrientation[] = u"reading/exifOrientation";
constexpr char16_t kPageNumber[] = u"reading/pageNumber";
constexpr char16_t kReadOn[] = u"reading/readOn";
constexpr char16_t kLeftOpening[] = u"reading/leftOpening";
constexpr char16_t kHistoryBooks[] = u"history/books";
constexpr char16_t kHistoryPages[] = u"history/pages";
constexpr char16_t kWindowLeft[] = u"window/left";
constexpr char16_t kWindowTop[] = u"window/top";
constexpr char16_t kWindowWidth[] = u"window/width";
constexpr char16_t kWindowHeight[] = u"window/height";
constexpr char16_t kWindowMaximized[] = u"window/maximized";
constexpr char16_t kAboutSite[] = u"about/site";
constexpr char16_t kViewBooks[] = u"views/books";
constexpr char16_t kViewSizes[] = u"views/sizes";
constexpr char16_t kViewLast[] = u"views/last";

// A view as the settings file keeps it: its fit's name and the zoom in
// ten-thousandths ("width 12500"; no decimal point, whatever the locale),
// then a word for continuous scroll when on ("best 10000 continuous"), then
// what the reader picked for the book alone ("mode=left", "cover=1"). A
// word left out is the default, so older texts read as they always did and
// a book with nothing picked is written as it always was; a word not known
// leaves the whole page.
constexpr const char* kFitNames[] = {"best", "width", "height", "original"};
constexpr char kContinuousWord[] = "continuous";
// By PageMode's value.
constexpr const char* kModeWords[] = {"mode=single", "mode=right", "mode=left"};
constexpr const char* kCoverWords[] = {"cover=0", "cover=1"};

struct KeptView {
  ViewScale view;
  BookChoices choices;
};

std::u16string ViewText(const ViewScale& view, const BookChoices& choices = {}) {
  const long zoom = std::lround(static_cast<double>(view.zoom) * 10000);
  std::string text = std::string(kFitNames[static_cast<int>(view.fit)]) + " " + std::to_string(zoom);
  if (view.continuous) text += std::string(" ") + kContinuousWord;
  if (const int mode = choices.mode ? static_cast<int>(*choices.mode) : -1; mode >= 0 && mode < 3)
    text += std::string(" ") + kModeWords[mode];
  if (choices.coverAlone) text += std::string(" ") + kCoverWords[*choices.coverAlone ? 1 : 0];
  return Utf8ToUtf16(text);
}

// The words after the zoom; false for one not known.
bool ParseWords(std::string_view words, KeptView* kept) {
  while (!words.empty()) {
    if (words.front() != ' ') return false;
    words.remove_prefix(1);
    const std::string_view word = words.substr(0, words.find(' '));
    words.remove_prefix(word.size());
    bool known = false;
    if (word == kContinuousWord) kept->view.continuous = known = true;
    for (int k = 0; k < 3; ++k)
      if (word == kModeWords[k]) kept->choices.mode = static_cast<PageMode>(k), known = true;
    for (int k = 0; k < 2; ++k)
      if (word == kCoverWords[k]) kept->choices.coverAlone = k == 1, known = true;
    if (!known) return false;
  }
  return true;
}

KeptView ParseView(const std::u16string& text) {
  KeptView kept;
  const std::string words = Utf16ToUtf8(text);
  const std::size_t space = words.find(' ');
  if (space == std::string::npos) return kept;
  for (int k = 0; k < 4; ++k)
    if (words.compare(0, space, kFitNames[k]) == 0) kept.view.fit = static_cast<Fit>(k);
  char* end = nullptr;
  const long zoom = std::strtol(words.c_str() + space + 1, &end, 10);
  if (end == words.c_str() + space + 1) return kept;
  // The layout keeps any zoom within the page's bounds; this keeps it sane.
  KeptView read = kept;
  if (!ParseWords(end, &read) || zoom < 10 || zoom > 10000000) return kept;
  read.view.zoom = static_cast<float>(zoom) / 10000;
  return read;
}

// The book's kept text, else none.
std::optional<std::u16string> KeptText(const std::u16string& book) {
  const std::vector<std::u16string> books = GetUserSettingTexts(kViewBooks);
  const std::vector<std::u16string> sizes = GetUserSettingTexts(kViewSizes);
  for (std::size_t i = 0; i < books.size() && i < sizes.size(); ++i)
    if (books[i] == book) return sizes[i];
  return std::nullopt;
}

// The smallest window worth restoring, and the largest coordinate taken as
// a real one (a damaged file must not make a window of millions of pixels).
constexpr int64_t kMinimumSide = 100;
constexpr int64_t kLargestCoordinate = 1 << 20;

bool Switch(const char16_t* key, bool fallback) { return GetUserSettingInteger(key, fallback ? 1 : 0) != 0; }

}  // namespace

ReaderSettings LoadReaderSettings() {
  ReaderSettings settings;
  settings.naturalOrder = Switch(kNaturalOrder, settings.naturalOrder);
  settings.coverAlone = Switch(kCoverAlone, settings.coverAlone);
  settings.resume = Switch(kResume, settings.resume);
  settings.exifOrientation = Switch(kExifOrientation, settings.exifOrientation);
  settings.pageNumber = Switch(kPageNumber, settings.pageNumber);
  settings.readOn = Switch(kReadOn, settings.readOn);
  settings.leftOpening = Switch(kLeftOpening, settings.leftOpening);
  return settings;
}

void SaveReaderSettings(const ReaderSettings& settings) {
  SetUserSettingInteger(kNaturalOrder, settings.naturalOrder ? 1 : 0);
  SetUserSettingInteger(kCoverAlone, settings.coverAlone ? 1 : 0);
  SetUserSettingInteger(kResume, settings.resume ? 1 : 0);
  SetUserSettingInteger(kExifOrientation, settings.exifOrientation ? 1 : 0);
  SetUserSettingInteger(kPageNumber, settings.pageNumber ? 1 : 0);
  SetUserSettingInteger(kReadOn, settings.readOn ? 1 : 0);
  SetUserSettingInteger(kLeftOpening, settings.leftOpening ? 1 : 0);
}

void LoadHistoryPages(CHistory& history) {
  const std::vector<std::u16string> books = GetUserSettingTexts(kHistoryBooks);
  const std::vector<std::u16string> pages = GetUserSettingTexts(kHistoryPages);
  for (std::size_t i = 0; i < books.size() && i < pages.size(); ++i)
    if (const HistoryEntry* entry = history.Find(books[i]); entry != nullptr && entry->page.empty())
      history.SetPage(books[i], pages[i]);
}

void SaveHistoryPages(CHistory& history) {
  LoadHistoryPages(history);  // what another window wrote for its books stays
  std::vector<std::u16string> books, pages;
  for (const HistoryEntry& entry : history.Entries()) {
    if (entry.page.empty()) continue;
    books.push_back(entry.name);
    pages.push_back(entry.page);
  }
  SetUserSettingTexts(kHistoryBooks, books);
  SetUserSettingTexts(kHistoryPages, pages);
}

KeptBook LoadKeptBook(const std::u16string& book) {
  if (const std::optional<std::u16string> text = KeptText(book)) {
    const KeptView kept = ParseView(*text);
    return KeptBook{kept.view, kept.choices};
  }
  return KeptBook{ParseView(GetUserSettingText(kViewLast)).view, BookChoices{}};
}

ViewScale LoadBookView(const std::u16string& book) { return LoadKeptBook(book).view; }

BookChoices LoadBookChoices(const std::u16string& book) { return LoadKeptBook(book).choices; }

namespace {

// The books kept with their views, but `book`; read first, so that what
// another window kept for its books stays.
std::pair<std::vector<std::u16string>, std::vector<std::u16string>> KeptBooksBut(const std::u16string& book) {
  std::vector<std::u16string> books = GetUserSettingTexts(kViewBooks);
  std::vector<std::u16string> sizes = GetUserSettingTexts(kViewSizes);
  books.resize(std::min(books.size(), sizes.size()));
  sizes.resize(books.size());
  for (std::size_t i = 0; i < books.size(); ++i)
    if (books[i] == book) {
      books.erase(books.begin() + static_cast<std::ptrdiff_t>(i));
      sizes.erase(sizes.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  return {std::move(books), std::move(sizes)};
}

}  // namespace

void ForgetBook(const std::u16string& book) {
  const auto [books, sizes] = KeptBooksBut(book);
  SetUserSettingTexts(kViewBooks, books);
  SetUserSettingTexts(kViewSizes, sizes);
}

void SaveBookChoices(const std::u16string& book, const ViewScale& view, const BookChoices& choices) {
  auto [books, sizes] = KeptBooksBut(book);
  books.insert(books.begin(), book);
  sizes.insert(sizes.begin(), ViewText(view, choices));
  if (books.size() > kBooksWithViews) books.resize(kBooksWithViews), sizes.resize(kBooksWithViews);
  SetUserSettingTexts(kViewBooks, books);
  SetUserSettingTexts(kViewSizes, sizes);
}

void KeepModeOfBooks(const std::vector<std::u16string>& books, PageMode mode) {
  std::vector<std::u16string> kept = GetUserSettingTexts(kViewBooks);
  std::vector<std::u16string> sizes = GetUserSettingTexts(kViewSizes);
  kept.resize(std::min(kept.size(), sizes.size()));
  sizes.resize(kept.size());
  const ViewScale last = ParseView(GetUserSettingText(kViewLast)).view;
  bool changed = false;
  for (const std::u16string& book : books) {
    const auto at = std::find(kept.begin(), kept.end(), book);
    if (at == kept.end()) {
      if (kept.size() >= kBooksWithViews) continue;
      kept.push_back(book);
      sizes.push_back(ViewText(last, BookChoices{mode, std::nullopt}));
      changed = true;
      continue;
    }
    std::u16string& text = sizes[static_cast<std::size_t>(at - kept.begin())];
    KeptView view = ParseView(text);
    if (view.choices.mode) continue;
    view.choices.mode = mode;
    text = ViewText(view.view, view.choices);
    changed = true;
  }
  if (!changed) return;
  SetUserSettingTexts(kViewBooks, kept);
  SetUserSettingTexts(kViewSizes, sizes);
}

void SaveBookView(const std::u16string& book, const ViewScale& view, const BookChoices& choices) {
  SaveBookChoices(book, view, choices);
  SetUserSettingText(kViewLast, ViewText(view));
}

bool LoadWindowPlace(WindowPlace* place) {
  if (place == nullptr || !HasUserSetting(kWindowWidth)) return false;
  const int64_t left = GetUserSettingInteger(kWindowLeft, 0), top = GetUserSettingInteger(kWindowTop, 0);
  const int64_t width = GetUserSettingInteger(kWindowWidth, 0), height = GetUserSettingInteger(kWindowHeight, 0);
  for (int64_t value : {left, top, width, height})
    if (value < -kLargestCoordinate || value > kLargestCoordinate) return false;
  if (width < kMinimumSide || height < kMinimumSide) return false;
  place->normal = RECT{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(left + width),
                       static_cast<LONG>(top + height)};
  place->maximized = GetUserSettingInteger(kWindowMaximized, 0) != 0;
  return true;
}

void SaveWindowPlace(const WindowPlace& place) {
  SetUserSettingInteger(kWindowLeft, place.normal.left);
  SetUserSettingInteger(kWindowTop, place.normal.top);
  SetUserSettingInteger(kWindowWidth, place.normal.right - place.normal.left);
  SetUserSettingInteger(kWindowHeight, place.normal.bottom - place.normal.top);
  SetUserSettingInteger(kWindowMaximized, place.maximized ? 1 : 0);
}

std::u16string AboutSite() {
  // Only a web address counts: anything else would read from this machine.
  const std::u16string site = GetUserSettingText(kAboutSite);
  if (site.rfind(u"https://", 0) == 0 || site.rfind(u"http://", 0) == 0) return site;
  return {};
}
