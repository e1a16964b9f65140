// The reference of the end-to-end benchmark: one page decoded in process
// through the viewer's decode chain (false colour on, as the viewer starts),
// as the median of a number of runs, in milliseconds. With --drawn WxH
// before the file, decoded for drawing W x H device pixels (the page fitted
// there), as the viewer decodes a page it scales down; with --plain, false
// colour off.
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
#include "platform/system.h"
#include "platform/text.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/WICFormatConverter.h"

namespace {

// Every pixel of the page out, as a bitmap would take them; false when the
// page does not decode.
// Decoded for drawing `drawnHeight` pixels high (0: every pixel), or
// fitted into `drawnBox` when it is set.
struct DecodeFor {
  UINT drawnHeight = 0;
  D2D1_SIZE_U drawnBox{};
  Colorizing colorizing = Colorizing::On;
};

bool Decode(IDirectory* root, const char* path, UINT& w, UINT& h, std::vector<BYTE>& out, const DecodeFor& how = {}) {
  ComRef<IFile> file;
  ComRef<IWICBitmapSource> pixels;
  DecodeOptions options;
  options.colorizing = how.colorizing;
  if (how.drawnHeight > 0)
    options.drawnAt = [drawnHeight = how.drawnHeight](D2D1_SIZE_U page) {
      return D2D1_SIZE_U{std::max<UINT>(1, page.width * drawnHeight / std::max<UINT>(page.height, 1)), drawnHeight};
    };
  if (how.drawnBox.width > 0)
    options.drawnAt = [box = how.drawnBox](D2D1_SIZE_U page) {
      const double scale = std::min(static_cast<double>(box.width) / std::max<UINT>(page.width, 1),
                                    static_cast<double>(box.height) / std::max<UINT>(page.height, 1));
      return D2D1_SIZE_U{static_cast<UINT>(page.width * scale + 0.5), static_cast<UINT>(page.height * scale + 0.5)};
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
  KeepPageBuffersOnTheHeap();  // as the viewer: its warm decodes are this one's
  const bool stripe = argc > 1 && std::strcmp(argv[1], "--stripe") == 0;
  if (argc < 2 || (stripe && argc < 5)) {
    std::fprintf(stderr, "usage: page-decode [--plain] [--drawn WxH] FILE [RUNS]\n"
                         "       page-decode --stripe PALETTE HEIGHT FILE...\n");
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
      if (!Decode(root.get(), argv[i], w, h, out, DecodeFor{height})) return 1;
      // Halfway down, an eighth across: inside the stripe (5 % to 20 %).
      const BYTE* pixel = &out[(static_cast<std::size_t>(h / 2) * w + w / 8) * 4];
      std::printf("%d %d %d\n", pixel[0], pixel[1], pixel[2]);
    }
    return 0;
  }
  DecodeFor how;
  int at = 1;
  for (; at + 1 < argc && argv[at][0] == '-'; ++at) {
    if (std::strcmp(argv[at], "--plain") == 0) {
      how.colorizing = Colorizing::Off;
    } else if (std::strcmp(argv[at], "--drawn") == 0 && at + 2 < argc &&
               std::sscanf(argv[at + 1], "%ux%u", &how.drawnBox.width, &how.drawnBox.height) == 2) {
      ++at;
    } else {
      std::fprintf(stderr, "page-decode: unknown option %s\n", argv[at]);
      return 2;
    }
  }
  const int runs = argc > at + 1 ? std::max(1, std::atoi(argv[at + 1])) : 9;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!Decode(root.get(), argv[at], w, h, out, how)) return 1;
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("%.2f\n", times[times.size() / 2]);
  if (at > 1) std::fprintf(stderr, "decoded %u x %u\n", w, h);
  return 0;
}
