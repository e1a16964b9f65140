// Where a solid archive's pass leaves the items it extracts, so that a later
// read of one is a read from the disk rather than a new pass through the
// archive: one file, unlinked as it is made (nothing is left behind, even
// after a crash), readable by the user alone, and bounded. Appended by the
// pass alone; read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "viewer/archive/MemoryFile.h"

// Where the spill goes and how large it may grow.
struct SpillPlace {
  std::string folder;  // made (0700) when missing; empty: nothing is spilled
  uint64_t cap = 0;    // 0: kSpillCap, or a quarter of the room left there when that is less
};

// The most one archive's spill takes.
constexpr uint64_t kSpillCap = 4ull << 30;

class SpillFile {
 public:
  // Null when the file cannot be made there.
  static std::unique_ptr<SpillFile> Make(const SpillPlace& place);
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // Where `bytes` were written; none once they would pass the cap or a
  // write failed, and from then on for every later item (the disk is full,
  // or the cache may not be written): those are simply not spilled.
  std::optional<uint64_t> Append(const std::vector<BYTE>& bytes);
  // The `size` bytes written at `offset`; null when they do not read back.
  ExtractedBytes Read(uint64_t offset, uint64_t size) const;
  // Whether Append may still take something.
  bool open() const { return !m_closed; }
  uint64_t cap() const { return m_cap; }

 private:
  SpillFile(int descriptor, uint64_t cap) : m_descriptor(descriptor), m_cap(cap) {}
  const int m_descriptor;
  const uint64_t m_cap;
  uint64_t m_end = 0;     // the pass's alone
  bool m_closed = false;  // the pass's alone
};
