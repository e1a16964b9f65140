// Archives (Zip, RAR, LZH, 7z, tar) opened through whichever route reads
// them, 7-Zip's library or libarchive, and presented through the
// file-system interfaces, so that a book in an archive reads exactly like a
// book in a folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "platform/system.h"
#include "viewer/archive/ArchiveLimits.h"
#include "viewer/archive/ArchiveLock.h"
#include "viewer/archive/ArchiveTrouble.h"
#include "viewer/archive/Passwords.h"
#include "viewer/archive/SpillFile.h"

struct ArchiveOptions {
  // Bytes of extracted items a solid archive keeps at most (an item that
  // someone waits for is kept even beyond it).
  uint64_t solidBudget = kDefaultSolidBudget;
  // What encrypted items are decrypted with. Without one they do not read,
  // and an archive whose list is encrypted does not open.
  ArchivePassword password;
  // Opens volume `number` (2 for the second) of the set a RAR volume is the
  // first of: true and the file in *out, false when it is not there.
  // Without it, or without the next volume, the entries that continue
  // there do not read and say why.
  std::function<bool(uint32_t number, IFile** out)> openVolume = nullptr;
  // Where a solid archive's pass spills the items it extracts, so that an
  // item read again is read from there (no folder: nothing is spilled).
  SpillPlace spill{};
  // Through 7-Zip's library alone, where it is there and lists the file;
  // no other route, and nothing said in the debug output (an opening made
  // ahead of the one that counts, which meets any failure and says it).
  bool sevenZipOnly = false;
};

// 0 and the archive in `file` as a directory in *out; 1 when no route can
// open the file (*out untouched). The directory's OpenFile may be called
// from any thread, one call at a time or not.
int32_t OpenArchive(IFile* file, IDirectory** out);
int32_t OpenArchive(IFile* file, IDirectory** out, const ArchiveOptions& options);

// Whether the first bytes (262 of them, for tar) are those of a kind of
// archive some route reads.
bool LooksLikeArchive(const BYTE* head, std::size_t size);
// Whether the first bytes are a 7z archive's signature.
bool StartsAsSevenZip(const BYTE* head, std::size_t size);

// After OpenArchive refused `file`: why.
ArchiveTrouble DiagnoseArchive(IFile* file);
// Whether the first bytes of a file are those of a RAR (4 or 5) whose list
// is encrypted: it needs a password, and no route here decrypts RAR, so
// none is asked for.
bool IsRarWithEncryptedList(const BYTE* head, std::size_t size);
// Why the item at `path` of a directory that OpenArchive made does not read.
ArchiveTrouble DiagnoseArchiveItem(IDirectory* archive, const char16_t* path);

// Whether the list of an archive OpenArchive opened broke off before its
// end (a file cut short, headers that do not read): the entries after the
// break are not among its entries.
bool ArchiveListingCutShort(IDirectory* archive);

// Whether reading the item at `path` ("/" + its path) would make a solid
// archive's pass go through other files' data first: false outside solid
// archives and for an item ahead of every other file with data.
bool ArchiveItemLiesBehindOthers(IDirectory* archive, const char16_t* path);
// In a solid archive, where each of the items at `paths` comes in its one
// pass (-1: not an item of it); nothing outside solid archives.
std::optional<std::vector<int32_t>> ArchivePassPlaces(IDirectory* archive, const std::vector<std::u16string>& paths);

// Lets a solid archive's pass read on to its end, spilling what it
// extracts, whenever `busy` says that no page loads (see SolidReader::ReadOn);
// an empty `busy` stops that. Nothing for other directories.
void ReadSolidArchiveOn(IDirectory* archive, std::function<bool()> busy);

// Makes a solid archive's pass read ahead only while `busy` says that no
// page loads (see SolidReader::GiveWay); an empty `busy` stops that.
// Nothing for other directories.
void GiveWayInSolidArchive(IDirectory* archive, std::function<bool()> busy);

// Starts a solid archive's first pass now, before any item is asked for
// (see SolidReader::Begin). Nothing for other directories.
void BeginSolidArchivePass(IDirectory* archive);

// How an opened archive stands with encryption.
ArchiveLock CheckArchiveLock(IDirectory* archive);
