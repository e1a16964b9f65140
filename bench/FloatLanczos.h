// The page scaler as it was before its fixed-point rewrite: float weights,
// float rows, no block averaging (the benchmark's shrink never needs it).
// Kept as the reference the new scaler is timed and compared against.
#pragma once

#include <cstdint>

#include "viewer/imaging/WICBitmapScaler.h"

namespace bench {

bool FloatLanczos(RowSource& source, uint32_t width, uint32_t height, uint8_t* out, uint32_t outWidth,
                  uint32_t outHeight, uint32_t outStride);

}  // namespace bench
