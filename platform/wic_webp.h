// Still WebP pages through libwebp itself, scaled while they decode (its
// rescaler averages what each new pixel covers), where Qt's reader decodes
// every pixel and leaves the shrinking to later.
#pragma once

#include <QtGui/QImage>

#include <cstdint>
#include <span>

// A still WebP's picture at `width` x `height`, in the layout Qt's reader
// hands a WebP over in: 32-bit ARGB when it has alpha, else RGB. Null when
// it is animated, does not decode whole, or memory cannot be had.
QImage DecodeWebpScaled(std::span<const uint8_t> bytes, int width, int height);
