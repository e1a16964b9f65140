// The module's entry points: each decoder by the kind sniffed.
#include "platform/wic_codec_module.h"

#include <new>

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

extern "C" __attribute__((visibility("default"))) HRESULT VelmoraProbeCodec(CodecKind kind, const uint8_t* bytes,
                                                                             std::size_t size, ImageHeader* header) {
  const EncodedBytes encoded(bytes, size);
  return Guarded([&] {
    switch (kind) {
      case CodecKind::Avif:
        return ProbeAvif(encoded, header);
      case CodecKind::JpegXl:
        return ProbeJxl(encoded, header);
      case CodecKind::Heif:
        return ProbeHeif(encoded, header);
      case CodecKind::None:
        break;
    }
    return WINCODEC_ERR_COMPONENTNOTFOUND;
  });
}

extern "C" __attribute__((visibility("default"))) HRESULT VelmoraDecodeCodec(CodecKind kind, const uint8_t* bytes,
                                                                              std::size_t size,
                                                                              WICExifOrientation orientation,
                                                                              QImage* page) {
  const EncodedBytes encoded(bytes, size);
  return Guarded([&] {
    switch (kind) {
      case CodecKind::Avif:
        return DecodeAvif(encoded, page);
      case CodecKind::JpegXl:
        return DecodeJxl(encoded, orientation, page);
      case CodecKind::Heif:
        return DecodeHeif(encoded, page);
      case CodecKind::None:
        break;
    }
    return WINCODEC_ERR_COMPONENTNOTFOUND;
  });
}
