// Pages loaded on worker threads: decoded (or taken from pixels already
// decoded), scaled to the size they will be drawn at, and made into
// drawing bitmaps, while the window goes on. The window asks for the pages
// it will show next; when it needs one at once it takes it, waiting for
// a worker no longer than it says: the window's thread never loads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/PageImage.h"

// What a load is for, most urgent first: a page a turn shows now, a page
// on screen made for a new size, a page the coming turn most likely needs,
// a page a later turn may reach.
enum class LoadFor { Shown, Rescale, Likely, Ahead };

struct PageRequest {
  int32_t page = 0;
  ComRef<IDirectory> root;
  std::u16string path;
  Colorizing colorizing = Colorizing::Off;
  ExifOrientation orientation = ExifOrientation::Honoured;
  // Pixels already decoded: scaled without reading the file again.
  ComRef<IWICBitmapSource> source;
  // The size a page of the given size is drawn at; none: not scaled.
  std::function<D2D1_SIZE_U(D2D1_SIZE_U page)> targetFor;
  bool keepFull = false;  // make and keep the full-size bitmap too
  bool keepSource = false;  // keep the decoded pixels, to scale them again (a zoom)
  // The most the decoded pixels may take; a larger page is decoded smaller.
  uint64_t budgetBytes = kPageBudgetBytes;
  // The size the decode is to cover, as a function of the page's size: a
  // JPEG is then decoded at a fraction of its size (DecodeOptions::drawnAt).
  // None: every pixel (the loupe, tools).
  std::function<D2D1_SIZE_U(D2D1_SIZE_U page)> decodeFor;
  // Parts of the page scaled on their own to the rectangles of the device
  // pixels the whole page covers at `partsCover` (a page too large to scale
  // whole): made from one decode, which is then let go.
  D2D1_SIZE_U partsCover{};
  std::vector<WICRect> parts;
  // Ahead: kept until taken, never among the finished (nor told of).
  LoadFor purpose = LoadFor::Shown;
  BitmapMaker make;
  // Set by the loader: its loads decode large pages one by one.
  IWICDecodeGate* gate = nullptr;
};

struct LoadedPage {
  int32_t page = 0;
  bool decoded = false;  // false: the entry is no image
  PageImage image;
  // The debug texts the load wrote, to be written when the page is used.
  std::u16string trace;
  // Why the page is not the whole picture, in one line (PageDamageOf, or
  // its archive item's reason when it did not decode at all); empty when
  // nothing says so. A damaged page that decoded is still `decoded`.
  std::u16string damage;
};

// Loads one page on the calling thread. `openLock` is held while the file
// is opened: one book's directory opens one file at a time.
LoadedPage LoadPage(const PageRequest& request, std::mutex& openLock);

// Lets decodes run side by side while the full-size pixels they hold stay
// within a budget; a decode larger than the budget waits until it runs
// alone.
class CDecodeGate final : public IWICDecodeGate {
 public:
  explicit CDecodeGate(uint64_t budgetBytes) : m_budget(budgetBytes) {}
  void Enter(uint64_t bytes) override;
  void Leave(uint64_t bytes) override;
  // The most bytes held at once so far (tests).
  uint64_t Peak() const;

 private:
  mutable std::mutex m_lock;
  std::condition_variable m_left;
  const uint64_t m_budget;
  uint64_t m_held = 0;
  uint64_t m_peak = 0;
};

// The full-size pixels the loader's decodes may hold at once: one page as
// large as the decoder accepts (16000 x 16000) goes alone, a dozen ordinary
// scans go side by side.
constexpr uint64_t kDecodeBytesInFlight = 4 * kPageBudgetBytes;

class CPageLoader {
 public:
  // At most as many workers as the machine has cores, and `mostWorkers`.
  explicit CPageLoader(unsigned mostWorkers = 4);
  ~CPageLoader();
  CPageLoader(const CPageLoader&) = delete;
  CPageLoader& operator=(const CPageLoader&) = delete;

  // Queues a load behind those at least as urgent. A page already queued
  // takes what the new request adds: a more urgent purpose (and its place
  // in the queue), the size to scale to, pixels already decoded, the full
  // pixels kept, a larger size to decode for (every pixel when either asks
  // for them), the parts asked last. A page loading or loaded stays as it
  // is.
  void Submit(PageRequest request);
  // A finished load its owner could not use yet (its page is not on screen
  // and may be next): kept until taken, as one made ahead.
  void Keep(LoadedPage page);
  // Told from a worker's thread whenever a load other than one made ahead
  // finishes, so that its owner comes to take it (set before any load).
  void WhenFinished(std::function<void()> finished) { m_finished = std::move(finished); }
  // Whether the page was asked for and not yet taken.
  bool Has(int32_t page) const;
  // The page's load once a worker has made it: a load still in the queue
  // goes to the next free worker, ahead of the others. Waits until
  // `deadline` at most; nothing when the page was not asked for, is not
  // made by then (it stays asked for: take it later), or when
  // `GiveWayWhen`'s test turns true while waiting.
  using Deadline = std::chrono::steady_clock::time_point;
  static constexpr Deadline kNoDeadline = Deadline::max();
  std::optional<LoadedPage> Take(int32_t page, Deadline deadline = kNoDeadline);
  // What ends a wait in Take early (the program being told to end); the
  // load goes on and is dropped with the loader.
  void GiveWayWhen(std::function<bool()> giveWay) { m_giveWay = std::move(giveWay); }
  // Every load finished since the last call, but those made ahead.
  std::vector<LoadedPage> TakeFinished();
  // Whether a load other than one made ahead is queued, under way or
  // finished and not taken.
  bool Busy() const;
  // Whether nothing is queued or loading, ahead of need or not. Quick,
  // from any thread.
  bool Idle() const;
  // Forgets the loads made ahead of need except those of `pages`.
  void KeepAhead(const std::vector<int32_t>& pages);
  // Forgets the page's load, whatever it was for: one queued never starts,
  // one under way is dropped when it ends (a page scrolled far away).
  void Withdraw(int32_t page);
  // Forgets what is queued and what finished: a new book, new settings, a
  // new device. Loads under way are not waited for (an archive read may
  // take long): they end on their own and their results are dropped.
  void Cancel();
  // Waits until nothing is queued or loading (tests, and the end).
  void WaitIdle();
  // Waits until no load is under way, `within` at most; whether none is.
  bool WaitForWorkers(std::chrono::milliseconds within);

  const CDecodeGate& Gate() const { return m_gate; }

 private:
  enum class State { Queued, Loading, Finished };
  struct Job {
    State state = State::Queued;
    bool ahead = false;
    PageRequest request;
    LoadedPage result;
  };
  void Work();

  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::map<int32_t, Job> m_jobs;  // by page
  std::deque<int32_t> m_queue;    // pages in the order asked for
  uint64_t m_generation = 0;      // bumped by Cancel: loads of an older one are dropped
  int m_loading = 0;
  bool m_quit = false;
  std::function<bool()> m_giveWay;  // read on the caller's thread only
  std::function<void()> m_finished;  // called on the workers' threads
  // One book's directory opens one file at a time; a new one per Cancel,
  // so that a load of the old book still opening holds up nobody.
  std::shared_ptr<std::mutex> m_openLock = std::make_shared<std::mutex>();
  CDecodeGate m_gate{kDecodeBytesInFlight};
  std::vector<std::thread> m_workers;
};
