#include "viewer/catalogue/RemoteFile.h"

#include <algorithm>
#include <cstring>

HttpRequest RangeRequest(const RemoteAddress& address, std::uint64_t first, std::uint64_t last,
                         const RemoteFileOptions& options) {
  HttpRequest request;
  request.url = address.url;
  request.credentials = address.credentials;
  request.range = HttpByteRange{static_cast<std::int64_t>(first), static_cast<std::int64_t>(last)};
  // A server that sends the whole file instead is cut off past the range.
  request.maxBytes = static_cast<std::int64_t>(last - first + 1);
  request.totalLimit = options.totalLimit;
  request.stallLimit = options.stallLimit;
  return request;
}

CRemoteFile::CRemoteFile(RemoteAddress address, BlockingFetch fetch, std::uint64_t size, const std::string& first,
                         const RemoteFileOptions& options, std::shared_ptr<RemoteFileCount> count)
    : m_address(std::move(address)),
      m_fetch(std::move(fetch)),
      m_size(size),
      m_options(options),
      m_count(std::move(count)) {
  const std::size_t block = m_options.blockSize;
  // Only whole blocks, or a last block that ends with the file: a part
  // would be taken for all of it.
  for (std::size_t at = 0; at < first.size(); at += block)
    if (first.size() - at >= block || first.size() == size) Keep(at / block, first.substr(at, std::min(block, first.size() - at)));
}

void CRemoteFile::Keep(std::uint64_t index, std::string bytes) {
  std::erase_if(m_blocks, [index](const Block& block) { return block.index == index; });
  m_blocks.push_front(Block{index, std::move(bytes)});
  while (m_blocks.size() > std::max<std::size_t>(m_options.keptBlocks, 1)) m_blocks.pop_back();
}

const std::string* CRemoteFile::BlockAt(std::uint64_t index, std::uint64_t last) {
  for (auto at = m_blocks.begin(); at != m_blocks.end(); ++at)
    if (at->index == index) {
      m_blocks.splice(m_blocks.begin(), m_blocks, at);
      return &m_blocks.front().bytes;
    }
  // The blocks after it that the read wants too and the cache lacks come
  // in the same request, as many as may be held.
  const std::uint64_t blocks = std::min<std::uint64_t>(
      {last - index + 1, m_options.blocksAtOnce, std::max<std::size_t>(m_options.keptBlocks, 1)});
  std::uint64_t end = index + 1;
  while (end < index + blocks &&
         std::none_of(m_blocks.begin(), m_blocks.end(), [end](const Block& block) { return block.index == end; }))
    ++end;
  const std::uint64_t block = m_options.blockSize;
  const std::uint64_t first = index * block, stop = std::min(end * block, m_size);
  HttpResponse response = m_fetch(RangeRequest(m_address, first, stop - 1, m_options));
  m_count->requests.fetch_add(1, std::memory_order_relaxed);
  m_count->bytes.fetch_add(response.body.size(), std::memory_order_relaxed);
  // Only the bytes asked for, from a server that still has the same file.
  if (response.error != HttpError::None || !response.rangeHonoured || response.totalSize != static_cast<std::int64_t>(m_size) ||
      response.body.size() != stop - first)
    return nullptr;
  for (std::uint64_t i = end; i-- > index;) {
    const std::uint64_t from = (i - index) * block;
    Keep(i, response.body.substr(from, std::min<std::uint64_t>(block, response.body.size() - from)));
  }
  return &m_blocks.front().bytes;
}

int32_t CRemoteFile::Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  std::lock_guard lock(m_mutex);
  auto* out = static_cast<unsigned char*>(buffer);
  uint32_t done = 0;
  int32_t status = FILE_SYSTEM_OK;
  const std::uint64_t block = m_options.blockSize;
  const std::uint64_t wanted = m_position < m_size ? std::min<std::uint64_t>(bytes, m_size - m_position) : 0;
  const std::uint64_t lastBlock = wanted == 0 ? 0 : (m_position + wanted - 1) / block;
  while (done < wanted) {
    const std::uint64_t index = m_position / block;
    const std::string* bytesOfBlock = BlockAt(index, lastBlock);
    if (bytesOfBlock == nullptr) {
      status = FILE_SYSTEM_FAILED;
      break;
    }
    const std::uint64_t into = m_position - index * block;
    if (into >= bytesOfBlock->size()) {
      status = FILE_SYSTEM_FAILED;
      break;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted - done, bytesOfBlock->size() - into));
    std::memcpy(out + done, bytesOfBlock->data() + into, n);
    done += static_cast<uint32_t>(n);
    m_position += n;
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return status;
}

int32_t CRemoteFile::Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) {
  std::lock_guard lock(m_mutex);
  const int64_t size = static_cast<int64_t>(m_size);
  int64_t position;
  if (origin == 0)
    position = distance;
  else if (origin == 1)
    position = static_cast<int64_t>(m_position) + distance;
  else if (origin == 2)
    position = size + distance;
  else
    return FILE_SYSTEM_FAILED;
  if (position < 0 || position > size) return FILE_SYSTEM_FAILED;
  m_position = static_cast<uint64_t>(position);
  if (newPosition != nullptr) *newPosition = m_position;
  return FILE_SYSTEM_OK;
}

int32_t CRemoteFile::GetSize(uint64_t* size) {
  if (size == nullptr) return FILE_SYSTEM_FAILED;
  *size = m_size;
  return FILE_SYSTEM_OK;
}

RemoteOpening RemoteFileOf(const RemoteAddress& address, HttpResponse first, BlockingFetch fetch,
                           const RemoteFileOptions& options) {
  RemoteOpening opening;
  opening.answer = std::move(first);
  HttpResponse& answer = opening.answer;
  opening.count->requests.fetch_add(1, std::memory_order_relaxed);
  opening.count->bytes.fetch_add(answer.body.size(), std::memory_order_relaxed);
  if (answer.error != HttpError::None || !answer.rangeHonoured || !answer.totalSize || *answer.totalSize <= 0)
    return opening;
  const auto size = static_cast<std::uint64_t>(*answer.totalSize);
  if (answer.body.size() != std::min<std::uint64_t>(size, options.blockSize)) return opening;
  auto* file = new CRemoteFile(address, std::move(fetch), size, answer.body, options, opening.count);
  HandOut(file, IID_IFile, reinterpret_cast<void**>(&opening.file));
  answer.body.clear();
  return opening;
}

RemoteOpening OpenRemoteFile(const RemoteAddress& address, const BlockingFetch& fetch,
                             const RemoteFileOptions& options) {
  return RemoteFileOf(address, fetch(RangeRequest(address, 0, options.blockSize - 1, options)), fetch, options);
}
