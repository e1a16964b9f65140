// An entry no decoder takes is never extracted whole, through either route;
// one a decoder takes reads whole, its damage said as before.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include "ArchiveBuilders.h"
#include "MemoryFileSystem.h"
#include "QtImages.h"
#include "TestSupport.h"
#include "common/FileDamage.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/LazyFile.h"
#include "viewer/imaging/ImageDecoder.h"

using test::Ref;

namespace {

// Noise does not compress: its picture's file is larger than any head.
QImage Noise(int side) {
  QImage image(side, side, QImage::Format_RGB32);
  uint32_t state = 12345;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) image.setPixel(x, y, (state = state * 1103515245u + 12345u) >> 8);
  return image;
}

// A byte near the end changed: it still decodes, and fails its CRC.
std::string Corrupt(std::string jpeg) {
  for (std::size_t at = jpeg.size() - 200;; ++at)
    if (jpeg[at - 1] != '\xFF' && (jpeg[at] ^ 0x10) != '\xFF') {
      jpeg[at] = static_cast<char>(jpeg[at] ^ 0x10);
      return jpeg;
    }
}

TEST(EntryHeads, OnlyWhatADecoderTakesIsExtractedWhole) {
  const std::string jpeg = test::Encode(Noise(200), "JPG", 95);
  struct Case { const char* name; std::string data; bool decodes, whole, damaged; };
  const Case cases[] = {
      {"zeros.jpg", std::string(1 << 20, '\0'), false, false, false},
      {"notes.txt", std::string(300000, 'a'), false, false, false},
      {"head.jpg", jpeg.substr(0, 100), false, true, false},  // no larger than a head: read whole at once
      {"empty.jpg", "", false, true, false},
      {"page.jpg", jpeg, true, true, false},
      {"page.png", test::Encode(Noise(120), "PNG"), true, true, false},
      {"crc.jpg", Corrupt(jpeg), true, true, true},
  };
  // The damaged page's checksum is the whole page's.
  std::vector<test::ZipEntry> entries;
  for (const Case& c : cases) entries.push_back({c.name, c.damaged ? jpeg : c.data});
  for (int padding : {0, 3}) {  // a padded Zip is read by libarchive, a plain one by 7-Zip's library
    SCOPED_TRACE(padding ? "libarchive" : "7-Zip");
    auto zip = std::make_shared<std::string>(test::ZipArchive(entries, static_cast<std::size_t>(padding)));
    zip->replace(zip->rfind(jpeg), jpeg.size(), cases[6].data);
    Ref<IFile> file;
    Ref<IDirectory> archive;
    file.Set(new test::MemoryFile(zip));
    ASSERT_EQ(OpenArchive(file.get(), &archive), 0);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      std::u16string debug, damage;
      SetDebugOutputSink([](const char16_t* t, void* d) { *static_cast<std::u16string*>(d) += t; }, &debug);
      const uint64_t before = ExtractedByteCount();
      bool decoded = false;
      {  // the page's file and pixels gone before the count is read
        Ref<IFile> page;
        ASSERT_EQ(archive->OpenFile(&page, Utf8ToUtf16(std::string("/") + c.name).c_str(), nullptr), 0);
        ComRef<IWICBitmapSource> pixels;
        decoded = DecodeImage(page.get(), Colorizing::Off, pixels) == 0;
        damage = decoded ? PageDamageOf(pixels.get()) : DamageOf(page.get());
      }
      const uint64_t extracted = ExtractedByteCount() - before;
      SetDebugOutputSink(nullptr, nullptr);
      EXPECT_EQ(decoded, c.decodes);
      EXPECT_EQ(!damage.empty(), c.damaged) << Utf16ToUtf8(damage);
      // (libarchive drops the last bytes of an entry that fails its check.)
      EXPECT_TRUE(c.damaged || (c.whole ? extracted >= c.data.size() : extracted <= kHeadBytes)) << extracted;
      // The head's extraction is silent: 7-Zip's library traces the whole one, once.
      std::size_t traced = 0;
      for (auto at = debug.find(u"kExtract\n"); at != std::u16string::npos; at = debug.find(u"kExtract\n", at + 1)) ++traced;
      EXPECT_EQ(traced, padding == 0 && c.whole ? 1u : 0u) << Utf16ToUtf8(debug);
    }
  }
}

}  // namespace
