// Finding the page formats of wic_codecs.h by content, and what their
// decoders share.
#include "platform/wic_codecs.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include "platform/exif_resolution.h"
#include "platform/wincodec.h"

namespace {

bool Is(const uint8_t* fourcc, const char* what) { return std::memcmp(fourcc, what, 4) == 0; }

bool AnyOf(const uint8_t* brand, std::initializer_list<const char*> brands) {
  return std::any_of(brands.begin(), brands.end(), [&](const char* b) { return Is(brand, b); });
}

// HEVC-coded brands; 'mif1' and 'msf1' say only "some image format".
const std::initializer_list<const char*> kHevcBrands = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs"};

CodecKind SniffIsoMedia(std::span<const uint8_t> head) {
  if (head.size() < 16 || !Is(&head[4], "ftyp")) return CodecKind::None;
  const uint32_t boxSize = uint32_t{head[0]} << 24 | uint32_t{head[1]} << 16 | uint32_t{head[2]} << 8 | head[3];
  if (boxSize < 16) return CodecKind::None;
  const std::size_t end = std::min<std::size_t>(boxSize, head.size());
  // Brands: the major one at 8, the compatible ones from 16 (12 is the
  // minor version). AV1 goes to the AVIF decoder even when the file also
  // names generic HEIF brands; anything else HEIF-like goes to libheif.
  std::vector<const uint8_t*> brands{&head[8]};
  for (std::size_t at = 16; at + 4 <= end; at += 4) brands.push_back(&head[at]);
  if (AnyOf(brands[0], kHevcBrands)) return CodecKind::Heif;
  for (const uint8_t* b : brands)
    if (AnyOf(b, {"avif", "avis"})) return CodecKind::Avif;
  for (const uint8_t* b : brands)
    if (AnyOf(b, kHevcBrands) || AnyOf(b, {"mif1", "msf1"})) return CodecKind::Heif;
  return CodecKind::None;
}

}  // namespace

CodecKind SniffCodec(std::span<const uint8_t> head) {
  // JPEG XL: a bare codestream, or the container's signature box.
  static constexpr uint8_t kJxlContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  if (head.size() >= 2 && head[0] == 0xFF && head[1] == 0x0A) return CodecKind::JpegXl;
  if (head.size() >= 12 && std::memcmp(head.data(), kJxlContainer, 12) == 0) return CodecKind::JpegXl;
  return SniffIsoMedia(head);
}

namespace {

// libheif is C++ and may throw (std::bad_alloc) through its C interface.
template <class Call>
HRESULT Guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return WINCODEC_ERR_BADIMAGE;
  }
}

}  // namespace

HRESULT ProbeCodec(CodecKind kind, EncodedBytes bytes, ImageHeader* header) {
  return Guarded([&] {
    switch (kind) {
      case CodecKind::Avif:
        return ProbeAvif(bytes, header);
      case CodecKind::JpegXl:
        return ProbeJxl(bytes, header);
      case CodecKind::Heif:
        return ProbeHeif(bytes, header);
      case CodecKind::None:
        break;
    }
    return WINCODEC_ERR_COMPONENTNOTFOUND;
  });
}

HRESULT DecodeCodec(CodecKind kind, EncodedBytes bytes, QImage* page) {
  return Guarded([&] {
    switch (kind) {
      case CodecKind::Avif:
        return DecodeAvif(bytes, page);
      case CodecKind::JpegXl:
        return DecodeJxl(bytes, page);
      case CodecKind::Heif:
        return DecodeHeif(bytes, page);
      case CodecKind::None:
        break;
    }
    return WINCODEC_ERR_COMPONENTNOTFOUND;
  });
}

bool FitsPageLimit(uint64_t width, uint64_t height) {
  return width > 0 && height > 0 && width <= kMaxDecodedPixels && height <= kMaxDecodedPixels &&
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
