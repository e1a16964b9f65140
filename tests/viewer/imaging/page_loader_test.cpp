// Loading a page: a page too large to keep is loaded from smaller pixels yet
// keeps its size (what the trace reports and the layout uses), scaled
// copies come from the smaller pixels, the Exif switch reaches the decoder,
// and the decode gate lets loads share a budget of full-size pixels.
#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <atomic>
#include <chrono>
#include <thread>

#include "MemoryFileSystem.h"
#include "viewer/imaging/PageLoader.h"

namespace {

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, 95));
  return bytes.toStdString();
}

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
  void SetUp() override {
    m_root.Set(new test::MemoryDirectory);
    // 20000 x 10: longer than any page is kept (16384), so it is kept at
    // 16384 x 8.
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
  whole.keepFull = true;
  const LoadedPage full = LoadPage(whole, m_openLock);
  ASSERT_TRUE(full.decoded);
  EXPECT_TRUE(Is(full.image.size, 20000, 10)) << "the page's own size, as the trace reports it";
  ASSERT_TRUE(full.image.full);
  EXPECT_TRUE(Is(full.image.full->GetPixelSize(), 16384, 8));
  ASSERT_TRUE(full.image.source);

  // Drawn at exactly the kept pixels: the full bitmap serves as the copy.
  PageRequest same = Request(u"/strip.png");
  same.targetFor = Fixed(16384, 8);
  const LoadedPage one = LoadPage(same, m_openLock);
  ASSERT_TRUE(one.decoded);
  EXPECT_TRUE(Is(one.image.size, 20000, 10));
  EXPECT_EQ(one.image.scaled.get(), one.image.full.get());

  // Drawn at its page's own size (as a loupe would like): a scaled copy of
  // that size, not the smaller pixels taken for it.
  PageRequest asPage = Request(u"/strip.png");
  asPage.targetFor = Fixed(20000, 10);
  const LoadedPage large = LoadPage(asPage, m_openLock);
  ASSERT_TRUE(large.image.scaled);
  EXPECT_TRUE(Is(large.image.scaled->GetPixelSize(), 20000, 10));

  // Scaled again from the kept pixels (a new window size): still the page's
  // size, so the window takes the copy for the page it has.
  PageRequest again = Request(u"/strip.png");
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

}  // namespace
