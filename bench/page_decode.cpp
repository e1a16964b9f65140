// The reference of the end-to-end benchmark: one page decoded in process
// through the viewer's decode chain (false colour on, as the viewer starts),
// as the median of a number of runs, in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ordel/Ordel.h"
#include "platform/text.h"
#include "viewer/imaging/ImageDecoder.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: page-decode FILE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
  CoInitialize(nullptr);
  ComRef<IFileSystem> fileSystem;
  ComRef<IDirectory> root;
  if (OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&fileSystem)) != 0 ||
      fileSystem->OpenDirectory(&root, u"/") != 0)
    return 1;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ComRef<IFile> file;
    ComRef<IWICBitmapSource> pixels;
    if (root->OpenFile(&file, Utf8ToUtf16(argv[1]).c_str(), nullptr) != 0 ||
        DecodeImage(file.get(), Colorizing::On, pixels) != 0)
      return 1;
    // Every pixel out, as a bitmap would take them.
    UINT w = 0, h = 0;
    pixels->GetSize(&w, &h);
    std::vector<BYTE> out(static_cast<std::size_t>(w) * h * 4);
    pixels->CopyPixels(nullptr, w * 4, static_cast<UINT>(out.size()), out.data());
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("%.2f\n", times[times.size() / 2]);
  return 0;
}
