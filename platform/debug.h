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

// With VELMORA_TRACE_FRAMES set, notes on standard error when the program
// reached `stage`, on the monotonic clock (for the benchmarks: the stages
// of start-up); nothing otherwise.
void TraceStage(const char* stage);
