// JPEG pages through libjpeg-turbo, straight from the file's bytes: decoded
// at any eighth of their size (its DCT scaling costs little more than the
// pixels it makes) and written in the layout the page is kept in, with no
// copy between.
#pragma once

#include <QtGui/QImage>

#include <cstdint>
#include <span>
#include <string>

struct JpegHeader {
  uint32_t width = 0;  // as stored
  uint32_t height = 0;
  int orientation = 1;  // the Exif orientation, 1 to 8; 1 when none is stated
  int dotsPerMeterX = 0;  // the JFIF density; 0 when it states none
  int dotsPerMeterY = 0;
  // A JPEG of several scans (progressive): the whole page's coefficients,
  // which libjpeg holds while it decodes at any scale, in bytes. 0 for one
  // scan, decoded a band at a time.
  uint64_t coefficientBytes = 0;
};

// False when libjpeg cannot read the header.
bool ReadJpegHeader(std::span<const uint8_t> bytes, JpegHeader* header);

struct JpegPixels {
  // RGB32 for colour (CMYK and YCCK converted, as Adobe writes them, with
  // their inks inverted) or Grayscale8 for a gray JPEG, at eighths / 8 of
  // the stored size rounded up; null when no row decoded.
  QImage image;
  // libjpeg's first word that the data was corrupt or ended early, or why
  // it stopped after some rows; empty when it said neither. Bytes passed
  // over between segments are no damage and are not told.
  std::u16string trouble;
};

// `eighths` is 1 to 8.
JpegPixels DecodeJpeg(std::span<const uint8_t> bytes, unsigned eighths);
