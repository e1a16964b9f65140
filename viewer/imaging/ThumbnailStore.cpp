#include "viewer/imaging/ThumbnailStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMagic[4] = {'V', 'M', 'T', 'N'};
constexpr uint32_t kVersion = 1;
constexpr char kSuffix[] = ".thumb";
// After a trim the folder holds at most this share of its cap, so that the
// next few thumbnails do not each start another.
constexpr uint64_t kTrimToEighths = 7;

// The header before the key and the pixels: magic, version, width, height,
// the key's length, all little-endian 32-bit words.
struct Header {
  char magic[4];
  uint32_t version;
  uint32_t width;
  uint32_t height;
  uint32_t keyLength;
};
static_assert(sizeof(Header) == 20);

uint64_t Fnv1a(const std::string& text) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

fs::path PathOf(const std::u16string& folder) { return fs::path(Utf16ToUtf8(folder)); }

bool IsThumbnail(const fs::directory_entry& entry) {
  std::error_code error;
  return entry.is_regular_file(error) && entry.path().extension() == kSuffix;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::u16string& path) {
  struct stat status {};
  if (::stat(Utf16ToUtf8(path).c_str(), &status) != 0) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(status.st_size),
                   static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

std::string ThumbnailKey::Text() const {
  return Utf16ToUtf8(book) + '\n' + std::to_string(stamp.size) + '\n' + std::to_string(stamp.modified) + '\n' +
         Utf16ToUtf8(entry) + '\n' + std::to_string(entrySize) + '\n' + std::to_string(variant);
}

CThumbnailStore::CThumbnailStore(std::u16string folder, uint64_t capBytes)
    : m_folder(std::move(folder)), m_cap(capBytes) {}

std::string CThumbnailStore::FileName(const ThumbnailKey& key) {
  static const char kHex[] = "0123456789abcdef";
  const uint64_t hash = Fnv1a(key.Text());
  std::string name(16, '0');
  for (int i = 0; i < 16; ++i) name[static_cast<std::size_t>(i)] = kHex[(hash >> (60 - 4 * i)) & 15];
  return name + kSuffix;
}

std::optional<PixelRows> CThumbnailStore::Load(const ThumbnailKey& key) const {
  const fs::path path = PathOf(m_folder) / FileName(key);
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::string text = key.Text();
  Header header{};
  if (!file.read(reinterpret_cast<char*>(&header), sizeof header)) return std::nullopt;
  if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kVersion || header.width == 0 ||
      header.height == 0 || header.width > kMostSide || header.height > kMostSide || header.keyLength != text.size())
    return std::nullopt;
  std::string stored(header.keyLength, '\0');
  if (!file.read(stored.data(), static_cast<std::streamsize>(stored.size())) || stored != text) return std::nullopt;
  PixelRows rows;
  rows.width = header.width;
  rows.height = header.height;
  rows.bgra.resize(4ull * header.width * header.height);
  if (!file.read(reinterpret_cast<char*>(rows.bgra.data()), static_cast<std::streamsize>(rows.bgra.size())))
    return std::nullopt;
  // Nothing after the pixels: a longer file is not one this wrote.
  if (file.peek() != std::ifstream::traits_type::eof()) return std::nullopt;
  file.close();
  // A use: the file is among the newest again.
  ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  return rows;
}

bool CThumbnailStore::Has(const ThumbnailKey& key) const {
  std::error_code error;
  return fs::is_regular_file(PathOf(m_folder) / FileName(key), error);
}

void CThumbnailStore::Save(const ThumbnailKey& key, const PixelRows& pixels) {
  if (!pixels.whole() || pixels.width > kMostSide || pixels.height > kMostSide) return;
  const fs::path folder = PathOf(m_folder);
  std::error_code error;
  // The pages a reader looked at are theirs alone.
  if (fs::create_directories(folder, error)) fs::permissions(folder, fs::perms::owner_all, error);
  const std::string text = key.Text();
  const Header header{{kMagic[0], kMagic[1], kMagic[2], kMagic[3]}, kVersion, pixels.width, pixels.height,
                      static_cast<uint32_t>(text.size())};
  // Written aside and renamed, so that a reader never sees half a file.
  static std::atomic<uint64_t> serial{0};
  const fs::path path = folder / FileName(key);
  const fs::path aside = folder / (FileName(key) + "." + std::to_string(::getpid()) + "." +
                                   std::to_string(serial.fetch_add(1)) + ".part");
  {
    std::ofstream file(aside, std::ios::binary | std::ios::trunc);
    if (!file) return;
    file.write(reinterpret_cast<const char*>(&header), sizeof header);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.write(reinterpret_cast<const char*>(pixels.bgra.data()), static_cast<std::streamsize>(pixels.bgra.size()));
    if (!file.flush()) {
      file.close();
      fs::remove(aside, error);
      return;
    }
  }
  fs::rename(aside, path, error);
  if (error) {
    fs::remove(aside, error);
    return;
  }
  const std::lock_guard<std::mutex> hold(m_lock);
  if (m_bytes) *m_bytes += sizeof header + text.size() + pixels.bgra.size();
  if (!m_bytes || *m_bytes > m_cap) Trim();
}

void CThumbnailStore::Trim() {
  struct Kept {
    fs::path path;
    fs::file_time_type time;
    uint64_t bytes;
  };
  std::vector<Kept> files;
  uint64_t total = 0;
  std::error_code error;
  for (fs::directory_iterator it(PathOf(m_folder), error), end; !error && it != end; it.increment(error)) {
    if (!IsThumbnail(*it)) continue;
    std::error_code e;
    const uint64_t bytes = it->file_size(e);
    const fs::file_time_type time = it->last_write_time(e);
    if (e) continue;
    files.push_back({it->path(), time, bytes});
    total += bytes;
  }
  if (total > m_cap) {
    std::sort(files.begin(), files.end(), [](const Kept& a, const Kept& b) {
      return a.time != b.time ? a.time < b.time : a.path < b.path;
    });
    const uint64_t goal = m_cap / 8 * kTrimToEighths;
    for (const Kept& file : files) {
      if (total <= goal) break;
      std::error_code e;
      if (fs::remove(file.path, e)) total -= file.bytes;
    }
  }
  m_bytes = total;
}
