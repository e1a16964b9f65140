// Loading a page: a page too large to keep is loaded from smaller pixels yet
// keeps its size (what the trace reports and the layout uses), scaled
// copies come from the smaller pixels, the Exif switch reaches the decoder,
// and the decode gate lets loads share a budget of full-size pixels. And
// the loader's workers: a turn waits for a load under way instead of
// starting a second, hands a queued one to a free worker or else loads
// it at once itself, a new book drops
// everything that was loading for the old one, and a wait gives way when
// the program is told to end.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <atomic>
#include <chrono>
#include <thread>

#include "QtImages.h"
#include "HeldDirectory.h"
#include "MemoryFileSystem.h"
#include "viewer/imaging/PageLoader.h"

namespace {

std::string Encode(const QImage& image, const char* format) { return test::Encode(image, format, 95); }

// A drawing bitmap that reads its source's pixels whole, as the renderer's
// does when it cannot share them.
class Bitmap final : public CUnknownImpl<ID2D1Bitmap> {
 public:
  explicit Bitmap(D2D1_SIZE_U size) : m_size(size) {}
  D2D1_SIZE_F GetSize() const override { return {static_cast<float>(m_size.width), static_cast<float>(m_size.height)}; }
  D2D1_SIZE_U GetPixelSize() const override { return m_size; }

 private:
  D2D1_SIZE_U m_size;
};

HRESULT MakeBitmap(IWICBitmapSource* pixels, ID2D1Bitmap** bitmap) {
  D2D1_SIZE_U size{};
  HRESULT hr = pixels->GetSize(&size.width, &size.height);
  if (FAILED(hr)) return hr;
  std::vector<BYTE> copy(static_cast<std::size_t>(size.width) * size.height * 4);
  hr = pixels->CopyPixels(nullptr, size.width * 4, static_cast<UINT>(copy.size()), copy.data());
  if (FAILED(hr)) return hr;
  return HandOut(new Bitmap(size), ID2D1Bitmap::iid, reinterpret_cast<void**>(bitmap));
}

class PageLoading : public testing::Test {
 protected:
  static constexpr uint64_t kStripBudget = 10000 * 5 * 4;
  void SetUp() override {
    m_root.Set(new test::MemoryDirectory);
    // 20000 x 10: more than its loads here keep (kStripBudget), so it is
    // kept at 10000 x 5.
    QImage strip(20000, 10, QImage::Format_RGB32);
    strip.fill(qRgb(120, 60, 30));
    m_root->AddFile(u"/strip.png", Encode(strip, "PNG"));
    QImage stored(64, 32, QImage::Format_RGB32);
    stored.fill(qRgb(30, 60, 120));
    m_root->AddFile(u"/stored.jpg", Encode(stored, "JPEG"));
  }

  PageRequest Request(const char16_t* path) const {
    PageRequest request;
    request.root.Set(m_root.get());
    request.path = path;
    request.make = MakeBitmap;
    return request;
  }

  static std::function<D2D1_SIZE_U(D2D1_SIZE_U)> Fixed(UINT width, UINT height) {
    return [=](D2D1_SIZE_U) { return D2D1_SIZE_U{width, height}; };
  }

  ComRef<test::MemoryDirectory> m_root;
  std::mutex m_openLock;
};

bool Is(D2D1_SIZE_U size, UINT width, UINT height) { return size.width == width && size.height == height; }

TEST_F(PageLoading, APageTooLargeToKeepKeepsItsSizeAndScalesFromItsSmallerPixels) {
  PageRequest whole = Request(u"/strip.png");
  whole.budgetBytes = kStripBudget;
  whole.keepFull = true;
  const LoadedPage full = LoadPage(whole, m_openLock);
  ASSERT_TRUE(full.decoded);
  EXPECT_TRUE(Is(full.image.size, 20000, 10)) << "the page's own size, as the trace reports it";
  ASSERT_TRUE(full.image.full);
  EXPECT_TRUE(Is(full.image.full->GetPixelSize(), 10000, 5));
  ASSERT_TRUE(full.image.source);

  // Drawn at exactly the kept pixels: the full bitmap serves as the copy.
  PageRequest same = Request(u"/strip.png");
  same.budgetBytes = kStripBudget;
  same.targetFor = Fixed(10000, 5);
  const LoadedPage one = LoadPage(same, m_openLock);
  ASSERT_TRUE(one.decoded);
  EXPECT_TRUE(Is(one.image.size, 20000, 10));
  EXPECT_EQ(one.image.scaled.get(), one.image.full.get());

  // Drawn at its page's own size (as a loupe would like): a scaled copy of
  // that size, not the smaller pixels taken for it.
  PageRequest asPage = Request(u"/strip.png");
  asPage.budgetBytes = kStripBudget;
  asPage.targetFor = Fixed(20000, 10);
  const LoadedPage large = LoadPage(asPage, m_openLock);
  ASSERT_TRUE(large.image.scaled);
  EXPECT_TRUE(Is(large.image.scaled->GetPixelSize(), 20000, 10));

  // Scaled again from the kept pixels (a new window size): still the page's
  // size, so the window takes the copy for the page it has.
  PageRequest again = Request(u"/strip.png");
  again.budgetBytes = kStripBudget;
  again.source = full.image.source;
  again.root.Reset();  // no file to read: the pixels are at hand
  again.targetFor = Fixed(1000, 1);
  const LoadedPage rescaled = LoadPage(again, m_openLock);
  ASSERT_TRUE(rescaled.decoded);
  EXPECT_TRUE(Is(rescaled.image.size, 20000, 10));
  ASSERT_TRUE(rescaled.image.scaled);
  EXPECT_TRUE(Is(rescaled.image.scaled->GetPixelSize(), 1000, 1));
  EXPECT_FALSE(rescaled.image.full) << "not asked to keep it";
}

TEST_F(PageLoading, TheExifSwitchReachesTheDecoder) {
  // No Exif block here: the switch must not change a page without one.
  for (const ExifOrientation orientation : {ExifOrientation::Honoured, ExifOrientation::Ignored}) {
    PageRequest request = Request(u"/stored.jpg");
    request.orientation = orientation;
    request.keepFull = true;
    const LoadedPage page = LoadPage(request, m_openLock);
    ASSERT_TRUE(page.decoded);
    EXPECT_TRUE(Is(page.image.size, 64, 32));
  }
}

// A page cut short loads, says why it is not whole, and says it again when
// scaled from the pixels it kept; a whole page says nothing.
TEST_F(PageLoading, ADamagedPageLoadsAndSaysWhy) {
  QImage page(64, 32, QImage::Format_RGB32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) page.setPixel(x, y, qRgb(x * 4, y * 8, (x ^ y) * 4));
  const std::string jpeg = Encode(page, "JPEG");
  m_root->AddFile(u"/cut.jpg", jpeg.substr(0, jpeg.size() / 2));
  PageRequest request = Request(u"/cut.jpg");
  request.keepFull = true;
  const LoadedPage cut = LoadPage(request, m_openLock);
  ASSERT_TRUE(cut.decoded);
  EXPECT_NE(cut.damage.find(u"JPEG"), std::u16string::npos);
  PageRequest again = Request(u"/cut.jpg");
  again.source = cut.image.source;
  again.targetFor = Fixed(32, 16);
  EXPECT_EQ(LoadPage(again, m_openLock).damage, cut.damage);
  EXPECT_EQ(LoadPage(Request(u"/stored.jpg"), m_openLock).damage, u"");
}

TEST(DecodeGate, DecodesShareTheBudgetAndALargerOneWaitsToRunAlone) {
  CDecodeGate gate(100);
  gate.Enter(40);
  gate.Enter(60);  // 100: exactly the budget, no wait
  std::atomic<bool> entered{false};
  std::thread third([&] {
    gate.Enter(30);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(entered) << "130 would pass the budget";
  gate.Leave(60);
  third.join();
  EXPECT_TRUE(entered);

  // Larger than the whole budget: waits until nothing else is held.
  entered = false;
  std::thread large([&] {
    gate.Enter(500);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(entered);
  gate.Leave(40);
  gate.Leave(30);
  large.join();
  EXPECT_TRUE(entered);
  EXPECT_EQ(gate.Peak(), 500u);
  gate.Leave(500);
}

TEST_F(PageLoading, TheLoadersOwnLoadsPassItsGate) {
  CPageLoader loader;
  EXPECT_EQ(loader.Gate().Peak(), 0u);
  PageRequest request = Request(u"/stored.jpg");
  request.keepFull = true;
  loader.Submit(request);
  const std::optional<LoadedPage> page = loader.Take(0);
  ASSERT_TRUE(page && page->decoded);
  EXPECT_EQ(loader.Gate().Peak(), 64u * 32 * 4) << "the page's full pixels went through the gate";
}

// ---- the loader's workers ----

class Loader : public PageLoading {
 protected:
  void SetUp() override {
    PageLoading::SetUp();
    QImage page(40, 60, QImage::Format_RGB32);
    for (int k = 0; k < 8; ++k) {
      page.fill(qRgb(20 * k, 100, 200));
      m_root->AddFile(u"/" + Name(k), Encode(page, "PNG"));
    }
    m_held.Set(new test::HeldDirectory(m_root.get()));
  }
  void TearDown() override {
    // Before the loader goes (after a failed check too): its workers must
    // not be left waiting on a read.
    for (int k = 0; k < 8; ++k) m_held->Unblock(u"/" + Name(k));
  }
  static std::u16string Name(int k) { return u"p" + std::u16string(1, static_cast<char16_t>(u'0' + k)) + u".png"; }
  // Every worker (four at most) busy with a page made ahead that does not
  // read until released.
  void HoldEveryWorker() {
    for (int k = 0; k < 4; ++k) {
      m_held->Block(Name(k).insert(0, u"/"));
      m_loader.Submit(Page(k, true));
    }
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    for (unsigned k = 0; k < workers; ++k) ASSERT_TRUE(m_held->WaitForOpen(Name(static_cast<int>(k)).insert(0, u"/")));
  }
  void ReleaseEveryWorker() {
    for (int k = 0; k < 4; ++k) m_held->Unblock(Name(k).insert(0, u"/"));
  }
  PageRequest Page(int k, bool ahead = false) const {
    PageRequest request = Request((u"/" + Name(k)).c_str());
    request.root.Set(m_held.get());
    request.page = k;
    request.purpose = ahead ? LoadFor::Ahead : LoadFor::Shown;
    request.targetFor = Fixed(20, 30);
    return request;
  }
  ComRef<test::HeldDirectory> m_held;
  CPageLoader m_loader;
};

TEST_F(Loader, ATurnWaitsForTheLoadUnderWayAndNeverStartsASecond) {
  CPageLoader& loader = m_loader;
  m_held->Block(u"/p0.png");
  loader.Submit(Page(0, true));
  ASSERT_TRUE(m_held->WaitForOpen(u"/p0.png"));
  loader.Submit(Page(0));  // asked again while loading: no second load
  EXPECT_TRUE(loader.Has(0));

  std::atomic<bool> taken{false};
  std::optional<LoadedPage> page;
  std::thread turn([&] {
    page = loader.Take(0);
    taken = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(taken) << "the page is still being read";
  m_held->Unblock(u"/p0.png");
  turn.join();
  ASSERT_TRUE(page && page->decoded);
  EXPECT_EQ(page->page, 0);
  ASSERT_TRUE(page->image.scaled);
  EXPECT_TRUE(Is(page->image.scaled->GetPixelSize(), 20, 30));
  EXPECT_EQ(m_held->Opens(u"/p0.png"), 1);
  EXPECT_FALSE(loader.Has(0)) << "taken";
  EXPECT_FALSE(loader.Take(0)) << "nothing left to take";
}

// The window's thread never loads: with every worker busy, a page wanted
// now waits at the head of the queue, and a take with a deadline comes back
// without it in time, the page still asked for.
TEST_F(Loader, AQueuedLoadWantedNowGoesFirstAndNeverToTheCallersThread) {
  CPageLoader& loader = m_loader;
  std::atomic<int> told{0};
  loader.WhenFinished([&] { ++told; });
  HoldEveryWorker();
  loader.Submit(Page(6, true));
  loader.Submit(Page(7, true));
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_FALSE(loader.Take(7, asked + std::chrono::milliseconds(50)));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1)) << "the deadline holds";
  EXPECT_TRUE(loader.Has(7)) << "still asked for";
  EXPECT_EQ(m_held->Opens(u"/p7.png"), 0) << "not loaded on the caller's thread";
  ReleaseEveryWorker();
  const std::optional<LoadedPage> page = loader.Take(7);
  ASSERT_TRUE(page && page->decoded);
  EXPECT_NE(m_held->OpenedOn(u"/p7.png"), std::this_thread::get_id());
  loader.WaitIdle();
  EXPECT_EQ(told, 1) << "what was waited for and missed is told when made";
}

TEST_F(Loader, AQueuedLoadGoesToAFreeWorkerWhoseWaitCanGiveWay) {
  CPageLoader& loader = m_loader;
  loader.Submit(Page(5));
  const std::optional<LoadedPage> page = loader.Take(5);  // at once: most likely still queued
  ASSERT_TRUE(page && page->decoded);
  EXPECT_NE(m_held->OpenedOn(u"/p5.png"), std::this_thread::get_id());
  EXPECT_EQ(m_held->Opens(u"/p5.png"), 1);
}

TEST_F(Loader, FinishedLoadsComeOutOnceAndThoseMadeAheadWaitToBeTaken) {
  CPageLoader& loader = m_loader;
  loader.Submit(Page(1));
  loader.Submit(Page(2, true));
  loader.Submit(Page(3, true));
  loader.WaitIdle();
  std::vector<LoadedPage> finished = loader.TakeFinished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0].page, 1);
  EXPECT_TRUE(loader.TakeFinished().empty());
  EXPECT_FALSE(loader.Busy()) << "what was made ahead waits quietly";

  loader.KeepAhead({3});  // the reader moved: page 2 is no longer near
  EXPECT_FALSE(loader.Has(2));
  ASSERT_TRUE(loader.Has(3));
  const std::optional<LoadedPage> three = loader.Take(3);
  ASSERT_TRUE(three && three->decoded);
  EXPECT_EQ(m_held->Opens(u"/p3.png"), 1);
}

// A page queued ahead and then asked for now, at another size (the page
// came on screen, the window was resized): one load, at the size asked
// last, handed out with what finished and told of, not kept waiting.
TEST_F(Loader, ARequestForAQueuedPageUpgradesItsLoad) {
  CPageLoader& loader = m_loader;
  std::atomic<int> told{0};
  loader.WhenFinished([&] { ++told; });
  HoldEveryWorker();
  loader.Submit(Page(5, true));
  PageRequest now = Page(5);
  now.targetFor = Fixed(10, 15);
  loader.Submit(std::move(now));
  ReleaseEveryWorker();
  loader.WaitIdle();
  std::vector<LoadedPage> finished = loader.TakeFinished();
  ASSERT_EQ(finished.size(), 1u);
  ASSERT_TRUE(finished[0].image.scaled);
  EXPECT_TRUE(Is(finished[0].image.scaled->GetPixelSize(), 10, 15));
  EXPECT_EQ(m_held->Opens(u"/p5.png"), 1);
  EXPECT_EQ(told, 1) << "only what was not made ahead is told";

  // What its owner could not use yet waits, as if made ahead.
  loader.Keep(std::move(finished[0]));
  EXPECT_TRUE(loader.TakeFinished().empty());
  const std::optional<LoadedPage> five = loader.Take(5);
  ASSERT_TRUE(five && five->decoded);
}

// A new book never waits for the old one: Cancel returns while a load is
// stuck in the old book's directory, whose result never comes back, and the
// next book's pages load meanwhile.
TEST_F(Loader, CancelDropsEverythingAndLeavesTheLoadsUnderWayBehind) {
  CPageLoader& loader = m_loader;
  m_held->Block(u"/p0.png");
  loader.Submit(Page(0));
  for (int k = 1; k < 8; ++k) loader.Submit(Page(k, k % 2 == 0));
  ASSERT_TRUE(m_held->WaitForOpen(u"/p0.png"));
  loader.Cancel();
  for (int k = 0; k < 8; ++k) EXPECT_FALSE(loader.Has(k)) << k;
  EXPECT_FALSE(loader.Busy());
  EXPECT_FALSE(loader.WaitForWorkers(std::chrono::milliseconds(20))) << "page 0 is still being read";
  if (std::thread::hardware_concurrency() > 1) {
    loader.Submit(Page(5));
    const std::optional<LoadedPage> five = loader.Take(5);
    ASSERT_TRUE(five && five->decoded) << "the next book is not held up";
  }
  m_held->Unblock(u"/p0.png");
  EXPECT_TRUE(loader.WaitForWorkers(std::chrono::seconds(10)));
  EXPECT_TRUE(loader.TakeFinished().empty()) << "a load of the old book never comes back";
  EXPECT_FALSE(loader.Take(0));
}

TEST_F(Loader, AWaitGivesWayWhenTheProgramIsToldToEnd) {
  CPageLoader& loader = m_loader;
  std::atomic<bool> told{false};
  loader.GiveWayWhen([&] { return told.load(); });
  m_held->Block(u"/p0.png");
  loader.Submit(Page(0));
  ASSERT_TRUE(m_held->WaitForOpen(u"/p0.png"));
  std::atomic<bool> returned{false};
  std::optional<LoadedPage> page;
  std::thread turn([&] {
    page = loader.Take(0);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned);
  told = true;
  for (int i = 0; i < 100 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(returned) << "the wait ended within a second of being told";
  m_held->Unblock(u"/p0.png");
  turn.join();
  EXPECT_FALSE(page) << "no page: the caller decodes nothing more";
  EXPECT_EQ(m_held->Opens(u"/p0.png"), 1);
}

}  // namespace
