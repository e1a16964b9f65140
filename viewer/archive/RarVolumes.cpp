#include "viewer/archive/RarVolumes.h"

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

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool EndsWith(const std::u16string& name, const std::u16string& tail) {
  if (name.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (Lower(name[name.size() - tail.size() + i]) != tail[i]) return false;
  return true;
}

std::u16string Digits(uint32_t value, std::size_t width) {
  std::u16string text;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  while (text.size() < width) text.insert(text.begin(), u'0');
  return text;
}

}  // namespace

RarVolume RarVolumeOf(const BYTE* bytes, std::size_t size) {
  static const BYTE kRar4[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
  static const BYTE kRar5[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
  // RAR 4: the main header's flags; 0x0001 a volume, 0x0100 the first of a
  // set named "partN" (the older naming has no such flag: there, the first
  // file's "continued from before" flag, 0x01, tells a later volume).
  if (size >= 12 && std::memcmp(bytes, kRar4, sizeof kRar4) == 0) {
    if (bytes[9] != 0x73 || (bytes[10] & 0x01) == 0) return RarVolume::None;
    if (bytes[11] & 0x01) return RarVolume::First;
    const std::size_t next = 7 + (bytes[12] | (bytes[13] << 8));
    return size >= next + 5 && bytes[next + 2] == 0x74 && (bytes[next + 3] & 0x01) ? RarVolume::Later : RarVolume::First;
  }
  // RAR 5: the archive flags; 0x0001 a volume, 0x0002 a volume number
  // follows (every volume but the first has one).
  if (size < 12 || std::memcmp(bytes, kRar5, sizeof kRar5) != 0) return RarVolume::None;
  std::size_t at = 12;
  uint64_t headerSize = 0, type = 0, flags = 0, skipped = 0, archiveFlags = 0;
  if (!ReadVint(bytes, size, at, headerSize) || !ReadVint(bytes, size, at, type) || type != 1 ||
      !ReadVint(bytes, size, at, flags))
    return RarVolume::None;
  if ((flags & 0x0001) && !ReadVint(bytes, size, at, skipped)) return RarVolume::None;
  if ((flags & 0x0002) && !ReadVint(bytes, size, at, skipped)) return RarVolume::None;
  if (!ReadVint(bytes, size, at, archiveFlags) || (archiveFlags & 0x0001) == 0) return RarVolume::None;
  return (archiveFlags & 0x0002) ? RarVolume::Later : RarVolume::First;
}

std::optional<std::u16string> RarVolumeName(const std::u16string& first, uint32_t number) {
  if (number < 2 || !EndsWith(first, u".rar")) return std::nullopt;
  const std::size_t stem = first.size() - 4;
  // "….partN.rar": N's digits, after ".part".
  std::size_t digits = stem;
  while (digits > 0 && first[digits - 1] >= u'0' && first[digits - 1] <= u'9') --digits;
  if (digits < stem && EndsWith(first.substr(0, digits), u".part"))
    return first.substr(0, digits) + Digits(number, stem - digits) + first.substr(stem);
  // "….rar", "….r00", "….r01", …
  if (number > 101) return std::nullopt;
  return first.substr(0, stem) + u".r" + Digits(number - 2, 2);
}
