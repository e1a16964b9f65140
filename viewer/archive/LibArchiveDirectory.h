// The archive route through libarchive, for what 7-Zip's library cannot
// decode on this system: compressed RAR 4 (filters included), RAR 5, and
// tar; and for every format it reads well when the library is missing or
// refused, or cannot open or list the file. The same item table and the same memory files as the 7-Zip
// route, behind the same IDirectory.
//
// Each entry of a plain archive is read by opening the archive again and
// skipping to it: a skip is a seek there; a tar's entry is read from its
// own header on, found as the archive was listed. In a solid RAR (the archive's
// main header says so) a skip decodes everything before the entry, so its
// entries are read in one pass instead: a solid RAR 4's by unarr, since
// libarchive refuses an entry that continues the one before it, and every
// entry after (where no fuller listing comes from 7-Zip's library, the
// archive's own headers list it; a set of volumes is joined for unarr as
// one archive). A tar is not solid: its entries are
// stored whole, one after another, and a skip over one is a seek. A 7z is
// read in one pass too: libarchive decodes a folder of it from its start to
// reach any entry, and a 7z does not say in its first bytes whether it is
// solid.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/archive/ArchiveItems.h"
#include "viewer/archive/ArchiveLimits.h"
#include "viewer/archive/ArchiveLock.h"
#include "viewer/archive/MemoryFile.h"
#include "viewer/archive/Passwords.h"
#include "viewer/archive/Rar4Headers.h"
#include "viewer/archive/SpillFile.h"

// The volumes after the first of a set, in order.
using ArchiveVolumes = std::vector<ComRef<IFile>>;

class SolidReader;

// The formats libarchive is asked to read. Never its raw or text formats,
// which take any file for an archive.
enum class LibArchiveFormats {
  BesideSevenZip,  // tar, RAR 4 and RAR 5: what 7-Zip's library leaves
  Instead,         // those, and Zip, 7z and LZH: 7-Zip's library is not used, or made nothing of the file
};

class CLibArchiveDirectory final : public CUnknownImpl<IDirectory> {
 public:
  // Encrypted entries are read with `password` where libarchive decrypts
  // the format: 3.6 decrypts Zip (traditional and AES), but none of tar,
  // 7z, LZH, RAR 4 and RAR 5.
  explicit CLibArchiveDirectory(IFile* file, uint64_t solidBudget = kDefaultSolidBudget, ArchivePassword password = {},
                                LibArchiveFormats formats = LibArchiveFormats::BesideSevenZip, SpillPlace spill = {});

  int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) override;
  int32_t Mount(const char16_t* prefix, IDirectory* directory) override;
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override;

  // The volumes that follow the file in a set (before LoadArchive), and
  // whether the set goes on past them: then what continues there does not
  // read, and says so.
  void SetVolumes(ArchiveVolumes volumes, bool missing) {
    m_volumes = std::move(volumes);
    m_missingVolumes = missing;
  }

  // Lists the archive: 0 when libarchive reads it in one of its formats
  // and finds at least one entry. Listing stops at the first error, keeping
  // the entries before it.
  int32_t LoadArchive();
  const std::vector<ArchiveItem>& items() const { return m_table->items(); }
  // Whether the listing reached the archive's end (not a header that did
  // not read, as libarchive's refusal of a solid RAR 4's second entry).
  bool ListedWhole() const { return m_listedWhole; }
  // A fuller listing of the same archive, made by another reader that
  // numbers the entries as libarchive does (7-Zip's library, for a RAR 4
  // libarchive stops listing), and whether that one too broke off before
  // the archive's end. Entries past where libarchive stopped are tried all
  // the same: a solid RAR 4's read through unarr, others fail with
  // libarchive's reason.
  void TakeListing(std::shared_ptr<const ArchiveItemTable> table, bool cutShort);
  // Whether entries are missing: the listing stopped at a header that did
  // not read, and no fuller listing was taken (or the one taken stopped too).
  bool ListingCutShort() const { return m_tookListing ? m_takenCutShort : !m_listedWhole; }
  // Whether the entry at `path` comes from such a listing only.
  bool IsBeyondListing(const char16_t* path) const;
  // Whether entries are read by one pass (a solid RAR).
  bool IsSolid() const { return m_solid != nullptr; }
  // Whether entries past libarchive's listing are read too (through unarr).
  bool ReadsPastListing() const { return m_unarr; }
  // Whether the entry at `path` is encrypted (and so never reads here).
  bool IsEncrypted(const char16_t* path) const;
  // Whether the entry at `path` is never read because decoding it would
  // cost far more than a page may (its headers' claims are absurd).
  bool IsTooCostly(const char16_t* path) const;
  ArchiveLock Lock();
  const SolidReader* solidReader() const { return m_solid.get(); }
  SolidReader* solidReader() { return m_solid.get(); }

 private:
  ~CLibArchiveDirectory() override;

  // The bytes of entry `index` (in archive order): the archive opened again
  // and read up to the entry; with `head`, only its first `head` bytes,
  // without a word of debug text.
  int32_t ReadEntry(uint32_t index, ExtractedBytes* bytes, std::size_t head = 0);
  // Entry `index`, listed with `size` bytes, read whole as a new file.
  int32_t ReadWhole(uint32_t index, uint64_t size, IFile** out);
  void StartPass();
  // For a hard link without bytes of its own, the archive index of the
  // entry it stands for, or kMissingLink; kNoLink for any other entry.
  static constexpr int64_t kNoLink = -1, kMissingLink = -2;
  int64_t LinkTarget(uint32_t index) const { return index < m_linkTargets.size() ? m_linkTargets[index] : kNoLink; }
  // Whether entry `index` is encrypted and is not to be decrypted here,
  // or too costly to decode.
  bool Unreadable(uint32_t index) const;
  bool TooCostly(uint32_t index) const { return index < m_tooCostly.size() && m_tooCostly[index]; }

  IFile* m_file;
  ArchiveVolumes m_volumes;
  bool m_missingVolumes = false;
  const LibArchiveFormats m_formats;
  std::shared_ptr<const ArchiveItemTable> m_table = std::make_shared<ArchiveItemTable>();
  std::vector<bool> m_encrypted;  // by archive index
  std::vector<bool> m_tooCostly;  // by archive index
  std::vector<uint64_t> m_offsets;  // a tar's: where each entry's header begins, by archive index
  std::vector<int64_t> m_linkTargets;  // by archive index, as LinkTarget
  const ArchivePassword m_password;
  bool m_decrypts = false;        // libarchive decrypts this archive's format
  bool m_listedWhole = false;
  bool m_tookListing = false;
  bool m_takenCutShort = false;
  bool m_unarr = false;           // a solid RAR 4: the pass is unarr's
  std::vector<Rar4Entry> m_rar4;  // its file headers, by archive index
  ComRef<IFile> m_joined;         // a set of its volumes as one archive, which unarr reads
  uint32_t m_listed = 0;  // entries libarchive listed
  const uint64_t m_solidBudget;
  const SpillPlace m_spill;
  std::unique_ptr<SolidReader> m_solid;  // a solid RAR's or a 7z's pass; the only reader of m_file then
  std::mutex m_readLock;                 // one read of m_file at a time otherwise
};

// Whether the RAR archive (4 or 5) at the start of `bytes` says in its main
// header that it is solid; false for anything else.
bool IsSolidRar(const BYTE* bytes, std::size_t size);
