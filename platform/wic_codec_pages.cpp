// What the AVIF, JPEG XL and HEIF decoders share: their pages' limits and
// memory, threads, levels and resolution.
#include <algorithm>
#include <cmath>
#include <thread>

#include "platform/exif_resolution.h"
#include "platform/wic_codecs.h"

bool FitsPageLimit(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxDecodedSide && height <= kMaxDecodedSide &&
         width * height <= kMaxDecodedPixels;
}

QImage NewPage(uint32_t width, uint32_t height, QImage::Format format) {
  if (!FitsPageLimit(width, height)) return {};
  return QImage(static_cast<int>(width), static_cast<int>(height), format);  // null when it cannot allocate
}

int DecoderThreads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

std::vector<uint8_t> LevelTable(int bits, bool limitedRange) {
  bits = std::clamp(bits, 1, 16);
  std::vector<uint8_t> table(std::size_t{1} << bits);
  const double scale = bits >= 8 ? std::ldexp(1.0, bits - 8) : 1.0;
  const double low = limitedRange ? 16 * scale : 0;
  const double span = limitedRange ? 219 * scale : static_cast<double>(table.size() - 1);
  for (std::size_t v = 0; v < table.size(); ++v)
    table[v] = static_cast<uint8_t>(std::clamp(std::lround((static_cast<double>(v) - low) * 255.0 / span), 0l, 255l));
  return table;
}

void ApplyExifResolution(QImage& page, std::span<const uint8_t> exif) {
  double dpiX = 0, dpiY = 0;
  if (!ReadExifResolution(exif, &dpiX, &dpiY)) return;
  page.setDotsPerMeterX(static_cast<int>(std::lround(dpiX / 0.0254)));
  page.setDotsPerMeterY(static_cast<int>(std::lround(dpiY / 0.0254)));
}
