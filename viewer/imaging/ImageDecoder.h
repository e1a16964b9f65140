// The one road from a file's bytes to pixels ready to draw: the decoders
// read the first frame, and a monochrome page may be turned into false
// colour on the way.
#pragma once

#include <cstdint>

#include "ordel/FileSystem.h"
#include "platform/wincodec.h"

enum class Colorizing {
  Off,  // every page in its own colours
  On,   // gray pages, and colour pages found monochrome, through the palette
};

// 0 and the file's first frame as 32bppPBGRA in *out; 1 (*out untouched)
// when the file is no image the decoders read, or its pixels cannot be held.
int32_t DecodeImage(IFile* file, Colorizing colorizing, ComRef<IWICBitmapSource>& out);
