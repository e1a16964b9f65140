#include "common/Stream.h"

#include <new>

CStream::CStream(IFile* file) : m_file(file) { m_file->AddRef(); }

CStream::~CStream() { m_file->Release(); }

int32_t CreateFileStream(IFile* file, IStream** out) {
  if (file == nullptr || out == nullptr) return 1;
  CStream* stream = new (std::nothrow) CStream(file);
  if (stream == nullptr) return 1;
  return HandOut(stream, IID_IStream, reinterpret_cast<void**>(out)) == S_OK ? 0 : 1;
}

HRESULT CStream::Read(void* buffer, ULONG bytes, ULONG* bytesRead) {
  // The decoder judges short data itself: the count the file reported goes
  // back with S_OK whatever the file's status was.
  uint32_t done = 0;
  m_file->Read(buffer, bytes, &done);
  if (bytesRead != nullptr) *bytesRead = done;
  return S_OK;
}

HRESULT CStream::Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) {
  if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
  const int32_t status =
      m_file->Seek(distance.QuadPart, origin, newPosition != nullptr ? &newPosition->QuadPart : nullptr);
  return status == 0 ? S_OK : STG_E_INVALIDFUNCTION;
}

HRESULT CStream::Stat(STATSTG* record, DWORD /*flags*/) {
  if (record == nullptr) return STG_E_INVALIDPOINTER;
  *record = STATSTG{};
  record->type = STGTY_STREAM;
  uint64_t size = 0;
  if (m_file->GetSize(&size) == 0) record->cbSize.QuadPart = size;
  return S_OK;
}

HRESULT CStream::Write(const void*, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT CStream::SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }
HRESULT CStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
  return E_NOTIMPL;
}
HRESULT CStream::Commit(DWORD) { return E_NOTIMPL; }
HRESULT CStream::Revert() { return E_NOTIMPL; }
HRESULT CStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT CStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT CStream::Clone(IStream**) { return E_NOTIMPL; }
