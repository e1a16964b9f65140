// The open book's pages on their way to the screen: the reading unit owns
// the page cache, the workers that load pages, the policy of what is
// decoded and scaled ahead, and the pages on screen. A turn asks it for the
// page or spread a move shows; it decodes what the pairing rules need
// (taking what the workers made), keeps the pages on screen sharp and loads
// what comes next; it says when the workers have made something through a
// callback, so that its owner takes it in on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "viewer/book/Book.h"
#include "viewer/book/PageMode.h"
#include "viewer/book/Spread.h"
#include "viewer/imaging/D2D.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/PageCache.h"
#include "viewer/imaging/PageLoader.h"

// How pages are read and laid out now: the window's settings of the moment.
struct ReadingSettings {
  PageMode mode = PageMode::SpreadRight;
  Colorizing colorizing = Colorizing::Off;
  ExifOrientation orientation = ExifOrientation::Honoured;
  bool loupe = false;  // the pages on screen keep their full pixels
};

class CReadingUnit {
 public:
  // The pages of `book` (the owner's; the unit marks which entries decode
  // and moves its pages on screen), made into `renderer`'s bitmaps and laid
  // out on its screen, read as `settings` says at each call.
  CReadingUnit(Book& book, const D2D& renderer, std::function<ReadingSettings()> settings);
  CReadingUnit(const CReadingUnit&) = delete;
  CReadingUnit& operator=(const CReadingUnit&) = delete;

  // Called from a worker's thread when something waits to be taken in
  // (by Collect, on the owner's thread).
  void WhenReady(std::function<void()> ready) { m_loader.WhenFinished(std::move(ready)); }
  // Whether to stop decoding (the program being told to end): no new
  // decode starts, and a wait for a worker ends early.
  void GiveWayWhen(std::function<bool()> giveWay) {
    m_giveWay = giveWay;
    m_loader.GiveWayWhen(std::move(giveWay));
  }

  // Every load and every decoded page forgotten (new settings); the pages
  // on screen stay drawn until a turn replaces them.
  void DropPages();
  // The same, and nothing on screen: a new book, a lost device.
  void Reset();

  // The page or spread a move shows (see FindSpread; `cover` likewise), its
  // pages decoded and on screen, the pages a next move may show loaded
  // ahead; the load's debug lines written as each page is used. Nothing
  // changes when there is nothing to show that way.
  std::optional<Spread> Turn(int32_t index, int32_t step, int32_t cover);
  // The first page that decodes (the cover), trying those not tried yet;
  // -1 when none does.
  int32_t FirstPage();
  // A page decoded elsewhere (the file an open has just tested), kept.
  void Adopt(int32_t index, PageImage image);
  // A built-in picture alone on screen.
  void ShowPicture(ID2D1Bitmap* picture);
  // The pages on screen made for the size they are drawn at now (and their
  // full pixels while the loupe is on).
  void Rescale();
  // Takes in what the workers made; true when the screen gains.
  bool Collect();
  // Waits for the workers and takes in what they made (tests, benchmarks).
  bool FinishLoads();

  const PageImage& first() const { return m_first; }
  const PageImage& second() const { return m_second; }
  const CPageCache& cache() const { return m_cache; }

 private:
  // 0 when page `index` is decoded and in the cache; 1 when the entry is no image.
  int32_t Decode(int32_t index);
  PageRequest RequestFor(int32_t index) const;
  // The pages a move from `index` by `step` will most likely show, asked
  // for before the search asks for them one after the other.
  void LoadLikelyPages(int32_t index, int32_t step);
  // The spread after the one on screen and the one before it.
  void LoadAhead();

  Book& m_book;
  const D2D& m_renderer;
  std::function<ReadingSettings()> m_settings;
  std::function<bool()> m_giveWay;
  CPageCache m_cache;
  PageImage m_first;  // on screen: a page or a built-in picture
  PageImage m_second;
  // Last, so that its workers stop first.
  CPageLoader m_loader;
};
