// Thumbnails kept on disk between runs, so that a book opened again fills
// its page grid at once: one small file a thumbnail, named by a hash of
// what it shows (the book's path, size and time, the entry, how it was
// decoded), the key written inside too. A file is used only when its
// header, key and length agree; anything else is a miss. The folder's
// files are kept under a cap in bytes, those used longest ago dropped
// first (a use renews a file's time). Safe from any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "viewer/imaging/PixelBuffer.h"

// A file's size and modification time, as the disk has them now.
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // nanoseconds since the epoch
};
std::optional<FileStamp> StampOf(const std::u16string& path);

struct ThumbnailKey {
  std::u16string book;  // the path the book was opened by
  FileStamp stamp;      // the book's
  std::u16string entry;
  uint64_t entrySize = 0;
  uint32_t variant = 0;  // how the page was decoded (colours, orientation)

  // The key as text: what the file holds and what its name hashes.
  std::string Text() const;
};

class CThumbnailStore {
 public:
  static constexpr uint64_t kCapBytes = 256ull << 20;
  // The thumbnails are at most this large; a file saying otherwise is broken.
  static constexpr uint32_t kMostSide = 4096;

  // In `folder` (ending in "/"; made when first written to).
  explicit CThumbnailStore(std::u16string folder, uint64_t capBytes = kCapBytes);

  // The thumbnail kept for `key`; nothing when there is none or its file is
  // not sound.
  std::optional<PixelRows> Load(const ThumbnailKey& key) const;
  // Whether a file stands for `key` (unchecked: Load says whether it is sound).
  bool Has(const ThumbnailKey& key) const;
  // Keeps a thumbnail for `key`, then brings the folder within its cap.
  void Save(const ThumbnailKey& key, const PixelRows& pixels);
  // The file name (within the folder) of a key's thumbnail.
  static std::string FileName(const ThumbnailKey& key);
  const std::u16string& folder() const { return m_folder; }

 private:
  // Drops the oldest files until the folder is within its cap.
  void Trim();

  const std::u16string m_folder;
  const uint64_t m_cap;
  std::mutex m_lock;
  std::optional<uint64_t> m_bytes;  // the folder's total, once counted
};
