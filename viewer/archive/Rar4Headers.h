// The block headers of a RAR 4 archive, walked without decoding anything:
// what each file entry claims, and what its decoder would be asked to set
// up. libarchive believes these claims; they are checked here first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ordel/FileSystem.h"

// A file header's flag: the sizes have high halves after the fixed part.
constexpr uint16_t kRar4LargeSizes = 0x0100;

struct Rar4Entry {
  uint64_t offset = 0;       // where its header begins in the file
  uint32_t headerSize = 0;   // its header's bytes; its data follows
  uint64_t packed = 0;
  uint64_t unpacked = 0;
  uint8_t method = 0x30;     // 0x30 stored, 0x31..0x35 compressed
  bool solid = false;        // continues the entry before it
  bool encrypted = false;
  bool folder = false;
  bool continues = false;    // goes on in the next volume
  bool continued = false;    // goes on from the volume before
  uint32_t ppmdMegabytes = 0;  // the model memory its first block asks for, 0 when it asks none
  std::u16string name;       // "/"-separated
};

// Reads exactly `size` bytes at `at`; false when the file holds fewer.
bool ReadExactlyAt(IFile* file, uint64_t at, BYTE* out, uint32_t size);

// The file entries of the RAR 4 archive in `file`, in archive order, up to
// the first header that does not fit; empty for anything else (and for an
// archive whose headers are encrypted). Leaves the position at the start.
// `whole`, when given: whether the walk reached the archive's end.
std::vector<Rar4Entry> ReadRar4Entries(IFile* file, bool* whole = nullptr);

// Whether decoding the entry would cost far more than any page may: more
// output than its packed bytes can honestly make, or a model far larger
// than its output could fill.
bool Rar4TooCostly(const Rar4Entry& entry);
