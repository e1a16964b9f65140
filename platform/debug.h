// The debugger output: texts go to standard error as UTF-8, or to a sink
// that a test installs to capture them.
#pragma once

void OutputDebugStringW(const char16_t* text);

using DebugOutputSink = void (*)(const char16_t* text, void* context);
// Installs a sink that receives every text instead of standard error;
// nullptr restores standard error. Not thread-safe: set it before use.
void SetDebugOutputSink(DebugOutputSink sink, void* context);
