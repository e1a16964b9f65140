#include "platform/system.h"

#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/text.h"

DWORD GetFileAttributesW(const char16_t* path) {
  if (path == nullptr) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::stat(Utf16ToUtf8(path).c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL CreateDirectoryW(const char16_t* path, void* /*securityAttributes*/) {
  if (path == nullptr) return FALSE;
  return ::mkdir(Utf16ToUtf8(path).c_str(), 0777) == 0 ? TRUE : FALSE;
}

namespace {
std::u16string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return Utf8ToUtf16(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}
}  // namespace

DWORD GetModuleFileNameW(void* module, char16_t* buffer, DWORD size) {
  if (module != nullptr || buffer == nullptr || size == 0) return 0;
  const std::u16string path = ExecutablePath();
  if (path.empty()) return 0;
  const std::size_t n = path.size() < size ? path.size() : size - 1;
  path.copy(buffer, n);
  buffer[n] = u'\0';
  return static_cast<DWORD>(n);
}

std::u16string GetModuleDirectory() {
  std::u16string path = ExecutablePath();
  const std::size_t slash = path.rfind(u'/');
  if (slash == std::u16string::npos) return {};
  path.resize(slash + 1);
  return path;
}

void GetNativeSystemInfo(SYSTEM_INFO* info) {
  if (info == nullptr) return;
  *info = {};
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
  struct utsname name;
  if (::uname(&name) == 0) {
    if (std::strcmp(name.machine, "x86_64") == 0)
      info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    else if (std::strcmp(name.machine, "i386") == 0 || std::strcmp(name.machine, "i686") == 0)
      info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  }
  const long page = ::sysconf(_SC_PAGESIZE);
  const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  info->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 0;
  info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
}

HMODULE LoadLibraryW(const char16_t* path) {
  if (path == nullptr) return nullptr;
  return ::dlopen(Utf16ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(HMODULE module, const char* name) {
  return module != nullptr && name != nullptr ? ::dlsym(module, name) : nullptr;
}

BOOL FreeLibrary(HMODULE module) { return module != nullptr && ::dlclose(module) == 0 ? TRUE : FALSE; }

void RemoveStaleTemporaries(const std::string& path, int seconds) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return;
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
      continue;
    const std::string stale = folder + "/" + name;
    struct stat st {};
    if (::lstat(stale.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > seconds) ::unlink(stale.c_str());
  }
  ::closedir(listing);
}

namespace {

// glibc's heap of a thread other than the first: 64 MiB reserved at a
// multiple of its size, made writable from its start as it grows.
constexpr uintptr_t kThreadHeap = uintptr_t{64} << 20;

// What was done to the C library's heaps for page buffers: owned here, as
// the heaps are the process's.
struct PageHeaps {
  std::atomic<bool> keptOnTheHeap{false};
  std::mutex lock;
  bool stopped = false;            // no more advice, and what was given taken back
  std::vector<uintptr_t> advised;  // the heaps (by their start) asked for huge pages
};

PageHeaps& Heaps() {
  static PageHeaps heaps;
  return heaps;
}

// Whether [base, base + size) is exactly one anonymous reservation, as the
// C library's heap of a thread is: writable as far as it has grown, the
// rest inaccessible.
bool IsAnonymousReservation(uintptr_t base, uintptr_t size) {
  std::FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return false;
  char line[512];
  uintptr_t reached = base;
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long from = 0, to = 0, inode = 0;
    int pathAt = 0;
    if (std::sscanf(line, "%lx-%lx %*s %*s %*s %lu %n", &from, &to, &inode, &pathAt) < 3) continue;
    if (to <= base || from >= base + size) continue;
    if (from != reached || inode != 0 || line[pathAt] != '\0') break;
    reached = to;
  }
  std::fclose(maps);
  return reached == base + size;
}

}  // namespace

void KeepPageBuffersOnTheHeap() {
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
  Heaps().keptOnTheHeap = true;
}

void AdviseHugePagesForThisThread() {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  PageHeaps& heaps = Heaps();
  if (!heaps.keptOnTheHeap) return;
  const std::unique_ptr<void, decltype(&std::free)> probe(std::malloc(64), &std::free);
  if (probe == nullptr) return;
  const uintptr_t at = reinterpret_cast<uintptr_t>(probe.get());
  const uintptr_t base = at & ~(kThreadHeap - 1);
  const std::lock_guard<std::mutex> hold(heaps.lock);
  if (heaps.stopped || std::find(heaps.advised.begin(), heaps.advised.end(), base) != heaps.advised.end()) return;
  void* const heap = reinterpret_cast<void*>(base);
  if (!IsAnonymousReservation(base, kThreadHeap) || ::madvise(heap, kThreadHeap, MADV_HUGEPAGE) != 0) return;
  heaps.advised.push_back(base);
  // A huge page backs only a 2 MiB range that is writable whole and not
  // touched yet. In a new heap (the probe near its start), the heap is
  // made writable well ahead (untouched, this costs no memory), and the
  // buffers to come start past the 2 MiB its first small objects touched,
  // behind a block that is never touched or freed.
  if (at - base >= kHuge / 2) return;
  void* volatile ahead = std::malloc(24u << 20);
  std::free(ahead);
  void* volatile spacer = std::malloc(kHuge - (at - base) - 64);
  static_cast<void>(spacer);
}

void StopAdvisingHugePages() {
  PageHeaps& heaps = Heaps();
  const std::lock_guard<std::mutex> hold(heaps.lock);
  heaps.stopped = true;
  for (const uintptr_t base : heaps.advised) ::madvise(reinterpret_cast<void*>(base), kThreadHeap, MADV_NOHUGEPAGE);
}
