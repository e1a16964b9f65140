#include "platform/debug.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/text.h"

namespace {
std::mutex g_lock;  // one text at a time, whole
DebugOutputSink g_sink = nullptr;
void* g_sinkContext = nullptr;
thread_local std::u16string* t_capture = nullptr;
}  // namespace

void SetDebugOutputSink(DebugOutputSink sink, void* context) {
  const std::lock_guard<std::mutex> hold(g_lock);
  g_sink = sink;
  g_sinkContext = context;
}

void CaptureThreadDebugOutput(std::u16string* buffer) { t_capture = buffer; }

void OutputDebugStringW(const char16_t* text) {
  if (text == nullptr) return;
  if (t_capture != nullptr) {
    *t_capture += text;
    return;
  }
  const std::lock_guard<std::mutex> hold(g_lock);
  if (g_sink != nullptr) {
    g_sink(text, g_sinkContext);
    return;
  }
  // One write per text keeps a multi-line report together.
  const std::string utf8 = Utf16ToUtf8(text);
  const char* p = utf8.data();
  std::size_t left = utf8.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

bool TracingFrames() {
  static const bool trace = std::getenv("VELMORA_TRACE_FRAMES") != nullptr;
  return trace;
}

void TraceStage(const char* stage) {
  if (!TracingFrames()) return;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  std::fprintf(stderr, "Stage %s %lld.%06ld\n", stage, static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
}
