// The reference of the end-to-end benchmark: one page decoded in process
// through the viewer's decode chain (false colour on, as the viewer starts),
// as the median of a number of runs, in milliseconds.
// With --stripe PALETTE HEIGHT, for each page instead: the colour of the
// page decoded for drawing HEIGHT pixels high, where make-book draws its
// numbered stripe, "B G R" a line, through the viewer's false-colour
// palette, so that the benchmark knows each page on screen even in false
// colour, whose levels depend on the pixels decoded.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ordel/Ordel.h"
#include "platform/text.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

// Every pixel of the page out, as a bitmap would take them; false when the
// page does not decode.
// Decoded for drawing `drawnHeight` pixels high (0: every pixel).
bool Decode(IDirectory* root, const char* path, UINT& w, UINT& h, std::vector<BYTE>& out, UINT drawnHeight = 0) {
  ComRef<IFile> file;
  ComRef<IWICBitmapSource> pixels;
  DecodeOptions options;
  options.colorizing = Colorizing::On;
  if (drawnHeight > 0)
    options.drawnAt = [drawnHeight](D2D1_SIZE_U page) {
      return D2D1_SIZE_U{std::max<UINT>(1, page.width * drawnHeight / std::max<UINT>(page.height, 1)), drawnHeight};
    };
  if (root->OpenFile(&file, Utf8ToUtf16(path).c_str(), nullptr) != 0 || DecodeImage(file.get(), options, pixels) != 0)
    return false;
  pixels->GetSize(&w, &h);
  out.resize(static_cast<std::size_t>(w) * h * 4);
  pixels->CopyPixels(nullptr, w * 4, static_cast<UINT>(out.size()), out.data());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool stripe = argc > 1 && std::strcmp(argv[1], "--stripe") == 0;
  if (argc < 2 || (stripe && argc < 5)) {
    std::fprintf(stderr, "usage: page-decode FILE [RUNS]\n       page-decode --stripe PALETTE HEIGHT FILE...\n");
    return 2;
  }
  CoInitialize(nullptr);
  ComRef<IFileSystem> fileSystem;
  ComRef<IDirectory> root;
  if (OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&fileSystem)) != 0 ||
      fileSystem->OpenDirectory(&root, u"/") != 0)
    return 1;
  UINT w = 0, h = 0;
  std::vector<BYTE> out;
  if (stripe) {
    std::vector<BYTE> palette(kPaletteFileBytes);
    FILE* in = std::fopen(argv[2], "rb");
    const bool read = in != nullptr && std::fread(palette.data(), 1, palette.size(), in) == palette.size();
    if (in != nullptr) std::fclose(in);
    if (!read || !LoadColorTable(palette.data(), palette.size())) return 1;
    const UINT height = static_cast<UINT>(std::max(0, std::atoi(argv[3])));
    for (int i = 4; i < argc; ++i) {
      if (!Decode(root.get(), argv[i], w, h, out, height)) return 1;
      // Halfway down, an eighth across: inside the stripe (5 % to 20 %).
      const BYTE* pixel = &out[(static_cast<std::size_t>(h / 2) * w + w / 8) * 4];
      std::printf("%d %d %d\n", pixel[0], pixel[1], pixel[2]);
    }
    return 0;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!Decode(root.get(), argv[1], w, h, out)) return 1;
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("%.2f\n", times[times.size() / 2]);
  return 0;
}
