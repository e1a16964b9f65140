// Turning pages in the main window (decode, analysis, bitmap, one frame)
// against Qt decoding the same files, and opening a large folder against
// readdir.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <QtGui/QImage>
#include <QtGui/QImageReader>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchRatios.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Profile.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 2400;
constexpr int kEntries = 5000;

QImage ScanPage(bool colour, int seed) {
  QImage page(kWidth, kHeight, QImage::Format_RGB32);
  for (int y = 0; y < kHeight; ++y) {
    auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      const int ink = ((x / 7 + y / 11 + seed) % 23 == 0) ? 180 : 0;
      const int v = 235 - ink - (x + y) % 17;
      row[x] = colour ? qRgb(v, (v + x / 9) % 256, (v + y / 13) % 256) : qRgb(v, v, v);
    }
  }
  return colour ? page : page.convertToFormat(QImage::Format_Grayscale8);
}

struct Fixture {
  std::string root;
  COffscreenWindow window{1600, 1000};
  std::unique_ptr<CMainWindow> main;
  Fixture() {
    root = bench::MakeScratchFolder();
    for (const char* kind : {"colour", "gray", "many"}) std::filesystem::create_directories(root + "/" + kind);
    for (int i = 0; i < 2; ++i) {
      ScanPage(true, i).save(QString::fromStdString(root + "/colour/" + std::to_string(i) + ".jpg"), "JPEG", 90);
      ScanPage(false, i).save(QString::fromStdString(root + "/gray/" + std::to_string(i) + ".jpg"), "JPEG", 90);
    }
    // The first name in order is a picture, so opening stops there.
    QImage(20, 30, QImage::Format_RGB32).save(QString::fromStdString(root + "/many/0.png"));
    for (int i = 1; i < kEntries; ++i) {
      FILE* f = std::fopen((root + "/many/p" + std::to_string(i * 7919 % kEntries) + ".jpg").c_str(), "w");
      std::fclose(f);
    }
    SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);
    SetBeepSink([](UINT, void*) {}, nullptr);
    main = std::make_unique<CMainWindow>(&window);
    if (main->SetUp() != 0) std::abort();
  }
  ~Fixture() {
    main.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  void View(PageMode mode, int32_t mono2Color) { main->profile().settings = ViewSettings{mode, mono2Color}; }
  void Open(const char* kind) {
    if (main->OpenDirectory(Utf8ToUtf16(root + "/" + kind).c_str(), nullptr) != 0) std::abort();
  }
};

Fixture& The() {
  static Fixture fixture;
  return fixture;
}

// A turn to a spread that is not cached: both pages decoded, one frame.
void TurnUncached(benchmark::State& state, const char* kind, int mono2Color) {
  Fixture& f = The();
  f.View(PageMode::SpreadRight, mono2Color);
  f.Open(kind);
  for (auto _ : state) {
    state.PauseTiming();
    f.main->ForgetDecodedPages();
    state.ResumeTiming();
    if (f.main->ShowPage(0, 0) != 0 || f.main->book().second != 1) std::abort();
    f.main->OnPaint();
  }
}

void DecodeWithQt(benchmark::State& state, const char* kind) {
  const std::string folder = The().root + "/" + kind + "/";
  for (auto _ : state)
    for (int i = 0; i < 2; ++i) {
      QImage image;
      QImageReader(QString::fromStdString(folder + std::to_string(i) + ".jpg")).read(&image);
      benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_TurnColour(benchmark::State& s) { TurnUncached(s, "colour", 1); }
void BM_TurnColourPlain(benchmark::State& s) { TurnUncached(s, "colour", 0); }
void BM_QtColour(benchmark::State& s) { DecodeWithQt(s, "colour"); }
void BM_TurnGrayColorized(benchmark::State& s) { TurnUncached(s, "gray", 1); }
void BM_QtGray(benchmark::State& s) { DecodeWithQt(s, "gray"); }

void BM_TurnCached(benchmark::State& state) {
  Fixture& f = The();
  f.View(PageMode::SpreadRight, 1);
  f.Open("colour");
  for (auto _ : state) {
    f.main->ShowPage(0, 0);
    f.main->OnPaint();
  }
}

void BM_PaintOnly(benchmark::State& state) {
  Fixture& f = The();
  f.View(PageMode::SpreadRight, 1);
  f.Open("colour");
  for (auto _ : state) f.main->OnPaint();
}

void BM_OpenFolder(benchmark::State& state) {
  Fixture& f = The();
  f.View(PageMode::Single, 1);  // a spread would look through every file for a partner
  for (auto _ : state) f.Open("many");
}

void BM_Readdir(benchmark::State& state) {
  const std::string folder = The().root + "/many";
  for (auto _ : state) {
    benchmark::DoNotOptimize(bench::CountNames(folder));
  }
}

// The name order by the textbook exchange sort (what a quadratic sort of
// the listing would cost), against the stable sort that the viewer uses.
std::vector<PageEntry> Listing() {
  std::vector<PageEntry> pages;
  for (int i = 0; i < kEntries; ++i) {
    const std::u16string name = u"p" + AsciiToUtf16(std::to_string(i * 7919 % kEntries)) + u".jpg";
    pages.push_back(PageEntry{u"/many/" + name, name, 0, PageState::Unknown});
  }
  return pages;
}

void BM_ExchangeSort(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<PageEntry> pages = Listing();
    state.ResumeTiming();
    const std::size_t n = pages.size();
    for (std::size_t i = 0; i + 1 < n; ++i)
      for (std::size_t j = n - 1; j > i; --j)
        if (pages[j - 1].name.compare(pages[j].name) > 0) std::swap(pages[j - 1], pages[j]);
    benchmark::DoNotOptimize(pages.data());
  }
}

void BM_SortByName(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<PageEntry> pages = Listing();
    state.ResumeTiming();
    SortByName(pages);
    benchmark::DoNotOptimize(pages.data());
  }
}

BENCHMARK(BM_QtColour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurnColour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurnColourPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtGray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurnGrayColorized)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurnCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Readdir)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExchangeSort)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::Ratio("BM_TurnColour", "BM_QtColour", "<= 1.2");
  bench::Ratio("BM_TurnColourPlain", "BM_QtColour");
  bench::Ratio("BM_TurnGrayColorized", "BM_QtGray");
  bench::Ratio("BM_TurnCached", "BM_PaintOnly");
  bench::Ratio("BM_OpenFolder", "BM_Readdir");
  bench::Ratio("BM_ExchangeSort", "BM_SortByName");
  return bench::Main(argc, argv);
}
