// A regular file on disk as an IFile, read through a descriptor of its own.
// For an archive opened before the program's file system is made: making
// that one writes its report into the debug output, whose order stays.
#pragma once

#include <string>

#include "ordel/FileSystem.h"

// 0 and the file at `path` (absolute, UTF-16) in *out; 1 when it cannot be
// opened or is not a regular file.
int32_t OpenDiskFile(const std::u16string& path, IFile** out);
