// The profile: the view settings and the history of books, kept in
// "profile/velmora.ini" beside the program when it may be written there
// (the build tree, a portable copy), else in the user's config folder
// (see ProfilePath); UTF-16LE with its byte-order mark, one "key=value"
// line each, CR LF.
#pragma once

#include <string>

#include "viewer/book/History.h"
#include "viewer/book/PageMode.h"
#include "viewer/imaging/ImageDecoder.h"

struct ViewSettings {
  PageMode pageMode = PageMode::SpreadRight;
  int32_t mono2Color = 1;  // non-zero: monochrome pages in false colour (stored as read)

  Colorizing colorizing() const { return mono2Color != 0 ? Colorizing::On : Colorizing::Off; }
};

std::u16string ProfilePath();

class CProfile {
 public:
  // Reads the settings and the history; a missing or unreadable file leaves
  // the settings as they are and the history empty.
  void Load();
  // Writes the settings and the whole history, merged with the file as it
  // is now: what another window saved there stays, and the settings changed
  // and books shown here since this one last read or wrote it go over it.
  // The new file replaces the old one only once it is completely written.
  void Save();
  // Moves the book to the front of the history with its page (in memory),
  // or puts a new one there and writes the profile at once (then true).
  // `page` is the page's path in the book, kept beside the profile.
  bool AddHistory(const std::u16string& name, int32_t index, const std::u16string& page = {});
  // The same in memory only: true when the profile is due to be written
  // (a new book), which its caller does when it can.
  bool NoteHistory(const std::u16string& name, int32_t index, const std::u16string& page = {});

  ViewSettings settings;
  // Changed by AddHistory (or replaced whole, as read); a book shown
  // elsewhere comes back from a merge without its page.
  CHistory history;

 private:
  // True when what lies where the profile goes cannot be read (and so is
  // to be kept aside, not replaced).
  bool Merge();

  bool m_loaded = false;          // read once: until then, what is in memory is all there is
  ViewSettings m_settingsOnFile;  // as last read or written: a setting changed here differs
  std::vector<HistoryEntry> m_shown;  // books shown here since, oldest first, with their pages
};
