// The page cache's replacement: eight entries, a hit makes an entry the
// newest, a new page takes a free entry or the one used longest ago; and
// its budget in bytes, which pages off screen give way to; and the page
// grid's thumbnails, within a bound in bytes.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "viewer/imaging/PageCache.h"
#include "viewer/imaging/ThumbnailCache.h"

namespace {

class Bitmap final : public CUnknownImpl<ID2D1Bitmap> {
 public:
  explicit Bitmap(UINT width, UINT height) : m_size{width, height} {}
  D2D1_SIZE_F GetSize() const override { return {static_cast<float>(m_size.width), static_cast<float>(m_size.height)}; }
  D2D1_SIZE_U GetPixelSize() const override { return m_size; }

 private:
  D2D1_SIZE_U m_size;
};

ComRef<ID2D1Bitmap> NewBitmap(UINT width = 1, UINT height = 1) {
  ComRef<ID2D1Bitmap> bitmap;
  bitmap.Set(new Bitmap(width, height));
  return bitmap;
}

// A page of `full` x `full` pixels (4 bytes each), and a scaled copy of
// `scaled` x `scaled` when asked for.
PageImage Page(UINT full, UINT scaled = 0) {
  PageImage image = PageImage::Of(NewBitmap(full, full).get());
  if (scaled > 0) image.scaled = NewBitmap(scaled, scaled);
  return image;
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

TEST(PageCache, OverItsBudgetPagesOffScreenGiveWayOldestFirst) {
  // Room for three pages of 10 x 10 (400 bytes each) with their copies.
  CPageCache cache(1300);
  for (int32_t page = 0; page < 3; ++page) cache.Put(page, Page(10, 2));
  EXPECT_EQ(cache.Bytes(), 3u * (400 + 16));
  EXPECT_TRUE(cache.Peek(0)->full) << "within the budget nothing goes";

  // A fourth: the oldest gives up its full pixels, its scaled copy stays.
  cache.Put(3, Page(10, 2));
  ASSERT_NE(cache.Peek(0), nullptr);
  EXPECT_FALSE(cache.Peek(0)->full);
  EXPECT_TRUE(cache.Peek(0)->scaled);
  EXPECT_TRUE(cache.Peek(1)->full);
  EXPECT_LE(cache.Bytes(), 1300u);

  // Pages with nothing else to draw them go whole, the oldest first.
  CPageCache whole(1000);
  for (int32_t page = 0; page < 3; ++page) whole.Put(page, Page(10));
  EXPECT_EQ(whole.Peek(0), nullptr);
  EXPECT_NE(whole.Peek(1), nullptr);
  EXPECT_EQ(whole.Find(0), -1) << "decoded again when next asked for";
  EXPECT_EQ(whole.Put(3, Page(10)), 0) << "its entry is free";
}

TEST(PageCache, ThePagesOnScreenAndTheTwoPutLastAreSpared) {
  CPageCache cache(500);
  cache.Put(0, Page(10));
  cache.KeepFullPixelsOf(0, -1);  // page 0 is on screen
  // A spread looked for: two pages put one after the other, each past the
  // budget, all kept: the screen's page and the pair the search will show.
  cache.Put(1, Page(10));
  cache.Put(2, Page(10));
  EXPECT_NE(cache.Peek(0), nullptr);
  EXPECT_NE(cache.Peek(1), nullptr);
  EXPECT_NE(cache.Peek(2), nullptr);
  // Once the pair is on screen, page 0 is an old page like any other.
  cache.KeepFullPixelsOf(1, 2);
  EXPECT_EQ(cache.Peek(0), nullptr);
  EXPECT_NE(cache.Peek(1), nullptr);
  EXPECT_NE(cache.Peek(2), nullptr);
  // Reset forgets what was on screen.
  cache.Reset();
  EXPECT_EQ(cache.Bytes(), 0u);
}

TEST(PageCache, ABitmapHeldAsFullAndScaledCountsOnce) {
  CPageCache cache;
  PageImage image = Page(100);
  image.scaled = image.full;  // drawn one to one
  cache.Put(0, std::move(image));
  EXPECT_EQ(cache.Bytes(), 100u * 100 * 4);
}

// The grid's thumbnails: within their bound the one used longest ago goes,
// never the one just put, and a page put again counts once.
TEST(ThumbnailCache, TheOldestGoesPastTheBound) {
  CThumbnailCache cache(3 * 400);  // three thumbnails of 10 x 10
  for (int32_t page = 0; page < 3; ++page) cache.Put(page, NewBitmap(10, 10).get());
  EXPECT_NE(cache.Find(0), nullptr);  // 1 is now the oldest
  cache.Put(3, NewBitmap(10, 10).get());
  EXPECT_EQ(cache.Find(1), nullptr);
  for (int32_t page : {0, 2, 3}) EXPECT_NE(cache.Find(page), nullptr) << page;
  cache.Put(3, NewBitmap(10, 10).get());
  EXPECT_EQ(cache.Bytes(), 1200u);
  cache.Put(4, NewBitmap(40, 40).get());  // alone past the bound: kept, the others go
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_NE(cache.Find(4), nullptr);
}

}  // namespace
