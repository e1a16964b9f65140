// The page cache's replacement: eight entries, a hit makes an entry the
// newest, a new page takes a free entry or the one used longest ago.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "viewer/imaging/PageCache.h"

namespace {

class Bitmap final : public CUnknownImpl<ID2D1Bitmap> {
 public:
  D2D1_SIZE_F GetSize() const override { return {1, 1}; }
  D2D1_SIZE_U GetPixelSize() const override { return {1, 1}; }
};

ComRef<ID2D1Bitmap> NewBitmap() {
  ComRef<ID2D1Bitmap> bitmap;
  bitmap.Set(new Bitmap);
  return bitmap;
}

TEST(PageCache, EightPagesAndTheOldestGoesFirst) {
  CPageCache cache;
  std::vector<ComRef<ID2D1Bitmap>> bitmaps;
  for (int32_t page = 0; page < 8; ++page) {
    bitmaps.push_back(NewBitmap());
    EXPECT_EQ(cache.Put(page, PageImage::Of(bitmaps.back().get())), page) << "free entries are taken in order";
  }
  for (int32_t page = 0; page < 8; ++page) EXPECT_EQ(cache.Peek(page)->full.get(), bitmaps[static_cast<std::size_t>(page)].get());

  // A ninth page replaces the one used longest ago: page 0.
  ComRef<ID2D1Bitmap> ninth = NewBitmap();
  EXPECT_EQ(cache.Put(8, PageImage::Of(ninth.get())), 0);
  EXPECT_EQ(cache.Peek(0), nullptr);
  EXPECT_EQ(test::RefCount(bitmaps[0].get()), 1u) << "the cache let its reference go";

  // A hit makes page 1 the newest: page 2 goes next, then page 3.
  EXPECT_EQ(cache.Find(1), 1);
  EXPECT_EQ(cache.Put(9, PageImage::Of(NewBitmap().get())), 2);
  EXPECT_NE(cache.Peek(1), nullptr);
  EXPECT_EQ(cache.Put(10, PageImage::Of(NewBitmap().get())), 3);
  EXPECT_EQ(cache.Find(2), -1);
  EXPECT_EQ(cache.Find(3), -1);
}

TEST(PageCache, PeekingIsNoUse) {
  CPageCache cache;
  std::vector<ComRef<ID2D1Bitmap>> bitmaps;
  for (int32_t page = 0; page < 8; ++page) {
    bitmaps.push_back(NewBitmap());
    cache.Put(page, PageImage::Of(bitmaps.back().get()));
  }
  EXPECT_NE(cache.Peek(0), nullptr);
  cache.Put(8, PageImage::Of(NewBitmap().get()));
  EXPECT_EQ(cache.Peek(0), nullptr) << "a peek did not save page 0";
}

TEST(PageCache, ResetLetsEveryPageGoAndAZeroedEntryIsNoPage) {
  CPageCache cache;
  EXPECT_EQ(cache.Find(0), -1) << "an empty entry is not page 0";
  EXPECT_EQ(cache.Peek(0), nullptr);
  ComRef<ID2D1Bitmap> bitmap = NewBitmap();
  cache.Put(0, PageImage::Of(bitmap.get()));
  EXPECT_EQ(test::RefCount(bitmap.get()), 2u);
  cache.Reset();
  EXPECT_EQ(test::RefCount(bitmap.get()), 1u);
  EXPECT_EQ(cache.Find(0), -1);
}

TEST(PageCache, AgesStopAtZeroAndAnAgedEntryIsFree) {
  // 256 uses of other pages age an entry to 0: it is then free again and
  // no longer found.
  CPageCache cache;
  ComRef<ID2D1Bitmap> old = NewBitmap(), other = NewBitmap();
  cache.Put(0, PageImage::Of(old.get()));
  cache.Put(1, PageImage::Of(other.get()));
  for (int i = 0; i < 255; ++i) cache.Find(1);
  EXPECT_EQ(cache.Find(0), -1);
  EXPECT_EQ(cache.Put(2, PageImage::Of(NewBitmap().get())), 0) << "the aged-out entry is the first free one";
}

TEST(PageCache, PagesOffScreenKeepOnlyWhatDrawsThem) {
  CPageCache cache;
  for (int32_t page = 0; page < 3; ++page) {
    PageImage image = PageImage::Of(NewBitmap().get());
    if (page != 2) image.scaled = NewBitmap();  // page 2 has no scaled copy yet
    cache.Put(page, std::move(image));
  }
  cache.KeepFullPixelsOf(1, -1);
  EXPECT_FALSE(cache.Peek(0)->full) << "off screen, drawn from its scaled copy";
  EXPECT_TRUE(cache.Peek(0)->scaled);
  EXPECT_TRUE(cache.Peek(1)->full) << "on screen";
  EXPECT_TRUE(cache.Peek(2)->full) << "nothing else would draw it";
}

}  // namespace
