#include "viewer/archive/SolidReader.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

#include "platform/system.h"
#include "viewer/archive/ArchiveLimits.h"

ClaimedSizes ReadableItems(const ArchiveItemTable& table, const std::function<bool(uint32_t index)>& skip) {
  ClaimedSizes claimed;
  for (const ArchiveItem& item : table.items()) {
    if (item.index < 0 || (item.flags & FILE_SYSTEM_ENTRY_FOLDER) || item.size > kMaxExtractBytes) continue;
    const auto index = static_cast<uint32_t>(item.index);
    if (skip && skip(index)) continue;
    if (claimed.size() <= index) claimed.resize(index + 1);
    claimed[index] = item.size;
  }
  return claimed;
}

namespace {

// How often a pass held back by the page loads looks again whether they are quiet.
constexpr std::chrono::milliseconds kReadOnPoll{10};

}  // namespace

SolidReader::SolidReader(const ClaimedSizes& claimed, uint64_t budget, Body body, SpillPlace spill)
    : m_budget(budget),
      m_body(std::move(body)),
      m_slots(claimed.size()),
      m_spillPlace(std::move(spill)),
      m_spillRoom(!m_spillPlace.folder.empty()) {
  for (std::size_t i = 0; i < claimed.size(); ++i) {
    m_slots[i].file = claimed[i].has_value();
    m_slots[i].claimed = claimed[i].value_or(0);
  }
}

SolidReader::~SolidReader() {
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_closing = true;
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

bool SolidReader::Acquire(uint32_t index, SolidItem* out) {
  std::unique_lock<std::mutex> hold(m_lock);
  if (out == nullptr || index >= m_slots.size() || !m_slots[index].file) return false;
  Slot& slot = m_slots[index];
  m_reader = index;
  ++slot.pins;
  m_waiting.insert(index);
  m_changed.notify_all();  // a pass paused for the budget may now go on

  uint64_t requested = 0;  // the number the pass serving this request gets
  bool got = false;
  for (;;) {
    if (slot.state == SlotState::Held) {
      *out = slot.item;
      got = true;
      break;
    }
    if (slot.state == SlotState::Failed) {
      *out = slot.item;
      break;
    }
    if (slot.state == SlotState::Spilled) {
      ReadBack(index, hold);
      continue;
    }
    const bool pending = m_request.has_value() && *m_request <= index;
    const bool coming = m_running && !m_stop && m_position <= index;
    if (pending || coming) {
      m_changed.wait(hold);
      continue;
    }
    // The pass asked for went past the item, or ended, without it.
    if (requested != 0 && m_passes >= requested) {
      out->error = m_passError;
      break;
    }
    // Read it (again): the first pass takes the whole archive; a later
    // one starts a little before the item.
    const uint32_t from = m_passes == 0 && !m_request ? 0 : BackStart(index);
    m_request = m_request ? std::min(*m_request, from) : from;
    requested = m_passes + 1;
    if (m_running) m_stop = true;
    if (!StartThread()) break;
    m_changed.notify_all();
  }
  --slot.pins;
  m_waiting.erase(m_waiting.find(index));
  Trim();
  m_changed.notify_all();
  return got;
}

void SolidReader::Begin() {
  const std::lock_guard<std::mutex> hold(m_lock);
  if (m_passes != 0 || m_request || m_thread.joinable()) return;
  m_request = 0;
  StartThread();
}

bool SolidReader::StartThread() {
  if (m_thread.joinable()) return true;
  try {
    m_thread = std::thread(&SolidReader::Run, this);
    return true;
  } catch (const std::system_error&) {
    m_request.reset();  // no pass will take it
    return false;
  }
}

uint64_t SolidReader::heldBytes() const {
  const std::lock_guard<std::mutex> hold(m_lock);
  return m_used;
}

uint64_t SolidReader::passesStarted() const {
  const std::lock_guard<std::mutex> hold(m_lock);
  return m_passes;
}

uint64_t SolidReader::spilledBytes() const {
  const std::lock_guard<std::mutex> hold(m_lock);
  return m_spilledBytes;
}

bool SolidReader::WaitForPasses(std::chrono::milliseconds within) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_changed.wait_for(hold, within, [this] { return !m_running && !m_request; });
}

void SolidReader::ReadOn(std::function<bool()> busy) { TellPass(m_readOn, std::move(busy)); }

void SolidReader::GiveWay(std::function<bool()> busy) { TellPass(m_giveWay, std::move(busy)); }

void SolidReader::TellPass(std::function<bool()>& test, std::function<bool()> busy) {
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    test = std::move(busy);
  }
  m_changed.notify_all();
}

std::optional<SolidReader::Spilled> SolidReader::Spill(const std::vector<BYTE>& bytes) {
  if (!m_spillTried) {
    m_spillTried = true;
    std::unique_ptr<SpillFile> made = m_spillPlace.folder.empty() ? nullptr : SpillFile::Make(m_spillPlace);
    const std::lock_guard<std::mutex> hold(m_lock);
    m_spill = std::move(made);
    if (m_spill == nullptr) m_spillRoom = false;
  }
  if (m_spill == nullptr || !m_spill->open()) return std::nullopt;
  const std::optional<uint64_t> at = m_spill->Append(bytes);
  const std::lock_guard<std::mutex> hold(m_lock);
  if (!at) {
    // Full, or not written: the items from here on are not spilled, and
    // the pass no longer reads on for them.
    m_spillRoom = false;
    return std::nullopt;
  }
  m_spilledBytes += bytes.size();
  return Spilled{*at, bytes.size()};
}

bool SolidReader::ReadBack(uint32_t index, std::unique_lock<std::mutex>& hold) {
  Slot& slot = m_slots[index];
  const Spilled at = *slot.spilled;
  SpillFile* const spill = m_spill.get();  // lives as long as the reader
  hold.unlock();
  ExtractedBytes bytes = spill->Read(at.offset, at.size);
  hold.lock();
  if (slot.state != SlotState::Spilled) return slot.state == SlotState::Held;  // another request read it meanwhile
  if (bytes == nullptr) {
    slot.spilled.reset();
    slot.state = SlotState::Dropped;
    return false;
  }
  m_used += bytes->capacity();
  slot.item.bytes = std::move(bytes);
  slot.state = SlotState::Held;
  m_held.insert(index);
  return true;
}

void SolidReader::Run() {
  AdviseHugePagesForThisThread();
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    m_changed.wait(hold, [this] { return m_closing || m_request.has_value(); });
    if (m_closing) return;
    const uint32_t first = *m_request;
    m_request.reset();
    m_stop = false;
    m_running = true;
    m_position = first;
    m_passError.clear();
    ++m_passes;
    hold.unlock();
    Pass pass(*this);
    try {
      m_body(first, pass);
    } catch (const std::bad_alloc&) {
      // Whoever waits for an item this pass did not reach gives up on it.
    }
    hold.lock();
    m_running = false;
    m_changed.notify_all();
  }
}

uint64_t SolidReader::Distance(uint32_t index) const {
  return index >= m_reader ? uint64_t{index} - m_reader : 2 * (uint64_t{m_reader} - index);
}

std::optional<uint32_t> SolidReader::Furthest() const {
  // Distance falls towards the reader and rises away from it, so the
  // furthest item is the first unpinned one from either end.
  std::optional<uint32_t> best;
  const auto consider = [&](uint32_t index) {
    if (!best || Distance(index) > Distance(*best)) best = index;
  };
  for (auto it = m_held.begin(); it != m_held.end(); ++it)
    if (m_slots[*it].pins == 0) {
      consider(*it);
      break;
    }
  for (auto it = m_held.rbegin(); it != m_held.rend(); ++it)
    if (m_slots[*it].pins == 0) {
      consider(*it);
      break;
    }
  return best;
}

void SolidReader::Trim() {
  while (m_used > m_budget) {
    const std::optional<uint32_t> victim = Furthest();
    if (!victim) return;
    Slot& slot = m_slots[*victim];
    m_used -= slot.item.bytes->capacity();
    slot.item = SolidItem{nullptr, slot.spilled ? slot.item.result : std::nullopt, {}};
    slot.state = slot.spilled ? SlotState::Spilled : SlotState::Dropped;
    m_held.erase(*victim);
  }
}

uint32_t SolidReader::BackStart(uint32_t index) const {
  // A quarter of the budget's worth of the items before it, by what the
  // archive claims for them.
  uint64_t room = m_budget / 4;
  uint32_t start = index;
  while (start > 0) {
    const Slot& before = m_slots[start - 1];
    if (before.file) {
      if (before.claimed > room) break;
      room -= before.claimed;
    }
    --start;
  }
  return start;
}

bool SolidReader::Waits(uint32_t below) const { return !m_waiting.empty() && *m_waiting.begin() < below; }

bool SolidReader::WorthExtracting(uint32_t index) const {
  // Room for it as claimed: the item the pass delivered last would
  // otherwise be dropped at once, again and again, to the archive's end.
  if (m_used == 0 || m_used + m_slots[index].claimed <= m_budget) return true;
  if (m_waiting.lower_bound(index) != m_waiting.end()) return true;  // someone waits for it or beyond
  const std::optional<uint32_t> victim = Furthest();
  return victim && Distance(index) < Distance(*victim);
}

// ---- the pass's side ----

SolidReader::Pass::Next SolidReader::Pass::Reach(uint32_t index) {
  SolidReader& r = m_reader;
  std::unique_lock<std::mutex> hold(r.m_lock);
  r.m_position = index;
  if (r.Waits(index)) r.m_changed.notify_all();  // requests for items passed over see it
  for (;;) {
    if (r.m_stop || r.m_closing) return Next::Stop;
    if (index >= r.m_slots.size() || !r.m_slots[index].file) return Next::Skip;
    const SlotState state = r.m_slots[index].state;
    if (state == SlotState::Held || state == SlotState::Failed || state == SlotState::Spilled) return Next::Skip;
    if (r.WorthExtracting(index)) {
      const bool waitedFor = r.m_waiting.lower_bound(index) != r.m_waiting.end();
      if (waitedFor || !r.m_giveWay || !r.m_giveWay()) return Next::Extract;
      r.m_changed.wait_for(hold, kReadOnPoll);
      continue;
    }
    if (r.m_readOn && r.m_spillRoom) {
      // Reading on, only to spill: never while pages load.
      if (!r.m_readOn()) return Next::Extract;
      r.m_changed.wait_for(hold, kReadOnPoll);
      continue;
    }
    r.m_changed.wait(hold);
  }
}

void SolidReader::Pass::Deliver(uint32_t index, ExtractedBytes bytes, std::optional<int32_t> result) {
  if (bytes == nullptr) return Fail(index, {});
  TrimSpareCapacity(*bytes);  // still the pass's alone
  SolidReader& r = m_reader;
  const std::optional<Spilled> spilled = r.Spill(*bytes);
  {
    const std::lock_guard<std::mutex> hold(r.m_lock);
    if (index >= r.m_slots.size()) return;
    Slot& slot = r.m_slots[index];
    r.m_position = std::max(r.m_position, index + 1);
    if (spilled && !slot.spilled) slot.spilled = spilled;
    if (slot.state != SlotState::Held) {
      r.m_used += bytes->capacity();
      slot.item = SolidItem{std::move(bytes), result, {}};
      slot.state = SlotState::Held;
      r.m_held.insert(index);
      r.Trim();
    }
    if (!r.Waits(index + 1)) return;
  }
  r.m_changed.notify_all();
}

void SolidReader::Pass::Fail(uint32_t index, std::u16string error) {
  SolidReader& r = m_reader;
  {
    const std::lock_guard<std::mutex> hold(r.m_lock);
    if (index >= r.m_slots.size()) return;
    Slot& slot = r.m_slots[index];
    r.m_position = std::max(r.m_position, index + 1);
    if (slot.state != SlotState::Held) {
      slot.item = SolidItem{nullptr, std::nullopt, std::move(error)};
      slot.state = SlotState::Failed;
    }
    if (!r.Waits(index + 1)) return;
  }
  r.m_changed.notify_all();
}

void SolidReader::Pass::Note(std::u16string error) {
  const std::lock_guard<std::mutex> hold(m_reader.m_lock);
  m_reader.m_passError = std::move(error);
}

bool SolidReader::Pass::Stopping() const { return m_reader.m_stop.load(std::memory_order_relaxed); }
