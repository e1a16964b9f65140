#include "viewer/archive/DiskFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/com.h"
#include "platform/text.h"

namespace {

class CDiskFile final : public CUnknownImpl<IFile> {
 public:
  explicit CDiskFile(int fd) : m_fd(fd) {}

  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    // Until the count is met or the file ends, as a synchronous read does.
    auto* p = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    int32_t status = FILE_SYSTEM_OK;
    while (done < bytes) {
      const ssize_t n = ::read(m_fd, p + done, bytes - done);
      if (n > 0)
        done += static_cast<uint32_t>(n);
      else if (n == 0 || errno != EINTR) {
        if (n < 0) status = FILE_SYSTEM_FAILED;
        break;
      }
    }
    if (bytesRead != nullptr) *bytesRead = done;
    return status;
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override {
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(m_fd, static_cast<off_t>(distance), whence);
    if (position < 0) return FILE_SYSTEM_FAILED;
    if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(position);
    return FILE_SYSTEM_OK;
  }
  int32_t GetSize(uint64_t* size) override {
    struct stat st {};
    if (size == nullptr || ::fstat(m_fd, &st) != 0) return FILE_SYSTEM_FAILED;
    *size = static_cast<uint64_t>(st.st_size);
    return FILE_SYSTEM_OK;
  }

 private:
  ~CDiskFile() override { ::close(m_fd); }
  int m_fd;
};

}  // namespace

int32_t OpenDiskFile(const std::u16string& path, IFile** out) {
  if (out == nullptr) return FILE_SYSTEM_FAILED;
  // Never waits on a FIFO's writer: only a regular file is taken.
  const int fd = ::open(Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return FILE_SYSTEM_FAILED;
  struct stat st {};
  CDiskFile* file = nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
      (file = new (std::nothrow) CDiskFile(fd)) == nullptr) {
    ::close(fd);
    return FILE_SYSTEM_FAILED;
  }
  return HandOut(file, IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
}
