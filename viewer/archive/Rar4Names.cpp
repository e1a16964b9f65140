#include "viewer/archive/Rar4Names.h"

#include <string_view>

#include "viewer/archive/ArchiveNames.h"

namespace {

// The packed name after the zero byte: a shared high byte, then two bits a
// unit saying how it is stored (a flag byte for every four units): a low
// byte alone, a low byte with the shared high one, both bytes, or a run
// copied from the plain name (with a correction to the low byte added).
std::u16string UnpackUnicode(const BYTE* plain, std::size_t plainSize, const BYTE* packed, std::size_t size) {
  std::u16string out;
  if (size == 0) return out;
  std::size_t at = 0;
  const char16_t high = static_cast<char16_t>(packed[at++] << 8);
  unsigned flags = 0;
  int flagBits = 0;
  while (at < size) {
    if (flagBits == 0) {
      flags = packed[at++];
      flagBits = 8;
      if (at >= size) break;
    }
    switch ((flags >> 6) & 3) {
      case 0: out.push_back(packed[at++]); break;
      case 1: out.push_back(static_cast<char16_t>(high | packed[at++])); break;
      case 2:
        if (at + 1 >= size) return out;
        out.push_back(static_cast<char16_t>(packed[at] | (packed[at + 1] << 8)));
        at += 2;
        break;
      case 3: {
        const unsigned length = packed[at++];
        unsigned correction = 0;
        if (length & 0x80) {
          if (at >= size) return out;
          correction = packed[at++];
        }
        for (unsigned n = (length & 0x7F) + 2; n > 0 && out.size() < plainSize; --n) {
          const BYTE from = plain[out.size()];
          out.push_back(length & 0x80 ? static_cast<char16_t>(high | ((from + correction) & 0xFF)) : from);
        }
        break;
      }
    }
    flags = (flags << 2) & 0xFF;
    flagBits -= 2;
  }
  return out;
}

}  // namespace

std::u16string DecodeRar4Name(const BYTE* bytes, std::size_t size, bool unicode) {
  std::size_t plain = 0;
  while (plain < size && bytes[plain] != 0) ++plain;
  if (unicode && plain < size) {
    std::u16string name = UnpackUnicode(bytes, plain, bytes + plain + 1, size - plain - 1);
    if (!name.empty()) return name;
  }
  // Bytes in the writer's code page: Shift-JIS is told apart from UTF-8
  // as for every other archive.
  const std::string_view raw(reinterpret_cast<const char*>(bytes), plain);
  return DecodeArchiveName(ArchiveBytesToUnits(raw), ArchiveNameSource::Plain);
}
