// Opening books: a disk folder, any file (an image opens its folder, other
// files are tried as archives), and the next archive of an archive's
// folder. The opener makes the book and writes the opening's debug lines;
// what goes on screen is the caller's.
#pragma once

#include <functional>
#include <string>

#include "viewer/book/Book.h"

enum class OpenStatus {
  Opened,
  Refused,     // the path's form is not accepted: nothing was tried
  Failed,      // a folder, file or listing operation failed (the error picture)
  NotArchive,  // the file opened but no archive route reads it (the unknown picture)
  IsImage,     // the file is an image: open `folder` at `name`
  NotFound,    // no next archive
};

struct BookOpening {
  OpenStatus status = OpenStatus::Failed;
  // The book when opened; an archive book also stays here when only the
  // listing of its folder failed.
  Book book;
  // An image: the folder to open and the image's name in it.
  std::u16string folder;
  std::u16string name;
  // No next archive: whether any later entry was tried (the book on screen
  // is then given up).
  bool triedAny = false;
};

// Whether the file at `path` under `root` is an image the viewer shows.
using ImageTest = std::function<bool(IDirectory* root, const std::u16string& path)>;

class CBookOpener {
 public:
  explicit CBookOpener(IFileSystem* fileSystem) : m_fileSystem(fileSystem) {}

  // An absolute folder path; its direct entries sorted by name.
  BookOpening OpenFolder(const std::u16string& path) const;
  // An absolute file path: an image (by `isImage`) or an archive. The
  // archive book carries the sorted listing of its folder.
  BookOpening OpenFile(const std::u16string& path, const ImageTest& isImage) const;
  // The first archive after `around.current` in its folder; entries that
  // are no archives are skipped, a folder ends the search.
  BookOpening OpenNextArchive(const ArchiveFolder& around) const;

 private:
  IFileSystem* m_fileSystem;
};

// The last component of a folder path, a trailing "/" ignored; "/" itself
// for the root.
std::u16string FolderDisplayName(const std::u16string& path);
