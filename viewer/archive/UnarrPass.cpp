#include "viewer/archive/UnarrPass.h"

#include <unarr.h>

#include <algorithm>
#include <new>
#include <optional>

#include "viewer/archive/ArchiveLimits.h"
#include "viewer/archive/UnarrStream.h"

namespace {

constexpr char16_t kNoStream[] = u"Archive error: the solid RAR reader is not usable here\n";
constexpr char16_t kDoesNotOpen[] = u"Archive error: the solid RAR reader does not open the archive\n";
constexpr char16_t kDamaged[] = u"Archive error: the item does not decode (damaged data, or its check fails)\n";
constexpr char16_t kAfterDamaged[] = u"Archive error: follows an item whose data does not decode\n";
constexpr char16_t kTooLarge[] = u"Archive error: too large to read\n";
constexpr char16_t kAfterTooLarge[] = u"Archive error: follows an item too large to decode\n";
constexpr char16_t kCutShort[] = u"Archive error: the archive ends before the item (cut short or damaged headers)\n";
constexpr char16_t kVolumes[] = u"Archive error: the item goes on in a volume of the set that is not there\n";

constexpr std::size_t kChunk = 64 << 10;

// The archive and its stream, closed together.
class Unarr {
 public:
  Unarr(IFile* file, const SolidReader::Pass& pass) : m_stream(OpenUnarrStream(file, [&pass] { return pass.Stopping(); })) {
    if (m_stream != nullptr) m_archive = ar_open_rar_archive(m_stream);
  }
  ~Unarr() {
    if (m_archive != nullptr) ar_close_archive(m_archive);
    if (m_stream != nullptr) ar_close(m_stream);
  }
  Unarr(const Unarr&) = delete;
  Unarr& operator=(const Unarr&) = delete;
  ar_stream* stream() const { return m_stream; }
  ar_archive* archive() const { return m_archive; }

 private:
  ar_stream* m_stream;
  ar_archive* m_archive = nullptr;
};

// The archive index of the header at `offset`.
std::optional<uint32_t> IndexAt(const std::vector<Rar4Entry>& headers, off64_t offset) {
  const auto at = std::lower_bound(headers.begin(), headers.end(), offset,
                                   [](const Rar4Entry& e, off64_t o) { return static_cast<off64_t>(e.offset) < o; });
  if (at == headers.end() || static_cast<off64_t>(at->offset) != offset) return std::nullopt;
  return static_cast<uint32_t>(at - headers.begin());
}

// How decoding an entry ended.
enum class Decoded { Whole, Broken, BrokenAtEnd, Stopped, NoMemory };

// The current entry's `size` bytes, into `out` when given (else dropped).
Decoded Decode(ar_archive* archive, std::size_t size, std::vector<BYTE>* out, const SolidReader::Pass& pass) {
  std::vector<BYTE> scratch;
  try {
    if (out == nullptr) scratch.resize(std::clamp<std::size_t>(size, 1, kChunk));
  } catch (const std::bad_alloc&) {
    return Decoded::NoMemory;
  }
  for (std::size_t done = 0; done < size || size == 0;) {
    const std::size_t step = std::min(size - done, kChunk);
    BYTE none = 0;
    BYTE* to = scratch.empty() ? &none : scratch.data();
    if (out != nullptr && step > 0) {
      try {
        out->resize(done + step);
      } catch (const std::bad_alloc&) {
        return Decoded::NoMemory;
      }
      to = out->data() + done;
    }
    // An empty entry too is asked for its bytes: it ends its part of the stream.
    const bool decoded = ar_entry_uncompress(archive, to, step);
    if (pass.Stopping()) return Decoded::Stopped;
    if (!decoded) return done + step == size ? Decoded::BrokenAtEnd : Decoded::Broken;
    done += step;
    if (size == 0) break;
  }
  return Decoded::Whole;
}

}  // namespace

void RunUnarrPass(IFile* file, const std::vector<Rar4Entry>& headers, bool missing, const ClaimedSizes& claimed,
                  uint32_t first, SolidReader::Pass& pass) {
  const auto wanted = [&](std::optional<uint32_t> index) {
    return index && *index >= first && *index < claimed.size() && claimed[*index];
  };
  bool any = false;
  for (std::size_t i = first; i < claimed.size() && !any; ++i) any = claimed[i].has_value();
  if (!any) return;
  const Unarr unarr(file, pass);
  if (unarr.archive() == nullptr) {
    if (!pass.Stopping()) pass.Note(unarr.stream() == nullptr ? kNoStream : kDoesNotOpen);
    return;
  }
  bool afterBroken = false;  // the entry before did not decode
  while (ar_parse_entry(unarr.archive())) {
    if (pass.Stopping()) return;
    const std::optional<uint32_t> index = IndexAt(headers, ar_entry_get_offset(unarr.archive()));
    const std::size_t size = ar_entry_get_size(unarr.archive());
    bool extract = wanted(index);
    if (index && headers[*index].continues) {
      if (extract) pass.Fail(*index, kVolumes);
      return pass.Note(kVolumes);
    }
    if (extract) {
      const SolidReader::Pass::Next next = pass.Reach(*index);
      if (next == SolidReader::Pass::Next::Stop) return;
      extract = next == SolidReader::Pass::Next::Extract;
    }
    // Every entry is decoded, kept or not: the ones after it go on from
    // the state it leaves.
    if (size > kMaxExtractBytes) {
      if (extract) pass.Fail(*index, kTooLarge);
      return pass.Note(kAfterTooLarge);
    }
    ExtractedBytes bytes;
    if (extract) {
      try {
        bytes = std::make_shared<std::vector<BYTE>>();
        bytes->reserve(static_cast<std::size_t>(std::min<uint64_t>(size, kReserveBytes)));
      } catch (const std::bad_alloc&) {
        bytes.reset();
      }
    }
    const Decoded decoded = extract && bytes == nullptr ? Decoded::NoMemory
                                                        : Decode(unarr.archive(), size, bytes.get(), pass);
    switch (decoded) {
      case Decoded::Whole:
        if (extract) pass.Deliver(*index, std::move(bytes), std::nullopt);
        afterBroken = false;
        continue;
      case Decoded::Stopped: return;
      case Decoded::NoMemory:
        if (extract) pass.Fail(*index, {});
        return;
      case Decoded::Broken:
      case Decoded::BrokenAtEnd:
        if (extract) pass.Fail(*index, kDamaged);
        // Decoded to its end, as when only its check fails: the next entry
        // may start from a whole state. Otherwise unarr would decode the
        // archive again from its start for every entry after it.
        if (decoded == Decoded::BrokenAtEnd && !afterBroken) {
          afterBroken = true;
          continue;
        }
        return pass.Note(kAfterDamaged);
    }
  }
  if (pass.Stopping()) return;
  if (!ar_at_eof(unarr.archive()))
    pass.Note(kCutShort);
  else if (missing)
    pass.Note(kVolumes);
}
