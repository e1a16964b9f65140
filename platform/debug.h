// The debugger output: texts go to standard error as UTF-8, or to a sink
// that a test installs to capture them.
#pragma once

#include <string>

// Safe from any thread; each text arrives whole.
void OutputDebugStringW(const char16_t* text);

using DebugOutputSink = void (*)(const char16_t* text, void* context);
// Installs a sink that receives every text instead of standard error;
// nullptr restores standard error.
void SetDebugOutputSink(DebugOutputSink sink, void* context);

// Keeps this thread's texts in `buffer` instead of writing them (nullptr
// ends that), so work done ahead on a worker can have its texts written
// later, when the work is used.
void CaptureThreadDebugOutput(std::u16string* buffer);

// Whether VELMORA_TRACE_FRAMES is set: the benchmarks then read, on
// standard error, when each frame went out and when start-up reached each
// stage, on the monotonic clock.
bool TracingFrames();
// With it set, notes that the program reached `stage`; nothing otherwise.
void TraceStage(const char* stage);
