#include "viewer/archive/UnarrStream.h"

#include <unarr.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// unarr 1.0's stream: its functions call through these, with `data`.
struct StreamLayout {
  void (*close)(void* data);
  size_t (*read)(void* data, void* buffer, size_t count);
  bool (*seek)(void* data, off64_t offset, int origin);
  off64_t (*tell)(void* data);
  void* data;
};

// What a stream over a file reads from.
struct Source {
  IFile* file;
  std::function<bool()> stopping;
};

size_t ReadSource(void* data, void* buffer, size_t count) {
  auto* source = static_cast<Source*>(data);
  if (source->stopping && source->stopping()) return 0;
  // unarr asks for a few KiB at a time; more is read in turns.
  auto* out = static_cast<BYTE*>(buffer);
  size_t done = 0;
  while (done < count) {
    const auto want = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30));
    uint32_t got = 0;
    if (source->file->Read(out + done, want, &got) != 0 || got == 0) break;
    done += got;
  }
  return done;
}

bool SeekSource(void* data, off64_t offset, int origin) {
  if (origin < SEEK_SET || origin > SEEK_END) return false;
  // Our files take the same three origins, numbered alike.
  return static_cast<Source*>(data)->file->Seek(offset, static_cast<uint32_t>(origin), nullptr) == 0;
}

off64_t TellSource(void* data) {
  uint64_t position = 0;
  if (static_cast<Source*>(data)->file->Seek(0, SEEK_CUR, &position) != 0) return 0;
  return static_cast<off64_t>(position);
}

void CloseSource(void* data) { delete static_cast<Source*>(data); }

// The round trip: each probe notes that it was reached, with the data and
// the arguments it was given. Only the probe's own address is compared
// before anything is read through `data`.
struct Probe {
  int reached = 0;  // one bit a probe, set when its arguments were right
};
Probe& TheProbe() {
  static Probe probe;
  return probe;
}
constexpr off64_t kProbeOffset = 12345;
size_t ProbeRead(void* data, void* buffer, size_t count) {
  if (data != &TheProbe() || buffer == nullptr || count != 7) return 0;
  TheProbe().reached |= 1;
  return 5;
}
bool ProbeSeek(void* data, off64_t offset, int origin) {
  if (data != &TheProbe() || offset != kProbeOffset || origin != SEEK_END) return false;
  TheProbe().reached |= 2;
  return true;
}
off64_t ProbeTell(void* data) {
  if (data != &TheProbe()) return 0;
  TheProbe().reached |= 4;
  return kProbeOffset + 1;
}
void ProbeClose(void* data) {
  if (data == &TheProbe()) TheProbe().reached |= 8;
}

bool CheckLayout() {
  // Allocated as unarr's own are: ar_close frees it.
  auto* stream = static_cast<StreamLayout*>(std::calloc(1, sizeof(StreamLayout)));
  if (stream == nullptr) return false;
  *stream = StreamLayout{&ProbeClose, &ProbeRead, &ProbeSeek, &ProbeTell, &TheProbe()};
  auto* as = reinterpret_cast<ar_stream*>(stream);
  char buffer[7];
  const bool answered = ar_read(as, buffer, sizeof buffer) == 5 && ar_seek(as, kProbeOffset, SEEK_END) &&
                        ar_tell(as) == kProbeOffset + 1;
  ar_close(as);
  return answered && TheProbe().reached == 15;
}

}  // namespace

bool UnarrStreamsWork() {
  static const bool works = CheckLayout();
  return works;
}

ar_stream_s* OpenUnarrStream(IFile* file, std::function<bool()> stopping) {
  if (file == nullptr || !UnarrStreamsWork() || file->Seek(0, SEEK_SET, nullptr) != 0) return nullptr;
  auto* source = new (std::nothrow) Source{file, std::move(stopping)};
  if (source == nullptr) return nullptr;
  auto* stream = static_cast<StreamLayout*>(std::calloc(1, sizeof(StreamLayout)));
  if (stream == nullptr) {
    delete source;
    return nullptr;
  }
  *stream = StreamLayout{&CloseSource, &ReadSource, &SeekSource, &TellSource, source};
  return reinterpret_cast<ar_stream*>(stream);
}
