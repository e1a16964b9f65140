#pragma once

#include <cstdint>

#include "ordel/FileSystem.h"

// The first bytes of a file, up to `size`, its position left at the start;
// how many there were.
uint32_t ReadHead(IFile* file, BYTE* head, uint32_t size);
