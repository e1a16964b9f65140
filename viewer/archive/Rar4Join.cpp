#include "viewer/archive/Rar4Join.h"

#include <algorithm>
#include <new>

#include "viewer/archive/MemoryFile.h"

namespace {

uint32_t Crc32(const BYTE* p, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void PutLe(BYTE* p, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<BYTE>(value >> (8 * i));
}

// A block's check: the low half of the CRC of all it holds after the check.
void Seal(std::vector<BYTE>& block) {
  if (block.size() >= 7) PutLe(block.data(), Crc32(block.data() + 2, block.size() - 2) & 0xFFFF, 2);
}

// A run of the joined file: bytes made here, or a range of a volume.
struct Segment {
  uint64_t start = 0;  // in the joined file
  uint64_t size = 0;
  std::vector<BYTE> bytes;
  IFile* volume = nullptr;
  uint64_t from = 0;  // in the volume
};

class CJoinedFile final : public CUnknownImpl<IFile> {
 public:
  CJoinedFile(std::vector<Segment> segments, const std::vector<IFile*>& volumes) : m_segments(std::move(segments)) {
    for (IFile* volume : volumes) m_volumes.emplace_back().Set(volume);
    if (!m_segments.empty()) m_size = m_segments.back().start + m_segments.back().size;
  }

  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    uint32_t done = 0;
    auto* out = static_cast<BYTE*>(buffer);
    auto at = std::upper_bound(m_segments.begin(), m_segments.end(), m_position,
                               [](uint64_t p, const Segment& s) { return p < s.start; });
    int32_t result = FILE_SYSTEM_OK;
    if (at != m_segments.begin()) --at;
    for (; done < bytes && m_position < m_size && at != m_segments.end(); ++at) {
      const uint64_t into = m_position - at->start;
      if (into >= at->size) continue;
      const auto step = static_cast<uint32_t>(std::min<uint64_t>(bytes - done, at->size - into));
      uint32_t got = step;
      if (at->volume == nullptr) {
        std::copy_n(at->bytes.data() + into, step, out + done);
      } else if (at->volume->Seek(static_cast<int64_t>(at->from + into), 0, nullptr) != 0 ||
                 at->volume->Read(out + done, step, &got) != 0) {
        result = FILE_SYSTEM_FAILED;
        break;
      }
      done += got;
      m_position += got;
      if (got < step) break;  // the volume is shorter than its headers said
    }
    if (bytesRead != nullptr) *bytesRead = done;
    return result;
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override {
    return SeekIn(m_size, m_position, distance, origin, newPosition);
  }
  int32_t GetSize(uint64_t* size) override {
    if (size == nullptr) return FILE_SYSTEM_FAILED;
    *size = m_size;
    return FILE_SYSTEM_OK;
  }

 private:
  std::vector<Segment> m_segments;  // in order, end to end
  std::vector<ComRef<IFile>> m_volumes;
  uint64_t m_size = 0;
  uint64_t m_position = 0;
};

constexpr uint16_t kMainVolumeFlags = 0x0001 | 0x0010 | 0x0100;  // a volume, its naming, the first
constexpr uint16_t kSplitFlags = 0x0001 | 0x0002;                 // from the volume before, into the next
// An end block that says no volume follows.
constexpr BYTE kEnd[] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};

// One file being gathered from its parts.
struct Gathered {
  Rar4Entry entry;            // as its first part's header says
  std::vector<BYTE> header;   // that header
  std::vector<Segment> data;  // its parts' data
  uint64_t packed = 0;
  BYTE crc[4] = {};           // its last part's check: the whole file's
};

class Joiner {
 public:
  void Begin(std::vector<BYTE> head) { Add(Segment{0, head.size(), std::move(head), nullptr, 0}); }

  // Writes `file` out, all its parts in.
  void Emit(Gathered& file) {
    std::vector<BYTE>& h = file.header;
    const uint32_t flags = (h[3] | (h[4] << 8)) & ~uint32_t{kSplitFlags};
    PutLe(&h[3], flags, 2);
    PutLe(&h[7], file.packed & 0xFFFFFFFFu, 4);
    if (flags & kRar4LargeSizes) PutLe(&h[32], file.packed >> 32, 4);
    std::copy_n(file.crc, 4, &h[16]);
    Seal(h);
    Rar4Entry entry = std::move(file.entry);
    entry.offset = m_at;
    entry.packed = file.packed;
    entry.continues = entry.continued = false;
    entries.push_back(std::move(entry));
    Add(Segment{0, h.size(), std::move(h), nullptr, 0});
    for (Segment& part : file.data) Add(std::move(part));
  }

  // Lists a file whose parts are not all there, and writes nothing of it:
  // unarr would only complain of it. The archive ends before it.
  void List(Gathered& file) {
    Rar4Entry entry = std::move(file.entry);
    entry.offset = m_at;
    entry.continues = true;
    entry.continued = false;
    entries.push_back(std::move(entry));
  }

  void End() { Add(Segment{0, sizeof kEnd, std::vector<BYTE>(std::begin(kEnd), std::end(kEnd)), nullptr, 0}); }

  std::vector<Segment> segments;
  std::vector<Rar4Entry> entries;

 private:
  void Add(Segment segment) {
    segment.start = m_at;
    m_at += segment.size;
    if (segment.size > 0) segments.push_back(std::move(segment));
  }
  uint64_t m_at = 0;
};

}  // namespace

std::optional<JoinedRar4> JoinRar4Volumes(const std::vector<IFile*>& volumes) {
  if (volumes.empty() || volumes[0] == nullptr) return std::nullopt;
  try {
    // The signature and the main header, which says no more that it is a volume.
    BYTE block[7];
    if (!ReadExactlyAt(volumes[0], 7, block, 7) || block[2] != 0x73) return std::nullopt;
    const uint32_t mainSize = block[5] | (block[6] << 8);
    if (mainSize < 7) return std::nullopt;
    std::vector<BYTE> head(7 + mainSize);
    if (!ReadExactlyAt(volumes[0], 0, head.data(), static_cast<uint32_t>(head.size()))) return std::nullopt;
    std::vector<BYTE> main(head.begin() + 7, head.end());
    PutLe(&main[3], (main[3] | (main[4] << 8)) & ~uint32_t{kMainVolumeFlags}, 2);
    Seal(main);
    std::copy(main.begin(), main.end(), head.begin() + 7);

    Joiner joiner;
    joiner.Begin(std::move(head));
    std::optional<Gathered> open;  // a file whose next part is still to come
    bool broken = false;           // a volume that is not the set's next, or does not read
    for (std::size_t v = 0; v < volumes.size() && !broken; ++v) {
      bool read = false;
      const std::vector<Rar4Entry> parts = ReadRar4Entries(volumes[v], &read);
      if (parts.empty() && v == 0) return std::nullopt;
      for (const Rar4Entry& part : parts) {
        if (part.continued != open.has_value()) {
          broken = true;
          break;
        }
        if (!open) {
          open.emplace();
          open->entry = part;
          open->header.resize(part.headerSize);
          if (!ReadExactlyAt(volumes[v], part.offset, open->header.data(), part.headerSize)) return std::nullopt;
        }
        BYTE crc[4];
        if (!ReadExactlyAt(volumes[v], part.offset + 16, crc, 4)) return std::nullopt;
        std::copy_n(crc, 4, open->crc);
        open->data.push_back(Segment{0, part.packed, {}, volumes[v], part.offset + part.headerSize});
        open->packed += part.packed;
        if (!part.continues) {
          joiner.Emit(*open);
          open.reset();
        }
      }
      // A volume cut short: the files after the break are nowhere.
      broken = broken || !read;
    }
    const bool whole = !open && !broken;
    joiner.End();
    if (open) joiner.List(*open);
    JoinedRar4 joined;
    joined.entries = std::move(joiner.entries);
    joined.whole = whole;
    CJoinedFile* file = new CJoinedFile(std::move(joiner.segments), volumes);
    joined.file.Set(file);
    return joined;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}
