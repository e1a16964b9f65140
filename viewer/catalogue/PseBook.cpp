#include "viewer/catalogue/PseBook.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

constexpr std::size_t kPageNameDigits = 6;

// One page's bytes with a read position of its own.
class CStreamedPage final : public CUnknownImpl<IFile> {
 public:
  explicit CStreamedPage(std::string bytes) : m_bytes(std::move(bytes)) {}
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    const std::size_t n = m_position < m_bytes.size() ? std::min<std::size_t>(bytes, m_bytes.size() - m_position) : 0;
    if (n > 0) std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    if (bytesRead != nullptr) *bytesRead = static_cast<uint32_t>(n);
    return FILE_SYSTEM_OK;
  }
  int32_t Reserved() override { return FILE_SYSTEM_FAILED; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override {
    const auto size = static_cast<int64_t>(m_bytes.size());
    const int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(m_position) : size;
    if (origin > 2 || base + distance < 0 || base + distance > size) return FILE_SYSTEM_FAILED;
    m_position = static_cast<std::size_t>(base + distance);
    if (newPosition != nullptr) *newPosition = m_position;
    return FILE_SYSTEM_OK;
  }
  int32_t GetSize(uint64_t* size) override {
    if (size == nullptr) return FILE_SYSTEM_FAILED;
    *size = m_bytes.size();
    return FILE_SYSTEM_OK;
  }

 private:
  const std::string m_bytes;
  std::size_t m_position = 0;
};

// The pages' names, all at the root.
class CStreamedListing final : public CUnknownImpl<IFileSystemEntries> {
 public:
  explicit CStreamedListing(int32_t count) : m_count(count) {}
  int32_t Reserved() override { return FILE_SYSTEM_FAILED; }
  int32_t GetCount(uint32_t* count) override {
    if (count == nullptr) return FILE_SYSTEM_FAILED;
    *count = static_cast<uint32_t>(m_count);
    return FILE_SYSTEM_OK;
  }
  int32_t GetEntry(uint32_t index, FileSystemEntry* entry) override {
    if (entry == nullptr || index >= static_cast<uint32_t>(m_count)) return FILE_SYSTEM_FAILED;
    *entry = FileSystemEntry{};
    const std::u16string name = StreamedPageName(static_cast<int32_t>(index)).substr(1);
    std::copy(name.begin(), name.end(), entry->name);
    return FILE_SYSTEM_OK;
  }

 private:
  const int32_t m_count;
};

class CStreamedPages final : public CUnknownImpl<IDirectory> {
 public:
  CStreamedPages(PseStream stream, std::optional<HttpCredentials> credentials, BlockingFetch fetch, int32_t maxWidth)
      : m_stream(std::move(stream)),
        m_credentials(std::move(credentials)),
        m_fetch(std::move(fetch)),
        m_maxWidth(maxWidth) {}

  int32_t OpenFile(IFile** out, const char16_t* path, void*) override {
    if (out == nullptr || path == nullptr) return FILE_SYSTEM_FAILED;
    const int32_t index = IndexOf(path);
    if (index < 0) return FILE_SYSTEM_FAILED;
    HttpRequest request;
    request.url = PageUrl(m_stream, index, m_maxWidth);
    request.credentials = m_credentials;
    request.maxBytes = kMaxStreamedPageBytes;
    request.totalLimit = std::chrono::seconds(30);
    request.stallLimit = std::chrono::seconds(10);
    HttpResponse answer = m_fetch(std::move(request));
    if (answer.error != HttpError::None) return FILE_SYSTEM_FAILED;
    auto* page = new (std::nothrow) CStreamedPage(std::move(answer.body));
    if (page == nullptr) return FILE_SYSTEM_FAILED;
    return HandOut(page, IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
  }
  int32_t Mount(const char16_t*, IDirectory*) override { return FILE_SYSTEM_FAILED; }
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override {
    if (out == nullptr || path == nullptr || std::u16string_view(path) != u"/") return FILE_SYSTEM_FAILED;
    auto* listing = new (std::nothrow) CStreamedListing(m_stream.count);
    if (listing == nullptr) return FILE_SYSTEM_FAILED;
    return HandOut(listing, IID_IFileSystemEntries, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK
                                                                                         : FILE_SYSTEM_FAILED;
  }

 private:
  // The page a name stands for, -1 for any other name.
  int32_t IndexOf(std::u16string_view path) const {
    if (path.size() != kPageNameDigits + 1 || path[0] != u'/') return -1;
    int32_t number = 0;
    for (const char16_t digit : path.substr(1)) {
      if (digit < u'0' || digit > u'9') return -1;
      number = number * 10 + (digit - u'0');
    }
    return number >= 1 && number <= m_stream.count ? number - 1 : -1;
  }

  const PseStream m_stream;
  const std::optional<HttpCredentials> m_credentials;
  const BlockingFetch m_fetch;
  const int32_t m_maxWidth;
};

}  // namespace

std::u16string StreamedPageName(int32_t index) {
  std::u16string digits = Utf8ToUtf16(std::to_string(index + 1));
  return u"/" + std::u16string(kPageNameDigits - std::min(digits.size(), kPageNameDigits), u'0') + digits;
}

int32_t OpenStreamedPages(const PseStream& stream, std::optional<HttpCredentials> credentials, BlockingFetch fetch,
                          int32_t maxWidth, IDirectory** out) {
  if (out == nullptr || stream.count <= 0 || stream.count > kMaxStreamedPages) return FILE_SYSTEM_FAILED;
  auto* pages = new (std::nothrow) CStreamedPages(stream, std::move(credentials), std::move(fetch), maxWidth);
  if (pages == nullptr) return FILE_SYSTEM_FAILED;
  return HandOut(pages, IID_IDirectory, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
}
