#include "platform/events.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

struct CEvent {
  bool signalled = false;
};

namespace {
// One lock for every event: waits look at several events at once.
std::mutex g_eventsLock;
std::condition_variable g_eventsChanged;
}  // namespace

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, const char16_t*) {
  if (manualReset) return nullptr;  // not needed, not made
  auto* event = new (std::nothrow) CEvent;
  if (event != nullptr) event->signalled = initialState != FALSE;
  return event;
}

BOOL SetEvent(HANDLE event) {
  if (event == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> lock(g_eventsLock);
    event->signalled = true;
  }
  g_eventsChanged.notify_all();
  return TRUE;
}

BOOL CloseHandle(HANDLE event) {
  delete event;
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* events, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || events == nullptr || waitAll) return WAIT_FAILED;
  std::unique_lock<std::mutex> lock(g_eventsLock);
  DWORD found = WAIT_TIMEOUT;
  auto ready = [&] {
    for (DWORD i = 0; i < count; ++i)
      if (events[i] != nullptr && events[i]->signalled) {
        found = i;
        return true;
      }
    return false;
  };
  if (milliseconds == INFINITE)
    g_eventsChanged.wait(lock, ready);
  else if (!g_eventsChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
    return WAIT_TIMEOUT;
  events[found]->signalled = false;  // auto-reset
  return WAIT_OBJECT_0 + found;
}
