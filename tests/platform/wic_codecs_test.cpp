// AVIF, JPEG XL and HEIF pages through the imaging component: written by
// the libraries' own encoders here, found by content, reported in the
// formats every other page has, and refused or failed cleanly when too
// large, cut short or damaged.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#define VELMORA_PAGE_ENCODERS
#include "ImageSupport.h"
#include "platform/exif_resolution.h"
#include "platform/wic_codecs.h"

using test::Ref;

// x265 3.5, the HEVC encoder the HEIF pages here are written with, leaks a
// few small blocks every time it is used. Only the tests use an encoder.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libx265.so\n";
}

namespace {

enum class Kind { Avif, Jxl, Heif };

const char* Name(Kind k) { return k == Kind::Avif ? "AVIF" : k == Kind::Jxl ? "JPEG XL" : "HEIF"; }

std::string Encode(Kind kind, const QImage& image, const test::PageOptions& options = {}) {
  std::string bytes = kind == Kind::Avif  ? test::EncodeAvif({image}, options)
                      : kind == Kind::Jxl ? test::EncodeJxl({image}, options)
                                          : test::EncodeHeif(image, options);
  EXPECT_FALSE(bytes.empty()) << Name(kind) << " encoder";
  return bytes;
}

// AVIF and JPEG XL are written losslessly; HEIF's HEVC and AV1 lose a
// little even at top quality (and HEVC halves the chroma).
int Tolerance(Kind kind) { return kind == Kind::Heif ? 10 : 0; }

// Smooth gradients, so that a lossy codec stays close everywhere.
QImage Gradient(int w, int h, QImage::Format format) {
  QImage image(w, h, QImage::Format_RGBA8888);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgba(40 + 3 * x, 30 + 4 * y, 200 - 2 * x - y, 255 - 3 * (x + y)));
  return image.convertToFormat(format);
}

QImage GrayGradient(int w, int h) {
  QImage image(w, h, QImage::Format_Grayscale8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.scanLine(y)[x] = static_cast<uchar>(10 + 3 * x + 2 * y);
  return image;
}

struct Frame {
  Ref<IWICBitmapFrameDecode> frame;
  GUID format{};
  UINT width = 0, height = 0;
  std::vector<BYTE> pixels;  // packed rows
};

Frame DecodeOk(const std::string& bytes, UINT bytesPerPixel) {
  Frame f;
  EXPECT_EQ(test::Decode(bytes, &f.frame), S_OK);
  if (!f.frame) return f;
  f.frame->GetPixelFormat(&f.format);
  f.frame->GetSize(&f.width, &f.height);
  f.pixels.resize(static_cast<std::size_t>(f.width) * f.height * bytesPerPixel);
  EXPECT_EQ(f.frame->CopyPixels(nullptr, f.width * bytesPerPixel, static_cast<UINT>(f.pixels.size()), f.pixels.data()),
            S_OK);
  return f;
}

// The largest difference of each byte from `expected(x, y, byte)`.
template <class Expected>
int MaxError(const Frame& f, UINT bytesPerPixel, Expected expected) {
  int worst = 0;
  for (UINT y = 0; y < f.height; ++y)
    for (UINT x = 0; x < f.width; ++x)
      for (UINT c = 0; c < bytesPerPixel; ++c)
        worst = std::max(worst, std::abs(f.pixels[(y * f.width + x) * bytesPerPixel + c] - expected(x, y, c)));
  return worst;
}

// A decode with the decoder's own settings: the frame as DecodeOk gives it,
// and the page's size.
struct Settled {
  Frame f;
  UINT pageWidth = 0, pageHeight = 0;
};

Settled DecodeWith(const std::string& bytes, const WICFrameSettings& settings, UINT bytesPerPixel) {
  Settled s;
  Ref<IWICBitmapDecoder> decoder;
  EXPECT_EQ(test::OpenDecoder(bytes, decoder), S_OK);
  if (!decoder) return s;
  Ref<IWICDecoderSettings> own;
  EXPECT_EQ(decoder->QueryInterface(IID_IWICDecoderSettings, reinterpret_cast<void**>(&own)), S_OK);
  own->SetFrameSettings(settings);
  EXPECT_EQ(decoder->GetFrame(0, &s.f.frame), S_OK);
  if (!s.f.frame) return s;
  s.f.frame->GetPixelFormat(&s.f.format);
  s.f.frame->GetSize(&s.f.width, &s.f.height);
  s.f.pixels.resize(static_cast<std::size_t>(s.f.width) * s.f.height * bytesPerPixel);
  EXPECT_EQ(s.f.frame->CopyPixels(nullptr, s.f.width * bytesPerPixel, static_cast<UINT>(s.f.pixels.size()),
                                  s.f.pixels.data()),
            S_OK);
  own->GetPageSize(&s.pageWidth, &s.pageHeight);
  return s;
}

class PageFormat : public testing::TestWithParam<Kind> {};

// Counts what a decode asks of its gate.
class CountingGate final : public IWICDecodeGate {
 public:
  void Enter(uint64_t bytes) override { asked += bytes, held += bytes; }
  void Leave(uint64_t bytes) override { held -= bytes; }
  uint64_t asked = 0, held = 0;
};

TEST_P(PageFormat, APageTooLargeToKeepIsScaledDownAndKeepsItsSize) {
  // 64 x 32 kept within 16 x 8: each kept pixel is the mean of 4 x 4.
  const QImage rgb = Gradient(64, 32, QImage::Format_RGB888);
  CountingGate gate;
  WICFrameSettings settings;
  settings.maxBytes = 16 * 8 * 4;
  settings.gate = &gate;
  const Settled s = DecodeWith(Encode(GetParam(), rgb), settings, 3);
  ASSERT_EQ(s.f.format, GUID_WICPixelFormat24bppBGR);
  EXPECT_EQ(s.f.width, 16u);
  EXPECT_EQ(s.f.height, 8u);
  EXPECT_EQ(s.pageWidth, 64u);
  EXPECT_EQ(s.pageHeight, 32u);
  EXPECT_EQ(gate.asked, 64u * 32 * 4) << "the full page passed the gate";
  EXPECT_EQ(gate.held, 0u);
  const int error = MaxError(s.f, 3, [&](UINT x, UINT y, UINT c) {
    double sum = 0;
    for (UINT dy = 0; dy < 4; ++dy)
      for (UINT dx = 0; dx < 4; ++dx) {
        const QRgb p = rgb.pixel(static_cast<int>(4 * x + dx), static_cast<int>(4 * y + dy));
        sum += c == 0 ? qBlue(p) : c == 1 ? qGreen(p) : qRed(p);
      }
    return static_cast<int>(std::lround(sum / 16));
  });
  EXPECT_LE(error, std::max(1, Tolerance(GetParam())));
}

TEST_P(PageFormat, GrayIs8bppGray) {
  const QImage gray = GrayGradient(40, 24);
  Frame f = DecodeOk(Encode(GetParam(), gray), 1);
  ASSERT_EQ(f.format, GUID_WICPixelFormat8bppGray);
  ASSERT_EQ(f.width, 40u);
  ASSERT_EQ(f.height, 24u);
  EXPECT_LE(MaxError(f, 1, [&](UINT x, UINT y, UINT) { return gray.constScanLine(y)[x]; }), Tolerance(GetParam()));
}

TEST_P(PageFormat, DeepLevelsBecomeEightBits) {
  // Ten bits: level v shows as v * 255 / 1023, rounded. Gray stays gray
  // (HEIF's deep gray is coded as colour here, so it comes out as BGR).
  QImage deep(32, 16, QImage::Format_Grayscale16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) reinterpret_cast<uint16_t*>(deep.scanLine(y))[x] = static_cast<uint16_t>(x * 31 + y * 2);
  test::PageOptions ten;
  ten.bits = 10;
  const UINT bytes = GetParam() == Kind::Heif ? 3 : 1;
  Frame f = DecodeOk(Encode(GetParam(), deep, ten), bytes);
  ASSERT_EQ(f.format, bytes == 3 ? GUID_WICPixelFormat24bppBGR : GUID_WICPixelFormat8bppGray);
  const int error = MaxError(f, bytes, [&](UINT x, UINT y, UINT) {
    return static_cast<int>(std::lround(reinterpret_cast<const uint16_t*>(deep.constScanLine(y))[x] * 255.0 / 1023));
  });
  EXPECT_LE(error, std::max(1, Tolerance(GetParam())));
}

TEST_P(PageFormat, OpaqueColourIs24bppBgr) {
  const QImage rgb = Gradient(40, 24, QImage::Format_RGB888);
  Frame f = DecodeOk(Encode(GetParam(), rgb), 3);
  ASSERT_EQ(f.format, GUID_WICPixelFormat24bppBGR);
  ASSERT_EQ(f.width, 40u);
  EXPECT_LE(MaxError(f, 3,
                     [&](UINT x, UINT y, UINT c) {
                       const QRgb p = rgb.pixel(static_cast<int>(x), static_cast<int>(y));
                       return c == 0 ? qBlue(p) : c == 1 ? qGreen(p) : qRed(p);
                     }),
            Tolerance(GetParam()));
}

TEST_P(PageFormat, AlphaIs32bppBgraStraight) {
  const QImage rgba = Gradient(24, 16, QImage::Format_RGBA8888);
  Frame f = DecodeOk(Encode(GetParam(), rgba), 4);
  ASSERT_EQ(f.format, GUID_WICPixelFormat32bppBGRA);
  EXPECT_LE(MaxError(f, 4,
                     [&](UINT x, UINT y, UINT c) {
                       const QRgb p = rgba.pixel(static_cast<int>(x), static_cast<int>(y));
                       return c == 0 ? qBlue(p) : c == 1 ? qGreen(p) : c == 2 ? qRed(p) : qAlpha(p);
                     }),
            Tolerance(GetParam()));
}

TEST_P(PageFormat, ResolutionIs96DpiUnlessExifSaysOtherwise) {
  const QImage gray = GrayGradient(16, 16);
  double dx = 0, dy = 0;
  Frame plain = DecodeOk(Encode(GetParam(), gray), 1);
  ASSERT_EQ(plain.frame->GetResolution(&dx, &dy), S_OK);
  EXPECT_DOUBLE_EQ(dx, 96.0);
  EXPECT_DOUBLE_EQ(dy, 96.0);

  test::PageOptions stated;
  stated.exif = test::ExifResolution(300, 600);
  Frame scan = DecodeOk(Encode(GetParam(), gray, stated), 1);
  ASSERT_EQ(scan.frame->GetResolution(&dx, &dy), S_OK);
  EXPECT_NEAR(dx, 300.0, 0.05);
  EXPECT_NEAR(dy, 600.0, 0.05);
}

TEST_P(PageFormat, CutShortOrDamagedFilesFailCleanly) {
  const std::string whole = Encode(GetParam(), Gradient(48, 32, QImage::Format_RGB888));
  ASSERT_GT(whole.size(), 64u);
  for (const std::size_t keep : {std::size_t{12}, std::size_t{40}, whole.size() / 2, whole.size() - 1}) {
    Ref<IWICBitmapFrameDecode> frame;
    EXPECT_TRUE(FAILED(test::Decode(whole.substr(0, keep), &frame))) << Name(GetParam()) << " cut to " << keep;
    EXPECT_FALSE(frame);
  }
  // Bytes changed all over the file: any result but a crash will do (the
  // sanitizer build watches the memory).
  for (std::size_t at = 2; at < whole.size(); at += std::max<std::size_t>(1, whole.size() / 40)) {
    std::string damaged = whole;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    Ref<IWICBitmapFrameDecode> frame;
    if (SUCCEEDED(test::Decode(damaged, &frame))) {
      UINT w = 0, h = 0;
      frame->GetSize(&w, &h);
      std::vector<BYTE> pixels(static_cast<std::size_t>(w) * h * 4);
      frame->CopyPixels(nullptr, w * 4, static_cast<UINT>(pixels.size()), pixels.data());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, PageFormat, testing::Values(Kind::Avif, Kind::Jxl, Kind::Heif),
                         [](const testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param == Kind::Avif  ? "Avif"
                                              : info.param == Kind::Jxl ? "Jxl"
                                                                        : "Heif");
                         });

// ---- oversized headers ----

// Sets every 'ispe' box (the stored size of each image item) to w x h.
std::string WithIspe(std::string bytes, uint32_t w, uint32_t h) {
  int found = 0;
  for (std::size_t at = bytes.find("ispe"); at != std::string::npos; at = bytes.find("ispe", at + 4), ++found)
    for (int i = 0; i < 4; ++i) {
      bytes[at + 8 + i] = static_cast<char>(w >> (24 - 8 * i));
      bytes[at + 12 + i] = static_cast<char>(h >> (24 - 8 * i));
    }
  EXPECT_GT(found, 0);
  return bytes;
}

// A JPEG XL codestream that is only a header: a square of `side` pixels,
// 8-bit sRGB (every other field at its default).
std::string JxlHeaderOnly(uint32_t side) {
  std::vector<int> bits;
  auto put = [&](uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bits.push_back(static_cast<int>((value >> i) & 1));
  };
  put(0, 1);          // size not a multiple of 8
  put(3, 2);          // height in the 30-bit form...
  put(side - 1, 30);  // ...less one
  put(1, 3);          // width by ratio 1:1
  put(1, 1);          // image metadata: all default
  std::string bytes("\xFF\x0A", 2);
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    int byte = 0;
    for (std::size_t b = 0; b < 8 && i + b < bits.size(); ++b) byte |= bits[i + b] << b;
    bytes += static_cast<char>(byte);
  }
  return bytes + std::string(16, '\0');
}

HRESULT CreateDecoder(const std::string& bytes) {
  Ref<IWICBitmapDecoder> decoder;
  return test::OpenDecoder(bytes, decoder);
}

TEST(PageLimits, OversizedHeadersAreRefusedBeforeDecoding) {
  const QImage small = Gradient(16, 16, QImage::Format_RGB888);
  const std::string avif = test::EncodeAvif({small}), heif = test::EncodeHeif(small);
  EXPECT_EQ(CreateDecoder(avif), S_OK);
  EXPECT_EQ(CreateDecoder(heif), S_OK);
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{16001, 16001}, {16000, 16001}, {100000, 100000}, {1, 300000000}}) {
    EXPECT_EQ(CreateDecoder(WithIspe(avif, w, h)), WINCODEC_ERR_BADIMAGE) << "AVIF " << w << " x " << h;
    EXPECT_EQ(CreateDecoder(WithIspe(heif, w, h)), WINCODEC_ERR_BADIMAGE) << "HEIF " << w << " x " << h;
  }
  // The header alone is read to refuse: 16000 x 16000 is accepted (then
  // fails to decode, for want of the rest of the file), one more is not.
  EXPECT_EQ(CreateDecoder(JxlHeaderOnly(16000)), S_OK);
  EXPECT_EQ(CreateDecoder(JxlHeaderOnly(16001)), WINCODEC_ERR_BADIMAGE);
  EXPECT_EQ(CreateDecoder(JxlHeaderOnly(100000)), WINCODEC_ERR_BADIMAGE);
  Ref<IWICBitmapFrameDecode> frame;
  EXPECT_TRUE(FAILED(test::Decode(JxlHeaderOnly(16000), &frame)));
}

// A page within the limit whose pixels cannot be had: the decode fails as
// out of memory, before the library decodes, with no abort. Run in a child
// whose address space is capped 512 MiB above what it uses; the headers
// declare 16000 x 16000 (768 MB as BGR) over tiny real pictures.
TEST(PageLimits, APageThatCannotBeHeldIsAFailedDecode) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than any cap leaves";
#else
  const QImage small = Gradient(16, 16, QImage::Format_RGB888);
  const std::pair<const char*, std::string> files[] = {{"AVIF", WithIspe(test::EncodeAvif({small}), 16000, 16000)},
                                                       {"HEIF", WithIspe(test::EncodeHeif(small), 16000, 16000)},
                                                       {"JPEG XL", JxlHeaderOnly(16000)}};
  for (const auto& [kind, bytes] : files) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      long pages = 0;
      std::FILE* statm = std::fopen("/proc/self/statm", "r");
      if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) _exit(3);
      std::fclose(statm);
      const rlim_t cap = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (512ul << 20);
      const rlimit limit{cap, cap};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
      Ref<IWICBitmapFrameDecode> frame;
      _exit(test::Decode(bytes, &frame) == E_OUTOFMEMORY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << kind << ": ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << kind;
  }
#endif
}

// ---- frames, orientation, finding by content ----

TEST(PageFrames, SequencesAndAnimationsShowTheirFirstFrame) {
  QImage red(8, 8, QImage::Format_RGB888), blue(8, 8, QImage::Format_RGB888);
  red.fill(qRgb(250, 10, 10));
  blue.fill(qRgb(10, 10, 250));
  for (const std::string& bytes : {test::EncodeAvif({red, blue}), test::EncodeJxl({red, blue})}) {
    Frame f = DecodeOk(bytes, 3);
    ASSERT_EQ(f.format, GUID_WICPixelFormat24bppBGR);
    EXPECT_NEAR(f.pixels[2], 250, 2);  // red, not blue
    EXPECT_NEAR(f.pixels[0], 10, 2);
  }
  Ref<IStream> stream;
  test::NewStream(test::EncodeAvif({red, blue, red}), stream);
  Ref<IWICImagingFactory> factory;
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(&factory));
  Ref<IWICBitmapDecoder> decoder;
  ASSERT_EQ(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder), S_OK);
  UINT count = 0;
  decoder->GetFrameCount(&count);
  EXPECT_EQ(count, 3u);
  Ref<IWICBitmapFrameDecode> second;
  EXPECT_EQ(decoder->GetFrame(1, &second), WINCODEC_ERR_FRAMEMISSING);
}

TEST(PageFrames, StoredOrientationTurnsThePage) {
  // Stored 3 wide and 2 high; shown 2 wide and 3 high.
  QImage stored(3, 2, QImage::Format_Grayscale8);
  const uchar levels[2][3] = {{10, 20, 30}, {40, 50, 60}};
  for (int y = 0; y < 2; ++y) std::memcpy(stored.scanLine(y), levels[y], 3);
  test::PageOptions clockwise;
  clockwise.orientation = 6;  // JPEG XL: a quarter clockwise
  Frame f = DecodeOk(test::EncodeJxl({stored}, clockwise), 1);
  ASSERT_EQ(f.width, 2u);
  ASSERT_EQ(f.height, 3u);
  EXPECT_EQ(f.pixels, (std::vector<BYTE>{40, 10, 50, 20, 60, 30}));

  test::PageOptions anticlockwise;
  anticlockwise.quarterTurns = 1;  // AVIF's 'irot': a quarter anti-clockwise
  Frame g = DecodeOk(test::EncodeAvif({stored}, anticlockwise), 1);
  ASSERT_EQ(g.width, 2u);
  ASSERT_EQ(g.height, 3u);
  EXPECT_EQ(g.pixels, (std::vector<BYTE>{30, 60, 20, 50, 10, 40}));

  // With the Exif orientation switched off, the JPEG XL page is as stored;
  // an AVIF's turn is part of its picture and still applies.
  WICFrameSettings asStored;
  asStored.orientation = WICExifOrientation::Ignore;
  const Settled h = DecodeWith(test::EncodeJxl({stored}, clockwise), asStored, 1);
  ASSERT_EQ(h.f.width, 3u);
  EXPECT_EQ(h.pageWidth, 3u);
  EXPECT_EQ(h.f.pixels, (std::vector<BYTE>{10, 20, 30, 40, 50, 60}));
  const Settled i = DecodeWith(test::EncodeAvif({stored}, anticlockwise), asStored, 1);
  EXPECT_EQ(i.f.pixels, g.pixels);
}

TEST(PageSniffing, KindComesFromTheContent) {
  auto sniff = [](const std::string& head) {
    return SniffCodec({reinterpret_cast<const uint8_t*>(head.data()), head.size()});
  };
  auto ftyp = [](const std::string& major, std::initializer_list<const char*> compatible) {
    std::string box = std::string(3, '\0') + static_cast<char>(16 + 4 * compatible.size()) + "ftyp" + major +
                      std::string(4, '\0');
    for (const char* c : compatible) box += c;
    return box + std::string("\0\0\0\x08" "free", 8);
  };
  EXPECT_EQ(sniff(std::string("\xFF\x0A\xFA\x7F", 4)), CodecKind::JpegXl);
  EXPECT_EQ(sniff(std::string("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12)), CodecKind::JpegXl);
  EXPECT_EQ(sniff(ftyp("avif", {"mif1", "miaf"})), CodecKind::Avif);
  EXPECT_EQ(sniff(ftyp("mif1", {"mif1", "avif"})), CodecKind::Avif);
  EXPECT_EQ(sniff(ftyp("avis", {})), CodecKind::Avif);
  EXPECT_EQ(sniff(ftyp("heic", {"mif1", "heic"})), CodecKind::Heif);
  EXPECT_EQ(sniff(ftyp("heic", {"avif"})), CodecKind::Heif);  // the major brand rules
  EXPECT_EQ(sniff(ftyp("mif1", {"heix"})), CodecKind::Heif);
  EXPECT_EQ(sniff(ftyp("msf1", {})), CodecKind::Heif);
  EXPECT_EQ(sniff(ftyp("isom", {"mp41", "avc1"})), CodecKind::None);  // a video
  EXPECT_EQ(sniff(ftyp("qt  ", {})), CodecKind::None);
  // A brand past the box's own end does not count.
  std::string shortBox = ftyp("isom", {"avif"});
  shortBox[3] = 16;
  EXPECT_EQ(sniff(shortBox), CodecKind::None);
  EXPECT_EQ(sniff("\x89PNG\r\n\x1A\n"), CodecKind::None);
  EXPECT_EQ(sniff(std::string("\xFF\xD8\xFF\xE0", 4)), CodecKind::None);
  EXPECT_EQ(sniff(""), CodecKind::None);

  // A file named like one of them that is not: refused, not decoded.
  Ref<IWICBitmapFrameDecode> frame;
  EXPECT_TRUE(FAILED(test::Decode(ftyp("avif", {}) + std::string(64, 'x'), &frame)));
  EXPECT_TRUE(FAILED(test::Decode(ftyp("heic", {}) + std::string(64, 'x'), &frame)));
}

// ---- Exif resolution ----

std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(ExifResolution, ReadsTheFormsFilesHold) {
  double x = 0, y = 0;
  const std::string tiff = test::ExifResolution(300, 150);
  ASSERT_TRUE(ReadExifResolution(Bytes(tiff), &x, &y));
  EXPECT_DOUBLE_EQ(x, 300.0);
  EXPECT_DOUBLE_EQ(y, 150.0);
  // "Exif\0\0" first, and HEIF's 4-byte offset first (to a marked block).
  ASSERT_TRUE(ReadExifResolution(Bytes(std::string("Exif\0\0", 6) + tiff), &x, &y));
  EXPECT_DOUBLE_EQ(x, 300.0);
  ASSERT_TRUE(ReadExifResolution(Bytes(std::string("\0\0\0\x06" "Exif\0\0", 10) + tiff), &x, &y));
  EXPECT_DOUBLE_EQ(y, 150.0);
  // Centimetres: 118 per cm is 299.72 dpi.
  ASSERT_TRUE(ReadExifResolution(Bytes(test::ExifResolution(118, 118, 3)), &x, &y));
  EXPECT_NEAR(x, 299.72, 1e-9);

  // Big-endian, written by hand: one entry, XResolution 72/1.
  const std::string motorola("MM\0\x2A\0\0\0\x08\0\x01\x01\x1A\0\x05\0\0\0\x01\0\0\0\x1A\0\0\0\0\0\0\0\x48\0\0\0\x01", 34);
  ASSERT_TRUE(ReadExifResolution(Bytes(motorola), &x, &y));
  EXPECT_DOUBLE_EQ(x, 72.0);
  EXPECT_DOUBLE_EQ(y, 72.0);  // no YResolution: the same as X
}

TEST(ExifResolution, RefusesWhatStatesNoUsableResolution) {
  double x = 7, y = 7;
  const std::string tiff = test::ExifResolution(300, 300);
  EXPECT_FALSE(ReadExifResolution(Bytes(test::ExifResolution(300, 300, 1)), &x, &y));  // no absolute unit
  EXPECT_FALSE(ReadExifResolution(Bytes(test::ExifResolution(0, 300)), &x, &y));
  EXPECT_FALSE(ReadExifResolution(Bytes(""), &x, &y));
  EXPECT_FALSE(ReadExifResolution(Bytes("not exif at all"), &x, &y));
  // Cut anywhere inside: never read past the end, never a resolution
  // from half a value.
  for (std::size_t n = 0; n < tiff.size(); ++n) EXPECT_FALSE(ReadExifResolution(Bytes(tiff.substr(0, n)), &x, &y)) << n;
  // An offset pointing past the end.
  EXPECT_FALSE(ReadExifResolution(Bytes(std::string("\xFF\xFF\xFF\xF0", 4) + tiff), &x, &y));
  EXPECT_EQ(x, 7);
}

}  // namespace
