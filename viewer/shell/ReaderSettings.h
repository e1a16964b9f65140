// Settings of the viewer's own, kept in the per-user settings file and
// never in the profile: the reading switches, where the window was, the
// pages of the history's books by name, and the about page's site.
#pragma once

#include <optional>
#include <string>

#include "platform/winuser.h"
#include "viewer/book/Book.h"
#include "viewer/book/History.h"
#include "viewer/book/PageMode.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/reading/ViewScale.h"

struct ReaderSettings {
  bool naturalOrder = true;     // pages and archives by number value ("2" before "10")
  bool coverAlone = false;      // the first page alone in spreads
  bool resume = true;           // a book from the history opens at its page
  bool exifOrientation = true;  // pages stand as their Exif orientation says
  bool pageNumber = true;       // the page number shown briefly after a turn in full screen
  bool readOn = false;          // a turn past either end of a book opens the volume beside it
  // The reading direction picked last with a spread mode: pages opening to
  // the left (forward is to the right). Single pages turn that way too.
  bool leftOpening = false;

  NameOrder order() const { return naturalOrder ? NameOrder::Natural : NameOrder::CodeUnit; }
  ExifOrientation orientation() const { return exifOrientation ? ExifOrientation::Honoured : ExifOrientation::Ignored; }
  bool operator==(const ReaderSettings&) const = default;
};

// Read at start (defaults for what is missing); written when one changes.
ReaderSettings LoadReaderSettings();
void SaveReaderSettings(const ReaderSettings& settings);

// The pages of the history's books: given to the entries that have none
// (read from the profile, or shown by another window); written for every
// entry whenever the profile is, after those without one are given theirs.
void LoadHistoryPages(CHistory& history);
void SaveHistoryPages(CHistory& history);

// How large a book's pages were drawn when it was read last (its fit and
// zoom; not where the window stood over them); for a book not among those
// kept, the view chosen last for any book.
ViewScale LoadBookView(const std::u16string& book);
// What the reader picked for one book alone: its page mode and whether its
// first page stands alone in spreads (which shifts every pair after it).
// Nothing picked: the book reads as the reader's defaults say.
struct BookChoices {
  std::optional<PageMode> mode;
  std::optional<bool> coverAlone;
  bool operator==(const BookChoices&) const = default;
};
// Kept beside the book's view; none for a book not kept.
BookChoices LoadBookChoices(const std::u16string& book);
// Both, from one read of the settings (a book being opened).
struct KeptBook {
  ViewScale view;
  BookChoices choices;
};
KeptBook LoadKeptBook(const std::u16string& book);
// The books among `books` without a mode of their own keep `mode` (as the
// oldest kept, where there is room), so that a new default reaches only
// books not read yet.
void KeepModeOfBooks(const std::vector<std::u16string>& books, PageMode mode);
// Kept for the book (the latest kBooksWithViews books keep theirs), and as
// the view of books not kept (the choices stay the book's own).
constexpr std::size_t kBooksWithViews = 200;
void SaveBookView(const std::u16string& book, const ViewScale& view, const BookChoices& choices = {});
// The same for the book alone: a mode or cover picked is no view for others.
void SaveBookChoices(const std::u16string& book, const ViewScale& view, const BookChoices& choices);
// Forgets what was kept for the book: it reads as a book not kept again.
void ForgetBook(const std::u16string& book);

// The window as it was last: its normal rectangle (as GetWindowPlacement
// gives it) and whether it was maximized.
struct WindowPlace {
  RECT normal{};
  bool maximized = false;
};
// False when none was saved or what was saved makes no window.
bool LoadWindowPlace(WindowPlace* place);
void SaveWindowPlace(const WindowPlace& place);

// The site the about page is fetched from ("https://host"); empty: the copy
// shipped with the program, with no network at all. An "http://" site is
// read too, but the browser fetches over HTTPS only and shows the copy.
std::u16string AboutSite();
