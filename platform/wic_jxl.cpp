// JPEG XL pages on libjxl: the first displayed frame of a still or animated
// file, in the file's orientation (or as stored when asked), as 8-bit sRGB.
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <cstring>

#include "platform/wic_codecs.h"
#include "platform/wincodec.h"

namespace {

// What the decoder reports for "JxlDecoderGetBoxType" of an Exif box.
constexpr char kExifBox[4] = {'E', 'x', 'i', 'f'};

JxlColorEncoding Srgb(bool gray) {
  JxlColorEncoding c{};
  c.color_space = gray ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
  c.white_point = JXL_WHITE_POINT_D65;
  c.primaries = JXL_PRIMARIES_SRGB;
  c.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
  c.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
  return c;
}

class JxlPage {
 public:
  // probeOnly: stop at the header, allocate and decode nothing.
  HRESULT Run(EncodedBytes bytes, bool probeOnly, WICExifOrientation orientation = WICExifOrientation::Apply) {
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder) return E_OUTOFMEMORY;
    JxlDecoder* dec = decoder.get();
    int events = JXL_DEC_BASIC_INFO;
    if (!probeOnly) events |= JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE | JXL_DEC_BOX;
    if (JxlDecoderSubscribeEvents(dec, events) != JXL_DEC_SUCCESS) return WINCODEC_ERR_BADIMAGE;
    JxlThreadParallelRunnerPtr runner(nullptr);
    if (!probeOnly) {
      runner = JxlThreadParallelRunnerMake(nullptr, static_cast<size_t>(DecoderThreads()));
      if (!runner || JxlDecoderSetParallelRunner(dec, JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS)
        return E_OUTOFMEMORY;
      JxlDecoderSetDecompressBoxes(dec, JXL_TRUE);  // an Exif box may be Brotli-compressed
      JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE);
      m_keepOrientation = orientation == WICExifOrientation::Ignore;
      if (m_keepOrientation) JxlDecoderSetKeepOrientation(dec, JXL_TRUE);
    }
    if (JxlDecoderSetInput(dec, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS) return WINCODEC_ERR_BADIMAGE;
    JxlDecoderCloseInput(dec);  // all of the file is there: wanting more means it was cut short

    for (;;) {
      const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
      switch (status) {
        case JXL_DEC_BASIC_INFO: {
          if (JxlDecoderGetBasicInfo(dec, &m_info) != JXL_DEC_SUCCESS) return WINCODEC_ERR_BADIMAGE;
          if (!FitsPageLimit(m_info.xsize, m_info.ysize)) return WINCODEC_ERR_BADIMAGE;
          if (probeOnly) return S_OK;
          // Orientations 5 to 8 turn the page a quarter: width and height swap.
          const bool turned = !m_keepOrientation && m_info.orientation >= JXL_ORIENT_TRANSPOSE;
          const uint32_t width = turned ? m_info.ysize : m_info.xsize;
          const uint32_t height = turned ? m_info.xsize : m_info.ysize;
          m_alpha = m_info.alpha_bits > 0;
          m_gray = m_info.num_color_channels == 1 && !m_alpha;
          // The page first: when its pixels cannot be held, nothing is decoded.
          m_page = NewPage(width, height,
                           m_alpha ? QImage::Format_ARGB32 : m_gray ? QImage::Format_Grayscale8 : QImage::Format_BGR888);
          if (m_page.isNull()) return E_OUTOFMEMORY;
          break;
        }
        case JXL_DEC_COLOR_ENCODING: {
          // Pixels coded in XYB can come out in any space: ask for sRGB, not
          // the linear light the decoder picks for files with ICC profiles.
          if (!m_info.uses_original_profile) {
            const JxlColorEncoding srgb = Srgb(m_info.num_color_channels == 1);
            JxlDecoderSetPreferredColorProfile(dec, &srgb);
          }
          break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
          const JxlPixelFormat format{m_alpha ? 4u : m_gray ? 1u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                      static_cast<size_t>(m_page.bytesPerLine())};
          size_t needed = 0;
          const size_t have = static_cast<size_t>(m_page.sizeInBytes());
          if (JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS || needed > have ||
              JxlDecoderSetImageOutBuffer(dec, &format, m_page.bits(), have) != JXL_DEC_SUCCESS)
            return WINCODEC_ERR_BADIMAGE;
          break;
        }
        case JXL_DEC_BOX: {
          TakeExif(dec);
          JxlBoxType type;
          if (JxlDecoderGetBoxType(dec, type, JXL_TRUE) == JXL_DEC_SUCCESS && std::memcmp(type, kExifBox, 4) == 0) {
            m_exif.assign(4096, 0);
            m_exifTaking = true;
            JxlDecoderSetBoxBuffer(dec, m_exif.data(), m_exif.size());
          }
          break;
        }
        case JXL_DEC_BOX_NEED_MORE_OUTPUT: {
          // Only the start of an Exif block holds IFD0: past 64 KiB the rest
          // goes through a scratch buffer and is dropped.
          const size_t unused = JxlDecoderReleaseBoxBuffer(dec);
          if (!m_exifTaking) {
            JxlDecoderSetBoxBuffer(dec, m_scratch, sizeof m_scratch);
            break;
          }
          const size_t used = m_exif.size() - unused;
          if (m_exif.size() >= 65536) {
            m_exif.resize(used);
            m_exifTaking = false;
            JxlDecoderSetBoxBuffer(dec, m_scratch, sizeof m_scratch);
            break;
          }
          m_exif.resize(m_exif.size() * 2);
          JxlDecoderSetBoxBuffer(dec, m_exif.data() + used, m_exif.size() - used);
          break;
        }
        case JXL_DEC_FULL_IMAGE: {
          // The first frame is the page; later frames of an animation are not shown.
          TakeExif(dec);
          // The decoder wrote R, G, B (A): into BGR888 / ARGB32 (B, G, R, A in
          // memory) they go with red and blue swapped, in place.
          if (!m_gray) m_page = std::move(m_page).rgbSwapped();
          ApplyExifResolution(m_page, m_exif);
          return m_page.isNull() ? E_OUTOFMEMORY : S_OK;
        }
        case JXL_DEC_NEED_MORE_INPUT:  // cut short
        case JXL_DEC_SUCCESS:          // ended without a frame
        case JXL_DEC_ERROR:
        default:
          return WINCODEC_ERR_BADIMAGE;
      }
    }
  }

  QImage TakePage() { return std::move(m_page); }
  const JxlBasicInfo& Info() const { return m_info; }

 private:
  // Ends the box being read: an Exif block keeps the bytes that arrived.
  void TakeExif(JxlDecoder* dec) {
    const size_t unused = JxlDecoderReleaseBoxBuffer(dec);
    if (m_exifTaking) m_exif.resize(m_exif.size() - unused);
    m_exifTaking = false;
  }

  JxlBasicInfo m_info{};
  bool m_keepOrientation = false;  // the pixels as stored, whatever the header says
  bool m_alpha = false;
  bool m_gray = false;
  QImage m_page;
  std::vector<uint8_t> m_exif;
  bool m_exifTaking = false;
  uint8_t m_scratch[4096];
};

}  // namespace

HRESULT ProbeJxl(EncodedBytes bytes, ImageHeader* header) {
  JxlPage page;
  const HRESULT hr = page.Run(bytes, true);
  if (FAILED(hr)) return hr;
  header->width = page.Info().xsize;
  header->height = page.Info().ysize;
  header->frames = 1;  // an animation's frames are counted only by decoding them all
  return S_OK;
}

HRESULT DecodeJxl(EncodedBytes bytes, WICExifOrientation orientation, QImage* out) {
  JxlPage page;
  const HRESULT hr = page.Run(bytes, false, orientation);
  if (SUCCEEDED(hr)) *out = page.TakePage();
  return hr;
}
