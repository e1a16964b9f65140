// Test helpers for imaging: a file in memory behind IFile, a bitmap source
// over a byte array, and a decode through the imaging component. With
// VELMORA_PAGE_ENCODERS defined first, also AVIF, JPEG XL and HEIF writers
// on the libraries' encoders (link libavif, libjxl and libheif).
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Stream.h"
#include "platform/wincodec.h"

namespace test {

// A read-only IFile over bytes, with the memory file's seek rules.
class MemoryFile final : public CUnknownImpl<IFile> {
 public:
  explicit MemoryFile(std::string bytes) : m_bytes(std::move(bytes)) {}
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    const std::size_t n = std::min<std::size_t>(bytes, m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    if (bytesRead != nullptr) *bytesRead = static_cast<uint32_t>(n);
    return 0;
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override {
    const int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(m_position)
                                                       : static_cast<int64_t>(m_bytes.size());
    if (origin > 2 || base + distance < 0 || base + distance > static_cast<int64_t>(m_bytes.size())) return 1;
    m_position = static_cast<std::size_t>(base + distance);
    if (newPosition != nullptr) *newPosition = m_position;
    return 0;
  }
  int32_t GetSize(uint64_t* size) override {
    *size = m_bytes.size();
    return 0;
  }

 private:
  std::string m_bytes;
  std::size_t m_position = 0;
};

inline void NewStream(const std::string& bytes, Ref<IStream>& stream) {
  IFile* file = nullptr;
  HandOut(new MemoryFile(bytes), IID_IFile, reinterpret_cast<void**>(&file));
  CreateFileStream(file, &stream);
  file->Release();
}

// A decoder over `bytes`, made the way the viewer makes one; the HRESULT
// of the first step that failed.
inline HRESULT OpenDecoder(const std::string& bytes, Ref<IWICBitmapDecoder>& decoder) {
  Ref<IStream> stream;
  NewStream(bytes, stream);
  Ref<IWICImagingFactory> factory;
  const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  return factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder);
}

// Decodes frame 0 of `bytes` the way the viewer does; the HRESULT of the
// first step that failed, or S_OK with *frame set.
inline HRESULT Decode(const std::string& bytes, IWICBitmapFrameDecode** frame) {
  Ref<IWICBitmapDecoder> decoder;
  const HRESULT hr = OpenDecoder(bytes, decoder);
  if (FAILED(hr)) return hr;
  return decoder->GetFrame(0, frame);
}

// A bitmap source over packed rows, as another module's object would be.
class ArraySource final : public CUnknownImpl<IWICBitmapSource> {
 public:
  ArraySource(const GUID& format, UINT width, UINT height, UINT bytesPerPixel, std::vector<BYTE> pixels)
      : m_format(format), m_width(width), m_height(height), m_bpp(bytesPerPixel), m_pixels(std::move(pixels)) {}
  HRESULT GetSize(UINT* w, UINT* h) override {
    *w = m_width;
    *h = m_height;
    return S_OK;
  }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override {
    *format = m_format;
    return S_OK;
  }
  HRESULT GetResolution(double* x, double* y) override {
    *x = 300;
    *y = 600;
    return S_OK;
  }
  HRESULT CopyPalette(IWICPalette*) override { return E_NOTIMPL; }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
    ++copies;
    if (rect != nullptr) return E_INVALIDARG;  // the system always asks for the whole image
    const UINT row = m_width * m_bpp;
    if (stride < row || (m_height > 0 && static_cast<uint64_t>(stride) * (m_height - 1) + row > size)) return E_FAIL;
    for (UINT y = 0; y < m_height; ++y) std::memcpy(buffer + y * stride, m_pixels.data() + y * row, row);
    return S_OK;
  }
  int copies = 0;

 private:
  GUID m_format;
  UINT m_width, m_height, m_bpp;
  std::vector<BYTE> m_pixels;
};

}  // namespace test

#ifdef VELMORA_PAGE_ENCODERS
#include <QtGui/QImage>
#include <avif/avif.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

namespace test {

// The page writers take a QImage in Grayscale8, Grayscale16 (deep gray:
// its samples already hold 0 ... 2^bits - 1), RGB888 or RGBA8888, and write
// it losslessly where the format can (AVIF, JPEG XL), at top quality where
// it cannot (HEIF). An empty string when the encoder refuses.
struct PageOptions {
  int bits = 8;
  std::string exif;     // an Exif block to carry (TIFF data)
  int orientation = 1;  // JPEG XL only: the codestream's orientation
  int quarterTurns = 0;  // AVIF only: an 'irot' box turning anti-clockwise
};

inline int Channels(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
      return 1;
    case QImage::Format_RGB888:
      return 3;
    default:
      return 4;
  }
}

// Frames after the first make an image sequence.
inline std::string EncodeAvif(const std::vector<QImage>& frames, const PageOptions& options = {}) {
  avifEncoder* encoder = avifEncoderCreate();
  encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
  encoder->speed = AVIF_SPEED_FASTEST;
  encoder->minQuantizer = encoder->maxQuantizer = AVIF_QUANTIZER_LOSSLESS;
  encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
  bool ok = true;
  for (const QImage& frame : frames) {
    const int channels = Channels(frame);
    const uint32_t w = static_cast<uint32_t>(frame.width()), h = static_cast<uint32_t>(frame.height());
    avifImage* image = avifImageCreate(w, h, static_cast<uint32_t>(options.bits),
                                       channels == 1 ? AVIF_PIXEL_FORMAT_YUV400 : AVIF_PIXEL_FORMAT_YUV444);
    image->yuvRange = AVIF_RANGE_FULL;
    if (options.quarterTurns != 0) {
      image->transformFlags |= AVIF_TRANSFORM_IROT;
      image->irot.angle = static_cast<uint8_t>(options.quarterTurns);
    }
    if (!options.exif.empty())
      avifImageSetMetadataExif(image, reinterpret_cast<const uint8_t*>(options.exif.data()), options.exif.size());
    if (channels == 1) {
      avifImageAllocatePlanes(image, AVIF_PLANES_YUV);
      for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = image->yuvPlanes[AVIF_CHAN_Y] + y * image->yuvRowBytes[AVIF_CHAN_Y];
        if (options.bits > 8) std::memcpy(row, frame.constScanLine(static_cast<int>(y)), 2 * w);
        else std::memcpy(row, frame.constScanLine(static_cast<int>(y)), w);
      }
    } else {
      image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_IDENTITY;  // RGB kept as it is: lossless
      avifRGBImage rgb;
      avifRGBImageSetDefaults(&rgb, image);
      rgb.format = channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
      rgb.depth = 8;
      rgb.pixels = const_cast<uint8_t*>(frame.constBits());
      rgb.rowBytes = static_cast<uint32_t>(frame.bytesPerLine());
      ok = ok && avifImageRGBToYUV(image, &rgb) == AVIF_RESULT_OK;
    }
    ok = ok && avifEncoderAddImage(encoder, image, 1,
                                   frames.size() == 1 ? AVIF_ADD_IMAGE_FLAG_SINGLE : AVIF_ADD_IMAGE_FLAG_NONE) ==
                   AVIF_RESULT_OK;
    avifImageDestroy(image);
  }
  avifRWData out = AVIF_DATA_EMPTY;
  ok = ok && avifEncoderFinish(encoder, &out) == AVIF_RESULT_OK;
  std::string bytes = ok ? std::string(reinterpret_cast<const char*>(out.data), out.size) : std::string();
  avifRWDataFree(&out);
  avifEncoderDestroy(encoder);
  return bytes;
}

// Frames after the first make an animation.
inline std::string EncodeJxl(const std::vector<QImage>& frames, const PageOptions& options = {}) {
  JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
  const QImage& first = frames.front();
  const int channels = Channels(first);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<uint32_t>(first.width());
  info.ysize = static_cast<uint32_t>(first.height());
  info.bits_per_sample = static_cast<uint32_t>(options.bits);
  info.num_color_channels = channels == 1 ? 1 : 3;
  info.alpha_bits = channels == 4 ? 8 : 0;
  info.num_extra_channels = channels == 4 ? 1 : 0;
  info.uses_original_profile = JXL_TRUE;
  info.orientation = static_cast<JxlOrientation>(options.orientation);
  if (frames.size() > 1) {
    info.have_animation = JXL_TRUE;
    info.animation.tps_numerator = 10;
    info.animation.tps_denominator = 1;
  }
  if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS) return {};
  JxlColorEncoding colour;
  JxlColorEncodingSetToSRGB(&colour, channels == 1);
  JxlEncoderSetColorEncoding(encoder.get(), &colour);
  if (!options.exif.empty()) {
    JxlEncoderUseBoxes(encoder.get());
    std::string box("\0\0\0\0", 4);  // no offset to the TIFF header
    box += options.exif;
    JxlEncoderAddBox(encoder.get(), "Exif", reinterpret_cast<const uint8_t*>(box.data()), box.size(), JXL_FALSE);
    JxlEncoderCloseBoxes(encoder.get());
  }
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
  JxlEncoderSetFrameLossless(settings, JXL_TRUE);
  JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 1);
  for (const QImage& frame : frames) {
    if (frames.size() > 1) {
      JxlFrameHeader header;
      JxlEncoderInitFrameHeader(&header);
      header.duration = 1;
      JxlEncoderSetFrameHeader(settings, &header);
    }
    // Packed rows, as the encoder wants them; 16-bit samples span the
    // whole 16-bit range whatever the file's depth.
    const std::size_t row = static_cast<std::size_t>(frame.width()) * channels * (options.bits > 8 ? 2 : 1);
    std::vector<uint8_t> pixels(row * frame.height());
    for (int y = 0; y < frame.height(); ++y) std::memcpy(&pixels[row * y], frame.constScanLine(y), row);
    if (options.bits > 8) {
      const double scale = 65535.0 / ((1 << options.bits) - 1);
      for (std::size_t i = 0; i + 1 < pixels.size(); i += 2) {
        uint16_t v;
        std::memcpy(&v, &pixels[i], 2);
        v = static_cast<uint16_t>(v * scale + 0.5);
        std::memcpy(&pixels[i], &v, 2);
      }
    }
    const JxlPixelFormat format{static_cast<uint32_t>(channels), options.bits > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8,
                                JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()) != JXL_ENC_SUCCESS) return {};
  }
  JxlEncoderCloseInput(encoder.get());
  std::string bytes(4096, '\0');
  std::size_t used = 0;
  for (;;) {
    uint8_t* next = reinterpret_cast<uint8_t*>(bytes.data()) + used;
    std::size_t room = bytes.size() - used;
    const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder.get(), &next, &room);
    used = bytes.size() - room;
    if (status == JXL_ENC_SUCCESS) break;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) return {};
    bytes.resize(bytes.size() * 2);
  }
  bytes.resize(used);
  return bytes;
}

// Gray goes to AV1 (HEVC through libheif here cannot code 4:0:0), colour
// and alpha to HEVC. Deep gray goes to HEVC as colour, R = G = B: libaom
// asserts on 4:0:0 above 8 bits.
inline std::string EncodeHeif(const QImage& image, const PageOptions& options = {}) {
  if (image.format() == QImage::Format_Grayscale16) {
    QImage spread(image.width(), image.height(), QImage::Format_RGBX64);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const uint16_t v = reinterpret_cast<const uint16_t*>(image.constScanLine(y))[x];
        uint16_t* out = reinterpret_cast<uint16_t*>(spread.scanLine(y)) + 4 * x;
        out[0] = out[1] = out[2] = v;
      }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    std::string bytes;
    heif_image* picture = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_image_create(image.width(), image.height(), heif_colorspace_RGB, heif_chroma_interleaved_RRGGBB_LE, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(), options.bits);
    int stride = 0;
    uint8_t* data = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        std::memcpy(data + static_cast<std::size_t>(y) * stride + 6 * x, spread.constScanLine(y) + 8 * x, 6);
    heif_encoder_set_lossy_quality(encoder, 100);
    if (heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code == heif_error_Ok) {
      heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                           static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                         }};
      heif_context_write(context, &writer, &bytes);
    }
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
  }
  const int channels = Channels(image);
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  std::string bytes;
  if (heif_context_get_encoder_for_format(context, channels == 1 ? heif_compression_AV1 : heif_compression_HEVC,
                                          &encoder).code == heif_error_Ok) {
    heif_image* picture = nullptr;
    const heif_channel plane = channels == 1 ? heif_channel_Y : heif_channel_interleaved;
    heif_image_create(image.width(), image.height(), channels == 1 ? heif_colorspace_monochrome : heif_colorspace_RGB,
                      channels == 1   ? heif_chroma_monochrome
                      : channels == 3 ? heif_chroma_interleaved_RGB
                                      : heif_chroma_interleaved_RGBA,
                      &picture);
    heif_image_add_plane(picture, plane, image.width(), image.height(), channels == 1 ? options.bits : 8);
    int stride = 0;
    uint8_t* data = heif_image_get_plane(picture, plane, &stride);
    const std::size_t row = static_cast<std::size_t>(image.width()) * channels * (options.bits > 8 ? 2 : 1);
    for (int y = 0; y < image.height(); ++y)
      std::memcpy(data + static_cast<std::size_t>(y) * stride, image.constScanLine(y), row);
    heif_encoder_set_lossy_quality(encoder, 100);
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context, picture, encoder, nullptr, &handle).code == heif_error_Ok) {
      if (!options.exif.empty())
        heif_context_add_exif_metadata(context, handle, options.exif.data(), static_cast<int>(options.exif.size()));
      heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                           static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                         }};
      if (heif_context_write(context, &writer, &bytes).code != heif_error_Ok) bytes.clear();
      heif_image_handle_release(handle);
    }
    heif_image_release(picture);
    heif_encoder_release(encoder);
  }
  heif_context_free(context);
  return bytes;
}

// An Exif block (little-endian TIFF) stating a resolution in `unit`
// (2 inches, 3 centimetres).
inline std::string ExifResolution(uint32_t x, uint32_t y, uint16_t unit = 2) {
  std::string b("II*\0\x08\0\0\0", 8);
  auto u16 = [&](uint16_t v) { b += static_cast<char>(v & 0xFF), b += static_cast<char>(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(static_cast<uint16_t>(v & 0xFFFF)), u16(static_cast<uint16_t>(v >> 16)); };
  u16(3);                                          // entries
  const uint32_t values = 8 + 2 + 3 * 12 + 4;      // after the IFD and its next-IFD link
  u16(0x011A), u16(5), u32(1), u32(values);        // XResolution
  u16(0x011B), u16(5), u32(1), u32(values + 8);    // YResolution
  u16(0x0128), u16(3), u32(1), u16(unit), u16(0);  // ResolutionUnit
  u32(0);
  u32(x), u32(1), u32(y), u32(1);
  return b;
}

}  // namespace test
#endif  // VELMORA_PAGE_ENCODERS
