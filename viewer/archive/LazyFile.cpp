#include "viewer/archive/LazyFile.h"

#include <algorithm>
#include <cstring>
#include <new>

HRESULT CLazyFile::QueryInterface(REFIID riid, void** out) {
  if (out != nullptr && riid == IID_IFileDamage && !m_damage.empty()) {
    *out = static_cast<IFileDamage*>(this);
    AddRef();
    return S_OK;
  }
  return CUnknownImpl::QueryInterface(riid, out);
}

IFile* CLazyFile::Whole() {
  if (!m_extract) return m_whole.get();
  const WholeExtraction extract = std::move(m_extract);
  m_extract = nullptr;
  ComRef<IFile> whole;
  if (extract(&whole) != FILE_SYSTEM_OK || !whole) {
    // The head still reads; what lies past it is lost, and says so.
    m_damage = u"it does not extract whole";
    return nullptr;
  }
  m_damage = DamageOf(whole.get());
  uint64_t size = 0;
  if (whole->GetSize(&size) == FILE_SYSTEM_OK) m_size = size;
  m_whole = std::move(whole);
  m_head.reset();
  return m_whole.get();
}

int32_t CLazyFile::Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  const bool inHead = m_head != nullptr && m_position <= m_head->size() && bytes <= m_head->size() - m_position;
  uint32_t n = 0;
  if (IFile* whole = inHead ? nullptr : Whole()) {
    whole->Seek(static_cast<int64_t>(m_position), 0, nullptr);
    whole->Read(buffer, bytes, &n);
  } else if (m_head != nullptr && m_position < m_head->size()) {
    n = static_cast<uint32_t>(std::min<uint64_t>(bytes, m_head->size() - m_position));
    std::memcpy(buffer, m_head->data() + m_position, n);
  }
  m_position += n;
  if (bytesRead != nullptr) *bytesRead = n;
  return FILE_SYSTEM_OK;
}

int32_t CLazyFile::Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) {
  // As an extracted item's file seeks: its size is the archive's claim
  // until the item is extracted.
  return SeekIn(m_size, m_position, distance, origin, newPosition);
}

int32_t CLazyFile::GetSize(uint64_t* size) {
  if (size == nullptr) return FILE_SYSTEM_FAILED;
  *size = m_size;
  return FILE_SYSTEM_OK;
}

int32_t HandOutLazy(ExtractedBytes head, uint64_t claimedSize, WholeExtraction extract, IFile** out) {
  CLazyFile* file = new (std::nothrow) CLazyFile(std::move(head), claimedSize, std::move(extract));
  if (file == nullptr) return FILE_SYSTEM_FAILED;
  return HandOut(static_cast<IFile*>(file), IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? FILE_SYSTEM_OK : FILE_SYSTEM_FAILED;
}
