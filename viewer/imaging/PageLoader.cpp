// Turning the book's entries into page bitmaps, and choosing the page or
// the pair of pages on screen.
#include <string>

#include "common/Stream.h"
#include "platform/debug.h"
#include "viewer/imaging/WICBitmapSource.h"
#include "viewer/imaging/WICFormatConverter.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"

namespace {


bool Upright(ID2D1Bitmap* bitmap) {
  const D2D1_SIZE_U size = bitmap->GetPixelSize();
  return size.width < size.height;
}

}  // namespace

int32_t CMainWindow::DecodePage(int32_t index, int32_t* slot) {
  // A hit refreshes the entry's age and ages every other used entry.
  for (int i = 0; i < kPageCacheSize; ++i) {
    if (m_pageCache[i].age > 0 && m_pageCache[i].page == index) {
      for (int j = 0; j < kPageCacheSize; ++j)
        if (j != i && m_pageCache[j].age > 0) --m_pageCache[j].age;
      m_pageCache[i].age = 256;
      *slot = i;
      return 0;
    }
  }
  if (index < 0 || static_cast<std::size_t>(index) >= m_book.pages.size()) return 1;
  PageEntry& entry = m_book.pages[static_cast<std::size_t>(index)];
  if (entry.state != PageStateUnknown && entry.state != PageStateImage) return 1;

  try {
    ComRef<IFile> file;
    if (!m_book.root || m_book.root->OpenFile(&file, entry.path.c_str(), nullptr) != 0) throw 1;
    ComRef<IStream> stream;
    if (CreateFileStream(file.get(), &stream) != 0) throw 1;
    ComRef<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
      throw 1;
    ComRef<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder))) throw 1;
    ComRef<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, &frame))) throw 1;

    ComRef<IWICBitmapSource> image;
    frame->QueryInterface(IID_IWICBitmapSource, reinterpret_cast<void**>(&image));
    ComRef<IWICFormatConverter> converter;
    if (g_mono2Color != 0) {
      WICPixelFormatGUID format{};
      frame->GetPixelFormat(&format);
      if (format == GUID_WICPixelFormat8bppGray || format == GUID_WICPixelFormat24bppBGR) {
        CWICBitmapSource* pixels = new CWICBitmapSource;
        pixels->AddRef();
        const int32_t loaded = pixels->LoadPixels(frame.get());
        if (loaded == 2) {
          pixels->Release();
          throw 1;  // no memory for the page's pixels: a failed decode
        }
        // A page classified as colour stays as it is: its copy holds the
        // frame's very pixels, so the frame serves (and converts faster).
        if (loaded == 0 && (format == GUID_WICPixelFormat8bppGray || pixels->Classify() == 0)) {
          pixels->ConvertToGray();
          pixels->StretchLevels();
          image.Attach(pixels);  // takes the reference
        } else {
          pixels->Release();
        }
      }
      WICPixelFormatGUID now{};
      image->GetPixelFormat(&now);
      if (now == GUID_WICPixelFormat8bppGray) {
        CWICFormatConverter* colorizer = new CWICFormatConverter;
        colorizer->AddRef();
        converter.Attach(colorizer);
      }
    }
    if (converter.get() == nullptr && FAILED(factory->CreateFormatConverter(&converter))) throw 1;
    if (FAILED(converter->Initialize(image.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeMedianCut)))
      throw 1;

    entry.state = PageStateImage;
    int32_t chosen = -1;
    int32_t lowest = 30000;
    for (int i = 0; i < kPageCacheSize && chosen < 0; ++i)
      if (m_pageCache[i].age == 0) chosen = i;
    if (chosen < 0)
      for (int i = 0; i < kPageCacheSize; ++i)
        if (m_pageCache[i].age < lowest) lowest = m_pageCache[i].age, chosen = i;

    ID2D1Bitmap* bitmap = nullptr;
    if (m_renderTarget == nullptr || FAILED(m_renderTarget->CreateBitmapFromWicBitmap(converter.get(), nullptr, &bitmap)))
      throw 1;
    CachedPage& cached = m_pageCache[chosen];
    SafeRelease(cached.bitmap);
    cached.bitmap = bitmap;
    for (int j = 0; j < kPageCacheSize; ++j)
      if (j != chosen && m_pageCache[j].age > 0) --m_pageCache[j].age;
    cached.age = 256;
    cached.page = index;
    cached.reserved = 0;
    *slot = chosen;
    return 0;
  } catch (int) {
    entry.state = PageStateNotImage;
    return 1;
  } catch (const std::bad_alloc&) {
    entry.state = PageStateNotImage;
    return 1;
  }
}

int32_t CMainWindow::SearchForward(int32_t from) {
  const auto n = static_cast<int32_t>(m_book.pages.size());
  for (int32_t k = from; k < n; ++k) {
    int32_t slot;
    if (DecodePage(k, &slot) == 0) return k;
  }
  return -1;
}

int32_t CMainWindow::SearchBack(int32_t from) {
  for (int32_t k = from; k >= 0; --k) {
    int32_t slot;
    if (DecodePage(k, &slot) == 0) return k;
  }
  return -1;
}

bool CMainWindow::IsUpright(int32_t page) const {
  for (const CachedPage& entry : m_pageCache)
    if (entry.age > 0 && entry.page == page && entry.bitmap != nullptr) return Upright(entry.bitmap);
  return false;
}

int32_t CMainWindow::ShowPage(int32_t index, int32_t step) {
  const auto n = static_cast<int32_t>(m_book.pages.size());
  auto fail = [] {
    MessageBeep(0);
    return 1;
  };
  int32_t first = -1, second = -1;

  if (g_pageMode == PageModeSingle) {
    if (step == 0) {
      if (index >= n) return fail();
      first = SearchForward(index);
    } else if (step > 0) {
      if (index + 1 >= n) return fail();
      first = SearchForward(index + 1);
    } else {
      if (index - 1 < 0) return fail();
      first = SearchBack(index - 1);
    }
    if (first < 0) return fail();
  } else if (step >= 0) {
    int32_t start = index;
    if (step == 2)
      start = m_book.second != -1 ? m_book.second + 1 : m_book.current + 1;
    else if (step > 0)
      start = m_book.current + 1;
    if (start >= n) return fail();
    first = SearchForward(start);
    if (first < 0) return fail();
    if (IsUpright(first)) {
      const int32_t next = SearchForward(first + 1);
      if (next >= 0 && IsUpright(next)) second = next;
    }
  } else {
    if (index - 1 < 0) return fail();
    const int32_t previous = SearchBack(index - 1);
    if (previous < 0) return fail();
    const bool shownUpright = IsUpright(index);  // the first page shown before the step
    first = previous;
    if (step == -1) {
      if (IsUpright(previous) && shownUpright) second = index;
    } else if (step == -2 && IsUpright(previous)) {
      const int32_t before = previous > 0 ? SearchBack(previous - 1) : -1;
      if (before >= 0) {
        if (IsUpright(before)) first = before, second = previous;
      } else if (shownUpright) {
        second = index;
      }
    }
  }

  // Install: both pages come from the cache, where the search just put them.
  m_book.current = first;
  m_book.second = second;
  ID2D1Bitmap* bitmaps[2] = {nullptr, nullptr};
  for (const CachedPage& entry : m_pageCache) {
    if (entry.age <= 0) continue;
    if (entry.page == first && bitmaps[0] == nullptr) bitmaps[0] = entry.bitmap;
    if (second >= 0 && entry.page == second && bitmaps[1] == nullptr) bitmaps[1] = entry.bitmap;
  }
  Assign(m_firstPage, bitmaps[0]);
  if (second >= 0)
    Assign(m_secondPage, bitmaps[1]);
  else
    SafeRelease(m_secondPage);

  std::u16string trace = u"Show Image\r\n";
  auto describe = [&](int32_t page, ID2D1Bitmap* bitmap) {
    const PageEntry& entry = m_book.pages[static_cast<std::size_t>(page)];
    const D2D1_SIZE_U size = bitmap != nullptr ? bitmap->GetPixelSize() : D2D1_SIZE_U{0, 0};
    trace += u"  Index : [" + Decimal(page + 1) + u"/" + Decimal(n) + u"]\r\n";
    trace += u"  Name : " + entry.path + u"\r\n";
    trace += u"    Size : " + Decimal(static_cast<int64_t>(entry.size)) + u"\r\n";
    trace += u"    Width : " + Decimal(size.width) + u"  Height : " + Decimal(size.height) + u"\r\n";
  };
  describe(first, m_firstPage);
  if (second >= 0) describe(second, m_secondPage);
  OutputDebugStringW(trace.c_str());

  const std::u16string& firstName = m_book.pages[static_cast<std::size_t>(first)].name;
  std::u16string title;
  if (second >= 0)
    title = u"[" + Decimal(first + 1) + u"," + Decimal(second + 1) + u"/" + Decimal(n) + u"] " + firstName + u" | " +
            m_book.pages[static_cast<std::size_t>(second)].name;
  else
    title = u"[" + Decimal(first + 1) + u"/" + Decimal(n) + u"] " + firstName;
  title += u" <" + m_book.displayName + u"> " + kProductTitle;
  SetWindowTextW(m_hwnd, title.c_str());

  AddHistory(m_book.source, m_book.current);
  return 0;
}
