// Files, the executable's location and system information, shaped like the
// Windows calls that the system makes.
#pragma once

#include <string>

#include "platform/types.h"

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// stat() of the path (links followed): FILE_ATTRIBUTE_DIRECTORY for a
// folder, FILE_ATTRIBUTE_NORMAL for anything else, all bits set on failure.
DWORD GetFileAttributesW(const char16_t* path);

// mkdir with mode 0777 (less the umask); FALSE when it fails or exists.
BOOL CreateDirectoryW(const char16_t* path, void* securityAttributes);

// The executable's full path (module must be null: only the program itself
// is asked for). Copies at most size-1 code units plus a NUL; returns the
// length copied, 0 on failure.
DWORD GetModuleFileNameW(void* module, char16_t* buffer, DWORD size);

// The executable's folder with a trailing "/", empty when it cannot be read.
std::u16string GetModuleDirectory();

// A file written beside `path` under mkstemp's name ("path." and six letters
// or digits) and renamed over it is left behind when the writer is killed
// in between: such files older than `seconds` are removed (a younger one may
// be a write under way).
void RemoveStaleTemporaries(const std::string& path, int seconds);

// Page buffers are megabytes each and come and go on several threads.
// Those of an ordinary page are taken from the heap and reused there:
// memory of their own, given back when freed, made each new one fresh
// pages to fault in, and that took more of a page's load than its decode.
// Buffers over 32 MiB (a huge scan) still have memory of their own and go
// back to the system; the heap keeps at most 16 MiB unused at its top.
// Called once, at the start of a program that loads pages.
void KeepPageBuffersOnTheHeap();

// The first touch of a page buffer's memory faults once per 4 KiB, at 10
// to 15 us each: a third of a first page's decode. Asks the heap the C
// library gives the calling thread to back its memory with huge pages
// (2 MiB, a fault each), from a fresh 2 MiB boundary on. Called first
// thing on threads that make page buffers (the page workers, a solid
// archive's pass); it does nothing before KeepPageBuffersOnTheHeap, on the
// first thread's heap, or under another allocator.
void AdviseHugePagesForThisThread();

// Once the first pages are made: the heaps ask for huge pages no more (those
// made stay), nor do threads started after. The kernel would otherwise
// gather any 2 MiB of them that was ever touched into a huge page, and a
// long session's memory grow by it.
void StopAdvisingHugePages();

// Shared libraries: dlopen with RTLD_LOCAL, so a library's own names never
// mix with the program's. Null on failure.
using HMODULE = void*;
HMODULE LoadLibraryW(const char16_t* path);
void* GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  DWORD dwNumberOfProcessors;
};

// Architecture from uname's machine, page size and online processors.
void GetNativeSystemInfo(SYSTEM_INFO* info);
