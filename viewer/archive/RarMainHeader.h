// What a RAR's main header, right after its signature, says of the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/system.h"

struct RarMainHeader {
  bool rar5 = false;
  // RAR 4: the main header's flags (0x0001 a volume, 0x0008 solid, 0x0100
  // the first volume of a "partN" set); RAR 5: the archive flags (0x0001 a
  // volume, 0x0002 a volume number follows, 0x0004 solid).
  uint64_t flags = 0;
};

// The main header at the start of `bytes`; nothing when they are no RAR's
// or end first.
std::optional<RarMainHeader> ReadRarMainHeader(const BYTE* bytes, std::size_t size);
