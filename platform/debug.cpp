#include "platform/debug.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/text.h"

namespace {
DebugOutputSink g_sink = nullptr;
void* g_sinkContext = nullptr;
}  // namespace

void SetDebugOutputSink(DebugOutputSink sink, void* context) {
  g_sink = sink;
  g_sinkContext = context;
}

void OutputDebugStringW(const char16_t* text) {
  if (text == nullptr) return;
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
