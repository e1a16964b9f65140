#include "viewer/archive/RarMainHeader.h"

#include <cstring>

namespace {

// RAR 5's variable-length integer at `at`; false past `size`.
bool ReadVint(const BYTE* bytes, std::size_t size, std::size_t& at, uint64_t& value) {
  value = 0;
  for (int shift = 0; at < size && shift < 64; shift += 7) {
    const BYTE b = bytes[at++];
    value |= uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

std::optional<RarMainHeader> ReadRarMainHeader(const BYTE* bytes, std::size_t size) {
  static const BYTE kRar4[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  static const BYTE kRar5[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
  // RAR 4: the main header (type 0x73) follows the signature: CRC, type, flags.
  if (size >= 12 && std::memcmp(bytes, kRar4, sizeof kRar4) == 0) {
    if (bytes[9] != 0x73) return std::nullopt;
    return RarMainHeader{false, static_cast<uint64_t>(bytes[10] | (bytes[11] << 8))};
  }
  // RAR 5: CRC, size, type 1, header flags, the optional extra and data
  // sizes, then the archive flags.
  if (size < 12 || std::memcmp(bytes, kRar5, sizeof kRar5) != 0) return std::nullopt;
  std::size_t at = 12;
  uint64_t headerSize = 0, type = 0, flags = 0, skipped = 0, archiveFlags = 0;
  if (!ReadVint(bytes, size, at, headerSize) || !ReadVint(bytes, size, at, type) || type != 1 ||
      !ReadVint(bytes, size, at, flags))
    return std::nullopt;
  if ((flags & 0x0001) && !ReadVint(bytes, size, at, skipped)) return std::nullopt;
  if ((flags & 0x0002) && !ReadVint(bytes, size, at, skipped)) return std::nullopt;
  if (!ReadVint(bytes, size, at, archiveFlags)) return std::nullopt;
  return RarMainHeader{true, archiveFlags};
}
