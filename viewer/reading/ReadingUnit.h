// The open book's pages on their way to the screen: the reading unit owns
// the page cache, the workers that load pages, the policy of what is
// decoded and scaled ahead, and the pages on screen. A turn asks it for the
// page or spread a move shows; it has the workers decode what the pairing
// rules need, waiting for them no longer than its owner allows (a turn not
// ready by then is asked again when they have made more), keeps the pages
// on screen sharp and loads what comes next; it says when the workers have
// made something through a callback, so that its owner takes it in on its
// own thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "viewer/book/Book.h"
#include "viewer/book/PageMode.h"
#include "viewer/book/Spread.h"
#include "viewer/imaging/D2D.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/PageCache.h"
#include "viewer/imaging/PageLoader.h"
#include "viewer/imaging/ThumbnailCache.h"
#include "viewer/imaging/ThumbnailStore.h"
#include "viewer/reading/ContinuousLayout.h"
#include "viewer/reading/PageGrid.h"
#include "viewer/reading/PageParts.h"
#include "viewer/reading/PageView.h"

// How pages are read and laid out now: the window's settings of the moment.
struct ReadingSettings {
  PageMode mode = PageMode::SpreadRight;
  Colorizing colorizing = Colorizing::Off;
  ExifOrientation orientation = ExifOrientation::Honoured;
  bool loupe = false;  // the pages on screen keep their full pixels
  // Drawn at a scale of the reader's own: the pages on screen keep what
  // they decoded, so that the next zoom step only scales.
  bool zoomed = false;
};

// What a turn came to: the pages shown, nothing to show that way, or pages
// the workers are still making (the turn is to be asked again).
enum class TurnState { Shown, NothingThere, Waiting };

struct TurnResult {
  TurnState state = TurnState::NothingThere;
  Spread spread;  // when shown
};

class CReadingUnit {
 public:
  // The pages of `book` (the owner's; the unit marks which entries decode
  // and moves its pages on screen), made into `renderer`'s bitmaps at the
  // sizes `view` asks, read as `settings` says at each call.
  CReadingUnit(Book& book, const D2D& renderer, const IPageView& view, std::function<ReadingSettings()> settings);
  ~CReadingUnit();
  CReadingUnit(const CReadingUnit&) = delete;
  CReadingUnit& operator=(const CReadingUnit&) = delete;

  // Called from a worker's thread when something waits to be taken in
  // (by Collect, on the owner's thread).
  void WhenReady(std::function<void()> ready) {
    m_partLoader.WhenFinished(ready);
    m_loader.WhenFinished(std::move(ready));
  }
  // Whether to stop decoding (the program being told to end): no new
  // decode starts, and a wait for a worker ends early.
  void GiveWayWhen(std::function<bool()> giveWay) {
    m_giveWay = giveWay;
    m_partLoader.GiveWayWhen(giveWay);
    m_loader.GiveWayWhen(std::move(giveWay));
  }

  // How long a turn waits on its caller's thread for the pages the workers
  // are making before it answers Waiting; without limit until set.
  static constexpr std::chrono::milliseconds kNoLimit = std::chrono::milliseconds::max();
  void WaitForPagesAtMost(std::chrono::milliseconds patience) { m_patience = patience; }
  // Whether the loads ahead of a turn wait for the frame that shows its
  // pages (FrameDrawn), so that they take no core from drawing it; they
  // start at once until set.
  void LoadAheadAfterFrames(bool after) { m_aheadAfterFrame = after; }
  // The window drew a frame: the loads ahead that waited for it start.
  void FrameDrawn();
  // The page a turn that answered Waiting waits for; -1 when none.
  int32_t waitingFor() const { return m_waitingFor; }

  // Every load and every decoded page forgotten (new settings); the pages
  // on screen stay drawn until a turn replaces them.
  void DropPages();
  // The same, and nothing on screen: a new book, a lost device.
  void Reset();

  // The page or spread a move shows (see FindSpread; when `coverAlone`,
  // the front cover the book names stands alone, else the first page that
  // decodes), its pages decoded and on screen, the pages a next move may
  // show loaded ahead; the load's debug lines written as each page is used.
  // Nothing on screen changes when there is nothing to show that way, or
  // while waiting.
  TurnResult Turn(int32_t index, int32_t step, bool coverAlone);
  // A page decoded elsewhere (the file an open has just tested), kept.
  void Adopt(int32_t index, PageImage image);
  // A built-in picture alone on screen.
  void ShowPicture(ID2D1Bitmap* picture);
  // What stands in a damaged entry's place among the pages (its reason is
  // in its PageEntry); none: such an entry is skipped as no image.
  void ShowDamagedPagesAs(ID2D1Bitmap* picture) { m_damaged.Set(picture); }
  // The pages on screen made for the size they are drawn at now (and their
  // full pixels while the loupe is on).
  void Rescale();
  // The window moved over pages larger than it: the parts of a page zoomed
  // too far to scale whole that come into view are made.
  void Panned() { KeepPartsInView(); }
  // The drawing area changed size: the pages on screen are made again for
  // it, and the pages asked for ahead and still queued take its sizes.
  void Resized();
  // Takes in what the workers made; true when the screen gains.
  bool Collect();
  // Waits for the workers and takes in what they made (tests, benchmarks);
  // the loads waiting for a frame wait on.
  bool FinishLoads();
  // Whether the workers ended the loads under way within `within` (the end
  // of the program: one stuck in a long archive read is left behind).
  bool WaitForWorkers(std::chrono::milliseconds within) {
    return m_loader.WaitForWorkers(within) && m_partLoader.WaitForWorkers(within);
  }

  // Continuous scroll over `column` (its owner's; null: back to pages and
  // spreads, where the next turn puts pages on screen): the pages it covers
  // and those wanted ahead in the direction of scrolling (+1 down, -1 up)
  // and behind, made on the workers at the device pixels the column gives
  // them; the others let go. Called again after each scroll; the sizes the
  // workers find go into the column as Collect takes them in.
  void ShowColumn(ContinuousLayout* column, int direction);
  // The bytes of scaled pages the column keeps at most (beyond those on
  // screen).
  static constexpr uint64_t kColumnBudgetBytes = 192ull << 20;
  void KeepColumnWithin(uint64_t bytes) { m_columnBudget = bytes; }
  // The column's pages on screen with their places (those not made yet
  // are left out).
  std::vector<PlacedPage> ColumnShown() const;
  // The column's pages held, on screen and ready ahead or behind.
  const std::map<int32_t, PageImage>& columnPages() const { return m_columnPages; }

  // The page grid over `grid` (its owner's; null: closed, and the loads of
  // the pages or the column asked again): thumbnails of the pages it wants,
  // from memory, else from `store` (when there is one), else made on the
  // workers, those in view first; in an archive read in one pass, in the
  // pass's order instead, so that the pass is never started again. Called
  // again after each move of the grid.
  void ShowGrid(const PageGrid* grid);
  void KeepThumbnailsIn(std::shared_ptr<CThumbnailStore> store) { m_store = std::move(store); }
  // The grid's thumbnails in view with their places (those not made yet
  // are left out).
  std::vector<PlacedPage> GridShown();
  const CThumbnailCache& thumbnails() const { return m_thumbnails; }

  // Where the view puts the pages on screen now.
  Placement Placed() const { return m_view.Place(m_first.size, m_second.size, m_settings().mode); }
  const PageImage& first() const { return m_first; }
  const PageImage& second() const { return m_second; }
  const CPageCache& cache() const { return m_cache; }

 private:
  // 0 when page `index` is decoded and in the cache; 1 when the entry is no
  // image, or is not made by the turn's deadline (m_waitingFor then says
  // which: the rest of the search is moot).
  int32_t Decode(int32_t index);
  // The first page that decodes (the cover), trying those not tried yet;
  // -1 when none does.
  int32_t FirstPage();
  PageRequest RequestFor(int32_t index) const;
  // What a load for a turn keeps beside the scaled copy.
  void KeepForTurn(PageRequest& request) const;
  // The full-size bitmap of a page a turn shows, made from its kept pixels
  // where its scaled copy does not fit its place (the pairing came out
  // otherwise than guessed).
  void ShowFully(int32_t first, int32_t second);
  // The size a page a turn asks for is decoded to cover (none: every pixel).
  IPageView::Sizer DecodeForTurn() const;
  // The pages a move from `index` by `step` will most likely show, asked
  // for before the search asks for them one after the other.
  void LoadLikelyPages(int32_t index, int32_t step);
  // The spread after the one on screen and the one before it.
  void LoadAhead();
  // The column's wanted pages asked for (at the column's scale now), the
  // others let go.
  void KeepColumnReady();
  // A load finished for the column: its page's state and size, and its
  // pixels when still wanted.
  void TakeIntoColumn(LoadedPage& loaded);
  // A page of the column too large to scale whole: the parts it wants at
  // `cover` asked for (with a small copy of the whole to stand in where
  // they are not made yet), the others let go.
  void KeepColumnParts(int32_t page, D2D1_SIZE_U cover, bool onScreen);
  // The decoded pixels bands are cut from, held for one page of the column
  // at most: the nearest the page under the middle.
  void KeepOneSource();
  // The pages on screen zoomed too far to scale whole: the parts in view
  // asked for, the others let go.
  void KeepPartsInView();
  // The pages on screen (none: -1) with their places in `placement`.
  std::array<std::pair<int32_t, const PagePlace*>, 2> ShownPlaces(const Placement& placement) const;
  // Parts made: kept with their page while it still wants them; whether
  // the screen gains.
  bool TakeParts(LoadedPage& loaded);

  // The grid's pages wanted now asked for: from the disk first, the others
  // on the workers.
  void KeepGridReady();
  // Whether the page needs no thumbnail made: out of the book, no picture,
  // held already or asked for.
  bool Unwanted(int32_t page);
  // The page's thumbnail from the disk into memory; whether it was there.
  bool FromDisk(int32_t page);
  // Whether the disk has the page's thumbnail (looked at once).
  bool OnDisk(int32_t page);
  // The page's thumbnail asked of the workers, kept on disk as it is made.
  void AskForThumbnail(int32_t page, bool inView);
  ThumbnailKey KeyOf(int32_t page) const;
  void TakeIntoGrid(LoadedPage& loaded);
  // Back from the grid: the loads it cancelled asked again.
  void LeaveGrid();
  // Pages of the book are on screen: an archive read in one pass may read
  // on to its end, spilling to the disk, whenever the workers are idle, so
  // that a jump later needs no new pass.
  void LetPassReadOn();
  // Pages of the book are asked for: an archive read in one pass reads
  // ahead only while the workers are idle, so that the pages loading, the
  // first ones above all, have the cores.
  void LetPassGiveWay();
  // Whether the book is an archive whose pass may be told how to go; a
  // pass told so for another book is left alone first.
  bool PassOfThisBook();
  // The pass goes as it would untold: a new book, or the end.
  void LeavePassAlone();
  // Whether pages load, or wait for their frame to load those after them.
  std::function<bool()> LoadsBusy();

  Book& m_book;
  const D2D& m_renderer;
  const IPageView& m_view;
  std::function<ReadingSettings()> m_settings;
  std::function<bool()> m_giveWay;
  std::chrono::milliseconds m_patience = kNoLimit;
  CPageLoader::Deadline m_deadline = CPageLoader::kNoDeadline;  // of the turn under way
  int32_t m_waitingFor = -1;
  bool m_aheadAfterFrame = false;
  // A turn's loads ahead wait for its frame (read by a solid archive's
  // pass too, which does not read on meanwhile).
  std::atomic<bool> m_aheadWaiting{false};
  CPageCache m_cache;
  ComRef<ID2D1Bitmap> m_damaged;
  PageImage m_first;  // on screen: a page or a built-in picture
  PageImage m_second;
  // Continuous scroll: the column, its pages held, the scale each was
  // asked for at, the pages wanted and the way it scrolls.
  ContinuousLayout* m_column = nullptr;
  std::map<int32_t, PageImage> m_columnPages;
  std::map<int32_t, double> m_columnAsked;
  // The pages whose parts the part loader is making, and the cover they
  // are cut from (one load at a time each: what it did not make is asked
  // for when it ends; one for another cover is dropped).
  std::map<int32_t, D2D1_SIZE_U> m_partsLoading;
  int m_direction = 1;
  uint64_t m_columnBudget = kColumnBudgetBytes;
  // The page grid: its thumbnails, the pages asked of the workers, the
  // book's stamp for the disk's keys, and in an archive read in one pass
  // its pages in the pass's order (empty for any other book).
  const PageGrid* m_grid = nullptr;
  CThumbnailCache m_thumbnails;
  std::set<int32_t> m_gridAsked;
  std::set<int32_t> m_gridMade;  // made on the workers since the grid opened
  std::shared_ptr<CThumbnailStore> m_store;
  std::optional<FileStamp> m_bookStamp;
  std::vector<int32_t> m_passOrder;
  enum class DiskState : uint8_t { Unknown, Kept, Missing };
  std::vector<DiskState> m_onDisk;  // by page
  ComRef<IDirectory> m_readingOn;   // the archive let read on, until told to stop
  ComRef<IDirectory> m_givingWay;   // the archive whose pass gives way to the loads
  // Last, so that their workers stop first. The parts of pages too large
  // to scale whole have a worker of their own, so that they do not wait
  // behind a page's whole copy; one, so that one such decode is held at a
  // time.
  CPageLoader m_loader;
  CPageLoader m_partLoader{1};
};
