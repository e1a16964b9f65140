// A RAR archive split into volumes: which of a set a file is, and the
// names its other volumes have beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system.h"

enum class RarVolume {
  None,   // not a volume of a set (or no RAR at all)
  First,  // the set's first volume: the one a book opens
  Later,  // a later volume: read only through the first
};
// What the main header at the start of `bytes` says (RAR 4 or 5).
RarVolume RarVolumeOf(const BYTE* bytes, std::size_t size);

// The name of volume `number` (2 for the second) of the set whose first
// volume is named `first`: "book.part1.rar" gives "book.part2.rar" (as many
// digits as the first has, or more), and "book.rar" gives "book.r00" for the
// second; nullopt for a name that follows neither pattern.
std::optional<std::u16string> RarVolumeName(const std::u16string& first, uint32_t number);
