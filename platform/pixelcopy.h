// The copy-out rule of the bitmap sources: the pixels of a rectangle (the
// whole image when none is given) go to the caller's buffer row by row at
// the caller's stride. Rows and columns past the image are skipped; a
// rectangle wholly outside copies nothing and succeeds. At the first pixel
// whose bytes would not fit the buffer, copying stops with E_FAIL (what was
// written stays), so nothing is ever written past the buffer.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/wincodec.h"

// writeRow(y, x, count, destination) writes `count` pixels of row y,
// starting at column x, as bytesPerPixel bytes each.
template <class WriteRow>
HRESULT CopyPixelRect(UINT width, UINT height, UINT bytesPerPixel, const WICRect* rect, UINT stride,
                      UINT bufferSize, BYTE* buffer, WriteRow writeRow) {
  const WICRect whole{0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
  const WICRect r = rect != nullptr ? *rect : whole;
  if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0) return E_INVALIDARG;

  const uint64_t x0 = static_cast<uint64_t>(r.X);
  const uint64_t y0 = static_cast<uint64_t>(r.Y);
  const uint64_t xEnd = std::min<uint64_t>(x0 + static_cast<uint64_t>(r.Width), width);
  const uint64_t yEnd = std::min<uint64_t>(y0 + static_cast<uint64_t>(r.Height), height);
  if (x0 >= xEnd || y0 >= yEnd) return S_OK;
  if (buffer == nullptr) return E_INVALIDARG;

  const uint64_t columns = xEnd - x0;
  for (uint64_t y = y0; y < yEnd; ++y) {
    const uint64_t offset = (y - y0) * stride;
    const uint64_t room = offset < bufferSize ? bufferSize - offset : 0;
    const uint64_t fit = std::min<uint64_t>(columns, room / bytesPerPixel);
    if (fit > 0)
      writeRow(static_cast<UINT>(y), static_cast<UINT>(x0), static_cast<UINT>(fit), buffer + offset);
    if (fit < columns) return E_FAIL;
  }
  return S_OK;
}
