// Listing a large folder and reading a large file through the library's
// disk file system, against the plain POSIX calls over the same data.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchRatios.h"
#include "ordel/Ordel.h"
#include "ordel/FileSystem.h"
#include "platform/text.h"

namespace {

constexpr int kFiles = 20000;
constexpr std::size_t kBigFile = 200u << 20;
constexpr uint32_t kChunk = 64u << 10;

// One scratch folder for the whole run: 20 000 small files and one 200 MB file.
struct Data {
  std::string root, folder, big;
  Data() {
    root = bench::MakeScratchFolder();
    folder = root + "/many";
    ::mkdir(folder.c_str(), 0755);
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = folder + "/page" + std::to_string(i) + ".png";
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);
      if (fd < 0 || ::write(fd, "x", 1) != 1) std::abort();
      ::close(fd);
    }
    big = root + "/big.bin";
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    std::vector<char> block(1 << 20, 'b');
    for (std::size_t done = 0; done < kBigFile; done += block.size())
      if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::abort();
    ::close(fd);
  }
  ~Data() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

Data& TheData() {
  static Data data;
  return data;
}

IDirectory* OpenRoot() {
  IFileSystem* fs = nullptr;
  if (OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&fs)) != 0) std::abort();
  IDirectory* dir = nullptr;
  if (fs->OpenDirectory(&dir, Utf8ToUtf16(TheData().root).c_str()) != 0) std::abort();
  fs->Release();
  return dir;
}

void BM_OrdelList(benchmark::State& state) {
  TheData();
  IDirectory* dir = OpenRoot();
  for (auto _ : state) {
    IFileSystemEntries* entries = nullptr;
    if (dir->GetEntries(u"/many/", &entries) != 0) std::abort();
    uint32_t count = 0;
    entries->GetCount(&count);
    FileSystemEntry entry;
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
      entries->GetEntry(i, &entry);
      total += entry.size;
    }
    benchmark::DoNotOptimize(total);
    entries->Release();
  }
  dir->Release();
}

void BM_Readdir(benchmark::State& state) {
  const std::string& folder = TheData().folder;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bench::CountNames(folder));
  }
}

// readdir has no sizes; a listing that reports them has to stat each entry.
void BM_ReaddirStat(benchmark::State& state) {
  const std::string& folder = TheData().folder;
  for (auto _ : state) {
    DIR* d = ::opendir(folder.c_str());
    uint64_t total = 0;
    while (const dirent* e = ::readdir(d)) {
      struct stat st;
      if (e->d_name[0] != '.' && ::fstatat(::dirfd(d), e->d_name, &st, 0) == 0) total += st.st_size;
    }
    benchmark::DoNotOptimize(total);
    ::closedir(d);
  }
}

void BM_OrdelRead(benchmark::State& state) {
  TheData();
  IDirectory* dir = OpenRoot();
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    IFile* file = nullptr;
    if (dir->OpenFile(&file, u"/big.bin", nullptr) != 0) std::abort();
    uint32_t got = 0;
    do file->Read(buffer.data(), kChunk, &got);
    while (got == kChunk);
    file->Release();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFile));
  dir->Release();
}

void BM_PosixRead(benchmark::State& state) {
  const std::string& big = TheData().big;
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    const int fd = ::open(big.c_str(), O_RDONLY);
    while (::read(fd, buffer.data(), kChunk) == static_cast<ssize_t>(kChunk)) {
    }
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigFile));
}

BENCHMARK(BM_Readdir)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaddirStat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdelList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosixRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrdelRead)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  bench::Ratio("BM_OrdelList", "BM_ReaddirStat", "<= 1.5");
  bench::Ratio("BM_OrdelList", "BM_Readdir");
  bench::Ratio("BM_OrdelRead", "BM_PosixRead", "<= 1.05");
  return bench::Main(argc, argv);
}
