#include "viewer/archive/Archive.h"

#include <cstring>
#include <new>
#include <string_view>

#include "viewer/archive/FileHead.h"
#include "viewer/archive/LibArchiveDirectory.h"
#include "viewer/archive/RarVolumes.h"
#include "viewer/archive/SevenZipDirectory.h"
#include "viewer/archive/SevenZipModule.h"
#include "viewer/archive/SolidReader.h"

namespace {

bool IsRar5(const BYTE (&head)[8]) {
  static const BYTE kRar5Signature[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
  return std::memcmp(head, kRar5Signature, sizeof kRar5Signature) == 0;
}

}  // namespace

bool StartsAsSevenZip(const BYTE* head, std::size_t size) {
  static constexpr BYTE kSignature[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  return size >= sizeof kSignature && std::memcmp(head, kSignature, sizeof kSignature) == 0;
}

bool LooksLikeArchive(const BYTE* head, std::size_t size) {
  auto at = [&](std::size_t offset, const char* text, std::size_t length) {
    return size >= offset + length && std::memcmp(head + offset, text, length) == 0;
  };
  return at(0, "PK\x03\x04", 4) || at(0, "PK\x05\x06", 4) || at(0, "Rar!\x1A\x07", 6) ||
         StartsAsSevenZip(head, size) || (at(2, "-lh", 3) && at(6, "-", 1)) || at(257, "ustar", 5);
}

// Which route reads an archive:
// - RAR 5 (its signature) goes to libarchive: 7-Zip's library here lists
//   it but decodes only stored entries.
// - Everything else goes first to 7-Zip's library, with the handler the
//   signature names. Where that handler opens the file and lists something,
//   7-Zip's library reads it, as always, unless it is RAR 4 with an entry in
//   a method other than "store" (this build of the library has no RAR
//   codec): then libarchive reads it. Where libarchive stops listing early
//   (a solid RAR 4, refused past its first entry), the book is 7-Zip's
//   whole listing, not the few entries before the stop. A solid RAR 4 is
//   read through unarr, in one pass; elsewhere libarchive reads what it
//   can of such a listing, and the others fail with its reason. Without
//   7-Zip's library, a solid RAR 4's own headers list it.
// - Where no handler opens the file, or it lists nothing, libarchive tries
//   every format it reads well: Zip, 7z, LZH, tar, RAR 4 and RAR 5. It
//   takes Zip files whose local headers 7-Zip's library finds odd, and LZH
//   header levels the library does not know.
// - Where 7-Zip's library is missing or refused, libarchive does the same.
// - The first volume of a set of RAR volumes goes to libarchive with the
//   volumes after it, whatever else: one archive across them. A solid
//   RAR 4's set is listed from its headers and read through unarr, joined
//   as one archive.
int32_t OpenArchive(IFile* file, IDirectory** out) { return OpenArchive(file, out, ArchiveOptions{}); }

int32_t OpenArchive(IFile* file, IDirectory** out, const ArchiveOptions& options) {
  if (file == nullptr || out == nullptr) return FILE_SYSTEM_FAILED;
  uint64_t size = 0;
  file->GetSize(&size);
  if (size <= 8) return FILE_SYSTEM_FAILED;
  BYTE head[8] = {};
  ReadHead(file, head, sizeof head);

  // libarchive's listing of the file; null when it reads no archive there.
  auto listWithLibArchive = [&](LibArchiveFormats formats, ArchiveVolumes volumes = {}, bool missingVolumes = false) {
    ComRef<CLibArchiveDirectory> directory;
    CLibArchiveDirectory* made =
        new (std::nothrow) CLibArchiveDirectory(file, options.solidBudget, options.password, formats, options.spill);
    if (made == nullptr) return directory;
    made->AddRef();
    *&directory = made;
    directory->SetVolumes(std::move(volumes), missingVolumes);
    if (directory->LoadArchive() != FILE_SYSTEM_OK) directory.Reset();
    return directory;
  };
  auto handOut = [&](IDirectory* directory) {
    return directory != nullptr && directory->QueryInterface(IID_IDirectory, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
  };
  // The first of a set of RAR volumes: libarchive reads the set as one
  // archive (7-Zip's library would list the first volume alone).
  BYTE start[64] = {};
  if (RarVolumeOf(start, ReadHead(file, start, sizeof start)) == RarVolume::First) {
    if (options.sevenZipOnly) return FILE_SYSTEM_FAILED;
    ArchiveVolumes volumes;
    for (uint32_t number = 2; options.openVolume != nullptr && number < 1000; ++number) {
      ComRef<IFile> volume;
      if (!options.openVolume(number, &volume) || !volume) break;
      volumes.push_back(std::move(volume));
    }
    const bool missing = volumes.empty();
    return handOut(listWithLibArchive(BindSevenZip() ? LibArchiveFormats::BesideSevenZip : LibArchiveFormats::Instead,
                                      std::move(volumes), missing)
                       .get());
  }
  if (options.sevenZipOnly) {
    if (FindSevenZip(false) != SevenZipAvailability::Bound || IsRar5(head)) return FILE_SYSTEM_FAILED;
  } else {
    if (!BindSevenZip()) return handOut(listWithLibArchive(LibArchiveFormats::Instead).get());
    if (IsRar5(head)) return handOut(listWithLibArchive(LibArchiveFormats::BesideSevenZip).get());
  }

  ComRef<C7zDirectory> sevenZip;
  {
    C7zDirectory* made = new (std::nothrow) C7zDirectory(options.solidBudget, options.password, options.spill);
    if (made == nullptr) return FILE_SYSTEM_FAILED;
    made->AddRef();
    *&sevenZip = made;
  }
  const bool opened = sevenZip->LoadArchive(file) == FILE_SYSTEM_OK;
  if (options.sevenZipOnly)
    return opened && !sevenZip->items().empty() && sevenZip->format() != C7zDirectory::kRar ? handOut(sevenZip.get())
                                                                                           : FILE_SYSTEM_FAILED;
  if (!opened || sevenZip->items().empty()) {
    if (ComRef<CLibArchiveDirectory> libArchive = listWithLibArchive(LibArchiveFormats::Instead)) return handOut(libArchive.get());
    // An archive with nothing in it is still an archive, as before.
    return opened ? handOut(sevenZip.get()) : FILE_SYSTEM_FAILED;
  }
  if (sevenZip->format() == C7zDirectory::kRar && !sevenZip->DecodesEveryItem()) {
    ComRef<CLibArchiveDirectory> libArchive = listWithLibArchive(LibArchiveFormats::BesideSevenZip);
    if (libArchive) {
      if (!libArchive->ListedWhole() && libArchive->items().size() < sevenZip->items().size())
        libArchive->TakeListing(sevenZip->table(), sevenZip->ListingCutShort());
      return handOut(libArchive.get());
    }
  }
  return handOut(sevenZip.get());
}

bool IsRarWithEncryptedList(const BYTE* head, std::size_t size) {
  static const BYTE kRar4[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  static const BYTE kRar5[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
  // RAR 4: the main header (type 0x73) flags a password for the headers.
  if (size >= 12 && std::memcmp(head, kRar4, sizeof kRar4) == 0) return head[9] == 0x73 && (head[10] & 0x80) != 0;
  // RAR 5: the first block after the signature is the archive encryption
  // header (type 4): its CRC, its size and its type, as vints.
  if (size < 14 || std::memcmp(head, kRar5, sizeof kRar5) != 0) return false;
  std::size_t at = 12;
  for (int vint = 0; vint < 2; ++vint) {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      if (at >= size || shift > 63) return false;
      const BYTE b = head[at++];
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) break;
    }
    if (vint == 1) return value == 4;
  }
  return false;
}

ArchiveTrouble DiagnoseArchive(IFile* file) {
  if (file == nullptr) return ArchiveTrouble::NotArchive;
  BYTE head[264] = {};
  const uint32_t got = ReadHead(file, head, sizeof head);
  if (!LooksLikeArchive(head, got)) return ArchiveTrouble::NotArchive;
  // Read by libarchive, which does not open a list it cannot decrypt and
  // says only that it failed.
  if (IsRarWithEncryptedList(head, got)) return ArchiveTrouble::NeedsPassword;
  // A 7z whose list is encrypted asks for a password as it opens.
  if (got >= 8) {
    BYTE signature[8];
    std::memcpy(signature, head, 8);
    if (SevenZipAsksPassword(file, signature)) return ArchiveTrouble::NeedsPassword;
  }
  return ArchiveTrouble::Damaged;
}

namespace {

// A solid archive's reader; null for any other directory.
SolidReader* SolidReaderOf(IDirectory* archive) {
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive)) return sevenZip->solidReader();
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive)) return libArchive->solidReader();
  return nullptr;
}

}  // namespace

void ReadSolidArchiveOn(IDirectory* archive, std::function<bool()> busy) {
  if (SolidReader* reader = SolidReaderOf(archive)) reader->ReadOn(std::move(busy));
}

void GiveWayInSolidArchive(IDirectory* archive, std::function<bool()> busy) {
  if (SolidReader* reader = SolidReaderOf(archive)) reader->GiveWay(std::move(busy));
}

void BeginSolidArchivePass(IDirectory* archive) {
  if (SolidReader* reader = SolidReaderOf(archive)) reader->Begin();
}

ArchiveLock CheckArchiveLock(IDirectory* archive) {
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive)) return sevenZip->Lock();
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive)) return libArchive->Lock();
  return ArchiveLock::None;
}

bool ArchiveListingCutShort(IDirectory* archive) {
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive)) return sevenZip->ListingCutShort();
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive)) return libArchive->ListingCutShort();
  return false;
}

namespace {

// A solid archive's items, in the order its pass reads them by index; null
// for any other directory.
const std::vector<ArchiveItem>* SolidItems(IDirectory* archive) {
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive); sevenZip != nullptr && sevenZip->IsSolid())
    return &sevenZip->items();
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive); libArchive != nullptr && libArchive->IsSolid())
    return &libArchive->items();
  return nullptr;
}

int32_t IndexOf(const std::vector<ArchiveItem>& items, std::u16string_view wanted) {
  int32_t at = -1;
  for (const ArchiveItem& item : items)
    if (item.index >= 0 && wanted.size() == item.folder.size() + item.name.size() &&
        wanted.substr(0, item.folder.size()) == item.folder && wanted.substr(item.folder.size()) == item.name)
      at = item.index;
  return at;
}

}  // namespace

bool ArchiveItemLiesBehindOthers(IDirectory* archive, const char16_t* path) {
  const std::vector<ArchiveItem>* items = SolidItems(archive);
  if (items == nullptr || path == nullptr) return false;
  const int32_t at = IndexOf(*items, path);
  if (at < 0) return false;
  for (const ArchiveItem& item : *items)
    if (item.index >= 0 && item.index < at && item.size > 0 && !(item.flags & FILE_SYSTEM_ENTRY_FOLDER)) return true;
  return false;
}

std::optional<std::vector<int32_t>> ArchivePassPlaces(IDirectory* archive, const std::vector<std::u16string>& paths) {
  const std::vector<ArchiveItem>* items = SolidItems(archive);
  if (items == nullptr) return std::nullopt;
  std::vector<int32_t> places;
  places.reserve(paths.size());
  for (const std::u16string& path : paths) places.push_back(IndexOf(*items, path));
  return places;
}

ArchiveTrouble DiagnoseArchiveItem(IDirectory* archive, const char16_t* path) {
  if (archive == nullptr || path == nullptr) return ArchiveTrouble::None;
  if (auto* sevenZip = dynamic_cast<C7zDirectory*>(archive)) return sevenZip->Trouble(path);
  if (auto* libArchive = dynamic_cast<CLibArchiveDirectory*>(archive)) {
    if (libArchive->IsEncrypted(path)) return ArchiveTrouble::NeedsPassword;
    if (libArchive->IsTooCostly(path)) return ArchiveTrouble::TooLarge;
    // Past where libarchive stopped, and not read by another route: in a
    // solid RAR 4, the method it does not decode; elsewhere, damage it
    // could not pass.
    if (libArchive->IsBeyondListing(path) && !libArchive->ReadsPastListing())
      return libArchive->IsSolid() ? ArchiveTrouble::UnsupportedMethod : ArchiveTrouble::Damaged;
    ComRef<IFile> file;
    return libArchive->OpenFile(&file, path, nullptr) == FILE_SYSTEM_OK ? ArchiveTrouble::None : ArchiveTrouble::Damaged;
  }
  return ArchiveTrouble::None;
}
