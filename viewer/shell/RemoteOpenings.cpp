#include "viewer/shell/RemoteOpenings.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/debug.h"

// Between the window's thread and the openings' threads; every field under `mutex`.
struct CRemoteOpenings::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<bool()> post;
  std::uint64_t latest = 0;  // the opening whose result is wanted
  bool closed = false;       // the window is going: nothing is posted any more
  bool posted = false;       // a Take is on its way
  int running = 0;           // openings' threads not ended
  struct Result {
    std::uint64_t generation = 0;
    Then then;
    std::u16string trace;
  };
  std::optional<Result> result;
  // A call a job waits for: run on the window's thread (Ran) or not (Dropped).
  struct Call {
    std::uint64_t generation = 0;
    const std::function<void()>* call = nullptr;
    enum class State { Waiting, Ran, Dropped } state = State::Waiting;
  };
  std::deque<std::shared_ptr<Call>> calls;

  bool Current(std::uint64_t generation) const { return generation == latest && !closed; }
  void Tell() {
    if (!posted && !closed && post) posted = post();
  }
  // The calls of openings no longer wanted are let go without running.
  void DropStaleCalls() {
    std::erase_if(calls, [this](const std::shared_ptr<Call>& waiting) {
      if (Current(waiting->generation)) return false;
      waiting->state = Call::State::Dropped;
      return true;
    });
    changed.notify_all();
  }
};

bool CRemoteOpenings::Ticket::OnWindowThread(const std::function<void()>& call) const {
  auto waiting = std::make_shared<Shared::Call>();
  waiting->generation = m_generation;
  waiting->call = &call;
  std::unique_lock lock(m_shared->mutex);
  if (!m_shared->Current(m_generation)) return false;
  m_shared->calls.push_back(waiting);
  m_shared->Tell();
  // Every call queued is answered: run, or let go by Drop, the window's end or Take.
  m_shared->changed.wait(lock, [&] { return waiting->state != Shared::Call::State::Waiting; });
  return waiting->state == Shared::Call::State::Ran;
}

CRemoteOpenings::CRemoteOpenings(std::function<bool()> post) : m_shared(std::make_shared<Shared>()) {
  m_shared->post = std::move(post);
}

CRemoteOpenings::~CRemoteOpenings() {
  std::optional<Shared::Result> dropped;
  {
    std::lock_guard lock(m_shared->mutex);
    m_shared->closed = true;
    dropped.swap(m_shared->result);
    m_shared->DropStaleCalls();
  }
  for (Running& running : m_running) running.thread.join();
}

void CRemoteOpenings::JoinEnded() {
  std::vector<Running> ended;
  {
    std::lock_guard lock(m_shared->mutex);
    const auto split = std::stable_partition(m_running.begin(), m_running.end(),
                                             [](const Running& running) { return !*running.ended; });
    std::move(split, m_running.end(), std::back_inserter(ended));
    m_running.erase(split, m_running.end());
  }
  for (Running& running : ended) running.thread.join();
}

void CRemoteOpenings::Start(Job job) {
  JoinEnded();
  auto ended = std::make_shared<bool>(false);
  std::uint64_t generation = 0;
  std::optional<Shared::Result> dropped;
  {
    std::lock_guard lock(m_shared->mutex);
    generation = ++m_shared->latest;
    dropped.swap(m_shared->result);
    m_shared->DropStaleCalls();
    ++m_shared->running;
  }
  std::thread thread([shared = m_shared, ended, generation, job = std::move(job)] {
    std::u16string trace;
    CaptureThreadDebugOutput(&trace);
    Then then = job(Ticket(shared, generation));
    CaptureThreadDebugOutput(nullptr);
    std::lock_guard lock(shared->mutex);
    if (shared->Current(generation)) {
      shared->result = Shared::Result{generation, std::move(then), std::move(trace)};
      shared->Tell();
    }
    --shared->running;
    *ended = true;
    shared->changed.notify_all();
  });
  m_running.push_back(Running{std::move(thread), std::move(ended)});
}

void CRemoteOpenings::Drop() {
  std::optional<Shared::Result> dropped;
  std::lock_guard lock(m_shared->mutex);
  ++m_shared->latest;
  dropped.swap(m_shared->result);
  m_shared->DropStaleCalls();
}

void CRemoteOpenings::Take() {
  std::deque<std::shared_ptr<Shared::Call>> calls;
  std::optional<Shared::Result> result;
  {
    std::lock_guard lock(m_shared->mutex);
    m_shared->posted = false;
    calls.swap(m_shared->calls);
    if (m_shared->result && m_shared->Current(m_shared->result->generation)) result.swap(m_shared->result);
    m_shared->result.reset();
  }
  for (const std::shared_ptr<Shared::Call>& waiting : calls) {
    bool wanted = false;
    {
      std::lock_guard lock(m_shared->mutex);
      wanted = m_shared->Current(waiting->generation);
    }
    // The job waits for this, so what the call holds of it is alive.
    if (wanted) (*waiting->call)();
    std::lock_guard lock(m_shared->mutex);
    waiting->state = wanted ? Shared::Call::State::Ran : Shared::Call::State::Dropped;
    m_shared->changed.notify_all();
  }
  if (!result) return;
  if (!result->trace.empty()) OutputDebugStringW(result->trace.c_str());
  if (result->then) result->then();
}

bool CRemoteOpenings::Done(std::chrono::milliseconds within) {
  std::unique_lock lock(m_shared->mutex);
  return m_shared->changed.wait_for(lock, within, [this] { return m_shared->running == 0; });
}
