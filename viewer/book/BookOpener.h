// Opening books: a disk folder, any file (an image opens its folder, other
// files are tried as archives), and the next archive of an archive's
// folder. The opener makes the book and writes the opening's debug lines;
// what goes on screen is the caller's.
#pragma once

#include <functional>
#include <string>

#include "viewer/book/Book.h"
#include "viewer/archive/Passwords.h"

enum class OpenStatus {
  Opened,
  Refused,     // the path's form is not accepted: nothing was tried
  Failed,      // a folder, file or listing operation failed (the error picture)
  NotArchive,  // the file opened but no archive route reads it (the unknown picture)
  IsImage,     // the file is an image: open `folder` at `name`
  NotFound,    // no next archive
};

// Why a book, or every page of it, cannot be shown: what the user is told.
enum class OpenFailure {
  None,
  NotFound,                // no such file or folder
  NoPermission,            // it is there, but may not be read
  NotImageOrArchive,       // a file that is neither
  NeedsPassword,           // an encrypted archive or page
  Damaged,                 // a damaged archive or page
  UnsupportedCompression,  // compressed in a way nothing here decodes
  TooLarge,                // a page whose decoding would cost far more than any page may
  NoImages,                // a book without a page that is an image
  // A file no route reads while 7-Zip's library is not there, or is there
  // but unfit: it may be an archive only that library reads.
  ArchiveLibraryMissing,
  ArchiveLibraryRefused,
};

// What a path on disk says of a failure there: NotFound or NoPermission
// when the path's own state tells, otherwise `guess`.
using DiskProbe = std::function<OpenFailure(const std::u16string& path, OpenFailure guess)>;

struct BookOpening {
  OpenStatus status = OpenStatus::Failed;
  // The book when opened; an archive book also stays here when only the
  // listing of its folder failed.
  Book book;
  // An image: the folder to open and the image's name in it.
  std::u16string folder;
  std::u16string name;
  // No next archive: whether any later entry was tried.
  bool triedAny = false;
  // Failed or NotArchive: why, for the user.
  OpenFailure why = OpenFailure::None;
};

// An archive opened before its book (OpenArchiveAhead), for the opening of
// the file at `path`.
struct OpenedArchive {
  std::u16string path;
  ComRef<IDirectory> root;
};

// Whether the file at `path` under `root` is an image the viewer shows.
using ImageTest = std::function<bool(IDirectory* root, const std::u16string& path)>;

class CBookOpener {
 public:
  // Names sorted in `order`; `probe` (when given) tells why a disk path
  // failed.
  explicit CBookOpener(IFileSystem* fileSystem, NameOrder order = NameOrder::CodeUnit, DiskProbe probe = {})
      : m_fileSystem(fileSystem), m_order(order), m_probe(std::move(probe)) {}

  // Locked archives: `kept` holds the passwords that opened archives in this
  // run, by path (used first, and added to), and `ask` asks the user, again
  // after a wrong answer, until one opens it or they give up. Without
  // either an archive opens as it always did: a locked list does not open,
  // and encrypted pages do not read.
  void UsePasswords(SessionPasswords* kept, PasswordAsk ask) {
    m_passwords = kept;
    m_ask = std::move(ask);
  }

  // Solid archives spill the items their pass extracts into an unlinked
  // file in `folder` (empty: they do not), so that a page read again, or a
  // jump, takes no new pass.
  void SpillSolidArchivesIn(std::string folder) { m_spillFolder = std::move(folder); }

  // An archive opened already (at start-up, while the window was made):
  // opening the file at its path takes it instead of opening the file
  // again.
  void UseOpenedArchive(OpenedArchive opened) { m_opened = std::move(opened); }

  // An absolute folder path; its direct entries sorted by name.
  BookOpening OpenFolder(const std::u16string& path) const;
  // An absolute file path: an image (by `isImage`) or an archive. The
  // archive book carries the sorted listing of its folder.
  BookOpening OpenFile(const std::u16string& path, const ImageTest& isImage) const;
  // An archive read from `file` that lives elsewhere than on disk (a web
  // server's, at `url`): a book of its whole tree called `name`, with no
  // folder around it to step through.
  BookOpening OpenRemoteArchive(IFile* file, const std::u16string& url, const std::u16string& name) const;
  // A book whose pages a server streams, as the directory `pages` has them.
  BookOpening OpenStreamedBook(ComRef<IDirectory> pages, const std::u16string& url, const std::u16string& name) const;
  // The first archive after `around.current` in its folder; entries that
  // are no archives are skipped, a folder ends the search.
  BookOpening OpenNextArchive(const ArchiveFolder& around) const;
  // The same rules run backwards: the nearest archive before it.
  BookOpening OpenPreviousArchive(const ArchiveFolder& around) const;
  // A folder book whose entries are all folders is a folder of chapters:
  // its first chapter with a file in it, as a book that steps through its
  // sibling chapters (Refused when `folder` is no such book or none has a
  // file).
  BookOpening OpenFirstChapter(const Book& folder) const;

  // Why no page of an opened book shows: the entries that failed to decode
  // are looked at again (an encrypted, damaged or unreadable one says why);
  // NoImages when none of them tells more.
  OpenFailure DiagnosePages(const Book& book) const;

 private:
  BookOpening OpenArchiveNear(const ArchiveFolder& around, int direction) const;
  BookOpening OpenChapterNear(const ArchiveFolder& around, int direction) const;
  // The archive in `file` (at `path`) as a book of its whole tree, unlocked
  // when it is locked and a password is known or given.
  OpenStatus ReadArchive(IFile* file, const std::u16string& path, Book& book) const;
  OpenFailure Probe(const std::u16string& path, OpenFailure guess) const {
    return m_probe ? m_probe(path, guess) : guess;
  }

  IFileSystem* m_fileSystem;
  NameOrder m_order;
  DiskProbe m_probe;
  SessionPasswords* m_passwords = nullptr;
  PasswordAsk m_ask;
  std::string m_spillFolder;
  OpenedArchive m_opened;
};

// The archive at `path` (absolute) opened straight from the disk and, when
// solid, its pass begun, so that its first pages are being extracted while
// the program starts; null when it is not a 7z archive that opens without
// a password (other books open quickly and read their pages directly).
// Prints nothing. `spillFolder` as CBookOpener::SpillSolidArchivesIn.
ComRef<IDirectory> OpenArchiveAhead(const std::u16string& path, const std::string& spillFolder);

// Whether the first bytes of a file are those of an image kind the viewer
// decodes (so that a file that starts so but does not decode is damaged).
bool LooksLikeImage(const BYTE* head, std::size_t size);

// The last component of a folder path, a trailing "/" ignored; "/" itself
// for the root.
std::u16string FolderDisplayName(const std::u16string& path);
