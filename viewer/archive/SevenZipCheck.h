// Whether a loaded 7-Zip library answers as this program declares it:
// asked before any archive goes through it, since a library built with
// another interface layout crashes on the first call that lands in the
// wrong slot.
#pragma once

#include <string>

#include "platform/system.h"

// Empty when the library in `module` may be used; otherwise why not, in a
// few ASCII words for the debug line.
std::string SevenZipRefusal(HMODULE module);
