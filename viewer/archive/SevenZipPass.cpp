#include "viewer/archive/SevenZipPass.h"

#include <algorithm>
#include <new>

#include "viewer/archive/ArchiveLimits.h"

void RunSevenZipPass(IInArchive* archive, const ClaimedSizes& claimed, uint32_t first, SolidReader::Pass& pass,
                     const ArchivePassword& password) {
  std::vector<UInt32> indices;
  for (std::size_t i = first; i < claimed.size(); ++i)
    if (claimed[i]) indices.push_back(static_cast<UInt32>(i));
  if (indices.empty()) return;
  CPassExtractCallback* callback = new (std::nothrow) CPassExtractCallback(pass, claimed, std::move(indices), password);
  if (callback == nullptr) return;
  callback->AddRef();
  const std::vector<UInt32>& asked = callback->indices();
  if (archive->Extract(asked.data(), static_cast<UInt32>(asked.size()), 0, callback) == S_OK)
    callback->DeliverUnasked(asked.size());
  callback->Release();
}

HRESULT CPassOutStream::Write(const void* data, UInt32 size, UInt32* processed) {
  if (processed != nullptr) *processed = 0;
  if (m_pass.Stopping()) return E_ABORT;
  PassSink& sink = *m_sink;
  if (sink.bytes == nullptr) return E_FAIL;  // written after its result: not from this library
  if (!sink.overflow) {
    bool keep = sink.bytes->size() + size <= kMaxExtractBytes;
    if (keep) {
      try {
        const BYTE* bytes = static_cast<const BYTE*>(data);
        sink.bytes->insert(sink.bytes->end(), bytes, bytes + size);
      } catch (const std::bad_alloc&) {
        keep = false;
      }
    }
    if (!keep) {
      sink.overflow = true;
      std::vector<BYTE>().swap(*sink.bytes);
    }
  }
  if (processed != nullptr) *processed = size;
  return S_OK;
}

bool CPassExtractCallback::DeliverUnasked(std::size_t end) {
  for (; m_next < end && m_next < m_indices.size(); ++m_next) {
    const UInt32 index = m_indices[m_next];
    const SolidReader::Pass::Next next = m_pass.Reach(index);
    if (next == SolidReader::Pass::Next::Stop) return false;
    if (next == SolidReader::Pass::Next::Extract) {
      ExtractedBytes empty = std::make_shared<std::vector<BYTE>>();
      m_pass.Deliver(index, std::move(empty), std::nullopt);
    }
  }
  return true;
}

HRESULT CPassExtractCallback::GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) {
  if (outStream == nullptr) return E_INVALIDARG;
  *outStream = nullptr;
  m_current.reset();
  m_sink.reset();
  if (m_pass.Stopping()) return E_ABORT;
  if (askExtractMode != kExtract) return S_OK;
  try {
    const auto at = std::lower_bound(m_indices.begin() + static_cast<std::ptrdiff_t>(m_next), m_indices.end(), index);
    if (!DeliverUnasked(static_cast<std::size_t>(at - m_indices.begin()))) return E_ABORT;
    if (at == m_indices.end() || *at != index) return S_OK;  // not one of ours: decoded and dropped
    m_next = static_cast<std::size_t>(at - m_indices.begin()) + 1;

    switch (m_pass.Reach(index)) {
      case SolidReader::Pass::Next::Stop: return E_ABORT;
      case SolidReader::Pass::Next::Skip: return S_OK;
      case SolidReader::Pass::Next::Extract: break;
    }
    auto sink = std::make_shared<PassSink>();
    // The claim is only the archive's word: room for it up to a bound.
    try {
      sink->bytes->reserve(static_cast<std::size_t>(std::min<uint64_t>(m_claimed[index].value_or(0), kReserveBytes)));
    } catch (const std::bad_alloc&) {
    }
    CPassOutStream* stream = new (std::nothrow) CPassOutStream(sink, m_pass);
    if (stream == nullptr) return E_OUTOFMEMORY;
    m_sink = std::move(sink);
    m_current = index;
    return HandOut(stream, IID_IOutStream, reinterpret_cast<void**>(outStream));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CPassExtractCallback::SetOperationResult(Int32 result) {
  // Bytes cut short by a stop are nobody's page.
  if (m_current && m_sink != nullptr && !m_pass.Stopping()) {
    const UInt32 index = *m_current;
    if (m_sink->overflow)
      m_pass.Fail(index, {});
    else
      m_pass.Deliver(index, std::move(m_sink->bytes), result);
  }
  m_current.reset();
  m_sink.reset();
  return m_pass.Stopping() ? E_ABORT : S_OK;
}
