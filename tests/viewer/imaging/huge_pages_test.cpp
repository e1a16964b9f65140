// Pages far larger than any screen, within a bound on memory: ten
// 12000 x 12000 PNGs in a 4.5 MB Zip turned through the way the window
// turns pages (loads ahead on the workers, the page cache, scaled copies),
// and a 59-byte BMP declaring 16777222 x 13 pixels. The bound is on the
// process's peak resident memory (VmHWM, reset first), so these run only
// where no sanitizer's shadow memory counts too.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ArchiveBuilders.h"
#include "MemoryFileSystem.h"
#include "platform/d2d1.h"
#include "viewer/archive/Archive.h"
#include "viewer/imaging/PageCache.h"
#include "viewer/imaging/PageLoader.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

void PutBE(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
}

// A PNG of one flat colour, 8-bit RGB, written a row at a time.
std::string FlatPng(uint32_t width, uint32_t height, uint8_t r, uint8_t g, uint8_t b) {
  auto chunk = [](std::string& png, const char* type, const std::string& data) {
    PutBE(png, static_cast<uint32_t>(data.size()));
    const std::string body = type + data;
    png += body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    PutBE(png, static_cast<uint32_t>(crc));
  };
  std::string png("\x89PNG\r\n\x1a\n", 8), header;
  PutBE(header, width);
  PutBE(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  chunk(png, "IHDR", header);

  std::string row(1 + std::size_t{width} * 3, '\0');  // filter byte 0: none
  for (uint32_t x = 0; x < width; ++x) row[1 + 3 * x] = static_cast<char>(r), row[2 + 3 * x] = static_cast<char>(g),
                                       row[3 + 3 * x] = static_cast<char>(b);
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, Z_BEST_COMPRESSION), Z_OK);
  std::string data;
  char out[1 << 16];
  for (uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    z.next_in = reinterpret_cast<Bytef*>(last ? nullptr : row.data());
    z.avail_in = last ? 0 : static_cast<uInt>(row.size());
    int status = Z_OK;
    do {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof out;
      status = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      data.append(out, sizeof out - z.avail_out);
    } while (z.avail_out == 0 || (last && status != Z_STREAM_END));
  }
  deflateEnd(&z);
  chunk(png, "IDAT", data);
  chunk(png, "IEND", "");
  return png;
}

// The process's peak resident memory since the last reset, in bytes.
uint64_t PeakResident() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}

void ResetPeakResident() {
  std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  ASSERT_NE(clear, nullptr);
  std::fputs("5", clear);
  std::fclose(clear);
}

// The renderer's bitmaps (sharing a converted page's pixels, copying any
// other), made on a target of its own.
class Bitmaps {
 public:
  Bitmaps() {
    ID2D1Factory* factory = nullptr;
    EXPECT_EQ(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, ID2D1Factory::iid, nullptr,
                                reinterpret_cast<void**>(&factory)),
              S_OK);
    D2D1_RENDER_TARGET_PROPERTIES properties{};
    properties.dpiX = properties.dpiY = 96;
    D2D1_HWND_RENDER_TARGET_PROPERTIES window{};
    window.pixelSize = {16, 16};
    EXPECT_EQ(factory->CreateHwndRenderTarget(properties, window, &m_target), S_OK);
    factory->Release();
  }
  BitmapMaker Maker() const {
    ComRef<ID2D1HwndRenderTarget> target = m_target;
    return [target](IWICBitmapSource* pixels, ID2D1Bitmap** bitmap) {
      return target->CreateBitmapFromWicBitmap(pixels, nullptr, bitmap);
    };
  }

 private:
  ComRef<ID2D1HwndRenderTarget> m_target;
};

// Turns through a book as the window does, one page at a time on a
// 1600 x 1000 screen: the page shown is taken (waiting for its load), put
// in the cache and scaled for the screen on a worker; the two pages after
// it and the one before load ahead, scaled.
class Reader {
 public:
  Reader(IDirectory* root, std::vector<std::u16string> paths) : m_paths(std::move(paths)) { m_root.Set(root); }

  // The page's size as the window would report it, or 0 x 0.
  D2D1_SIZE_U Show(int32_t index) {
    Collect();
    if (m_cache.Find(index) < 0) {
      if (!m_loader.Has(index)) {
        PageRequest request = RequestFor(index);
        request.keepFull = true;
        m_loader.Submit(std::move(request));
      }
      std::optional<LoadedPage> loaded = m_loader.Take(index);
      if (!loaded || !loaded->decoded) return {};
      m_cache.Put(index, std::move(loaded->image));
    }
    m_current = index;
    m_shown = *m_cache.Peek(index);
    m_cache.KeepFullPixelsOf(index, -1);
    ScaleShown();
    LoadAhead();
    return m_shown.size;
  }
  void Finish() {
    m_loader.WaitIdle();
    Collect();
  }

 private:
  static D2D1_SIZE_U Target(D2D1_SIZE_U page) {
    const double s = std::min(1600.0 / page.width, 1000.0 / page.height);
    return {static_cast<UINT>(page.width * s), static_cast<UINT>(page.height * s)};
  }
  PageRequest RequestFor(int32_t index) const {
    PageRequest request;
    request.page = index;
    request.root = m_root;
    request.path = m_paths[static_cast<std::size_t>(index)];
    request.colorizing = Colorizing::On;
    request.make = m_bitmaps.Maker();
    return request;
  }
  void ScaleShown() {
    PageImage* image = m_cache.Edit(m_current);
    const D2D1_SIZE_U target = Target(image->size);
    if (image->scaled && image->scaled->GetPixelSize().width == target.width) {
      image->DropFullPixels();
      m_shown = *image;
      return;
    }
    PageRequest request = RequestFor(m_current);
    request.source = image->source;
    request.targetFor = [target](D2D1_SIZE_U) { return target; };
    m_loader.Submit(std::move(request));
  }
  void LoadAhead() {
    std::vector<int32_t> ahead;
    for (int32_t k : {m_current + 1, m_current + 2, m_current - 1})
      if (k >= 0 && k < static_cast<int32_t>(m_paths.size()) && m_cache.Peek(k) == nullptr) ahead.push_back(k);
    m_loader.KeepAhead(ahead);
    for (int32_t k : ahead) {
      PageRequest request = RequestFor(k);
      request.purpose = LoadFor::Ahead;
      request.targetFor = Target;
      m_loader.Submit(std::move(request));
    }
  }
  void Collect() {
    for (LoadedPage& loaded : m_loader.TakeFinished()) {
      PageImage* image = m_cache.Edit(loaded.page);
      if (image == nullptr || !loaded.decoded) continue;
      if (loaded.image.scaled) image->scaled = loaded.image.scaled;
      if (loaded.page == m_current) {
        image->DropFullPixels();
        m_shown = *image;
      }
    }
    m_cache.KeepFullPixelsOf(m_current, -1);
  }

  ComRef<IDirectory> m_root;
  std::vector<std::u16string> m_paths;
  Bitmaps m_bitmaps;
  CPageLoader m_loader;
  CPageCache m_cache;
  PageImage m_shown;
  int32_t m_current = -1;
};

TEST(HugePages, TenPagesOf12000SquareTurnWithinOnePointFiveGigabytes) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers' shadow memory counts as resident too";
  const std::string png = FlatPng(12000, 12000, 200, 120, 40);
  std::vector<test::ZipEntry> entries;
  std::vector<std::u16string> paths;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "page" + std::to_string(i) + ".png";
    entries.push_back({name, png});
    paths.push_back(u"/page" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u".png");
  }
  const std::string zip = test::ZipArchive(entries);
  EXPECT_LT(zip.size(), 5u << 20);
  ComRef<IFile> file;
  file.Set(new test::MemoryFile(std::make_shared<const std::string>(zip)));
  ComRef<IDirectory> book;
  ASSERT_EQ(OpenArchive(file.get(), &book), 0);

  ResetPeakResident();
  {
    Reader reader(book.get(), paths);
    for (int32_t page = 0; page < 10; ++page) {
      const D2D1_SIZE_U size = reader.Show(page);
      EXPECT_EQ(size.width, 12000u) << "page " << page << " reports its own size";
      EXPECT_EQ(size.height, 12000u) << "page " << page;
    }
    reader.Finish();
  }
  const uint64_t peak = PeakResident();
  std::printf("peak resident: %.0f MB\n", peak / 1048576.0);
  EXPECT_LT(peak, 1536ull << 20);
}

// A BMP header declaring 16777222 x 13 pixels, then `tail` (a palette and
// pixels), 59 bytes in all.
std::string WideBmp(int bits, int compression, int colours, const std::string& tail) {
  std::string bmp = "BM";
  test::PutLE(bmp, 59, 4);
  test::PutLE(bmp, 0, 4);
  test::PutLE(bmp, 54 + 4 * colours, 4);
  test::PutLE(bmp, 40, 4);
  test::PutLE(bmp, 16777222, 4);
  test::PutLE(bmp, 13, 4);
  test::PutLE(bmp, 1, 2);
  test::PutLE(bmp, bits, 2);
  test::PutLE(bmp, compression, 4);
  test::PutLE(bmp, tail.size() - 4 * colours, 4);
  test::PutLE(bmp, 0, 8);
  test::PutLE(bmp, colours, 4);
  test::PutLE(bmp, 0, 4);
  bmp += tail;
  EXPECT_EQ(bmp.size(), 59u);
  return bmp;
}

// A side of millions of pixels is no page: refused by its header, before
// a pixel is decoded (decoding it took seconds in a sanitizer build).
TEST(HugePages, AFiftyNineByteBmpOf16777222By13IsRefusedByItsHeader) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers' shadow memory counts as resident too";
  // 24 bits a pixel, uncompressed, cut short after five bytes of pixels: a
  // damaged file. Run-length coded, one colour and an end: a sliver.
  const std::string plain = WideBmp(24, 0, 0, std::string("\x10\x20\x30\x40\x50", 5));
  const std::string coded = WideBmp(8, 1, 1, std::string("\x30\x60\x90\x00\x00", 5));
  ComRef<test::MemoryDirectory> root;
  root.Set(new test::MemoryDirectory);
  root->AddFile(u"/plain.bmp", plain);
  root->AddFile(u"/coded.bmp", coded);

  // Opened as the window opens a file: decoded whole, kept, then scaled
  // for a 1600 x 1000 screen from the kept pixels.
  auto open = [&](const char16_t* path) {
    Bitmaps bitmaps;
    std::mutex openLock;
    PageRequest request;
    request.root.Set(root.get());
    request.path = path;
    request.colorizing = Colorizing::On;
    request.keepFull = true;
    request.make = bitmaps.Maker();
    LoadedPage page = LoadPage(request, openLock);
    if (!page.decoded) return page;
    request.source = page.image.source;
    request.keepFull = false;
    request.targetFor = [](D2D1_SIZE_U) { return D2D1_SIZE_U{1600, 1}; };
    const LoadedPage scaled = LoadPage(request, openLock);
    EXPECT_TRUE(scaled.image.scaled);
    return page;
  };
  ResetPeakResident();
  EXPECT_FALSE(open(u"/plain.bmp").decoded);
  EXPECT_FALSE(open(u"/coded.bmp").decoded);
  const uint64_t peak = PeakResident();
  std::printf("peak resident: %.0f MB\n", peak / 1048576.0);
  EXPECT_LT(peak, 200ull << 20);
}

}  // namespace
