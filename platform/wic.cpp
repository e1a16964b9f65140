// The imaging component on Qt: a decoder that reads an IStream through
// QImageReader, through libjpeg-turbo for JPEG (any eighth of the page, where
// Qt's reader shrinks only by halves) and libwebp for a still WebP drawn
// smaller than it is (Qt's reader does not shrink it), or through the AVIF,
// JPEG XL and HEIF libraries Qt has no reader for (the file's kind found by
// its content alone), its frame 0
// reported in the pixel format the Windows component reports for that kind
// of image, and a converter to 32-bit premultiplied BGRA or straight RGBA.
#include <QtCore/QIODevice>
#include <QtGui/QImage>
#include <QtGui/QImageReader>
#include <QtGui/QTransform>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pixelcopy.h"
#include "platform/qt_image.h"
#include "platform/wic_codecs.h"
#include "platform/wic_jpeg.h"
#include "platform/wic_webp.h"
#include "platform/wic_png.h"
#include "platform/wincodec.h"

namespace {

// QImageReader's default limit (128 MB) refuses ordinary 600-dpi scans.
// Raise it once to hold a 16000 x 16000 RGBA page, and no more.
void RaiseAllocationLimit() {
  static std::once_flag once;
  std::call_once(once, [] { QImageReader::setAllocationLimit(static_cast<int>((kMaxDecodedPixels * 4) >> 20) + 1); });
}

// ---- the stream as a QIODevice ----

class StreamDevice final : public QIODevice {
 public:
  explicit StreamDevice(IStream* stream) : m_stream(stream) {
    // Unbuffered: every read and seek goes straight to the stream, so the
    // device position and the stream position never drift apart.
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }
  bool isSequential() const override { return false; }
  qint64 size() const override {
    STATSTG stat{};
    if (m_stream->Stat(&stat, STATFLAG_NONAME) != S_OK) return 0;
    return static_cast<qint64>(stat.cbSize.QuadPart);
  }
  bool seek(qint64 pos) override {
    LARGE_INTEGER distance;
    distance.QuadPart = pos;
    if (pos < 0 || m_stream->Seek(distance, STREAM_SEEK_SET, nullptr) != S_OK) return false;
    return QIODevice::seek(pos);
  }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    qint64 total = 0;
    while (total < maxSize) {
      const ULONG want = static_cast<ULONG>(std::min<qint64>(maxSize - total, 1 << 30));
      ULONG got = 0;
      if (FAILED(m_stream->Read(data + total, want, &got)) || got == 0) break;
      total += got;
    }
    return total;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  IStream* m_stream;
};

// Reads up to `size` bytes from the stream's current position.
std::size_t ReadUpTo(IStream* stream, uint8_t* data, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const ULONG want = static_cast<ULONG>(std::min<std::size_t>(size - total, 1 << 30));
    ULONG got = 0;
    if (FAILED(stream->Read(data + total, want, &got)) || got == 0) break;
    total += got;
  }
  return total;
}

// The whole stream from its start, for the decoders that take memory.
HRESULT ReadWholeStream(IStream* stream, std::vector<uint8_t>* bytes) {
  LARGE_INTEGER start{};
  if (stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK) return WINCODEC_ERR_BADIMAGE;
  STATSTG stat{};
  uint64_t expected = stream->Stat(&stat, STATFLAG_NONAME) == S_OK ? stat.cbSize.QuadPart : 0;
  if (expected > kMaxEncodedBytes) return WINCODEC_ERR_BADIMAGE;
  try {
    bytes->clear();
    std::size_t used = 0;
    // The size is a hint: read until the stream ends, never past the cap.
    for (std::size_t chunk = std::max<std::size_t>(expected + 1, 1 << 16);; chunk = used) {
      if (used + chunk > kMaxEncodedBytes + 1) chunk = kMaxEncodedBytes + 1 - used;
      bytes->resize(used + chunk);
      const std::size_t got = ReadUpTo(stream, bytes->data() + used, chunk);
      used += got;
      if (got < chunk) break;
      if (used > kMaxEncodedBytes) return WINCODEC_ERR_BADIMAGE;
    }
    bytes->resize(used);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// The reader's format for a file whose first bytes are one of these exact
// signatures; empty for any other. Told to QImageReader, with its guessing
// off, it goes straight to its reader for it: guessing, it loads every
// image plugin there is to ask each (about 20 ms, at start-up, for the
// viewer's own PNGs). The format still comes from the content.
QByteArray QtFormatOf(std::span<const uint8_t> head) {
  auto starts = [&](std::size_t at, std::string_view bytes) {
    return head.size() >= at + bytes.size() && std::memcmp(head.data() + at, bytes.data(), bytes.size()) == 0;
  };
  if (starts(0, "\x89PNG\r\n\x1a\n")) return "png";
  if (starts(0, "GIF87a") || starts(0, "GIF89a")) return "gif";
  if (starts(0, "RIFF") && starts(8, "WEBP")) return "webp";
  return {};
}

// An uncompressed BMP whose file ends before its pixels do. Qt's reader
// would show the rows that are there over a page of the declared size, so
// a 59-byte file could make a page of 16777222 x 13 pixels: it is a file
// cut short, as a PNG cut short is.
bool IsCutShortBmp(std::span<const uint8_t> head, uint64_t fileSize) {
  if (head.size() < 34 || head[0] != 'B' || head[1] != 'M') return false;
  auto le = [&](std::size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | head[at + static_cast<std::size_t>(i)];
    return value;
  };
  const uint32_t pixelsAt = le(10, 4), headerSize = le(14, 4);
  uint64_t width = 0, height = 0;
  uint32_t bits = 0, compression = 0;
  if (headerSize == 12) {  // the OS/2 header: 16-bit sizes, never compressed
    width = le(18, 2), height = le(20, 2), bits = le(24, 2);
  } else if (headerSize >= 40) {
    width = static_cast<uint64_t>(std::abs(static_cast<int64_t>(static_cast<int32_t>(le(18, 4)))));
    height = static_cast<uint64_t>(std::abs(static_cast<int64_t>(static_cast<int32_t>(le(22, 4)))));
    bits = le(28, 2), compression = le(30, 4);
  } else {
    return false;
  }
  // Plain rows (BI_RGB, or their channels as bit fields) of a known depth.
  const bool plain = compression == 0 || compression == 3 || compression == 6;
  const bool knownDepth = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (!plain || !knownDepth || width == 0 || height == 0) return false;
  // Rows are padded to four bytes; the last row's padding may be missing.
  const uint64_t row = (width * bits + 31) / 32 * 4, lastRow = (width * bits + 7) / 8;
  return fileSize < uint64_t{pixelsAt} + row * (height - 1) + lastRow;
}

// Whether a JPEG's first picture reaches its end marker. libjpeg decodes a
// file cut short as far as it goes and fills the rest with gray: only the
// file's own structure tells. Segments are
// walked by their lengths, and entropy-coded data up to the next marker
// that is neither a stuffed byte nor a restart.
bool JpegReachesItsEnd(std::span<const uint8_t> bytes) {
  const std::size_t size = bytes.size();
  if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
  std::size_t at = 2;
  while (at < size) {
    if (bytes[at] != 0xFF) {  // stray bytes where a marker should stand: the reader looks on, so do we
      const void* found = std::memchr(bytes.data() + at, 0xFF, size - at);
      if (found == nullptr) return false;
      at = static_cast<std::size_t>(static_cast<const uint8_t*>(found) - bytes.data());
    }
    while (at < size && bytes[at] == 0xFF) ++at;  // fill bytes
    if (at >= size) return false;
    const uint8_t marker = bytes[at++];
    if (marker == 0xD9) return true;
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
    if (at + 2 > size) return false;
    const std::size_t length = std::size_t{bytes[at]} << 8 | bytes[at + 1];
    if (length < 2 || at + length > size) return false;
    at += length;
    if (marker != 0xDA) continue;
    // The scan's data: up to a marker.
    for (;;) {
      const void* found = std::memchr(bytes.data() + at, 0xFF, size - at);
      if (found == nullptr) return false;
      at = static_cast<std::size_t>(static_cast<const uint8_t*>(found) - bytes.data());
      if (at + 1 >= size) return false;
      const uint8_t next = bytes[at + 1];
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
        at += 2;
        continue;
      }
      if (next == 0xFF) {  // fill before a marker
        ++at;
        continue;
      }
      break;
    }
  }
  return false;
}

// Whether a GIF's first picture is all there: its data sub-blocks end
// within the file. Qt's reader shows a GIF cut short as far as it goes.
bool GifFirstFrameWhole(std::span<const uint8_t> bytes) {
  const std::size_t size = bytes.size();
  if (size < 13) return false;
  std::size_t at = 13;
  if (bytes[10] & 0x80) at += 3u * (2u << (bytes[10] & 7));  // the global colour table
  auto skipBlocks = [&]() {
    while (at < size) {
      const uint8_t length = bytes[at++];
      if (length == 0) return true;
      at += length;
    }
    return false;
  };
  while (at < size) {
    const uint8_t kind = bytes[at++];
    if (kind == 0x21) {  // an extension: its label, then sub-blocks
      ++at;
      if (!skipBlocks()) return false;
    } else if (kind == 0x2C) {  // the first image: descriptor, table, code size, data
      if (at + 9 > size) return false;
      const uint8_t flags = bytes[at + 8];
      at += 9;
      if (flags & 0x80) at += 3u * (2u << (flags & 7));
      ++at;  // the LZW code size
      return skipBlocks();
    } else {
      return false;  // the trailer, or no GIF block, before any image
    }
  }
  return false;
}

// Whether a PNG's compressed pixels begin at all: a PNG cut short within
// them shows the rows that arrived; one cut before them has none to show.
bool PngHasImageData(std::span<const uint8_t> bytes) {
  static constexpr uint8_t kData[] = {'I', 'D', 'A', 'T'};
  std::size_t at = 8;
  while (at + 8 <= bytes.size()) {
    const std::size_t length = std::size_t{bytes[at]} << 24 | std::size_t{bytes[at + 1]} << 16 |
                               std::size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (std::memcmp(bytes.data() + at + 4, kData, 4) == 0) return at + 8 < bytes.size() && length > 0;
    at += 12 + length;
  }
  return false;
}

// ---- pixel formats ----

struct FormatInfo {
  const GUID* wic;
  QImage::Format qt;  // the layout a QImage of this format has in memory
  UINT bitsPerPixel;
};

// WIC formats whose bytes match a QImage format exactly (little-endian).
constexpr FormatInfo kFormats[] = {
    {&GUID_WICPixelFormat8bppGray, QImage::Format_Grayscale8, 8},
    {&GUID_WICPixelFormat16bppGray, QImage::Format_Grayscale16, 16},
    {&GUID_WICPixelFormat24bppBGR, QImage::Format_BGR888, 24},
    {&GUID_WICPixelFormat32bppBGR, QImage::Format_RGB32, 32},
    {&GUID_WICPixelFormat32bppBGRA, QImage::Format_ARGB32, 32},
    {&GUID_WICPixelFormat32bppPBGRA, QImage::Format_ARGB32_Premultiplied, 32},
    {&GUID_WICPixelFormat32bppRGBA, QImage::Format_RGBA8888, 32},
    {&GUID_WICPixelFormat64bppRGBA, QImage::Format_RGBA64, 64},
    {&GUID_WICPixelFormat8bppIndexed, QImage::Format_Indexed8, 8},
    {&GUID_WICPixelFormatBlackWhite, QImage::Format_Mono, 1},
    // No QImage format holds 48bppRGB; it is carried as RGBX64.
    {&GUID_WICPixelFormat48bppRGB, QImage::Format_RGBX64, 48},
};

const FormatInfo* FindFormat(const GUID& wic) {
  for (const FormatInfo& f : kFormats)
    if (*f.wic == wic) return &f;
  return nullptr;
}

// A 1-bit image is black-and-white when its two colours are black and
// white, in either order (*inverted when white comes first).
bool IsBlackWhiteTable(const QList<QRgb>& table, bool* inverted) {
  *inverted = false;
  if (table.isEmpty()) return true;
  if (table.size() != 2) return false;
  const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255);
  const QRgb first = table[0] | 0xFF000000u, second = table[1] | 0xFF000000u;
  if (first == black && second == white) return true;
  *inverted = first == white && second == black;
  return *inverted;
}

// Chooses the format the Windows component reports for a decoded image and
// brings the image into that format's layout where a conversion is cheap;
// 32-bit opaque images stay as decoded and are repacked row by row on copy.
const GUID* ChooseFormat(QImage& image) {
  switch (image.format()) {
    case QImage::Format_Grayscale8:
      return &GUID_WICPixelFormat8bppGray;
    case QImage::Format_Grayscale16:
      return &GUID_WICPixelFormat16bppGray;
    case QImage::Format_Indexed8:
      return &GUID_WICPixelFormat8bppIndexed;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
      image = image.convertToFormat(QImage::Format_Mono);
      bool inverted = false;
      if (IsBlackWhiteTable(image.colorTable(), &inverted)) {
        if (inverted) image.invertPixels();
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        return &GUID_WICPixelFormatBlackWhite;
      }
      image = image.convertToFormat(QImage::Format_Indexed8);
      return &GUID_WICPixelFormat8bppIndexed;
    }
    default:
      break;
  }
  const bool deep = image.depth() == 64;
  if (image.hasAlphaChannel()) {
    image = image.convertToFormat(deep ? QImage::Format_RGBA64 : QImage::Format_ARGB32);
    return deep ? &GUID_WICPixelFormat64bppRGBA : &GUID_WICPixelFormat32bppBGRA;
  }
  if (deep) {
    image = image.convertToFormat(QImage::Format_RGBX64);
    return &GUID_WICPixelFormat48bppRGB;
  }
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32 &&
      image.format() != QImage::Format_BGR888)
    image = image.convertToFormat(QImage::Format_BGR888);
  return &GUID_WICPixelFormat24bppBGR;
}

// Writes `count` pixels of one row of `image`, from column x, in the layout
// of `format` (whose bytes per pixel are whole).
void WriteRow(const QImage& image, const GUID& format, UINT y, UINT x, UINT count, BYTE* out) {
  const uchar* row = image.constScanLine(static_cast<int>(y));
  if (format == GUID_WICPixelFormat24bppBGR && image.format() != QImage::Format_BGR888) {
    const uchar* in = row + 4 * x;  // RGB32 / ARGB32: bytes B, G, R, A
    UINT i = 0;
    for (; i + 4 <= count; i += 4, in += 16, out += 12) {  // four pixels into three words
      uint32_t p[4];
      std::memcpy(p, in, 16);
      const uint32_t packed[3] = {(p[0] & 0xFFFFFFu) | (p[1] << 24), ((p[1] >> 8) & 0xFFFFu) | (p[2] << 16),
                                  ((p[2] >> 16) & 0xFFu) | (p[3] << 8)};
      std::memcpy(out, packed, 12);
    }
    for (; i < count; ++i, in += 4, out += 3) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  } else if (format == GUID_WICPixelFormat48bppRGB) {
    const uchar* in = row + 8 * x;  // RGBX64: R, G, B, X as 16-bit
    for (UINT i = 0; i < count; ++i, in += 8, out += 6) std::memcpy(out, in, 6);
  } else {
    const UINT bytes = static_cast<UINT>(image.depth() / 8);
    std::memcpy(out, row + static_cast<std::size_t>(bytes) * x, static_cast<std::size_t>(bytes) * count);
  }
}

UINT BytesPerPixel(const GUID& format) { return FindFormat(format)->bitsPerPixel / 8; }

// Copies a rectangle of a 1-bit image. Columns need not start on a byte;
// a row is written whole or not at all.
HRESULT CopyBits(const QImage& image, const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
  const WICRect r = rect != nullptr ? *rect : WICRect{0, 0, image.width(), image.height()};
  if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0) return E_INVALIDARG;
  const int xEnd = static_cast<int>(std::min<int64_t>(int64_t{r.X} + r.Width, image.width()));
  const int yEnd = static_cast<int>(std::min<int64_t>(int64_t{r.Y} + r.Height, image.height()));
  if (r.X >= xEnd || r.Y >= yEnd) return S_OK;
  if (buffer == nullptr) return E_INVALIDARG;
  const uint64_t rowBytes = (static_cast<uint64_t>(xEnd - r.X) + 7) / 8;
  for (int y = r.Y; y < yEnd; ++y) {
    const uint64_t offset = static_cast<uint64_t>(y - r.Y) * stride;
    if (offset + rowBytes > bufferSize) return E_FAIL;
    BYTE* out = buffer + offset;
    std::memset(out, 0, rowBytes);
    const uchar* in = image.constScanLine(y);
    for (int x = r.X; x < xEnd; ++x)
      if (in[x >> 3] & (0x80 >> (x & 7))) out[(x - r.X) >> 3] |= static_cast<BYTE>(0x80 >> ((x - r.X) & 7));
  }
  return S_OK;
}

void GetDpi(const QImage& image, double* dpiX, double* dpiY) {
  // Qt gives images without a stored resolution its own default (which
  // depends on whether a GUI is running); report those as 96 dpi.
  static const int qtDefault = QImage(1, 1, QImage::Format_Mono).dotsPerMeterX();
  auto dpi = [](int dotsPerMeter) {
    return dotsPerMeter > 0 && dotsPerMeter != qtDefault ? dotsPerMeter * 0.0254 : 96.0;
  };
  *dpiX = dpi(image.dotsPerMeterX());
  *dpiY = dpi(image.dotsPerMeterY());
}

// ---- frame ----

class CWicFrame final : public CUnknownImpl<IWICBitmapFrameDecode, IWICBitmapSource>, public IQtImage {
 public:
  CWicFrame(QImage image, const GUID& format) : m_image(std::move(image)), m_format(format) {}

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && riid == IQtImage::iid) {
      *out = static_cast<IQtImage*>(this);
      AddRef();
      return S_OK;
    }
    return CUnknownImpl::QueryInterface(riid, out);
  }
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }
  QImage Image() const override { return m_image; }
  HRESULT GetSize(UINT* width, UINT* height) override {
    if (width == nullptr || height == nullptr) return E_INVALIDARG;
    *width = static_cast<UINT>(m_image.width());
    *height = static_cast<UINT>(m_image.height());
    return S_OK;
  }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = m_format;
    return S_OK;
  }
  HRESULT GetResolution(double* dpiX, double* dpiY) override {
    if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
    GetDpi(m_image, dpiX, dpiY);
    return S_OK;
  }
  HRESULT CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override {
    if (m_format == GUID_WICPixelFormatBlackWhite) return CopyBits(m_image, rect, stride, bufferSize, buffer);
    return CopyPixelRect(static_cast<UINT>(m_image.width()), static_cast<UINT>(m_image.height()),
                         BytesPerPixel(m_format), rect, stride, bufferSize, buffer,
                         [this](UINT y, UINT x, UINT count, BYTE* out) { WriteRow(m_image, m_format, y, x, count, out); });
  }
  HRESULT GetMetadataQueryReader(void**) override { return E_NOTIMPL; }
  HRESULT GetColorContexts(UINT, void**, UINT* actual) override {
    if (actual != nullptr) *actual = 0;
    return S_OK;
  }
  HRESULT GetThumbnail(IWICBitmapSource**) override { return E_NOTIMPL; }


 private:
  QImage m_image;
  GUID m_format;
};

// ---- decoder ----

// Holds a gate for as long as a decode's full-size pixels live.
class GateHold {
 public:
  GateHold(IWICDecodeGate* gate, uint64_t bytes) : m_gate(bytes > 0 ? gate : nullptr), m_bytes(bytes) {
    if (m_gate != nullptr) m_gate->Enter(m_bytes);
  }
  ~GateHold() { Release(); }
  GateHold(const GateHold&) = delete;
  GateHold& operator=(const GateHold&) = delete;
  void Release() {
    if (m_gate != nullptr) m_gate->Leave(m_bytes);
    m_gate = nullptr;
  }

 private:
  IWICDecodeGate* m_gate;
  uint64_t m_bytes;
};

uint64_t PixelBytes(QSize size) {
  return size.isValid() ? static_cast<uint64_t>(size.width()) * static_cast<uint64_t>(size.height()) * 4 : 0;
}

// Turns a page as its Exif orientation says, the way Qt's own readers do:
// mirrored first, then turned a quarter clockwise.
QImage Turned(QImage image, QImageIOHandler::Transformations turn) {
  if (turn == QImageIOHandler::TransformationNone) return image;
  if (turn == QImageIOHandler::TransformationRotate270) return image.transformed(QTransform().rotate(270));
  image = std::move(image).mirrored(turn & QImageIOHandler::TransformationMirror,
                                    turn & QImageIOHandler::TransformationFlip);
  if (turn & QImageIOHandler::TransformationRotate90) image = image.transformed(QTransform().rotate(90));
  return image;
}

QSize TurnedSize(QSize size, QImageIOHandler::Transformations turn) {
  return turn & QImageIOHandler::TransformationRotate90 ? size.transposed() : size;
}

// The turn an Exif orientation (1 to 8) states, as Qt's readers take it.
QImageIOHandler::Transformations ExifTurn(int orientation) {
  switch (orientation) {
    case 2: return QImageIOHandler::TransformationMirror;
    case 3: return QImageIOHandler::TransformationRotate180;
    case 4: return QImageIOHandler::TransformationFlip;
    case 5: return QImageIOHandler::TransformationFlipAndRotate90;
    case 6: return QImageIOHandler::TransformationRotate90;
    case 7: return QImageIOHandler::TransformationMirrorAndRotate90;
    case 8: return QImageIOHandler::TransformationRotate270;
    default: return QImageIOHandler::TransformationNone;
  }
}

class CWicDecoder final : public CUnknownImpl<IWICBitmapDecoder>, public IWICDecoderSettings {
 public:
  ~CWicDecoder() override {
    if (m_stream != nullptr) m_stream->Release();
  }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && riid == IID_IWICDecoderSettings) {
      *out = static_cast<IWICDecoderSettings*>(this);
      AddRef();
      return S_OK;
    }
    return CUnknownImpl::QueryInterface(riid, out);
  }
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }

  HRESULT SetFrameSettings(const WICFrameSettings& settings) override {
    if (!m_image.isNull()) return WINCODEC_ERR_WRONGSTATE;  // frame 0 is already decoded
    m_settings = settings;
    return S_OK;
  }
  HRESULT GetPageSize(UINT* width, UINT* height) override {
    if (width == nullptr || height == nullptr) return E_INVALIDARG;
    if (m_image.isNull()) return WINCODEC_ERR_WRONGSTATE;
    *width = static_cast<UINT>(m_pageSize.width());
    *height = static_cast<UINT>(m_pageSize.height());
    return S_OK;
  }
  const char16_t* Damage() override { return m_damage.c_str(); }
  UINT DrawnEighths() override { return m_image.isNull() ? 8 : m_eighths; }

  HRESULT QueryCapability(IStream*, DWORD*) override { return E_NOTIMPL; }
  HRESULT Initialize(IStream* stream, WICDecodeOptions) override {
    if (stream == nullptr) return E_INVALIDARG;
    if (m_stream != nullptr) return WINCODEC_ERR_WRONGSTATE;
    RaiseAllocationLimit();
    LARGE_INTEGER start{};
    if (stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK) return WINCODEC_ERR_COMPONENTNOTFOUND;
    // Formats of our own decoders first: their signatures are exact, and
    // some of Qt's readers (TGA) guess from a few header fields.
    uint8_t head[64];
    const std::span<const uint8_t> headBytes(head, ReadUpTo(stream, head, sizeof head));
    m_codec = SniffCodec(headBytes);
    if (m_codec != CodecKind::None) return InitializeCodec(stream);
    if (headBytes.size() >= 2 && head[0] == 0xFF && head[1] == 0xD8) return InitializeJpeg(stream);
    if (stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK) return WINCODEC_ERR_COMPONENTNOTFOUND;
    StreamDevice device(stream);
    if (IsCutShortBmp(headBytes, static_cast<uint64_t>(device.size())))
      return WINCODEC_ERR_BADIMAGE;
    m_qtFormat = QtFormatOf(headBytes);
    QImageReader reader(&device, m_qtFormat);  // the kind comes from the content: no name
    reader.setAutoDetectImageFormat(m_qtFormat.isEmpty());
    if (!reader.canRead()) return WINCODEC_ERR_COMPONENTNOTFOUND;
    const QSize declared = reader.size();
    if (declared.isValid() &&
        (static_cast<uint64_t>(declared.width()) * static_cast<uint64_t>(declared.height()) > kMaxDecodedPixels ||
         static_cast<uint64_t>(declared.width()) > kMaxDecodedSide ||
         static_cast<uint64_t>(declared.height()) > kMaxDecodedSide))
      return WINCODEC_ERR_BADIMAGE;
    m_frameCount = reader.imageCount() > 0 ? static_cast<UINT>(reader.imageCount()) : 1;
    stream->AddRef();
    m_stream = stream;
    return S_OK;
  }
  HRESULT GetContainerFormat(GUID*) override { return E_NOTIMPL; }
  HRESULT GetDecoderInfo(void**) override { return E_NOTIMPL; }
  HRESULT CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT GetMetadataQueryReader(void**) override { return E_NOTIMPL; }
  HRESULT GetPreview(IWICBitmapSource**) override { return E_NOTIMPL; }
  HRESULT GetColorContexts(UINT, void**, UINT* actual) override {
    if (actual != nullptr) *actual = 0;
    return S_OK;
  }
  HRESULT GetThumbnail(IWICBitmapSource**) override { return E_NOTIMPL; }
  HRESULT GetFrameCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    if (m_stream == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    *count = m_frameCount;
    return S_OK;
  }
  HRESULT GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
    if (frame == nullptr) return E_INVALIDARG;
    if (m_stream == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    if (index != 0) return WINCODEC_ERR_FRAMEMISSING;  // only the first frame is ever shown
    if (m_image.isNull()) {
      const HRESULT hr = m_codec != CodecKind::None ? DecodeWithCodec() : m_jpeg ? DecodeWithJpeg() : DecodeWithQt();
      if (FAILED(hr)) return hr;
    }
    CWicFrame* object = new (std::nothrow) CWicFrame(m_image, *m_format);
    if (object == nullptr) return E_OUTOFMEMORY;
    return HandOut(static_cast<IWICBitmapFrameDecode*>(object), IID_IWICBitmapFrameDecode, reinterpret_cast<void**>(frame));
  }

 private:
  // The whole file in memory; its header says how large the page is,
  // refused before any pixel is decoded.
  HRESULT InitializeCodec(IStream* stream) {
    HRESULT hr = ReadWholeStream(stream, &m_bytes);
    ImageHeader header;
    if (SUCCEEDED(hr)) hr = ProbeCodec(m_codec, m_bytes, &header);
    if (FAILED(hr)) {
      m_bytes = {};
      return hr;
    }
    m_frameCount = header.frames;
    m_declared = QSize(static_cast<int>(header.width), static_cast<int>(header.height));
    stream->AddRef();
    m_stream = stream;
    return S_OK;
  }

  // The whole file in memory, for libjpeg's memory source; a header that
  // declares too large a page is refused before any pixel is decoded, one
  // libjpeg cannot read fails at the frame, as any unreadable picture.
  HRESULT InitializeJpeg(IStream* stream) {
    const HRESULT hr = ReadWholeStream(stream, &m_bytes);
    if (FAILED(hr)) return hr;
    if (ReadJpegHeader(m_bytes, &m_jpegHeader) &&
        (uint64_t{m_jpegHeader.width} * m_jpegHeader.height > kMaxDecodedPixels ||
         m_jpegHeader.width > kMaxDecodedSide || m_jpegHeader.height > kMaxDecodedSide)) {
      m_bytes = {};
      return WINCODEC_ERR_BADIMAGE;
    }
    m_jpeg = true;
    m_frameCount = 1;
    stream->AddRef();
    m_stream = stream;
    return S_OK;
  }

  // A page too large to keep is scaled down at once, while it is the only
  // copy: the conversions after it then copy the smaller page.
  HRESULT ScaleToFit(QImage& image) const {
    const QSize fit = FitPageSize(image.size(), m_settings.maxBytes, m_settings.maxSide);
    if (fit == image.size()) return S_OK;
    image = ScaleDownPage(image, fit);
    return image.isNull() ? E_OUTOFMEMORY : S_OK;
  }

  // A picture stored as `stored` decoded at eighths / 8, as libjpeg sizes it.
  static QSize ByEighths(QSize stored, UINT eighths) {
    return QSize(static_cast<int>(ScaledByEighths(static_cast<UINT>(stored.width()), eighths)),
                 static_cast<int>(ScaledByEighths(static_cast<UINT>(stored.height()), eighths)));
  }

  // The eighths a picture stored as `stored` is decoded at to be drawn,
  // when fewer than 8 and within the bounds `asked`; none otherwise.
  std::optional<UINT> EighthsToDraw(QSize stored, QImageIOHandler::Transformations turn, QSize asked) const {
    const UINT eighths = DrawnEighths(stored, turn);
    const QSize decoded = ByEighths(stored, eighths);
    if (eighths >= 8 || decoded.width() > asked.width() || decoded.height() > asked.height()) return std::nullopt;
    return eighths;
  }

  // The fewest eighths a JPEG stored as `stored` may be decoded at to cover
  // what it is drawn at (asked for as the page stands, turned); 8 when no
  // size is asked for.
  UINT DrawnEighths(QSize stored, QImageIOHandler::Transformations turn) const {
    if (!m_settings.drawnAt) return 8;
    const QSize page = TurnedSize(stored, turn);
    UINT width = 0, height = 0;
    m_settings.drawnAt(static_cast<UINT>(page.width()), static_cast<UINT>(page.height()), &width, &height);
    const QSize drawn = TurnedSize(QSize(static_cast<int>(width), static_cast<int>(height)), turn);
    return DecodeEighths(static_cast<UINT>(stored.width()), static_cast<UINT>(stored.height()),
                         static_cast<UINT>(drawn.width()), static_cast<UINT>(drawn.height()),
                         WICShrinkOnDecode::Eighths, m_settings.drawnEighths);
  }

  HRESULT Keep(QImage image, QSize pageSize) {
    m_format = ChooseFormat(image);
    if (image.isNull()) return E_OUTOFMEMORY;  // a conversion that could not allocate
    m_pageSize = pageSize;
    m_image = std::move(image);
    return S_OK;
  }

  HRESULT DecodeWithCodec() {
    QImage image;
    GateHold hold(m_settings.gate, PixelBytes(m_declared));
    HRESULT hr = DecodeCodec(m_codec, m_bytes, m_settings.orientation, &image);
    if (FAILED(hr)) return hr;
    m_bytes = {};  // the frame is kept decoded: the file is not needed again
    const QSize pageSize = image.size();  // turned as the file says
    hr = ScaleToFit(image);
    if (FAILED(hr)) return hr;
    hold.Release();
    return Keep(std::move(image), pageSize);
  }

  // Decoded straight at the fewest eighths that cover what the page is drawn
  // at, or else what the bounds leave of it (scaled down to those exactly).
  HRESULT DecodeWithJpeg() {
    const JpegHeader& header = m_jpegHeader;
    if (header.width == 0 || header.height == 0) return WINCODEC_ERR_BADIMAGE;
    const QSize stored(static_cast<int>(header.width), static_cast<int>(header.height));
    const QImageIOHandler::Transformations turn = m_settings.orientation == WICExifOrientation::Apply
                                                      ? ExifTurn(header.orientation)
                                                      : QImageIOHandler::TransformationNone;
    const QSize asked = FitPageSize(stored, m_settings.maxBytes, m_settings.maxSide);
    const std::optional<UINT> drawn = EighthsToDraw(stored, turn, asked);
    const bool toDraw = drawn.has_value();
    const UINT eighths = toDraw ? *drawn
                                : DecodeEighths(header.width, header.height, static_cast<UINT>(asked.width()),
                                                static_cast<UINT>(asked.height()), WICShrinkOnDecode::Eighths);
    const QSize decoded = ByEighths(stored, eighths);
    const bool bounded = !toDraw && decoded != asked;
    // A progressive page's coefficients are held whole whatever the scale:
    // a 16000 x 16000 one at an eighth holds 1.5 GB of them.
    GateHold hold(m_settings.gate,
                  PixelBytes(decoded) + (bounded ? PixelBytes(asked) : 0) + header.coefficientBytes);
    JpegPixels pixels = DecodeJpeg(m_bytes, eighths);
    if (pixels.image.isNull()) return WINCODEC_ERR_BADIMAGE;
    // A file cut short shows what arrived, marked as damaged.
    if (!JpegReachesItsEnd(m_bytes))
      m_damage = u"the JPEG file is cut short or corrupt: the picture ends before its end marker";
    else if (!pixels.trouble.empty())
      m_damage = u"the JPEG data is corrupt (" + pixels.trouble + u"): some of the picture is missing";
    m_bytes = {};  // the frame is kept decoded: the file is not needed again
    QImage image = std::move(pixels.image);
    if (bounded && image.size() != asked) {
      image = ScaleDownPage(image, asked);
      if (image.isNull()) return E_OUTOFMEMORY;
    }
    if (header.dotsPerMeterX > 0 && header.dotsPerMeterY > 0) {
      image.setDotsPerMeterX(header.dotsPerMeterX);
      image.setDotsPerMeterY(header.dotsPerMeterY);
    }
    hold.Release();
    image = Turned(std::move(image), turn);
    const HRESULT hr = Keep(std::move(image), TurnedSize(stored, turn));
    if (SUCCEEDED(hr)) m_eighths = toDraw ? eighths : 8;
    return hr;
  }

  // A still WebP drawn smaller than it is: decoded by libwebp straight to
  // the eighths that cover what it is drawn at, as a JPEG is. S_FALSE for
  // any other (animated, drawn whole, past the bounds, or not decoding whole
  // this way): Qt's reader then decodes it whole, as any page, and says why.
  HRESULT DecodeWebpToDraw() {
    // The page's size and turn from its header alone: the file is read
    // whole only once it is known to decode this way.
    QSize stored;
    QImageIOHandler::Transformations turn = QImageIOHandler::TransformationNone;
    {
      LARGE_INTEGER start{};
      if (m_stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK) return S_FALSE;
      StreamDevice device(m_stream);
      QImageReader reader(&device, "webp");
      reader.setAutoDetectImageFormat(false);
      stored = reader.size();
      if (m_settings.orientation == WICExifOrientation::Apply) turn = reader.transformation();
    }
    if (!stored.isValid() || stored.isEmpty()) return S_FALSE;
    const std::optional<UINT> eighths =
        EighthsToDraw(stored, turn, FitPageSize(stored, m_settings.maxBytes, m_settings.maxSide));
    if (!eighths) return S_FALSE;
    const QSize decoded = ByEighths(stored, *eighths);
    std::vector<uint8_t> bytes;
    if (FAILED(ReadWholeStream(m_stream, &bytes))) return S_FALSE;
    GateHold hold(m_settings.gate, PixelBytes(decoded));
    QImage image = DecodeWebpScaled(bytes, decoded.width(), decoded.height());
    if (image.isNull()) return S_FALSE;
    hold.Release();
    const HRESULT hr = Keep(Turned(std::move(image), turn), TurnedSize(stored, turn));
    if (SUCCEEDED(hr)) m_eighths = *eighths;
    return hr;
  }

  HRESULT DecodeWithQt() {
    if (m_qtFormat == "webp" && m_settings.drawnAt) {
      const HRESULT hr = DecodeWebpToDraw();
      if (hr != S_FALSE) return hr;
    }
    LARGE_INTEGER start{};
    if (m_stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK) return WINCODEC_ERR_BADIMAGE;
    StreamDevice device(m_stream);
    QImageReader reader(&device, m_qtFormat);
    reader.setAutoDetectImageFormat(m_qtFormat.isEmpty());
    reader.setAutoTransform(false);  // turned here, after any scaling down
    const QByteArray kind = reader.format();  // from the content; before read() consumes it
    const QSize stored = reader.size();
    const QImageIOHandler::Transformations turn = m_settings.orientation == WICExifOrientation::Apply
                                                      ? reader.transformation()
                                                      : QImageIOHandler::TransformationNone;
    // Decoded whole, scaled down right after.
    const uint64_t fullBytes = PixelBytes(stored);
    QImage image;
    GateHold hold(m_settings.gate, fullBytes);
    // A file cut short shows what arrived, marked as damaged: Qt's PNG
    // reader fails and leaves the rows it read, its GIF reader calls a
    // picture that ends early a success, and only the file's own structure
    // tells. Any other failed read is a failed decode.
    const bool read = reader.read(&image);
    if (!read && kind == "png") image = QImage();  // Qt keeps none of the rows it read: read again below
    if ((read && image.isNull()) || (!read && kind != "png") ||
        static_cast<uint64_t>(image.width()) * static_cast<uint64_t>(image.height()) > kMaxDecodedPixels)
      return WINCODEC_ERR_BADIMAGE;
    if (!read || kind == "gif") {
      std::vector<uint8_t> bytes;
      if (FAILED(ReadWholeStream(m_stream, &bytes))) return WINCODEC_ERR_BADIMAGE;
      if (!read && PngHasImageData(bytes)) image = DecodePngRows(bytes, kMaxDecodedPixels, kMaxDecodedSide);
      if (!read && image.isNull()) return WINCODEC_ERR_BADIMAGE;
      if (!read)
        m_damage = u"the PNG file is cut short or corrupt: only part of the picture decodes";
      else if (kind == "gif" && !GifFirstFrameWhole(bytes))
        m_damage = u"the GIF file is cut short: only part of the picture decodes";
    }
    const QSize pageSize = TurnedSize(image.size(), turn);
    const QSize decoded = image.size();
    const HRESULT hr = ScaleToFit(image);
    if (FAILED(hr)) return hr;
    // GIF is a palette format: Qt hands its frames over as true colour,
    // the Windows decoder as 8bppIndexed. At most 256 colours: exact.
    if (kind == "gif" && image.size() == decoded && image.format() != QImage::Format_Indexed8)
      image = image.convertToFormat(QImage::Format_Indexed8);
    hold.Release();
    image = Turned(std::move(image), turn);
    return Keep(std::move(image), pageSize);
  }

  IStream* m_stream = nullptr;
  UINT m_frameCount = 0;
  CodecKind m_codec = CodecKind::None;
  bool m_jpeg = false;           // read through libjpeg-turbo
  QByteArray m_qtFormat;         // Qt's reader's format, by the file's signature; empty: Qt finds it
  JpegHeader m_jpegHeader;       // its header; 0 x 0 when libjpeg could not read it
  std::vector<uint8_t> m_bytes;  // the file, for our own decoders until frame 0 is decoded
  QSize m_declared;              // what our own decoders' header says
  WICFrameSettings m_settings;
  QImage m_image;  // frame 0, decoded on first request (scaled down when too large)
  QSize m_pageSize;  // frame 0's size as a page
  const GUID* m_format = nullptr;
  std::u16string m_damage;  // why frame 0 is not the whole picture
  UINT m_eighths = 8;        // frame 0 decoded at m_eighths / 8 to cover what it is drawn at
};

// ---- converter ----

// Opaque 32-bit pixels (alpha always 0xFF) already are premultiplied: the
// same buffer, read in the other format, kept alive by a copy of `image`.
QImage SharedAs(const QImage& image, QImage::Format format) {
  auto* owner = new QImage(image);
  return QImage(
      owner->constBits(), owner->width(), owner->height(), owner->bytesPerLine(), format,
      [](void* info) { delete static_cast<QImage*>(info); }, owner);
}

class CWicConverter final : public CUnknownImpl<IWICFormatConverter, IWICBitmapSource>, public IQtImage {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    // Only a converted image can be handed over as it is.
    if (out != nullptr && riid == IQtImage::iid && m_source != nullptr && SUCCEEDED(Convert())) {
      *out = static_cast<IQtImage*>(this);
      AddRef();
      return S_OK;
    }
    return CUnknownImpl::QueryInterface(riid, out);
  }
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }
  QImage Image() const override { return m_converted; }

  ~CWicConverter() override {
    if (m_source != nullptr) m_source->Release();
  }

  HRESULT GetSize(UINT* width, UINT* height) override {
    if (m_source == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    return m_source->GetSize(width, height);
  }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    if (m_source == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    *format = *m_destination;
    return S_OK;
  }
  HRESULT GetResolution(double* dpiX, double* dpiY) override {
    if (m_source == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    return m_source->GetResolution(dpiX, dpiY);
  }
  HRESULT CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override {
    if (m_source == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    const HRESULT hr = Convert();
    if (FAILED(hr)) return hr;
    return CopyPixelRect(static_cast<UINT>(m_converted.width()), static_cast<UINT>(m_converted.height()), 4, rect,
                         stride, bufferSize, buffer, [this](UINT y, UINT x, UINT count, BYTE* out) {
                           std::memcpy(out, m_converted.constScanLine(static_cast<int>(y)) + 4 * x, 4 * count);
                         });
  }
  HRESULT Initialize(IWICBitmapSource* source, REFWICPixelFormatGUID destination, WICBitmapDitherType,
                     IWICPalette*, double, WICBitmapPaletteType) override {
    if (source == nullptr) return E_INVALIDARG;
    if (m_source != nullptr) return WINCODEC_ERR_WRONGSTATE;
    const GUID* target = Destination(destination);
    if (target == nullptr) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    WICPixelFormatGUID format;
    if (FAILED(source->GetPixelFormat(&format))) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    QImage ours;
    if (!QtImageOf(source, &ours) && (FindFormat(format) == nullptr || format == GUID_WICPixelFormat8bppIndexed))
      return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;  // an indexed source would need its palette
    source->AddRef();
    m_source = source;
    m_destination = target;
    return S_OK;
  }
  HRESULT CanConvert(REFWICPixelFormatGUID from, REFWICPixelFormatGUID to, BOOL* can) override {
    if (can == nullptr) return E_INVALIDARG;
    *can = FindFormat(from) != nullptr && Destination(to) != nullptr;
    return S_OK;
  }

 private:
  static const GUID* Destination(const GUID& format) {
    if (format == GUID_WICPixelFormat32bppPBGRA) return &GUID_WICPixelFormat32bppPBGRA;
    if (format == GUID_WICPixelFormat32bppRGBA) return &GUID_WICPixelFormat32bppRGBA;
    if (format == GUID_WICPixelFormat32bppBGRA) return &GUID_WICPixelFormat32bppBGRA;
    return nullptr;
  }

  // Converts the whole source once, with Qt; later calls find it done.
  HRESULT Convert() {
    if (!m_converted.isNull()) return S_OK;
    const QImage::Format target = FindFormat(*m_destination)->qt;
    QImage frame;
    if (QtImageOf(m_source, &frame)) {
      m_converted = frame.format() == QImage::Format_RGB32 && target == QImage::Format_ARGB32_Premultiplied
                        ? SharedAs(frame, target)
                        : frame.convertToFormat(target);
      return m_converted.isNull() ? E_OUTOFMEMORY : S_OK;
    }
    UINT width = 0, height = 0;
    WICPixelFormatGUID format;
    HRESULT hr = m_source->GetSize(&width, &height);
    if (SUCCEEDED(hr)) hr = m_source->GetPixelFormat(&format);
    if (FAILED(hr)) return hr;
    const FormatInfo* info = FindFormat(format);
    if (info == nullptr) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (static_cast<uint64_t>(width) * height > kMaxDecodedPixels) return E_OUTOFMEMORY;
    QImage pulled(static_cast<int>(width), static_cast<int>(height), info->qt);
    if (pulled.isNull()) return E_OUTOFMEMORY;
    if (info->qt == QImage::Format_Mono) pulled.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const bool packed48 = format == GUID_WICPixelFormat48bppRGB;
    hr = PullInto(pulled, packed48 ? 6 * width : static_cast<UINT>(pulled.bytesPerLine()));
    if (FAILED(hr)) return hr;
    m_converted = pulled.convertToFormat(target);
    return m_converted.isNull() ? E_OUTOFMEMORY : S_OK;
  }

  // Copies the source's pixels into `image`, row by row; 48-bit rows arrive
  // packed and are spread to RGBX64 in place, from the right.
  HRESULT PullInto(QImage& image, UINT rowBytes) {
    const uint64_t size = static_cast<uint64_t>(image.bytesPerLine()) * (image.height() - 1) + rowBytes;
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    HRESULT hr = m_source->CopyPixels(nullptr, static_cast<UINT>(image.bytesPerLine()), static_cast<UINT>(size),
                                      image.bits());
    if (FAILED(hr) || image.format() != QImage::Format_RGBX64 || rowBytes == static_cast<UINT>(image.bytesPerLine()))
      return hr;
    for (int y = 0; y < image.height(); ++y) {
      uchar* row = image.scanLine(y);
      for (int x = image.width() - 1; x >= 0; --x) {
        std::memmove(row + 8 * x, row + 6 * x, 6);
        row[8 * x + 6] = row[8 * x + 7] = 0xFF;
      }
    }
    return hr;
  }

  IWICBitmapSource* m_source = nullptr;
  const GUID* m_destination = nullptr;
  QImage m_converted;
};

// ---- pixel buffer ----

class CWicPixelBuffer final : public CUnknownImpl<IWICBitmapSource>, public IQtImage {
 public:
  explicit CWicPixelBuffer(QImage image) : m_image(std::move(image)) {}

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && riid == IQtImage::iid) {
      *out = static_cast<IQtImage*>(this);
      AddRef();
      return S_OK;
    }
    return CUnknownImpl::QueryInterface(riid, out);
  }
  ULONG AddRef() override { return CUnknownImpl::AddRef(); }
  ULONG Release() override { return CUnknownImpl::Release(); }
  QImage Image() const override { return m_image; }
  // Written before anything shares the image: no copy is made.
  BYTE* Bits() { return m_image.bits(); }
  UINT Stride() const { return static_cast<UINT>(m_image.bytesPerLine()); }
  HRESULT GetSize(UINT* width, UINT* height) override {
    if (width == nullptr || height == nullptr) return E_INVALIDARG;
    *width = static_cast<UINT>(m_image.width());
    *height = static_cast<UINT>(m_image.height());
    return S_OK;
  }
  HRESULT GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = GUID_WICPixelFormat32bppPBGRA;
    return S_OK;
  }
  HRESULT GetResolution(double* dpiX, double* dpiY) override {
    if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
    *dpiX = *dpiY = 96.0;
    return S_OK;
  }
  HRESULT CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override {
    return CopyPixelRect(static_cast<UINT>(m_image.width()), static_cast<UINT>(m_image.height()), 4, rect, stride,
                         bufferSize, buffer, [this](UINT y, UINT x, UINT count, BYTE* out) {
                           std::memcpy(out, m_image.constScanLine(static_cast<int>(y)) + 4 * x, 4 * count);
                         });
  }

 private:
  QImage m_image;  // ARGB32_Premultiplied, that is 32bppPBGRA
};

// ---- factory ----

class CWicFactory final : public CUnknownImpl<IWICImagingFactory> {
 public:
  HRESULT CreateDecoderFromFilename(const char16_t*, const GUID*, DWORD, WICDecodeOptions,
                                    IWICBitmapDecoder**) override {
    return E_NOTIMPL;
  }
  HRESULT CreateDecoderFromStream(IStream* stream, const GUID*, WICDecodeOptions options,
                                  IWICBitmapDecoder** decoder) override {
    if (stream == nullptr || decoder == nullptr) return E_INVALIDARG;
    CWicDecoder* object = new (std::nothrow) CWicDecoder;
    if (object == nullptr) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->Initialize(stream, options);
    if (SUCCEEDED(hr)) hr = object->QueryInterface(IID_IWICBitmapDecoder, reinterpret_cast<void**>(decoder));
    object->Release();
    return hr;
  }
  HRESULT CreateDecoderFromFileHandle(uintptr_t, const GUID*, WICDecodeOptions, IWICBitmapDecoder**) override {
    return E_NOTIMPL;
  }
  HRESULT CreateComponentInfo(REFCLSID, void**) override { return E_NOTIMPL; }
  HRESULT CreateDecoder(const GUID&, const GUID*, IWICBitmapDecoder**) override { return E_NOTIMPL; }
  HRESULT CreateEncoder(const GUID&, const GUID*, void**) override { return E_NOTIMPL; }
  HRESULT CreatePalette(IWICPalette**) override { return E_NOTIMPL; }
  HRESULT CreateFormatConverter(IWICFormatConverter** converter) override {
    if (converter == nullptr) return E_INVALIDARG;
    CWicConverter* object = new (std::nothrow) CWicConverter;
    if (object == nullptr) return E_OUTOFMEMORY;
    return HandOut(static_cast<IWICFormatConverter*>(object), IID_IWICFormatConverter, reinterpret_cast<void**>(converter));
  }
};

}  // namespace

HRESULT (*g_moreClasses)(REFCLSID clsid, REFIID iid, void** out) = nullptr;

HRESULT CreatePixelBuffer(UINT width, UINT height, IWICBitmapSource** source, BYTE** pixels, UINT* stride) {
  if (source == nullptr || pixels == nullptr || stride == nullptr) return E_INVALIDARG;
  if (width == 0 || height == 0 || static_cast<uint64_t>(width) * height > kMaxDecodedPixels) return E_INVALIDARG;
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return E_OUTOFMEMORY;
  CWicPixelBuffer* buffer = new (std::nothrow) CWicPixelBuffer(std::move(image));
  if (buffer == nullptr) return E_OUTOFMEMORY;
  *pixels = buffer->Bits();
  *stride = buffer->Stride();
  return HandOut(static_cast<IWICBitmapSource*>(buffer), IID_IWICBitmapSource, reinterpret_cast<void**>(source));
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return static_cast<HRESULT>(0x80040110u);  // CLASS_E_NOAGGREGATION
  if (clsid == CLSID_WICImagingFactory || clsid == CLSID_WICImagingFactory2) {
    CWicFactory* factory = new (std::nothrow) CWicFactory;
    if (factory == nullptr) return E_OUTOFMEMORY;
    return HandOut(factory, iid, out);
  }
  return g_moreClasses != nullptr ? g_moreClasses(clsid, iid, out) : REGDB_E_CLASSNOTREG;
}
