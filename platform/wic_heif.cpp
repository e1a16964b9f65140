// HEIF pages on libheif: the primary image, with the file's rotation,
// mirroring and cropping applied, HDR levels brought to 8 bits.
#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/wic_codecs.h"
#include "platform/wincodec.h"

namespace {

void InitOnce() {
  // Registers the built-in codecs; they stay for the life of the process.
  static std::once_flag once;
  std::call_once(once, [] { heif_init(nullptr); });
}

struct ContextDeleter {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
  void operator()(const heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
  void operator()(const heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextDeleter>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleDeleter>;
using ImagePtr = std::unique_ptr<heif_image, ImageDeleter>;

// The primary image of the file, its header read and checked.
struct Primary {
  ContextPtr context;
  HandlePtr handle;
};

HRESULT Open(EncodedBytes bytes, Primary* out) {
  InitOnce();
  ContextPtr context(heif_context_alloc());
  if (!context) return E_OUTOFMEMORY;
  heif_context_set_max_decoding_threads(context.get(), DecoderThreads());
  heif_image_handle* handle = nullptr;
  if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr).code !=
          heif_error_Ok ||
      heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
    return WINCODEC_ERR_BADIMAGE;
  HandlePtr primary(handle);
  // Both the stored size and the size after rotation and cropping.
  const int width = heif_image_handle_get_width(handle), height = heif_image_handle_get_height(handle);
  const int ispeWidth = heif_image_handle_get_ispe_width(handle), ispeHeight = heif_image_handle_get_ispe_height(handle);
  if (width <= 0 || height <= 0 || !FitsPageLimit(static_cast<uint64_t>(width), static_cast<uint64_t>(height)) ||
      (ispeWidth > 0 && ispeHeight > 0 &&
       !FitsPageLimit(static_cast<uint64_t>(ispeWidth), static_cast<uint64_t>(ispeHeight))))
    return WINCODEC_ERR_BADIMAGE;
  out->context = std::move(context);
  out->handle = std::move(primary);
  return S_OK;
}

// ---- is the picture coded without colour? ----

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// The payload of the first box of `type` among the boxes of `area`.
std::span<const uint8_t> FindBox(std::span<const uint8_t> area, const char* type) {
  while (area.size() >= 8) {
    uint64_t size = Be32(area.data());
    std::size_t header = 8;
    if (size == 1) {
      if (area.size() < 16) return {};
      size = uint64_t{Be32(area.data() + 8)} << 32 | Be32(area.data() + 12);
      header = 16;
    } else if (size == 0) {
      size = area.size();  // to the end
    }
    if (size < header || size > area.size()) return {};
    if (std::memcmp(area.data() + 4, type, 4) == 0) return area.subspan(header, static_cast<std::size_t>(size) - header);
    area = area.subspan(static_cast<std::size_t>(size));
  }
  return {};
}

// libheif gives no way to ask for the coded chroma before decoding, so the
// codec configurations are read here: gray when every one of them (HEVC's
// 'hvcC', AV1's 'av1C') says 4:0:0. A mistake only costs a second decode.
bool CodedGray(EncodedBytes bytes) {
  std::span<const uint8_t> meta = FindBox(bytes, "meta");
  if (meta.size() < 4) return false;
  const std::span<const uint8_t> properties = FindBox(FindBox(meta.subspan(4), "iprp"), "ipco");
  bool any = false;
  for (std::span<const uint8_t> rest = properties; rest.size() >= 8;) {
    const uint32_t size = Be32(rest.data());
    if (size < 8 || size > rest.size()) break;
    const std::span<const uint8_t> payload = rest.subspan(8, size - 8);
    if (std::memcmp(rest.data() + 4, "hvcC", 4) == 0) {
      if (payload.size() < 17 || (payload[16] & 3) != 0) return false;  // chroma_format_idc
      any = true;
    } else if (std::memcmp(rest.data() + 4, "av1C", 4) == 0) {
      if (payload.size() < 3 || (payload[2] & 0x10) == 0) return false;  // mono_chrome
      any = true;
    }
    rest = rest.subspan(size);
  }
  return any;
}

// ---- pixels ----

HRESULT DecodeAs(const heif_image_handle* handle, heif_colorspace space, heif_chroma chroma, ImagePtr* out) {
  std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
  if (!options) return E_OUTOFMEMORY;
  options->convert_hdr_to_8bit = 1;
  heif_image* image = nullptr;
  const heif_error error = heif_decode_image(handle, &image, space, chroma, options.get());
  ImagePtr owned(image);
  if (error.code == heif_error_Memory_allocation_error) return E_OUTOFMEMORY;
  if (error.code != heif_error_Ok || image == nullptr) return WINCODEC_ERR_BADIMAGE;
  *out = std::move(owned);
  return S_OK;
}

// Copies `bytesPerPixel`-byte pixels of a plane row by row into the page.
HRESULT CopyPlane(const heif_image* image, heif_channel channel, int bytesPerPixel, QImage* page) {
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image, channel, &stride);
  if (plane == nullptr || heif_image_get_width(image, channel) != page->width() ||
      heif_image_get_height(image, channel) != page->height())
    return WINCODEC_ERR_BADIMAGE;
  const std::size_t row = static_cast<std::size_t>(page->width()) * bytesPerPixel;
  for (int y = 0; y < page->height(); ++y)
    std::memcpy(page->scanLine(y), plane + static_cast<std::size_t>(y) * stride, row);
  return S_OK;
}

// A monochrome decode's luma, its levels brought to 8 bits.
HRESULT CopyGray(const heif_image* image, QImage* page) {
  const int bits = heif_image_get_bits_per_pixel_range(image, heif_channel_Y);
  if (bits <= 8) return CopyPlane(image, heif_channel_Y, 1, page);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_Y, &stride);
  if (plane == nullptr || bits > 16 || heif_image_get_width(image, heif_channel_Y) != page->width() ||
      heif_image_get_height(image, heif_channel_Y) != page->height())
    return WINCODEC_ERR_BADIMAGE;
  const std::vector<uint8_t> levels = LevelTable(bits, false);
  const uint32_t top = static_cast<uint32_t>(levels.size() - 1);
  for (int y = 0; y < page->height(); ++y) {
    const uint8_t* in = plane + static_cast<std::size_t>(y) * stride;
    uchar* out = page->scanLine(y);
    for (int x = 0; x < page->width(); ++x) {
      uint16_t v;
      std::memcpy(&v, in + 2 * x, 2);
      out[x] = levels[std::min<uint32_t>(v, top)];
    }
  }
  return S_OK;
}

void ReadExif(const heif_image_handle* handle, QImage* page) {
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1) return;
  const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
  if (size == 0 || size > (16u << 20)) return;
  std::vector<uint8_t> exif(size);
  if (heif_image_handle_get_metadata(handle, id, exif.data()).code == heif_error_Ok) ApplyExifResolution(*page, exif);
}

}  // namespace

HRESULT ProbeHeif(EncodedBytes bytes, ImageHeader* header) {
  Primary primary;
  const HRESULT hr = Open(bytes, &primary);
  if (FAILED(hr)) return hr;
  header->width = static_cast<uint32_t>(heif_image_handle_get_width(primary.handle.get()));
  header->height = static_cast<uint32_t>(heif_image_handle_get_height(primary.handle.get()));
  header->frames = 1;  // other images of the file are not frames of this one
  return S_OK;
}

HRESULT DecodeHeif(EncodedBytes bytes, QImage* page) {
  Primary primary;
  HRESULT hr = Open(bytes, &primary);
  if (FAILED(hr)) return hr;
  const heif_image_handle* handle = primary.handle.get();
  const uint32_t width = static_cast<uint32_t>(heif_image_handle_get_width(handle));
  const uint32_t height = static_cast<uint32_t>(heif_image_handle_get_height(handle));
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;

  ImagePtr image;
  QImage out;
  if (!alpha && CodedGray(bytes)) {
    out = NewPage(width, height, QImage::Format_Grayscale8);
    if (out.isNull()) return E_OUTOFMEMORY;
    hr = DecodeAs(handle, heif_colorspace_undefined, heif_chroma_undefined, &image);
    if (FAILED(hr)) return hr;
    if (heif_image_get_colorspace(image.get()) == heif_colorspace_monochrome) {
      hr = CopyGray(image.get(), &out);
      if (FAILED(hr)) return hr;
    } else {
      image.reset();  // coded in colour after all
      out = QImage();
    }
  }
  if (out.isNull()) {
    out = NewPage(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    if (out.isNull()) return E_OUTOFMEMORY;
    hr = DecodeAs(handle, heif_colorspace_RGB, alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                  &image);
    if (SUCCEEDED(hr)) hr = CopyPlane(image.get(), heif_channel_interleaved, alpha ? 4 : 3, &out);
    if (FAILED(hr)) return hr;
    image.reset();
    // R, G, B (A) bytes into BGR888 / ARGB32 (B, G, R, A in memory): swap in place.
    out = std::move(out).rgbSwapped();
  }
  ReadExif(handle, &out);
  *page = std::move(out);
  return S_OK;
}
