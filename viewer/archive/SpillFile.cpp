#include "viewer/archive/SpillFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

// Each missing folder of an absolute path, made for the user alone.
bool MakeSpillFolder(const std::string& folder) {
  if (folder.empty() || folder.front() != '/') return false;
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat made {};
  return ::stat(folder.c_str(), &made) == 0 && S_ISDIR(made.st_mode);
}

// A file in `folder` no name leads to: O_TMPFILE where the file system has
// it, else a name that is removed at once.
int OpenUnlinked(const std::string& folder) {
  const int descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (descriptor >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return descriptor;
  std::string name = folder + "/.spill-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

}  // namespace

std::unique_ptr<SpillFile> SpillFile::Make(const SpillPlace& place) {
  if (!MakeSpillFolder(place.folder)) return nullptr;
  uint64_t cap = place.cap;
  if (cap == 0) {
    struct statvfs room {};
    if (::statvfs(place.folder.c_str(), &room) != 0) return nullptr;
    cap = std::min<uint64_t>(kSpillCap, uint64_t{room.f_bavail} * room.f_frsize / 4);
    if (cap == 0) return nullptr;
  }
  const int descriptor = OpenUnlinked(place.folder);
  if (descriptor < 0) return nullptr;
  std::unique_ptr<SpillFile> file(new (std::nothrow) SpillFile(descriptor, cap));
  if (file == nullptr) ::close(descriptor);
  return file;
}

SpillFile::~SpillFile() { ::close(m_descriptor); }

std::optional<uint64_t> SpillFile::Append(const std::vector<BYTE>& bytes) {
  if (m_closed || bytes.size() > m_cap - m_end) {
    m_closed = true;
    return std::nullopt;
  }
  const uint64_t at = m_end;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::pwrite(m_descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      m_closed = true;
      return std::nullopt;
    }
    done += static_cast<std::size_t>(wrote);
  }
  m_end += bytes.size();
  return at;
}

ExtractedBytes SpillFile::Read(uint64_t offset, uint64_t size) const {
  ExtractedBytes bytes;
  try {
    bytes = std::make_shared<std::vector<BYTE>>(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(m_descriptor, bytes->data() + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return nullptr;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}
