// The resolution an Exif block states (IFD0's XResolution, YResolution and
// ResolutionUnit), for page formats that carry it only there.
#pragma once

#include <cstdint>
#include <span>

// Accepts the block as files hold it: bare TIFF data, "Exif\0\0" before
// it, or the 4-byte offset to it that HEIF and JPEG XL put first. False
// when no usable resolution is stated (none, no unit, zero, absurd).
bool ReadExifResolution(std::span<const uint8_t> exif, double* dpiX, double* dpiY);
