// The rows of a PNG that Qt's reader gave up on: Qt hands over no row of a
// file that breaks part way, so a page cut short would show nothing of
// what arrived.
#pragma once

#include <QtGui/QImage>

#include <cstdint>
#include <span>

// The rows of the PNG in `bytes` that decode before its data ends or
// breaks, as RGBA over opaque mid-gray (where the JPEG decoder leaves the
// rest of a page cut short); a null image when no row decodes, or when the
// page is larger than `maxPixels` or `maxSide`.
QImage DecodePngRows(std::span<const uint8_t> bytes, uint64_t maxPixels, uint64_t maxSide);
