#include "viewer/imaging/PageLoader.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "common/FileDamage.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "viewer/imaging/WICBitmapScaler.h"

namespace {

// Keeps this thread's debug texts in a buffer for as long as it lives.
class CapturedDebugOutput {
 public:
  explicit CapturedDebugOutput(std::u16string* buffer) { CaptureThreadDebugOutput(buffer); }
  ~CapturedDebugOutput() { CaptureThreadDebugOutput(nullptr); }
  CapturedDebugOutput(const CapturedDebugOutput&) = delete;
  CapturedDebugOutput& operator=(const CapturedDebugOutput&) = delete;
};

bool SameSize(D2D1_SIZE_U a, D2D1_SIZE_U b) { return a.width == b.width && a.height == b.height; }

// A size to decode for that covers what both ask; none (every pixel) when
// either asks for every pixel.
using Sizer = std::function<D2D1_SIZE_U(D2D1_SIZE_U page)>;
Sizer CoverBoth(Sizer a, Sizer b) {
  if (!a || !b) return nullptr;
  return [a = std::move(a), b = std::move(b)](D2D1_SIZE_U page) {
    const D2D1_SIZE_U one = a(page), other = b(page);
    return D2D1_SIZE_U{std::max(one.width, other.width), std::max(one.height, other.height)};
  };
}

}  // namespace

LoadedPage LoadPage(const PageRequest& request, std::mutex& openLock) {
  LoadedPage result;
  result.page = request.page;
  const CapturedDebugOutput capture(&result.trace);
  try {
    ComRef<IWICBitmapSource> pixels = request.source;
    if (!pixels) {
      ComRef<IFile> file;
      {
        const std::lock_guard<std::mutex> hold(openLock);
        if (!request.root || request.root->OpenFile(&file, request.path.c_str(), nullptr) != 0) return result;
      }
      DecodeOptions options;
      options.colorizing = request.colorizing;
      options.orientation = request.orientation;
      options.gate = request.gate;
      options.drawnAt = request.decodeFor;
      options.budgetBytes = request.budgetBytes;
      if (DecodeImage(file.get(), options, pixels) != 0) {
        // Asked after the decode: an archive item may be read whole only
        // once a decoder takes its first bytes.
        result.damage = DamageOf(file.get());
        return result;
      }
    }
    result.damage = PageDamageOf(pixels.get());
    UINT width = 0, height = 0;
    if (FAILED(pixels->GetSize(&width, &height)) || width == 0 || height == 0) return result;
    const D2D1_SIZE_U decoded{width, height};  // fewer than the page's when it was too large to keep
    PageImage& image = result.image;
    image.size = PageSizeOf(pixels.get());
    if (image.empty()) return result;

    for (const WICRect& area : request.parts) {
      ComRef<CWICBitmapScaler> scaler;
      scaler.Set(new CWICBitmapScaler);
      PagePart part{request.partsCover, area, {}};
      // A part that cannot be made leaves its place to what else is drawn.
      if (SUCCEEDED(scaler->Initialize(pixels.get(), part.cover.width, part.cover.height, &area)) &&
          SUCCEEDED(request.make(scaler.get(), &part.bitmap)))
        image.parts.push_back(std::move(part));
    }
    const D2D1_SIZE_U target = request.targetFor ? request.targetFor(image.size) : D2D1_SIZE_U{};
    const bool scale = target.width > 0 && target.height > 0;
    // Parts alone: nothing more is made of the page.
    if (!request.parts.empty() && !scale && !request.keepFull) {
      if (request.keepSource) image.source = pixels;
      image.decodedToDraw = image.source && PageDecodedToDraw(pixels.get());
      result.decoded = true;
      return result;
    }
    if (request.keepFull || !scale || SameSize(target, decoded)) {
      if (FAILED(request.make(pixels.get(), &image.full))) return result;
      if (scale && SameSize(target, decoded)) image.scaled = image.full;
    }
    if (scale && !image.scaled) {
      ComRef<CWICBitmapScaler> scaler;
      scaler.Set(new CWICBitmapScaler);
      if (FAILED(scaler->Initialize(pixels.get(), target.width, target.height)) ||
          FAILED(request.make(scaler.get(), &image.scaled))) {
        // Drawn from its full pixels, scaled by the painter, until a scaled
        // copy can be made.
        image.scaled.Reset();
        if (!image.full && FAILED(request.make(pixels.get(), &image.full))) return result;
      }
    }
    if (request.keepFull || request.keepSource) image.source = pixels;
    image.decodedToDraw = (image.full || image.source) && PageDecodedToDraw(pixels.get());
    result.decoded = true;
  } catch (const std::bad_alloc&) {
    result.image = PageImage{};
  }
  return result;
}

CPageLoader::CPageLoader(unsigned mostWorkers) {
  const unsigned cores = std::thread::hardware_concurrency();
  const unsigned count = std::clamp(cores, 1u, std::max(mostWorkers, 1u));
  for (unsigned i = 0; i < count; ++i) m_workers.emplace_back([this] { Work(); });
}

CPageLoader::~CPageLoader() {
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_quit = true;
    ++m_generation;
  }
  m_changed.notify_all();
  for (std::thread& worker : m_workers) worker.join();
}

void CDecodeGate::Enter(uint64_t bytes) {
  std::unique_lock<std::mutex> hold(m_lock);
  m_left.wait(hold, [&] { return m_held == 0 || m_held + bytes <= m_budget; });
  m_held += bytes;
  m_peak = std::max(m_peak, m_held);
}

void CDecodeGate::Leave(uint64_t bytes) {
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    m_held -= std::min(bytes, m_held);
  }
  m_left.notify_all();
}

uint64_t CDecodeGate::Peak() const {
  const std::lock_guard<std::mutex> hold(m_lock);
  return m_peak;
}

void CPageLoader::Submit(PageRequest request) {
  request.gate = &m_gate;
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    const int32_t page = request.page;
    const bool ahead = request.purpose == LoadFor::Ahead;
    if (auto found = m_jobs.find(page); found != m_jobs.end()) {
      Job& job = found->second;
      // Under way ahead and now wanted: its owner is told when it ends.
      if (job.state == State::Loading && !ahead) job.ahead = false;
      if (job.state != State::Queued) return;
      job.ahead = job.ahead && ahead;
      if (request.targetFor) job.request.targetFor = std::move(request.targetFor);
      if (request.source) job.request.source = std::move(request.source);
      if (!request.parts.empty()) {
        job.request.parts = std::move(request.parts);
        job.request.partsCover = request.partsCover;
        job.request.budgetBytes = std::max(job.request.budgetBytes, request.budgetBytes);
      }
      job.request.keepFull = job.request.keepFull || request.keepFull;
      job.request.keepSource = job.request.keepSource || request.keepSource;
      job.request.decodeFor = CoverBoth(std::move(job.request.decodeFor), std::move(request.decodeFor));
      if (request.purpose >= job.request.purpose) return;
      job.request.purpose = request.purpose;
      if (auto queued = std::find(m_queue.begin(), m_queue.end(), page); queued != m_queue.end()) m_queue.erase(queued);
    } else {
      Job& job = m_jobs[page];
      job.ahead = ahead;
      job.request = std::move(request);
    }
    // Behind the loads at least as urgent, before the others (the queue
    // may still name pages whose jobs were dropped: passed over).
    const LoadFor purpose = m_jobs.at(page).request.purpose;
    auto behind = std::find_if(m_queue.begin(), m_queue.end(), [&](int32_t queued) {
      const auto job = m_jobs.find(queued);
      return job != m_jobs.end() && job->second.request.purpose > purpose;
    });
    m_queue.insert(behind, page);
  }
  m_changed.notify_all();
}

void CPageLoader::Keep(LoadedPage page) {
  const std::lock_guard<std::mutex> hold(m_lock);
  if (m_jobs.count(page.page) != 0) return;
  Job& job = m_jobs[page.page];
  job.state = State::Finished;
  job.ahead = true;
  job.result = std::move(page);
}

bool CPageLoader::Has(int32_t page) const {
  const std::lock_guard<std::mutex> hold(m_lock);
  return m_jobs.count(page) != 0;
}

bool CPageLoader::Busy() const {
  const std::lock_guard<std::mutex> hold(m_lock);
  for (const auto& [page, job] : m_jobs)
    if (!job.ahead) return true;
  return false;
}

bool CPageLoader::Idle() const {
  const std::lock_guard<std::mutex> hold(m_lock);
  return m_queue.empty() && m_loading == 0;
}

void CPageLoader::KeepAhead(const std::vector<int32_t>& pages) {
  std::vector<Job> dropped;  // released outside the lock
  const std::lock_guard<std::mutex> hold(m_lock);
  for (auto job = m_jobs.begin(); job != m_jobs.end();) {
    const bool kept = std::find(pages.begin(), pages.end(), job->first) != pages.end();
    if (job->second.ahead && !kept && job->second.state != State::Loading) {
      dropped.push_back(std::move(job->second));
      job = m_jobs.erase(job);
    } else {
      ++job;
    }
  }
}

void CPageLoader::Withdraw(int32_t page) {
  Job dropped;  // released outside the lock
  const std::lock_guard<std::mutex> hold(m_lock);
  // The queue passes over a page without its job; a worker that ends a
  // load whose job went drops what it made.
  if (auto job = m_jobs.find(page); job != m_jobs.end()) {
    dropped = std::move(job->second);
    m_jobs.erase(job);
  }
}

std::optional<LoadedPage> CPageLoader::Take(int32_t page, Deadline deadline) {
  std::unique_lock<std::mutex> hold(m_lock);
  auto found = m_jobs.find(page);
  if (found == m_jobs.end()) return std::nullopt;
  if (found->second.state == State::Queued) {
    // Wanted now: the next free worker starts this one.
    if (auto queued = std::find(m_queue.begin(), m_queue.end(), page); queued != m_queue.end()) m_queue.erase(queued);
    m_queue.push_front(page);
    m_changed.notify_all();
  }
  // Its owner waits for it: told when it is made, if that is after the wait.
  found->second.ahead = false;
  auto ready = [&] {
    auto job = m_jobs.find(page);
    return job == m_jobs.end() || job->second.state == State::Finished;
  };
  // A signal cannot wake the condition: look again every few milliseconds.
  constexpr auto kLook = std::chrono::milliseconds(20);
  while (!ready()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || (m_giveWay && m_giveWay())) return std::nullopt;
    m_changed.wait_until(hold, deadline - now < kLook ? deadline : now + kLook);
  }
  found = m_jobs.find(page);
  if (found == m_jobs.end()) return std::nullopt;
  LoadedPage result = std::move(found->second.result);
  m_jobs.erase(found);
  return result;
}

std::vector<LoadedPage> CPageLoader::TakeFinished() {
  std::vector<LoadedPage> finished;
  const std::lock_guard<std::mutex> hold(m_lock);
  for (auto job = m_jobs.begin(); job != m_jobs.end();) {
    if (job->second.state == State::Finished && !job->second.ahead) {
      finished.push_back(std::move(job->second.result));
      job = m_jobs.erase(job);
    } else {
      ++job;
    }
  }
  return finished;
}

void CPageLoader::Cancel() {
  std::map<int32_t, Job> dropped;  // released outside the lock
  {
    const std::lock_guard<std::mutex> hold(m_lock);
    ++m_generation;
    m_queue.clear();
    dropped.swap(m_jobs);
    m_openLock = std::make_shared<std::mutex>();
  }
  m_changed.notify_all();
}

void CPageLoader::WaitIdle() {
  std::unique_lock<std::mutex> hold(m_lock);
  m_changed.wait(hold, [&] { return m_queue.empty() && m_loading == 0; });
}

bool CPageLoader::WaitForWorkers(std::chrono::milliseconds within) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_changed.wait_for(hold, within, [&] { return m_loading == 0; });
}

void CPageLoader::Work() {
  AdviseHugePagesForThisThread();
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    m_changed.wait(hold, [&] { return m_quit || !m_queue.empty(); });
    if (m_quit) return;
    const int32_t page = m_queue.front();
    m_queue.pop_front();
    auto found = m_jobs.find(page);
    if (found == m_jobs.end() || found->second.state != State::Queued) continue;
    found->second.state = State::Loading;
    PageRequest request = std::move(found->second.request);
    const uint64_t generation = m_generation;
    const std::shared_ptr<std::mutex> openLock = m_openLock;
    ++m_loading;
    hold.unlock();

    LoadedPage result = LoadPage(request, *openLock);
    request = PageRequest{};

    hold.lock();
    found = m_jobs.find(page);
    bool tell = false;
    if (generation == m_generation && found != m_jobs.end() && found->second.state == State::Loading) {
      found->second.result = std::move(result);
      found->second.state = State::Finished;
      tell = !found->second.ahead && m_finished;
    } else {
      // Cancelled meanwhile: let the result go without holding the lock.
      hold.unlock();
      result = LoadedPage{};
      hold.lock();
    }
    m_changed.notify_all();
    if (tell) {
      // Told before this load stops counting, so that once the loads under
      // way have ended nobody is told any more.
      hold.unlock();
      m_finished();
      hold.lock();
    }
    --m_loading;
    m_changed.notify_all();
  }
}
