// Finding the page formats of wic_codecs.h by content, their decoders'
// module, and what the decoders share.
#include "platform/wic_codecs.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "platform/wic_codec_module.h"
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

// The decoders' module, opened at the first page that needs it; none when
// it cannot be found or opened (such pages then do not decode).
struct CodecModule {
  CodecProbeEntry probe = nullptr;
  CodecDecodeEntry decode = nullptr;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

CodecModule OpenCodecModule() {
  // Where the program finds its libraries (its RUNPATH: the private folder,
  // or the build tree, also for a copy of the program elsewhere); else
  // beside the program, or the library, holding this code, or in the
  // private folder as seen from an installed program's.
  std::vector<std::string> paths{kCodecModuleName};
  char program[4096];
  const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
  std::vector<std::string> folders;
  if (length > 0) folders.push_back(FolderOf(std::string(program, static_cast<std::size_t>(length))));
  Dl_info self{};
  if (::dladdr(reinterpret_cast<void*>(&OpenCodecModule), &self) != 0 && self.dli_fname != nullptr)
    folders.push_back(FolderOf(self.dli_fname));
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    paths.push_back(folder + kCodecModuleName);
    paths.push_back(folder + VELMORA_LIB_FROM_BIN "/" + kCodecModuleName);
  }
  CodecModule module;
  for (const std::string& path : paths) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    module.probe = reinterpret_cast<CodecProbeEntry>(::dlsym(handle, kCodecProbeEntry));
    module.decode = reinterpret_cast<CodecDecodeEntry>(::dlsym(handle, kCodecDecodeEntry));
    if (module.probe != nullptr && module.decode != nullptr) return module;  // kept open for the process's life
    ::dlclose(handle);
    module = CodecModule{};
  }
  return module;
}

const CodecModule& Codecs() {
  static const CodecModule module = OpenCodecModule();
  return module;
}

}  // namespace

HRESULT ProbeCodec(CodecKind kind, EncodedBytes bytes, ImageHeader* header) {
  if (kind == CodecKind::None || Codecs().probe == nullptr) return WINCODEC_ERR_COMPONENTNOTFOUND;
  return Codecs().probe(kind, bytes.data(), bytes.size(), header);
}

HRESULT DecodeCodec(CodecKind kind, EncodedBytes bytes, WICExifOrientation orientation, QImage* page) {
  if (kind == CodecKind::None || Codecs().decode == nullptr) return WINCODEC_ERR_COMPONENTNOTFOUND;
  return Codecs().decode(kind, bytes.data(), bytes.size(), orientation, page);
}

QSize FitPageSize(QSize page, uint64_t maxBytes, uint32_t maxSide) {
  const int64_t width = page.width(), height = page.height();
  if (width < 1 || height < 1) return page;
  auto fits = [&](int64_t w, int64_t h) {
    return (maxBytes == 0 || static_cast<uint64_t>(w * h) * 4 <= maxBytes) &&
           (maxSide == 0 || static_cast<uint64_t>(std::max(w, h)) <= maxSide);
  };
  if (fits(width, height)) return page;
  int64_t w = width, h = height;
  if (maxBytes > 0 && static_cast<uint64_t>(w * h) * 4 > maxBytes) {
    const double s = std::sqrt(static_cast<double>(maxBytes) / (4.0 * static_cast<double>(w * h)));
    w = std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(width) * s));
    h = std::max<int64_t>(1, static_cast<int64_t>(static_cast<double>(height) * s));
  }
  const int64_t longest = std::max(width, height);
  if (maxSide > 0 && std::max(w, h) > static_cast<int64_t>(maxSide)) {
    // The longer side exactly at the bound, the other in proportion.
    const int64_t side = maxSide;
    w = width == longest ? side : std::max<int64_t>(1, width * side / longest);
    h = width == longest ? std::max<int64_t>(1, height * side / longest) : side;
  }
  // Rounding may leave a pixel too many: take it off the side that is
  // relatively the larger.
  while (!fits(w, h) && (w > 1 || h > 1)) {
    if (h == 1 || (w > 1 && w * height >= h * width))
      --w;
    else
      --h;
  }
  return QSize(static_cast<int>(w), static_cast<int>(h));
}

namespace {

// What each new pixel covers when n source pixels (a row's, or a column's)
// shrink to m: its first and last source pixels, the share of each that
// falls in it (those between fall in whole), and in all n / m pixels. Exact:
// the edges are counted in units of 1/m of a source pixel.
struct Spans {
  int64_t n, m;
  std::vector<int64_t> first, last;
  std::vector<float> firstShare, lastShare;
  double total;

  Spans(int64_t from, int64_t to)
      : n(from), m(to), first(static_cast<std::size_t>(to)), last(static_cast<std::size_t>(to)),
        firstShare(static_cast<std::size_t>(to)), lastShare(static_cast<std::size_t>(to)),
        total(static_cast<double>(from) / static_cast<double>(to)) {
    for (int64_t x = 0; x < m; ++x) {
      const int64_t start = x * n, end = (x + 1) * n;
      const std::size_t i = static_cast<std::size_t>(x);
      first[i] = start / m;
      last[i] = (end - 1) / m;
      if (first[i] == last[i]) {
        firstShare[i] = static_cast<float>(end - start) / static_cast<float>(m);
      } else {
        firstShare[i] = static_cast<float>((first[i] + 1) * m - start) / static_cast<float>(m);
        lastShare[i] = static_cast<float>(end - last[i] * m) / static_cast<float>(m);
      }
    }
  }
  // The share of source pixel k in new pixel x (k within its span).
  float Share(int64_t x, int64_t k) const {
    const std::size_t i = static_cast<std::size_t>(x);
    return k == first[i] ? firstShare[i] : k == last[i] ? lastShare[i] : 1.0f;
  }
};

// sums[i] += share * row[i].
void AddRow(float* __restrict sums, const uchar* __restrict row, std::size_t count, float share) {
  if (share == 1.0f) {
    for (std::size_t i = 0; i < count; ++i) sums[i] += static_cast<float>(row[i]);
  } else {
    for (std::size_t i = 0; i < count; ++i) sums[i] += share * static_cast<float>(row[i]);
  }
}

// New pixels first ... end - 1 of a complete new row, from the sums down of
// source columns x0 on: each sums its span across, scaled to a level;
// premultiplied colours stay within their alpha, opaque ones get 255.
template <int Channels>
void SumAcross(const Spans& across, int64_t first, int64_t end, int64_t x0, const float* column, float scale,
               bool opaque, uchar* row) {
  for (int64_t x = first; x < end; ++x) {
    const std::size_t i = static_cast<std::size_t>(x);
    const float* from = column + (across.first[i] - x0) * Channels;
    const int64_t between = across.last[i] - across.first[i] - 1;  // source pixels wholly inside
    float sum[Channels];
    for (int c = 0; c < Channels; ++c) sum[c] = across.firstShare[i] * from[c];
    for (int64_t k = 0; k < between; ++k) {
      from += Channels;
      for (int c = 0; c < Channels; ++c) sum[c] += from[c];
    }
    if (between >= 0) {
      from += Channels;
      for (int c = 0; c < Channels; ++c) sum[c] += across.lastShare[i] * from[c];
    }
    uchar level[Channels];
    for (int c = 0; c < Channels; ++c) level[c] = static_cast<uchar>(std::clamp(sum[c] * scale + 0.5f, 0.0f, 255.0f));
    if constexpr (Channels == 4) {
      if (opaque) {
        level[3] = 255;
      } else {
        for (int c = 0; c < 3; ++c) level[c] = std::min(level[c], level[3]);
      }
    }
    std::memcpy(row + x * Channels, level, Channels);
  }
}

QImage::Format ReducedFormat(const QImage& page) {
  switch (page.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
      return QImage::Format_Grayscale8;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
      // What the colours are, not what the format could hold.
      const QList<QRgb> table = page.colorTable();
      const bool opaque = std::all_of(table.begin(), table.end(), [](QRgb c) { return qAlpha(c) == 255; });
      const bool gray = std::all_of(table.begin(), table.end(), [](QRgb c) { return qIsGray(c); });
      if (!opaque) return QImage::Format_ARGB32_Premultiplied;
      return gray && !table.isEmpty() ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    }
    default:
      break;
  }
  return page.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
}

// Rows of a page, or pieces of them, in the format a scaled-down page is
// made in: the page's own bytes where they already are, a colour table's
// entries for palette and 1-bit pages, straight alpha premultiplied, deep
// gray shortened, and Qt's conversion of a strip of rows for the rest.
class PieceReader {
 public:
  PieceReader(const QImage& page, QImage::Format format)
      : m_page(page), m_format(format), m_channels(format == QImage::Format_Grayscale8 ? 1 : 4) {
    switch (page.format()) {
      case QImage::Format_Indexed8:
      case QImage::Format_Mono:
      case QImage::Format_MonoLSB: {
        m_way = Way::Table;
        const QList<QRgb> colours = page.colorTable();
        for (std::size_t k = 0; k < m_table.size(); ++k) {
          const QRgb c = k < static_cast<std::size_t>(colours.size()) ? colours[static_cast<qsizetype>(k)] : qRgb(0, 0, 0);
          m_table[k] = format == QImage::Format_Grayscale8     ? static_cast<uint32_t>(qRed(c))
                       : format == QImage::Format_RGB32        ? (c | 0xFF000000u)
                                                               : qPremultiply(c);
        }
        break;
      }
      case QImage::Format_Grayscale16:
        m_way = format == QImage::Format_Grayscale8 ? Way::DeepGray : Way::Qt;
        break;
      case QImage::Format_ARGB32:
        m_way = format == QImage::Format_ARGB32_Premultiplied ? Way::Premultiply : Way::Qt;
        break;
      default:
        m_way = page.format() == format ? Way::Direct : Way::Qt;
        break;
    }
  }

  // Pixels x ... x + count - 1 of row y; null when memory is short.
  const uchar* Read(int32_t y, int64_t x, int64_t count) {
    const uchar* row = m_page.constScanLine(y);
    if (m_way == Way::Direct) return row + x * m_channels;
    if (m_way == Way::Qt) return ReadConverted(y, x, count);
    // Whole 32-bit words, so that a pixel is one store; a gray level is one
    // byte of them.
    m_line.resize(static_cast<std::size_t>((count * m_channels + 3) / 4));
    uint32_t* const words = m_line.data();
    uchar* const levels = reinterpret_cast<uchar*>(words);
    auto put = [&](int64_t i, uint32_t pixel) {
      if (m_channels == 1)
        levels[i] = static_cast<uchar>(pixel);
      else
        words[i] = pixel;
    };
    switch (m_page.format()) {
      case QImage::Format_Indexed8:
        for (int64_t i = 0; i < count; ++i) put(i, m_table[row[x + i]]);
        break;
      case QImage::Format_Mono:
        for (int64_t i = 0, at = x; i < count; ++i, ++at) put(i, m_table[(row[at >> 3] >> (7 - (at & 7))) & 1]);
        break;
      case QImage::Format_MonoLSB:
        for (int64_t i = 0, at = x; i < count; ++i, ++at) put(i, m_table[(row[at >> 3] >> (at & 7)) & 1]);
        break;
      case QImage::Format_Grayscale16: {
        const uint16_t* deep = reinterpret_cast<const uint16_t*>(row) + x;
        for (int64_t i = 0; i < count; ++i) levels[i] = static_cast<uchar>((deep[i] + 128u) / 257u);
        break;
      }
      default: {  // ARGB32
        const QRgb* straight = reinterpret_cast<const QRgb*>(row) + x;
        for (int64_t i = 0; i < count; ++i) words[i] = qPremultiply(straight[i]);
        break;
      }
    }
    return levels;
  }

 private:
  enum class Way { Direct, Table, DeepGray, Premultiply, Qt };

  // Qt converts a strip of rows of the piece asked for, kept for the rows
  // that follow (about a million pixels).
  const uchar* ReadConverted(int32_t y, int64_t x, int64_t count) {
    if (m_strip.isNull() || y < m_stripTop || y >= m_stripTop + m_strip.height() || x != m_stripX ||
        count != m_strip.width()) {
      const int32_t rows = static_cast<int32_t>(std::clamp<int64_t>((1 << 20) / count, 1, 256));
      m_strip = m_page.copy(static_cast<int>(x), y, static_cast<int>(count), std::min(rows, m_page.height() - y));
      if (m_strip.format() != m_format) m_strip = m_strip.convertToFormat(m_format);
      if (m_strip.isNull()) return nullptr;
      m_stripTop = y;
      m_stripX = x;
    }
    return m_strip.constScanLine(y - m_stripTop);
  }

  const QImage& m_page;
  const QImage::Format m_format;
  const int m_channels;
  Way m_way = Way::Qt;
  std::array<uint32_t, 256> m_table{};
  std::vector<uint32_t> m_line;
  QImage m_strip;
  int32_t m_stripTop = 0;
  int64_t m_stripX = 0;
};

}  // namespace

QImage ScaleDownPage(const QImage& page, QSize size) {
  const int32_t width = page.width(), height = page.height();
  const int32_t outWidth = size.width(), outHeight = size.height();
  if (page.isNull() || outWidth < 1 || outHeight < 1 || outWidth > width || outHeight > height) return {};
  // The page goes by bands of whole new columns, each read top to bottom:
  // its rows are summed down into the new row they fall in, and each new
  // row, once complete, is summed across. A band is at most 64K pixels
  // wide, so the sums stay small however wide the page; a new pixel wider
  // than that is refused.
  constexpr int64_t kBandPixels = 1 << 16;
  if ((static_cast<int64_t>(width) + outWidth - 1) / outWidth + 1 > kBandPixels) return {};
  const QImage::Format format = ReducedFormat(page);
  const int channels = format == QImage::Format_Grayscale8 ? 1 : 4;
  QImage out = NewPage(static_cast<uint32_t>(outWidth), static_cast<uint32_t>(outHeight), format);
  if (out.isNull()) return {};
  try {
    const Spans across(width, outWidth), down(height, outHeight);
    const float scale = static_cast<float>(1.0 / (across.total * down.total));
    PieceReader pieces(page, format);
    const std::size_t most = static_cast<std::size_t>(std::min<int64_t>(width, kBandPixels)) * channels;
    std::vector<float> current(most), next(most);
    for (int64_t bandStart = 0; bandStart < outWidth;) {
      int64_t bandEnd = bandStart + 1;
      const int64_t x0 = across.first[static_cast<std::size_t>(bandStart)];
      while (bandEnd < outWidth && across.last[static_cast<std::size_t>(bandEnd)] + 1 - x0 <= kBandPixels) ++bandEnd;
      const int64_t bandWidth = across.last[static_cast<std::size_t>(bandEnd) - 1] + 1 - x0;
      const std::size_t sums = static_cast<std::size_t>(bandWidth) * static_cast<std::size_t>(channels);
      std::fill_n(current.begin(), sums, 0.0f);
      std::fill_n(next.begin(), sums, 0.0f);
      int64_t outY = 0;  // the new row being gathered
      for (int32_t y = 0; y < height; ++y) {
        const uchar* in = pieces.Read(y, x0, bandWidth);
        if (in == nullptr) return {};
        // Row y's share of the new row, and of the next where their edge
        // falls inside it.
        AddRow(current.data(), in, sums, down.Share(outY, y));
        if (outY + 1 < outHeight && down.first[static_cast<std::size_t>(outY) + 1] == y)
          AddRow(next.data(), in, sums, down.firstShare[static_cast<std::size_t>(outY) + 1]);
        if (y != down.last[static_cast<std::size_t>(outY)]) continue;
        // The new row is complete: across, each new pixel sums its span.
        uchar* to = out.scanLine(static_cast<int>(outY));
        if (channels == 1)
          SumAcross<1>(across, bandStart, bandEnd, x0, current.data(), scale, false, to);
        else
          SumAcross<4>(across, bandStart, bandEnd, x0, current.data(), scale, format == QImage::Format_RGB32, to);
        current.swap(next);
        std::fill_n(next.begin(), sums, 0.0f);
        if (++outY == outHeight) break;
      }
      bandStart = bandEnd;
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  // The same page on paper: fewer pixels to the inch.
  const QImage fresh(1, 1, QImage::Format_Mono);
  if (page.dotsPerMeterX() != fresh.dotsPerMeterX() || page.dotsPerMeterY() != fresh.dotsPerMeterY()) {
    out.setDotsPerMeterX(static_cast<int>(std::lround(static_cast<double>(page.dotsPerMeterX()) * outWidth / width)));
    out.setDotsPerMeterY(static_cast<int>(std::lround(static_cast<double>(page.dotsPerMeterY()) * outHeight / height)));
  }
  return out;
}
