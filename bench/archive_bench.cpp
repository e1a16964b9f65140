// Archives: listing through the archive directory against the library's
// own listing; page-by-page extraction against one pass over all items; and
// a spread turn deep in a solid book against one near its start, and
// against a stored Zip.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>
#include <chrono>
#include <string>

#include "ArchiveBuilders.h"
#include "BenchRatios.h"
#include "ordel/Ordel.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/ArchiveItems.h"
#include "viewer/archive/SevenZipDirectory.h"
#include "viewer/archive/SevenZipModule.h"

namespace {

constexpr int kListed = 1000;
constexpr int kPages = 200;
constexpr std::size_t kPageBytes = 40 << 10;
// A book of big scanned pages.
constexpr int kBookPages = 60;
constexpr std::size_t kBookPageBytes = 1 << 20;

void Write(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

struct Archives {
  std::string root;
  IDirectory* disk = nullptr;
  Archives() {
    root = bench::MakeScratchFolder();
    std::filesystem::create_directories(root + "/many");
    for (int i = 0; i < kListed; ++i) Write(root + "/many/p" + std::to_string(i) + ".jpg", "x");
    // Pages that compress like JPEGs: hardly at all.
    std::filesystem::create_directories(root + "/pages");
    std::mt19937 random(7);
    for (int i = 0; i < kPages; ++i) {
      std::string page(kPageBytes, '\0');
      for (char& c : page) c = static_cast<char>(random());
      Write(root + "/pages/" + std::to_string(1000 + i) + ".jpg", page);
    }
    const std::string cd = "cd '" + root + "' && ";
    // The book's pages compress hardly at all, but unlike random bytes they
    // are coded rather than stored, as JPEGs are: 7 random bits a byte.
    std::filesystem::create_directories(root + "/book");
    std::vector<test::Rar5Entry> rar;
    for (int i = 0; i < kBookPages; ++i) {
      std::string page(kBookPageBytes, '\0');
      for (char& c : page) c = static_cast<char>(random() & 0x7F);
      const std::string name = std::to_string(1000 + i) + ".jpg";
      Write(root + "/book/" + name, page);
      rar.push_back({name, std::move(page)});
    }
    Write(root + "/book.cbr", test::Rar5Archive(rar, true));
    if (std::system((cd + "7z a -tzip many.zip ./many/* >/dev/null").c_str()) != 0 ||
        std::system((cd + "7z a -t7z -mx1 -ms=off plain.7z ./pages/* >/dev/null").c_str()) != 0 ||
        std::system((cd + "7z a -t7z -mx1 -ms=on solid.7z ./pages/* >/dev/null").c_str()) != 0 ||
        std::system((cd + "7z a -t7z -mx1 -ms=on book.cb7 ./book/* >/dev/null").c_str()) != 0 ||
        std::system((cd + "7z a -tzip -mx0 book.cbz ./book/* >/dev/null").c_str()) != 0)
      std::abort();
    IFileSystem* fs = nullptr;
    OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&fs));
    fs->OpenDirectory(&disk, Utf8ToUtf16(root).c_str());
    fs->Release();
    SetDebugOutputSink([](const char16_t*, void*) {}, nullptr);  // the extraction trace
  }
  ~Archives() {
    disk->Release();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  IFile* Open(const char16_t* name) {
    IFile* file = nullptr;
    if (disk->OpenFile(&file, name, nullptr) != 0) std::abort();
    return file;
  }
};

Archives& The() {
  static Archives archives;
  return archives;
}

IDirectory* OpenBook(const char16_t* name) {
  IFile* file = The().Open(name);
  IDirectory* archive = nullptr;
  if (OpenArchive(file, &archive) != 0) std::abort();
  file->Release();
  return archive;
}

// The library is bound on the first archive opened.
void BindLibrary() {
  The();
  if (g_sevenZipModule == nullptr) OpenBook(u"/many.zip")->Release();
}

void BM_ListThroughDirectory(benchmark::State& state) {
  The();
  for (auto _ : state) {
    IDirectory* archive = OpenBook(u"/many.zip");
    IFileSystemEntries* entries = nullptr;
    if (archive->GetEntries(u"/", &entries) != 0) std::abort();
    uint32_t count = 0;
    entries->GetCount(&count);
    if (count != kListed) std::abort();
    entries->Release();
    archive->Release();
  }
}

// The library's own listing: open, then path, folder flag and size of each item.
void BM_ListThroughLibrary(benchmark::State& state) {
  BindLibrary();
  auto clear = reinterpret_cast<VariantClearFunc>(GetProcAddress(g_sevenZipModule, "VariantClear"));
  const GUID zip = SevenZipFormat(0x01);
  for (auto _ : state) {
    IInArchive* archive = nullptr;
    g_createObject(&zip, &IInArchive::iid, reinterpret_cast<void**>(&archive));
    IFile* file = The().Open(u"/many.zip");
    auto* stream = new CInFileStream(file);
    stream->AddRef();
    file->Release();
    archive->Open(stream, nullptr, nullptr);
    stream->Release();
    UInt32 count = 0;
    archive->GetNumberOfItems(&count);
    for (UInt32 i = 0; i < count; ++i)
      for (PROPID id : {kpidPath, kpidIsDir, kpidSize}) {
        PROPVARIANT value{};
        archive->GetProperty(i, id, &value);
        clear(&value);
      }
    archive->Release();
  }
}

// Every page in book order, each through OpenFile, in a book opened for
// the iteration (a solid book's pass then starts afresh each time).
void ExtractPageByPage(benchmark::State& state, const char16_t* name) {
  for (auto _ : state) {
    IDirectory* archive = OpenBook(name);
    for (int i = 0; i < kPages; ++i) {
      IFile* page = nullptr;
      const std::u16string path = u"/" + AsciiToUtf16(std::to_string(1000 + i)) + u".jpg";
      if (archive->OpenFile(&page, path.c_str(), nullptr) != 0) std::abort();
      page->Release();
    }
    archive->Release();
  }
}

// All items in one Extract call, through the same callback.
void ExtractAllAtOnce(benchmark::State& state, const char16_t* name) {
  IDirectory* archive = OpenBook(name);
  const auto table = static_cast<C7zDirectory*>(archive)->table();
  const GUID sevenZip = SevenZipFormat(0x07);
  for (auto _ : state) {
    IInArchive* handler = nullptr;
    g_createObject(&sevenZip, &IInArchive::iid, reinterpret_cast<void**>(&handler));
    IFile* file = The().Open(name);
    auto* stream = new CInFileStream(file);
    stream->AddRef();
    file->Release();
    handler->Open(stream, nullptr, nullptr);
    stream->Release();
    auto* callback = new CArchiveExtractCallback(handler, table);
    callback->AddRef();
    if (handler->Extract(nullptr, 0xFFFFFFFFu, 0, callback) != S_OK) std::abort();
    callback->Release();
    handler->Release();
  }
  archive->Release();
}

// Items one by one as the library extracts them alone, each from a fresh
// handler: what every page of a solid archive cost before it was read in one pass.
void ExtractAlone(const char16_t* name, const std::vector<UInt32>& indices, const std::shared_ptr<const ArchiveItemTable>& table) {
  const GUID sevenZip = SevenZipFormat(0x07);
  IInArchive* handler = nullptr;
  g_createObject(&sevenZip, &IInArchive::iid, reinterpret_cast<void**>(&handler));
  IFile* file = The().Open(name);
  auto* stream = new CInFileStream(file);
  stream->AddRef();
  file->Release();
  handler->Open(stream, nullptr, nullptr);
  stream->Release();
  for (UInt32 index : indices) {
    auto* callback = new CArchiveExtractCallback(handler, table);
    callback->AddRef();
    if (handler->Extract(&index, 1, 0, callback) != S_OK) std::abort();
    callback->Release();
  }
  handler->Release();
}

void BM_PagesSolidOneByOne(benchmark::State& state) {
  IDirectory* archive = OpenBook(u"/solid.7z");
  const auto table = static_cast<C7zDirectory*>(archive)->table();
  std::vector<UInt32> indices;
  for (const ArchiveItem& item : table->items())
    if (item.index >= 0) indices.push_back(static_cast<UInt32>(item.index));
  for (auto _ : state) ExtractAlone(u"/solid.7z", indices, table);
  archive->Release();
}

std::u16string BookPage(int i) { return u"/" + AsciiToUtf16(std::to_string(1000 + i)) + u".jpg"; }

void ReadPage(IDirectory* book, int i) {
  IFile* page = nullptr;
  if (book->OpenFile(&page, BookPage(i).c_str(), nullptr) != 0) std::abort();
  uint64_t size = 0;
  page->GetSize(&size);
  std::vector<char> bytes(size);
  uint32_t got = 0;
  page->Read(bytes.data(), static_cast<uint32_t>(size), &got);
  if (got != kBookPageBytes) std::abort();
  page->Release();
}

// How the pages before the spread were read: one straight after the
// other (the turn then waits for the pass to decode its pages), or with the
// time a reader looks at a page before turning (the pass is ahead).
enum class Reading { Straight, Pausing };

// The two pages of the spread at `at`, timed, in a book just opened whose
// pages before the spread were read in order (not timed).
void SpreadTurn(benchmark::State& state, const char16_t* name, int at, Reading reading) {
  for (auto _ : state) {
    state.PauseTiming();
    IDirectory* book = OpenBook(name);
    for (int i = 0; i < at; ++i) ReadPage(book, i);
    if (reading == Reading::Pausing) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    state.ResumeTiming();
    ReadPage(book, at);
    ReadPage(book, at + 1);
    state.PauseTiming();
    book->Release();
    state.ResumeTiming();
  }
}

// The same two pages as the library extracts them alone (the old way).
void BM_TurnAt50OneByOne(benchmark::State& state) {
  IDirectory* book = OpenBook(u"/book.cb7");
  const auto table = static_cast<C7zDirectory*>(book)->table();
  std::vector<UInt32> indices;
  for (int i : {50, 51}) indices.push_back(static_cast<UInt32>(table->Find(BookPage(i))->index));
  for (auto _ : state) ExtractAlone(u"/book.cb7", indices, table);
  book->Release();
}

void BM_PagesPlain(benchmark::State& s) { ExtractPageByPage(s, u"/plain.7z"); }
void BM_AllPlain(benchmark::State& s) { ExtractAllAtOnce(s, u"/plain.7z"); }
void BM_PagesSolid(benchmark::State& s) { ExtractPageByPage(s, u"/solid.7z"); }
void BM_AllSolid(benchmark::State& s) { ExtractAllAtOnce(s, u"/solid.7z"); }

BENCHMARK(BM_ListThroughLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListThroughDirectory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllSolid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesSolid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesSolidOneByOne)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_TurnAt2Cbz(benchmark::State& s) { SpreadTurn(s, u"/book.cbz", 2, Reading::Straight); }
void BM_TurnAt50Cbz(benchmark::State& s) { SpreadTurn(s, u"/book.cbz", 50, Reading::Straight); }
void BM_TurnAt2Cb7(benchmark::State& s) { SpreadTurn(s, u"/book.cb7", 2, Reading::Straight); }
void BM_TurnAt50Cb7(benchmark::State& s) { SpreadTurn(s, u"/book.cb7", 50, Reading::Straight); }
void BM_TurnAt2Cb7Pausing(benchmark::State& s) { SpreadTurn(s, u"/book.cb7", 2, Reading::Pausing); }
void BM_TurnAt50Cb7Pausing(benchmark::State& s) { SpreadTurn(s, u"/book.cb7", 50, Reading::Pausing); }
void BM_TurnAt2Cbr(benchmark::State& s) { SpreadTurn(s, u"/book.cbr", 2, Reading::Straight); }
void BM_TurnAt50Cbr(benchmark::State& s) { SpreadTurn(s, u"/book.cbr", 50, Reading::Straight); }
void BM_TurnAt2CbrPausing(benchmark::State& s) { SpreadTurn(s, u"/book.cbr", 2, Reading::Pausing); }
void BM_TurnAt50CbrPausing(benchmark::State& s) { SpreadTurn(s, u"/book.cbr", 50, Reading::Pausing); }
BENCHMARK(BM_TurnAt2Cbz)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt50Cbz)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt2Cb7)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt50Cb7)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt2Cb7Pausing)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt50Cb7Pausing)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt50OneByOne)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_TurnAt2Cbr)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt50Cbr)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt2CbrPausing)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_TurnAt50CbrPausing)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  bench::Ratio("BM_ListThroughDirectory", "BM_ListThroughLibrary");
  bench::Ratio("BM_PagesPlain", "BM_AllPlain");
  bench::Ratio("BM_PagesSolid", "BM_AllSolid", "about 1 (one pass)");
  bench::Ratio("BM_PagesSolidOneByOne/iterations:1", "BM_AllSolid");
  bench::Ratio("BM_TurnAt50Cb7/iterations:10", "BM_TurnAt2Cb7/iterations:10", "<= 1");
  bench::Ratio("BM_TurnAt50Cbr/iterations:10", "BM_TurnAt2Cbr/iterations:10", "<= 1");
  bench::Ratio("BM_TurnAt50Cb7Pausing/iterations:10", "BM_TurnAt2Cb7Pausing/iterations:10", "<= 1");
  bench::Ratio("BM_TurnAt50CbrPausing/iterations:10", "BM_TurnAt2CbrPausing/iterations:10", "<= 1");
  bench::Ratio("BM_TurnAt50OneByOne/iterations:2", "BM_TurnAt50Cb7/iterations:10");
  bench::Ratio("BM_TurnAt50Cb7/iterations:10", "BM_TurnAt50Cbz/iterations:10");
  bench::Ratio("BM_TurnAt50Cbr/iterations:10", "BM_TurnAt50Cbz/iterations:10");
  bench::Ratio("BM_TurnAt50Cb7Pausing/iterations:10", "BM_TurnAt50Cbz/iterations:10", "about 1");
  bench::Ratio("BM_TurnAt50CbrPausing/iterations:10", "BM_TurnAt50Cbz/iterations:10", "about 1");
  return bench::Main(argc, argv);
}
