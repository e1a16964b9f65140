// The items of an archive that cannot be extracted one by one (a solid
// archive: every item is decoded from the start of its block), read in one
// sequential pass on a thread of their own and kept in memory up to a
// budget. A page asked for waits until the pass has it; one the pass has
// already dropped is read again by a new pass, which starts a little before
// it so that paging back from there finds its neighbours too.
//
// What is kept when the budget is full: the items nearest the item asked
// for last, counting an item behind it as twice as far as one ahead (pages
// are mostly read forward). The pass pauses while the next item would only
// displace a nearer one, and goes on as the reader moves.
//
// With a place to spill to, every item the pass extracts is also written to
// a spill file: an item dropped from memory is then read back from there,
// not by a new pass. Once its owner lets it read on, the pass goes on past
// the budget to the end of the archive, spilling, whenever the page loads
// are quiet; a jump anywhere is then a read from the disk.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "viewer/archive/ArchiveItems.h"
#include "viewer/archive/MemoryFile.h"
#include "viewer/archive/SpillFile.h"

// By archive index, the size the archive claims for each item a pass
// reads: the table's files within kMaxExtractBytes, less those `skip` names.
using ClaimedSizes = std::vector<std::optional<uint64_t>>;
ClaimedSizes ReadableItems(const ArchiveItemTable& table, const std::function<bool(uint32_t index)>& skip = {});

// What the pass made of one item.
struct SolidItem {
  ExtractedBytes bytes;                // null when the item could not be read
  std::optional<int32_t> result;       // the route's own result code, when it reported one
  std::u16string error;                // why it could not be read, when known
};

class SolidReader {
 public:
  // The side of the reader a pass works with, on the pass's thread.
  class Pass {
   public:
    enum class Next { Extract, Skip, Stop };
    // Before item `index` (items come in increasing index): Extract it,
    // Skip it (its outcome is known already), or Stop the pass. Waits while
    // extracting it would only displace items nearer the reader.
    Next Reach(uint32_t index);
    // The item's bytes (no longer changed by anyone), with the route's code.
    void Deliver(uint32_t index, ExtractedBytes bytes, std::optional<int32_t> result);
    // The item cannot be read: every later request for it fails at once.
    void Fail(uint32_t index, std::u16string error);
    // Why the pass ends early, for those whose item it did not reach.
    void Note(std::u16string error);
    // Whether the pass should end now; cheap enough for every write.
    bool Stopping() const;

   private:
    friend class SolidReader;
    explicit Pass(SolidReader& reader) : m_reader(reader) {}
    SolidReader& m_reader;
  };

  // One pass over the archive from item `first` on, reporting each item it
  // reaches to `pass`; returns when done, at an error, or when stopping.
  using Body = std::function<void(uint32_t first, Pass& pass)>;

  // `claimed`: by archive index, the size the archive claims for each item
  // that is a file to read, nullopt for every other index.
  // `spill`: where the items extracted are spilled (made at the first).
  SolidReader(const ClaimedSizes& claimed, uint64_t budget, Body body, SpillPlace spill = {});
  ~SolidReader();  // ends the pass at once and waits for its thread
  SolidReader(const SolidReader&) = delete;
  SolidReader& operator=(const SolidReader&) = delete;

  // The item with archive index `index`: true with its bytes, false (and
  // why, in `out->error`, when known) when it cannot be read. Starts the
  // first pass (from the archive's first item) on first use. Safe from any
  // thread; waits as long as the item is yet to come.
  bool Acquire(uint32_t index, SolidItem* out);

  // Starts the first pass now, as the first request would, unless a pass
  // was asked for already: the items a reader is about to ask for are
  // being extracted meanwhile. The pass prints nothing.
  void Begin();

  // From now on the pass reads on past the budget to spill the items,
  // but never while `busy` says that pages are loading (asked under the
  // reader's lock, often, so it must be quick and take no lock that is held
  // while this reader is called); an empty one stops that.
  void ReadOn(std::function<bool()> busy);
  // While `busy` says that pages are loading, the pass extracts only the
  // items requests wait for, and waits to read ahead until the loads are
  // done: on a machine of few cores the pages on their way to the screen
  // go first. The same rules for `busy` as ReadOn's; an empty one stops it.
  void GiveWay(std::function<bool()> busy);

  // Bytes held now, passes started so far, and bytes spilled (for tests
  // and measurement).
  uint64_t heldBytes() const;
  uint64_t passesStarted() const;
  uint64_t spilledBytes() const;
  // Waits until no pass runs or is asked for, `within` at most; whether
  // none does (tests).
  bool WaitForPasses(std::chrono::milliseconds within);

 private:
  // Spilled: dropped from memory, its bytes in the spill file.
  enum class SlotState : uint8_t { NotReached, Held, Dropped, Spilled, Failed };
  struct Spilled {
    uint64_t offset = 0;
    uint64_t size = 0;
  };
  struct Slot {
    bool file = false;
    uint64_t claimed = 0;
    SlotState state = SlotState::NotReached;
    SolidItem item;  // Spilled keeps its result, not its bytes
    std::optional<Spilled> spilled;
    uint32_t pins = 0;  // requests waiting for it: it is not dropped under them
  };

  void Run();
  // Sets one of the pass's tests of the page loads (ReadOn's, GiveWay's)
  // and wakes the pass to look at it.
  void TellPass(std::function<bool()>& test, std::function<bool()> busy);
  // Under the lock: the pass's thread, started unless it runs; false (and
  // the request dropped) when it cannot be.
  bool StartThread();
  uint64_t Distance(uint32_t index) const;
  // The held item that is furthest from the reader and waited for by no
  // one; nullopt when there is none.
  std::optional<uint32_t> Furthest() const;
  void Trim();
  uint32_t BackStart(uint32_t index) const;
  bool WorthExtracting(uint32_t index) const;
  // Whether a request waits for an item below `below` (then it is woken).
  bool Waits(uint32_t below) const;
  // On the pass's thread: the item written to the spill file, when there
  // is room (the file is made at the first).
  std::optional<Spilled> Spill(const std::vector<BYTE>& bytes);
  // A spilled item read back and held; false when it did not read back
  // (it is then merely dropped). Unlocks while reading.
  bool ReadBack(uint32_t index, std::unique_lock<std::mutex>& hold);

  const uint64_t m_budget;
  const Body m_body;

  mutable std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<Slot> m_slots;          // by archive index
  std::set<uint32_t> m_held;          // indices of the Held slots
  std::multiset<uint32_t> m_waiting;  // indices requests wait for
  uint64_t m_used = 0;
  uint32_t m_reader = 0;              // the item asked for last
  std::optional<uint32_t> m_request;  // where the next pass starts
  bool m_running = false;
  uint32_t m_position = 0;            // the next item the running pass reaches
  uint64_t m_passes = 0;              // passes taken up so far
  std::u16string m_passError;
  bool m_closing = false;
  std::atomic<bool> m_stop{false};
  const SpillPlace m_spillPlace;
  bool m_spillTried = false;             // the pass's alone
  std::unique_ptr<SpillFile> m_spill;    // set by the pass, under the lock; read from any thread
  bool m_spillRoom = false;              // whether items may still be spilled
  uint64_t m_spilledBytes = 0;
  std::function<bool()> m_readOn;        // set: read on to spill while it says the loads are quiet
  std::function<bool()> m_giveWay;       // set: read ahead only while it says the loads are quiet
  std::thread m_thread;               // started with the first request
};
