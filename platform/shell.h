// The shell's list of recent documents: the freedesktop recently-used.xbel
// of the user's data folder ($XDG_DATA_HOME, else ~/.local/share).
#pragma once

#include "platform/types.h"

constexpr UINT SHARD_PATHW = 3;

// Adds (or refreshes) the file at the absolute path `data` (with SHARD_PATHW).
void SHAddToRecentDocs(UINT flags, const void* data);
