// The multimedia timer's clock.
#pragma once

#include "platform/types.h"

// Milliseconds since the clock started, wrapping at 2^32 like the Windows
// counter.
DWORD timeGetTime();
