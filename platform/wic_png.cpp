#include "platform/wic_png.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>

namespace {

struct Decode {
  std::span<const uint8_t> bytes;
  std::size_t at = 0;
  QImage image;
  int rows = 0;  // rows written, over all passes
};

void ReadBytes(png_structp png, png_bytep out, png_size_t length) {
  auto* decode = static_cast<Decode*>(png_get_io_ptr(png));
  if (decode->bytes.size() - decode->at < length) png_error(png, "cut short");
  std::memcpy(out, decode->bytes.data() + decode->at, length);
  decode->at += length;
}

[[noreturn]] void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void Quiet(png_structp, png_const_charp) {}

}  // namespace

QImage DecodePngRows(std::span<const uint8_t> bytes, uint64_t maxPixels, uint64_t maxSide) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &Fail, &Quiet);
  if (png == nullptr) return {};
  png_infop info = png_create_info_struct(png);
  // On the heap: what longjmp comes back to must not live in registers.
  const auto decode = std::make_unique<Decode>();
  decode->bytes = bytes;
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    return decode->rows > 0 ? std::move(decode->image) : QImage();
  }
  png_set_read_fn(png, decode.get(), &ReadBytes);
  // A check that fails still leaves data worth showing, marked as damaged.
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  if (width == 0 || height == 0 || width > maxSide || height > maxSide || uint64_t{width} * height > maxPixels)
    png_error(png, "too large");
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != uint64_t{width} * 4) png_error(png, "unexpected layout");
  decode->image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
  if (decode->image.isNull()) png_error(png, "no memory");
  decode->image.fill(QColor(128, 128, 128));
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, decode->image.scanLine(static_cast<int>(y)), nullptr);
      ++decode->rows;
    }
  png_destroy_read_struct(&png, &info, nullptr);
  return std::move(decode->image);
}
