// Archives: listing through the archive directory against the library's
// own listing, and page-by-page extraction against one pass over all items.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "BenchRatios.h"
#include "ordel/Ordel.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/book/Archive.h"

namespace {

constexpr int kListed = 1000;
constexpr int kPages = 200;
constexpr std::size_t kPageBytes = 40 << 10;

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
    if (std::system((cd + "7z a -tzip many.zip ./many/* >/dev/null").c_str()) != 0 ||
        std::system((cd + "7z a -t7z -mx1 -ms=off plain.7z ./pages/* >/dev/null").c_str()) != 0 ||
        std::system((cd + "7z a -t7z -mx1 -ms=on solid.7z ./pages/* >/dev/null").c_str()) != 0)
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

void ExtractPageByPage(benchmark::State& state, const char16_t* name) {
  IDirectory* archive = OpenBook(name);
  for (auto _ : state) {
    for (int i = 0; i < kPages; ++i) {
      IFile* page = nullptr;
      const std::u16string path = u"/" + AsciiToUtf16(std::to_string(1000 + i)) + u".jpg";
      if (archive->OpenFile(&page, path.c_str(), nullptr) != 0) std::abort();
      page->Release();
    }
  }
  archive->Release();
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

void BM_PagesPlain(benchmark::State& s) { ExtractPageByPage(s, u"/plain.7z"); }
void BM_AllPlain(benchmark::State& s) { ExtractAllAtOnce(s, u"/plain.7z"); }
void BM_PagesSolid(benchmark::State& s) { ExtractPageByPage(s, u"/solid.7z"); }
void BM_AllSolid(benchmark::State& s) { ExtractAllAtOnce(s, u"/solid.7z"); }

BENCHMARK(BM_ListThroughLibrary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListThroughDirectory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllSolid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesSolid)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  bench::Ratio("BM_ListThroughDirectory", "BM_ListThroughLibrary");
  bench::Ratio("BM_PagesPlain", "BM_AllPlain");
  bench::Ratio("BM_PagesSolid/iterations:1", "BM_AllSolid");
  return bench::Main(argc, argv);
}
