// Auto-resetting events and a wait for the first signalled one of several,
// in the order given, on one mutex and condition variable.
#pragma once

#include "platform/types.h"

struct CEvent;
using HANDLE = CEvent*;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// Only auto-reset events, created unsignalled, are made here; null when the
// memory for one cannot be had.
HANDLE CreateEventW(void* attributes, BOOL manualReset, BOOL initialState, const char16_t* name);
BOOL SetEvent(HANDLE event);
BOOL CloseHandle(HANDLE event);
// Waits until one of the events is signalled and resets it: WAIT_OBJECT_0 +
// its position (the first in the list wins when several are). waitAll must
// be FALSE; milliseconds may be INFINITE.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* events, BOOL waitAll, DWORD milliseconds);
