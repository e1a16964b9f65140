#include "platform/wic_jpeg.h"

// jpeglib.h names FILE and size_t without including what declares them.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>

namespace {

// One decompression, its errors turned into a jump back to the step that
// called libjpeg. Plain data: nothing here, nor in the frames of the steps
// below, has a destructor for the jump to pass over.
struct JpegSession {
  jpeg_decompress_struct info;
  jpeg_error_mgr error;
  std::jmp_buf jump;
  char trouble[JMSG_LENGTH_MAX];  // the first warning that the picture is damaged
  char failure[JMSG_LENGTH_MAX];  // why libjpeg gave up
};

JpegSession* SessionOf(j_common_ptr info) { return static_cast<JpegSession*>(info->client_data); }

[[noreturn]] void JpegGiveUp(j_common_ptr info) {
  JpegSession* session = SessionOf(info);
  (*info->err->format_message)(info, session->failure);
  std::longjmp(session->jump, 1);
}

bool StartsWith(const char* text, const char* start) { return std::strncmp(text, start, std::strlen(start)) == 0; }

// libjpeg decodes corrupt data as best it can and only warns: the first
// warning that data was lost is kept. Bytes between segments are passed
// over whole, with no damage to the picture.
void JpegWarn(j_common_ptr info, int level) {
  if (level >= 0) return;  // trace lines
  ++info->err->num_warnings;
  JpegSession* session = SessionOf(info);
  if (session->trouble[0] != '\0') return;
  char message[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, message);
  if ((StartsWith(message, "Corrupt JPEG data") || StartsWith(message, "Premature end")) &&
      std::strstr(message, "extraneous bytes") == nullptr)
    std::memcpy(session->trouble, message, sizeof message);
}

std::unique_ptr<JpegSession> NewSession() {
  auto session = std::make_unique<JpegSession>();  // zeroed: safe to destroy whatever happens
  session->info.err = jpeg_std_error(&session->error);
  session->error.error_exit = &JpegGiveUp;
  session->error.emit_message = &JpegWarn;
  session->info.client_data = session.get();
  return session;
}

// The steps that call libjpeg, each its own landing place.

bool OpenJpeg(JpegSession* s, const uint8_t* bytes, std::size_t size, bool keepExif) {
  if (setjmp(s->jump) != 0) return false;
  jpeg_create_decompress(&s->info);
  jpeg_mem_src(&s->info, bytes, static_cast<unsigned long>(size));
  if (keepExif) jpeg_save_markers(&s->info, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&s->info, TRUE);
  return true;
}

bool SizeOutput(JpegSession* s, unsigned eighths) {
  if (setjmp(s->jump) != 0) return false;
  s->info.scale_num = eighths;
  s->info.scale_denom = 8;
  const J_COLOR_SPACE stored = s->info.jpeg_color_space;
  s->info.out_color_space = stored == JCS_GRAYSCALE                   ? JCS_GRAYSCALE
                            : stored == JCS_CMYK || stored == JCS_YCCK ? JCS_CMYK
                                                                       : JCS_EXT_BGRA;  // X set to 0xFF, unlike BGRX
  jpeg_calc_output_dimensions(&s->info);
  return true;
}

// Adobe's CMYK, stored inverted, into BGRA in place: each ink times black.
void InksToBgra(uint8_t* row, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, row += 4) {
    const unsigned c = row[0], m = row[1], y = row[2], k = row[3];
    row[0] = static_cast<uint8_t>(k * y / 255);
    row[1] = static_cast<uint8_t>(k * m / 255);
    row[2] = static_cast<uint8_t>(k * c / 255);
    row[3] = 0xFF;
  }
}

// Rows straight into the image; false when libjpeg gave up, after
// info.output_scanline rows.
bool ReadRows(JpegSession* s, uint8_t* bits, std::size_t stride) {
  if (setjmp(s->jump) != 0) return false;
  jpeg_start_decompress(&s->info);
  const bool inks = s->info.out_color_space == JCS_CMYK;
  while (s->info.output_scanline < s->info.output_height) {
    JSAMPROW rows[16];
    const JDIMENSION first = s->info.output_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(16, s->info.output_height - first);
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = bits + (first + i) * stride;
    const JDIMENSION read = jpeg_read_scanlines(&s->info, rows, count);
    if (inks)
      for (JDIMENSION i = 0; i < read; ++i) InksToBgra(rows[i], s->info.output_width);
    if (read == 0) break;
  }
  jpeg_finish_decompress(&s->info);
  return true;
}

uint32_t ExifNumber(std::span<const uint8_t> b, std::size_t at, int bytes, bool little) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | b[at + static_cast<std::size_t>(little ? bytes - 1 - i : i)];
  return value;
}

// The orientation tag of an Exif block ("Exif\0\0" and TIFF data), looked
// for in IFD0 and the IFDs chained after it, as Qt's reader did; 1 when none.
int OrientationInExif(std::span<const uint8_t> exif) {
  if (exif.size() < 14 || std::memcmp(exif.data(), "Exif\0\0", 6) != 0) return 1;
  const std::span<const uint8_t> tiff = exif.subspan(6);
  const bool little = tiff[0] == 'I' && tiff[1] == 'I';
  if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
  if (ExifNumber(tiff, 2, 2, little) != 42) return 1;
  std::size_t ifd = ExifNumber(tiff, 4, 4, little), passed = 8;
  for (int n = 0; n < 10 && ifd >= passed && ifd + 2 <= tiff.size(); ++n) {  // never backwards
    const std::size_t entries = ExifNumber(tiff, ifd, 2, little);
    std::size_t at = ifd + 2;
    for (std::size_t i = 0; i < entries && at + 12 <= tiff.size(); ++i, at += 12)
      if (ExifNumber(tiff, at, 2, little) == 0x0112) {
        const uint32_t value = ExifNumber(tiff, at + 8, 2, little);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
      }
    if (at + 4 > tiff.size()) break;
    passed = at + 4;
    ifd = ExifNumber(tiff, at, 4, little);
    if (ifd == 0) break;
  }
  return 1;
}

std::u16string Widened(const char* text) {
  std::u16string wide;
  for (; *text != '\0'; ++text) wide += static_cast<char16_t>(static_cast<unsigned char>(*text));
  return wide;
}

}  // namespace

bool ReadJpegHeader(std::span<const uint8_t> bytes, JpegHeader* header) {
  if (bytes.empty()) return false;
  const std::unique_ptr<JpegSession> session = NewSession();
  const bool read = OpenJpeg(session.get(), bytes.data(), bytes.size(), true);
  if (read) {
    const jpeg_decompress_struct& info = session->info;
    header->width = info.image_width;
    header->height = info.image_height;
    header->orientation = 1;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next)
      if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 &&
          std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
        header->orientation = OrientationInExif(std::span<const uint8_t>(marker->data, marker->data_length));
        break;
      }
    // As Qt's reader took it: dots per inch or per centimetre.
    const double perUnit = info.density_unit == 1 ? 100.0 / 2.54 : info.density_unit == 2 ? 100.0 : 0.0;
    header->dotsPerMeterX = static_cast<int>(perUnit * info.X_density);
    header->dotsPerMeterY = static_cast<int>(perUnit * info.Y_density);
    // As libjpeg sizes the buffer: each component's blocks, rounded up to
    // whole units of its sampling.
    header->coefficientBytes = 0;
    if (jpeg_has_multiple_scans(&session->info))
      for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const auto roundUp = [](uint64_t blocks, int unit) { return (blocks + unit - 1) / unit * unit; };
        header->coefficientBytes += roundUp(component.width_in_blocks, component.h_samp_factor) *
                                    roundUp(component.height_in_blocks, component.v_samp_factor) * sizeof(JBLOCK);
      }
  }
  jpeg_destroy_decompress(&session->info);
  return read;
}

JpegPixels DecodeJpeg(std::span<const uint8_t> bytes, unsigned eighths) {
  JpegPixels pixels;
  if (bytes.empty() || eighths < 1 || eighths > 8) return pixels;
  const std::unique_ptr<JpegSession> session = NewSession();
  JpegSession* s = session.get();
  if (OpenJpeg(s, bytes.data(), bytes.size(), false) && SizeOutput(s, eighths)) {
    const bool gray = s->info.out_color_space == JCS_GRAYSCALE;
    QImage image(static_cast<int>(s->info.output_width), static_cast<int>(s->info.output_height),
                 gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (!image.isNull()) {
      const std::size_t stride = static_cast<std::size_t>(image.bytesPerLine());
      const bool whole = ReadRows(s, image.bits(), stride);
      const int rows = static_cast<int>(s->info.output_scanline);
      if (whole || rows > 0) {
        // Rows libjpeg never reached: mid-gray, as it leaves data that ends early.
        for (int y = rows; y < image.height(); ++y) {
          uint8_t* row = image.scanLine(y);
          if (gray)
            std::memset(row, 0x80, stride);
          else
            std::fill_n(reinterpret_cast<uint32_t*>(row), image.width(), 0xFF808080u);
        }
        pixels.image = std::move(image);
        if (s->trouble[0] != '\0')
          pixels.trouble = Widened(s->trouble);
        else if (!whole)
          pixels.trouble = Widened(s->failure);
      }
    }
  }
  jpeg_destroy_decompress(&s->info);
  return pixels;
}
