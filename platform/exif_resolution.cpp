#include "platform/exif_resolution.h"

#include <cstring>
#include <optional>

namespace {

bool IsTiff(std::span<const uint8_t> b, std::size_t at) {
  return at + 8 <= b.size() && ((b[at] == 'I' && b[at + 1] == 'I' && b[at + 2] == 42 && b[at + 3] == 0) ||
                                (b[at] == 'M' && b[at + 1] == 'M' && b[at + 2] == 0 && b[at + 3] == 42));
}

bool IsExifMark(std::span<const uint8_t> b, std::size_t at) {
  return at + 6 <= b.size() && std::memcmp(&b[at], "Exif\0\0", 6) == 0;
}

std::optional<std::size_t> FindTiff(std::span<const uint8_t> b) {
  if (IsTiff(b, 0)) return 0;
  if (IsExifMark(b, 0) && IsTiff(b, 6)) return 6;
  if (b.size() >= 4) {
    const std::size_t offset = std::size_t{b[0]} << 24 | std::size_t{b[1]} << 16 | std::size_t{b[2]} << 8 | b[3];
    if (offset <= b.size() - 4) {
      const std::size_t at = 4 + offset;
      if (IsTiff(b, at)) return at;
      if (IsExifMark(b, at) && IsTiff(b, at + 6)) return at + 6;
    }
  }
  return std::nullopt;
}

class TiffReader {
 public:
  explicit TiffReader(std::span<const uint8_t> tiff) : m_b(tiff), m_little(tiff[0] == 'I') {}
  // Reads n bytes (2 or 4) at `at`; nullopt when they lie outside.
  std::optional<uint32_t> Get(uint64_t at, int n) const {
    if (at + static_cast<uint64_t>(n) > m_b.size()) return std::nullopt;
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      const uint32_t byte = m_b[at + static_cast<uint64_t>(m_little ? n - 1 - i : i)];
      v = v << 8 | byte;
    }
    return v;
  }

 private:
  std::span<const uint8_t> m_b;
  bool m_little;
};

constexpr uint16_t kXResolution = 0x011A, kYResolution = 0x011B, kResolutionUnit = 0x0128;
constexpr uint16_t kTypeShort = 3, kTypeRational = 5;

}  // namespace

bool ReadExifResolution(std::span<const uint8_t> exif, double* dpiX, double* dpiY) {
  const std::optional<std::size_t> start = FindTiff(exif);
  if (!start) return false;
  const TiffReader tiff(exif.subspan(*start));
  const std::optional<uint32_t> ifd = tiff.Get(4, 4);
  const std::optional<uint32_t> count = ifd ? tiff.Get(*ifd, 2) : std::nullopt;
  if (!count) return false;

  double x = 0, y = 0;
  uint32_t unit = 2;  // inches unless the block says otherwise
  for (uint32_t i = 0; i < *count; ++i) {
    const uint64_t entry = uint64_t{*ifd} + 2 + 12ull * i;
    const auto tag = tiff.Get(entry, 2), type = tiff.Get(entry + 2, 2), value = tiff.Get(entry + 8, 4);
    if (!tag || !type || !value) return false;
    if (*tag == kResolutionUnit && *type == kTypeShort) {
      unit = *tiff.Get(entry + 8, 2);
    } else if ((*tag == kXResolution || *tag == kYResolution) && *type == kTypeRational) {
      const auto numerator = tiff.Get(*value, 4), denominator = tiff.Get(uint64_t{*value} + 4, 4);
      if (!numerator || !denominator || *denominator == 0) return false;
      (*tag == kXResolution ? x : y) = static_cast<double>(*numerator) / *denominator;
    }
  }
  if (y == 0) y = x;
  const double perInch = unit == 2 ? 1.0 : unit == 3 ? 2.54 : 0.0;  // 1: no absolute unit
  x *= perInch;
  y *= perInch;
  auto sane = [](double dpi) { return dpi >= 1.0 && dpi <= 100000.0; };
  if (!sane(x) || !sane(y)) return false;
  *dpiX = x;
  *dpiY = y;
  return true;
}
