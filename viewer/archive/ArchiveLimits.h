// The bounds every archive route keeps to.
#pragma once

#include <cstdint>

// An entry larger than this is never extracted: no page needs it, and a
// decompression bomb must not take the machine's memory.
constexpr uint64_t kMaxExtractBytes = 1ull << 30;

// The most room made for an entry before its bytes arrive: its size is
// only the archive's word.
constexpr uint64_t kReserveBytes = 64ull << 20;

// What a solid archive's pass keeps in memory, unless the caller says
// otherwise: twenty or so pages of a scanned book around the one read last
// (the page cache keeps the decoded ones). More kept little speeds reading,
// which goes forward, and cost the viewer its memory bound; a jump further
// back reads the block again from its start.
constexpr uint64_t kDefaultSolidBudget = 32ull << 20;
