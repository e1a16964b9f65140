// The open book: its entries in page order, the directory their bytes are
// read from, the pages on screen and, for an archive opened from a disk
// folder, that folder's sorted listing for stepping to the next archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/book/ComicInfo.h"
#include "viewer/book/Spread.h"

// What is known of an entry. The numbers are the ones the page states have
// always had, for anyone reading them in a debugger.
enum class PageState : int32_t {
  Unknown = 0,    // a file not tried yet
  Folder = 1,
  NotImage = 16,  // tried, and it did not decode: never tried again
  Image = 17,
  // Tried: its bytes are not whole (`damage` says why; an archive item that
  // failed its check or ended early) and it did not decode. Unlike a file
  // that is no image it keeps its place among the pages, so that the page
  // numbers after it stay the book's own; it shows as its reason.
  Damaged = 18,
};

enum class BookKind : int32_t { None = 0, Folder = 1, Archive = 2 };

struct PageEntry {
  std::u16string path;  // under the directory it was listed from
  std::u16string name;
  uint64_t size = 0;
  PageState state = PageState::Unknown;
  // Why the entry is not whole, in one line, once a load has said so (an
  // Image whose picture decoded in part, or a Damaged entry); empty else.
  std::u16string damage = {};
  // The shape the book's own description gives the page before it is
  // decoded; dropped once it decodes, as the pixels know better.
  std::optional<PageShape> stated = std::nullopt;
};

// The disk folder that holds the open archive file, or the open chapter
// of a folder of chapters.
struct ArchiveFolder {
  ComRef<IDirectory> root;  // the drive root's directory; empty when there is no folder to step through
  int32_t current = 0;      // the open archive's index in `entries`
  std::vector<PageEntry> entries;  // sorted by name
  std::u16string drive;
  std::u16string folder;         // under root, "/" form with leading and trailing "/"
  std::u16string windowsFolder;  // the folder as the user's path, ending in its separator
  bool chapters = false;         // the steps go from folder to folder, not archive to archive
};

// A value: copies hold references of their own on the directories.
struct Book {
  int32_t current = 0;
  int32_t second = -1;
  ComRef<IDirectory> root;
  BookKind kind = BookKind::None;
  std::u16string source;       // the path that was opened, as given; a remote book's URL
  bool remote = false;         // read from a web server: its place is kept by URL, never in the profile
  std::u16string folder;       // folder book: its path under root with a trailing "/"; archive: empty
  std::u16string displayName;  // for the window title
  std::vector<PageEntry> pages;
  ArchiveFolder archiveFolder;

  // A step through the folder that found nothing, for each direction on
  // its own: that way alone is given up, until another book opens.
  bool noArchiveAfter = false;
  bool noArchiveBefore = false;
  // The archive's list broke off before its end (a file cut short): the
  // pages after the break are missing, and the reader is told so.
  bool pagesMissing = false;
  // What the book says of itself (its ComicInfo.xml, its page list left
  // out): which way it reads and its titles; none when it says nothing.
  std::optional<ComicInfo> info;
  // The page the book names its front cover, alone in the spread modes; -1
  // when it names none.
  int32_t statedCover = -1;

  int32_t PageCount() const { return static_cast<int32_t>(pages.size()); }
  // The index of the entry at `path` (under root), or -1.
  int32_t IndexOf(const std::u16string& path) const {
    for (std::size_t i = 0; i < pages.size(); ++i)
      if (pages[i].path == path) return static_cast<int32_t>(i);
    return -1;
  }
  // Whether the book stands in a folder that the next and previous archive
  // (or chapter) step through.
  bool InSeries() const { return (kind == BookKind::Archive || archiveFolder.chapters) && archiveFolder.root; }
  // Whether a step forward (+1) or back (-1) through it may find a book.
  bool CanStepToArchive(int direction) const {
    return InSeries() && !(direction > 0 ? noArchiveAfter : noArchiveBefore);
  }
};

// How names are put in order: by code unit (no case folding, no numbers),
// or naturally ("page 2" before "page 10", letters without case).
enum class NameOrder { CodeUnit, Natural };

// The natural comparison: runs of digits (ASCII or full-width) compare by
// their value, letters (ASCII, Latin-1, full-width Latin) without case,
// anything else by code unit. Names equal that way compare by code unit,
// so the order is total. Negative, 0 or positive.
int NaturalCompare(std::u16string_view a, std::u16string_view b);

// Sorts by name in the given order; entries with equal names keep their
// order.
void SortByName(std::vector<PageEntry>& entries, NameOrder order = NameOrder::CodeUnit);

// The entries of `folder` (ending in "/") of `directory` in the order the
// listing gives them, each with the folder's path before its name. 0, or 1
// when the folder cannot be listed.
int32_t ListEntries(IDirectory* directory, const std::u16string& folder, std::vector<PageEntry>& out);

// Paths longer than this are not walked into: no page needs them, and a
// path nested thousands of folders deep would otherwise cost memory in the
// square of its length.
constexpr std::size_t kMaxWalkedPath = 4096;

// Appends the entries of `folder` (ending in "/") of the book's root and,
// depth first, of its subfolders to the pages. Each folder's entries come
// as the directory lists them (files, then folders); in natural order they
// are sorted so within those two groups. 0, or 1 when a listing fails.
int32_t AppendTree(Book& book, const std::u16string& folder, NameOrder order = NameOrder::CodeUnit);
