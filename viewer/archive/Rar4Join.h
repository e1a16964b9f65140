// A set of RAR 4 volumes as the one archive it splits: unarr reads no
// volumes, so it is given a file that reads as an archive that never was
// split. The first volume's main header, no longer a volume's; each file's
// header from its first part, with the packed size of all its parts and the
// check of the whole file (its last part's); then its parts' data, one after
// another. Nothing is copied: the file reads from the volumes as it is read.
#pragma once

#include <optional>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/archive/Rar4Headers.h"

struct JoinedRar4 {
  ComRef<IFile> file;              // the archive, as if never split
  std::vector<Rar4Entry> entries;  // its file headers, where they stand in `file`, by archive index
  // Whether every part of every file was there. Otherwise the file ends
  // before the first file a volume lacks, which is listed last in `entries`
  // as one that goes on in the next volume (at the joined file's end).
  bool whole = false;
};

// `volumes`: the set in order, its first volume first (each file is held
// by the result). Nullopt when the first is no RAR 4 whose headers read.
std::optional<JoinedRar4> JoinRar4Volumes(const std::vector<IFile*>& volumes);
