#include "platform/wic_webp.h"

#include <webp/decode.h>

#include <bit>

// libwebp's BGRA is QImage's 32-bit layout on a little-endian machine.
static_assert(std::endian::native == std::endian::little);

QImage DecodeWebpScaled(std::span<const uint8_t> bytes, int width, int height) {
  WebPDecoderConfig config;
  if (width <= 0 || height <= 0 || !WebPInitDecoderConfig(&config)) return {};
  if (WebPGetFeatures(bytes.data(), bytes.size(), &config.input) != VP8_STATUS_OK || config.input.has_animation)
    return {};
  QImage image(width, height, config.input.has_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.isNull()) return {};
  config.options.use_scaling = 1;
  config.options.scaled_width = width;
  config.options.scaled_height = height;
  config.output.colorspace = MODE_BGRA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = image.bits();
  config.output.u.RGBA.stride = static_cast<int>(image.bytesPerLine());
  config.output.u.RGBA.size = static_cast<std::size_t>(image.sizeInBytes());
  const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
  WebPFreeDecBuffer(&config.output);
  return status == VP8_STATUS_OK ? image : QImage();
}
