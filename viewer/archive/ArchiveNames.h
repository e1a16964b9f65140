// Item names as archives store them: bytes in whatever encoding the writer
// used, turned into UTF-16 for the item table.
#pragma once

#include <string>
#include <string_view>

// Which writer's quirks a name may carry.
enum class ArchiveNameSource {
  Plain,
  // 7-Zip's LZH handler turns every byte 0x5C into "/", also the second
  // byte of a Shift-JIS character (ソ is 83 5C).
  Lzh,
};

// An item name as 7-Zip's library gives it (UTF-16 units; bytes that were
// not UTF-8 as U+EF80..U+EFFF), with those raw bytes decoded as Shift-JIS
// (CP932) where the whole name forms it; otherwise the name as given. For
// LZH, a "/" that stands where a Shift-JIS character's second byte belongs
// is that byte (0x5C) again.
std::u16string DecodeArchiveName(const std::u16string& units, ArchiveNameSource source);

// Name bytes as 7-Zip's library would give them: UTF-8 where it decodes,
// U+EF00 + byte where it does not.
std::u16string ArchiveBytesToUnits(std::string_view bytes);
