// Decoding a scanned page through the imaging component against Qt's reader
// on the same file, the page analyses against a memcpy of their data, and
// the page scaler against the float scaler it replaced.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QtCore/QFile>
#include <QtGui/QImage>
#include <QtGui/QImageReader>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "BenchRatios.h"
#include "FloatLanczos.h"
#include "common/Stream.h"
#include "ordel/Ordel.h"
#include "ordel/FileSystem.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/wincodec.h"
#include "viewer/imaging/PageLoader.h"
#include "viewer/imaging/WICBitmapScaler.h"
#include "viewer/imaging/WICBitmapSource.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 2400;

// A page that looks like a scan: soft gradients and some text-like strokes.
QImage MakePage(bool colour) {
  QImage page(kWidth, kHeight, QImage::Format_RGB32);
  for (int y = 0; y < kHeight; ++y) {
    auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      const int ink = ((x / 7 + y / 11) % 23 == 0) ? 180 : 0;
      const int v = 235 - ink - (x + y) % 17;
      row[x] = colour ? qRgb(v, (v + x / 9) % 256, (v + y / 13) % 256) : qRgb(v, v, v);
    }
  }
  return colour ? page : page.convertToFormat(QImage::Format_Grayscale8);
}

struct Pages {
  std::string root;
  IDirectory* directory = nullptr;
  Pages() {
    root = bench::MakeScratchFolder();
    MakePage(true).save(QString::fromStdString(root + "/colour.jpg"), "JPEG", 90);
    MakePage(false).save(QString::fromStdString(root + "/gray.jpg"), "JPEG", 90);
    // The colour page as AVIF, JPEG XL and HEIF too, written by Debian's
    // command-line encoders at usual lossy settings.
    MakePage(true).save(QString::fromStdString(root + "/colour.png"), "PNG");
    const std::string png = " " + root + "/colour.png ";
    for (const std::string& command : {"avifenc -s 6 --min 20 --max 30 -y 420" + png + root + "/colour.avif",
                                       "cjxl -d 1" + png + root + "/colour.jxl",
                                       "heif-enc -q 80 -o " + root + "/colour.heic" + png})
      if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    IFileSystem* fs = nullptr;
    OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&fs));
    fs->OpenDirectory(&directory, Utf8ToUtf16(root).c_str());
    fs->Release();
  }
  ~Pages() {
    directory->Release();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

Pages& ThePages() {
  static Pages pages;
  return pages;
}

// The viewer's way: file, stream, factory, decoder, frame 0, its pixels.
IWICBitmapFrameDecode* DecodeFrame(const char16_t* name) {
  IFile* file = nullptr;
  ThePages().directory->OpenFile(&file, name, nullptr);
  IStream* stream = nullptr;
  CreateFileStream(file, &stream);
  file->Release();
  IWICImagingFactory* factory = nullptr;
  CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   reinterpret_cast<void**>(&factory));
  IWICBitmapDecoder* decoder = nullptr;
  factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, &decoder);
  IWICBitmapFrameDecode* frame = nullptr;
  if (decoder == nullptr || decoder->GetFrame(0, &frame) != S_OK) std::abort();
  decoder->Release();
  factory->Release();
  stream->Release();
  return frame;
}

// copyOut: also take the frame's pixels into a buffer of the caller's, as
// every user of a frame does (the reference then copies Qt's pixels out).
void DecodeThroughComponent(benchmark::State& state, const char16_t* name, UINT bytesPerPixel, bool copyOut) {
  std::vector<BYTE> pixels(static_cast<std::size_t>(kWidth) * kHeight * bytesPerPixel);
  for (auto _ : state) {
    IWICBitmapFrameDecode* frame = DecodeFrame(name);
    if (copyOut) frame->CopyPixels(nullptr, kWidth * bytesPerPixel, static_cast<UINT>(pixels.size()), pixels.data());
    frame->Release();
    benchmark::DoNotOptimize(pixels.data());
  }
}

void DecodeWithQt(benchmark::State& state, const char* name, bool copyOut) {
  const QString path = QString::fromStdString(ThePages().root + "/" + name);
  std::vector<BYTE> pixels(static_cast<std::size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QImage image;
    QImageReader(&file).read(&image);
    if (copyOut) std::memcpy(pixels.data(), image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_DecodeColourComponent(benchmark::State& s) { DecodeThroughComponent(s, u"/colour.jpg", 3, false); }
void BM_DecodeColourQt(benchmark::State& s) { DecodeWithQt(s, "colour.jpg", false); }
void BM_DecodeColourComponentCopy(benchmark::State& s) { DecodeThroughComponent(s, u"/colour.jpg", 3, true); }
void BM_DecodeColourQtCopy(benchmark::State& s) { DecodeWithQt(s, "colour.jpg", true); }
void BM_DecodeGrayComponent(benchmark::State& s) { DecodeThroughComponent(s, u"/gray.jpg", 1, true); }
void BM_DecodeGrayQt(benchmark::State& s) { DecodeWithQt(s, "gray.jpg", true); }
void BM_DecodeAvifComponentCopy(benchmark::State& s) { DecodeThroughComponent(s, u"/colour.avif", 3, true); }
void BM_DecodeJxlComponentCopy(benchmark::State& s) { DecodeThroughComponent(s, u"/colour.jxl", 3, true); }
void BM_DecodeHeifComponentCopy(benchmark::State& s) { DecodeThroughComponent(s, u"/colour.heic", 3, true); }

CWICBitmapSource* LoadPage(IWICBitmapFrameDecode* frame) {
  CWICBitmapSource* page = new CWICBitmapSource;
  page->AddRef();
  if (page->LoadPixels(frame) != 0) std::abort();
  return page;
}

void Quiet() { SetDebugOutputSink([](const char16_t*, void*) {}, nullptr); }

void BM_Classify(benchmark::State& state) {
  Quiet();
  IWICBitmapFrameDecode* frame = DecodeFrame(u"/colour.jpg");
  CWICBitmapSource* page = LoadPage(frame);
  for (auto _ : state) benchmark::DoNotOptimize(page->Classify());
  page->Release();
  frame->Release();
}

// Runs a pass that changes the page on a freshly loaded copy each time.
template <class Pass>
void OnFreshPage(benchmark::State& state, const char16_t* name, Pass pass) {
  IWICBitmapFrameDecode* frame = DecodeFrame(name);
  for (auto _ : state) {
    state.PauseTiming();
    CWICBitmapSource* page = LoadPage(frame);
    state.ResumeTiming();
    benchmark::DoNotOptimize(pass(page));
    state.PauseTiming();
    page->Release();
    state.ResumeTiming();
  }
  frame->Release();
}

void BM_ConvertToGray(benchmark::State& state) {
  OnFreshPage(state, u"/colour.jpg", [](CWICBitmapSource* page) { return page->ConvertToGray(); });
}

void BM_StretchLevels(benchmark::State& state) {
  OnFreshPage(state, u"/gray.jpg", [](CWICBitmapSource* page) { return page->StretchLevels(); });
}

void BM_Colorize(benchmark::State& state) {
  IWICBitmapFrameDecode* frame = DecodeFrame(u"/gray.jpg");
  CWICBitmapSource* page = LoadPage(frame);
  auto* converter = new CWICFormatConverter;
  converter->AddRef();
  converter->Initialize(page, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                        WICBitmapPaletteTypeMedianCut);
  std::vector<BYTE> out(static_cast<std::size_t>(kWidth) * kHeight * 4);
  for (auto _ : state) {
    converter->CopyPixels(nullptr, kWidth * 4, static_cast<UINT>(out.size()), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  converter->Release();
  page->Release();
  frame->Release();
}

// A jump to a page not decoded yet: the colour page through the loader,
// false colour on, decoded and scaled to fit 1000 rows, its pixels copied
// out as a bitmap would take them; decoded whole, or at the fraction that
// still covers the 667 x 1000 pixels it is drawn at.
void JumpToPage(benchmark::State& state, bool decodeToDraw) {
  Quiet();
  auto fit = [](D2D1_SIZE_U page) { return D2D1_SIZE_U{(page.width * 1000 + page.height / 2) / page.height, 1000}; };
  std::vector<BYTE> out;
  std::mutex openLock;
  for (auto _ : state) {
    PageRequest request;
    request.root.Set(ThePages().directory);
    request.path = u"/colour.jpg";
    request.colorizing = Colorizing::On;
    request.targetFor = fit;
    if (decodeToDraw) request.decodeFor = fit;
    request.make = [&out](IWICBitmapSource* pixels, ID2D1Bitmap** bitmap) {
      UINT w = 0, h = 0;
      pixels->GetSize(&w, &h);
      out.resize(static_cast<std::size_t>(w) * h * 4);
      *bitmap = nullptr;
      return pixels->CopyPixels(nullptr, w * 4, static_cast<UINT>(out.size()), out.data());
    };
    const LoadedPage page = ::LoadPage(request, openLock);
    if (!page.decoded) std::abort();
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_JumpDecodeWhole(benchmark::State& s) { JumpToPage(s, false); }
void BM_JumpDecodeToDraw(benchmark::State& s) { JumpToPage(s, true); }

// The reference: copying the bytes a pass handles.
void BM_Memcpy(benchmark::State& state) {
  std::vector<BYTE> from(static_cast<std::size_t>(state.range(0))), to(from.size());
  std::memset(from.data(), 1, from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
  }
}

// An A4 scan at 300 dpi, premultiplied BGRA: tinted paper, strokes and a
// patch of screentone, drawn on a 1440-pixel-high screen.
constexpr uint32_t kScanWidth = 2480, kScanHeight = 3508, kDrawnWidth = 1018, kDrawnHeight = 1440;

const std::vector<uint8_t>& Scan() {
  static const std::vector<uint8_t> scan = [] {
    std::vector<uint8_t> px(std::size_t{kScanWidth} * kScanHeight * 4);
    for (uint32_t y = 0; y < kScanHeight; ++y)
      for (uint32_t x = 0; x < kScanWidth; ++x) {
        const bool tone = x > 600 && x < 1400 && y > 900 && y < 2000;
        const int ink = tone ? ((x + y) % 3 == 0 ? 200 : 0) : ((x / 7 + y / 11) % 23 == 0 ? 180 : 0);
        const int v = 235 - ink - static_cast<int>((x + y) % 17);
        uint8_t* p = &px[(std::size_t{y} * kScanWidth + x) * 4];
        p[0] = static_cast<uint8_t>(v - 20), p[1] = static_cast<uint8_t>(v - 5), p[2] = static_cast<uint8_t>(v);
        p[3] = 255;
      }
    return px;
  }();
  return scan;
}

class ScanRows final : public RowSource {
 public:
  bool ReadRow(uint32_t y, uint8_t* row) override {
    std::memcpy(row, &Scan()[std::size_t{y} * kScanWidth * 4], std::size_t{kScanWidth} * 4);
    return true;
  }
};

using Scaler = bool (*)(RowSource&, uint32_t, uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t);

std::vector<uint8_t> ScaleScan(Scaler scaler) {
  std::vector<uint8_t> out(std::size_t{kDrawnWidth} * kDrawnHeight * 4);
  ScanRows rows;
  if (!scaler(rows, kScanWidth, kScanHeight, out.data(), kDrawnWidth, kDrawnHeight, kDrawnWidth * 4)) std::abort();
  return out;
}

void ScaleScanBench(benchmark::State& state, Scaler scaler) {
  Scan();
  for (auto _ : state) benchmark::DoNotOptimize(ScaleScan(scaler).data());
}

void BM_ScaleLanczos(benchmark::State& s) { ScaleScanBench(s, ResampleLanczos); }
void BM_ScaleFloatLanczos(benchmark::State& s) { ScaleScanBench(s, bench::FloatLanczos); }

// How far the scaler's pixels are from the float scaler's, per channel.
void PrintScaleDifference() {
  const std::vector<uint8_t> now = ScaleScan(ResampleLanczos), before = ScaleScan(bench::FloatLanczos);
  int most = 0;
  std::size_t differing = 0;
  for (std::size_t i = 0; i < now.size(); ++i) {
    const int d = std::abs(now[i] - before[i]);
    most = std::max(most, d);
    differing += d != 0;
  }
  std::printf("Scaled scan against the float scaler: largest difference %d per channel, %zu of %zu bytes differ\n",
              most, differing, now.size());
}

BENCHMARK(BM_DecodeColourQt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeColourComponent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeColourQtCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeColourComponentCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGrayQt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeGrayComponent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAvifComponentCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJxlComponentCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeHeifComponentCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(kWidth * kHeight)->Arg(kWidth * kHeight * 3)->Arg(kWidth * kHeight * 4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JumpDecodeWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JumpDecodeToDraw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Classify)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToGray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colorize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleFloatLanczos)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleLanczos)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  KeepPageBuffersOnTheHeap();  // as the viewer: its decodes reuse warm memory too
  const std::string gray = "BM_Memcpy/" + std::to_string(kWidth * kHeight);
  const std::string bgr = "BM_Memcpy/" + std::to_string(kWidth * kHeight * 3);
  const std::string bgra = "BM_Memcpy/" + std::to_string(kWidth * kHeight * 4);
  bench::Ratio("BM_DecodeColourComponent", "BM_DecodeColourQt", "<= 1.1");
  bench::Ratio("BM_DecodeColourComponentCopy", "BM_DecodeColourQtCopy", "<= 1.1");
  bench::Ratio("BM_DecodeGrayComponent", "BM_DecodeGrayQt", "<= 1.1");
  // The same page in the formats Qt has no reader for, against its JPEG.
  bench::Ratio("BM_DecodeAvifComponentCopy", "BM_DecodeColourComponentCopy");
  bench::Ratio("BM_DecodeJxlComponentCopy", "BM_DecodeColourComponentCopy");
  bench::Ratio("BM_DecodeHeifComponentCopy", "BM_DecodeColourComponentCopy");
  // A jump, decoded for the size it is drawn at, against the same jump
  // decoded whole; both against the whole decode alone (no colour check,
  // conversion nor scaling).
  bench::Ratio("BM_JumpDecodeToDraw", "BM_JumpDecodeWhole", "<= 0.5");
  bench::Ratio("BM_JumpDecodeWhole", "BM_DecodeColourComponentCopy");
  bench::Ratio("BM_JumpDecodeToDraw", "BM_DecodeColourComponentCopy");
  bench::Ratio("BM_Classify", bgr, "<= 4");
  ThePages();  // written before timing starts: the encoders take seconds
  bench::Ratio("BM_ConvertToGray", bgr, "<= 4");
  bench::Ratio("BM_StretchLevels", gray, "<= 4");
  bench::Ratio("BM_Colorize", bgra, "<= 4");
  bench::Ratio("BM_ScaleLanczos", "BM_ScaleFloatLanczos", "<= 0.5");
  PrintScaleDifference();
  return bench::Main(argc, argv);
}
