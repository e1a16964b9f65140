#include "viewer/archive/RarVolumes.h"

#include "viewer/archive/RarMainHeader.h"

namespace {

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
  const std::optional<RarMainHeader> header = ReadRarMainHeader(bytes, size);
  if (!header || (header->flags & 0x0001) == 0) return RarVolume::None;
  // RAR 5: every volume but the first has a volume number.
  if (header->rar5) return (header->flags & 0x0002) ? RarVolume::Later : RarVolume::First;
  // RAR 4: 0x0100 marks the first of a set named "partN"; the older naming
  // has no such flag: there, the first file's "continued from before" flag,
  // 0x01, tells a later volume (the file header follows the main header,
  // whose size is at 12).
  if ((header->flags & 0x0100) != 0 || size < 14) return RarVolume::First;
  const std::size_t next = 7 + (bytes[12] | (bytes[13] << 8));
  return size >= next + 5 && bytes[next + 2] == 0x74 && (bytes[next + 3] & 0x01) ? RarVolume::Later : RarVolume::First;
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
