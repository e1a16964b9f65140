#include "viewer/archive/Rar4Headers.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "viewer/archive/Rar4Names.h"

bool ReadExactlyAt(IFile* file, uint64_t at, BYTE* out, uint32_t size) {
  uint32_t got = 0;
  return file->Seek(static_cast<int64_t>(at), 0, nullptr) == 0 && file->Read(out, size, &got) == 0 && got == size;
}

namespace {

uint32_t Le16(const BYTE* p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

constexpr uint16_t kLongBlock = 0x8000;
constexpr uint16_t kEncryptedHeaders = 0x0080;

// RAR's LZ codes at best about 2 KB of output per input byte (a repeated
// longest match for a one-bit code); beyond twice that, the sizes lie.
constexpr uint64_t kMostOutputPerByte = 4096;
constexpr uint64_t kOutputFloor = 1ull << 20;
// A model larger than this, and than many times the entry's output, is
// one nothing honest asks for: the output could never fill it.
constexpr uint32_t kModelFloorMegabytes = 64;
constexpr uint64_t kModelPerOutputByte = 16;

}  // namespace

std::vector<Rar4Entry> ReadRar4Entries(IFile* file, bool* whole) {
  std::vector<Rar4Entry> entries;
  if (whole != nullptr) *whole = false;
  uint64_t size = 0;
  BYTE head[32];
  if (file->GetSize(&size) != 0 || !ReadExactlyAt(file, 0, head, 7) || std::memcmp(head, "Rar!\x1A\x07\x00", 7) != 0) {
    file->Seek(0, 0, nullptr);
    return entries;
  }
  try {
    uint64_t at = 7;
    bool ended = false;  // at the end block
    std::vector<BYTE> h;
    for (; at + 7 <= size;) {
      if (!ReadExactlyAt(file, at, head, 7)) break;
      const uint8_t type = head[2];
      const uint32_t flags = Le16(head + 3);
      const uint32_t headerSize = Le16(head + 5);
      if (headerSize < 7) break;
      if (type == 0x73 && (flags & kEncryptedHeaders)) {
        entries.clear();  // nothing after this can be walked
        break;
      }
      uint64_t data = 0;
      if (type == 0x74) {
        h.resize(headerSize);
        if (headerSize < 32 || !ReadExactlyAt(file, at, h.data(), headerSize)) break;
        Rar4Entry entry;
        entry.offset = at;
        entry.headerSize = headerSize;
        entry.packed = Le32(&h[7]);
        entry.unpacked = Le32(&h[11]);
        entry.method = h[25];
        entry.solid = (flags & 0x10) != 0;
        entry.encrypted = (flags & 0x04) != 0;
        entry.folder = (flags & 0xE0) == 0xE0;
        entry.continues = (flags & 0x02) != 0;
        entry.continued = (flags & 0x01) != 0;
        std::size_t nameAt = 32;
        if (flags & kRar4LargeSizes) {
          // The high halves come right after the fixed fields, before the name.
          if (headerSize < 40) break;
          entry.packed |= static_cast<uint64_t>(Le32(&h[32])) << 32;
          entry.unpacked |= static_cast<uint64_t>(Le32(&h[36])) << 32;
          nameAt = 40;
        }
        const std::size_t nameSize = std::min<std::size_t>(Le16(&h[26]), headerSize - nameAt);
        entry.name = DecodeRar4Name(h.data() + nameAt, nameSize, (flags & 0x0200) != 0);
        std::replace(entry.name.begin(), entry.name.end(), u'\\', u'/');
        data = entry.packed;
        // The first block of a fresh stream: a PPMd block (top bit) that
        // sets up a model (flag 0x20) names its memory in the next byte.
        BYTE block[2];
        if (entry.method != 0x30 && !entry.solid && !entry.encrypted && entry.packed >= 2 &&
            ReadExactlyAt(file, at + headerSize, block, 2) && (block[0] & 0x80) && (block[0] & 0x20))
          entry.ppmdMegabytes = block[1] + 1u;
        entries.push_back(entry);
      } else if (flags & kLongBlock) {
        BYTE added[4];
        if (headerSize < 11 || !ReadExactlyAt(file, at + 7, added, 4)) break;
        data = Le32(added);
      }
      if (type == 0x7B) {  // the end of the archive
        ended = true;
        break;
      }
      // A claim past the file's end (or one that would wrap the position
      // back): nothing after it can be walked.
      if (headerSize > size - at || data > size - at - headerSize) break;
      at += headerSize + data;
    }
    // An archive may end without an end block, right after its last entry.
    if (whole != nullptr) *whole = ended || at == size;
  } catch (const std::bad_alloc&) {
    entries.clear();
  }
  file->Seek(0, 0, nullptr);
  return entries;
}

bool Rar4TooCostly(const Rar4Entry& entry) {
  if (entry.method == 0x30 || entry.folder) return false;
  // A solid entry continues the stream before it: its own bytes alone say
  // nothing of what it may make.
  if (!entry.solid && entry.unpacked > entry.packed * kMostOutputPerByte + kOutputFloor) return true;
  return entry.ppmdMegabytes > kModelFloorMegabytes &&
         (static_cast<uint64_t>(entry.ppmdMegabytes) << 20) > entry.unpacked * kModelPerOutputByte;
}
