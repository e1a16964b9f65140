// A RAR 4 file header's name: its bytes as stored, or, where the header
// says so, the Unicode name packed after them.
#pragma once

#include <string>

#include "platform/system.h"

// The name in the `size` bytes of a file header's name field; `unicode`:
// the header's flag 0x0200 (a packed Unicode name follows a zero byte).
// "\\" separates folders, as the archive stores them.
std::u16string DecodeRar4Name(const BYTE* bytes, std::size_t size, bool unicode);
