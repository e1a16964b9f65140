#include "viewer/archive/MemoryFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace {
std::atomic<uint64_t> g_extracted{0};
}  // namespace

uint64_t ExtractedByteCount() { return g_extracted.load(std::memory_order_relaxed); }
void CountExtracted(uint64_t bytes) { g_extracted.fetch_add(bytes, std::memory_order_relaxed); }

void TrimSpareCapacity(std::vector<BYTE>& bytes) {
  // Growth by doubling can leave up to half the buffer spare; a held page
  // should cost its size, not its peak.
  if (bytes.capacity() - bytes.size() > bytes.size() / 8 + 4096) {
    try {
      bytes.shrink_to_fit();
    } catch (const std::bad_alloc&) {
    }
  }
}

int32_t HandOutExtracted(ExtractedBytes bytes, IFile** out, std::u16string damage) {
  TrimSpareCapacity(*bytes);
  return HandOutShared(std::move(bytes), out, std::move(damage));
}

int32_t HandOutShared(ExtractedBytes bytes, IFile** out, std::u16string damage) {
  CFile* file = new (std::nothrow) CFile(std::move(bytes), std::move(damage));
  if (file == nullptr) return FILE_SYSTEM_FAILED;
  return HandOut(static_cast<IFile*>(file), IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
}

HRESULT CFile::QueryInterface(REFIID riid, void** out) {
  if (out != nullptr && riid == IID_IFileDamage && !m_damage.empty()) {
    *out = static_cast<IFileDamage*>(this);
    AddRef();
    return S_OK;
  }
  return CUnknownImpl::QueryInterface(riid, out);
}

int32_t CFile::Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  const uint64_t size = m_bytes->size();
  uint32_t n = 0;
  if (m_position < size) {
    n = static_cast<uint32_t>(std::min<uint64_t>(bytes, size - m_position));
    std::memcpy(buffer, m_bytes->data() + m_position, n);
    m_position += n;
  }
  if (bytesRead != nullptr) *bytesRead = n;
  return FILE_SYSTEM_OK;
}

int32_t CFile::Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) {
  return SeekIn(m_bytes->size(), m_position, distance, origin, newPosition);
}

int32_t SeekIn(uint64_t fileSize, uint64_t& current, int64_t distance, uint32_t origin, uint64_t* newPosition) {
  const int64_t size = static_cast<int64_t>(fileSize);
  int64_t position;
  if (origin == 0)
    position = distance;
  else if (origin == 1)
    position = static_cast<int64_t>(current) + distance;
  else if (origin == 2)
    position = size + distance;
  else
    return FILE_SYSTEM_FAILED;
  current = static_cast<uint64_t>(position);  // kept even when out of range: reads then give 0 bytes
  if (position < 0 || position > size) return FILE_SYSTEM_FAILED;
  if (newPosition != nullptr) *newPosition = static_cast<uint64_t>(position);
  return FILE_SYSTEM_OK;
}

int32_t CFile::GetSize(uint64_t* size) {
  if (size == nullptr) return FILE_SYSTEM_FAILED;
  *size = m_bytes->size();
  return FILE_SYSTEM_OK;
}
