// A read-only IStream over an IFile, for the image decoders: every read,
// seek and size query goes straight to the file, whose position it shares.
#pragma once

#include "ordel/FileSystem.h"
#include "platform/objidl.h"

class CStream final : public CUnknownImpl<IStream> {
 public:
  explicit CStream(IFile* file);

  HRESULT Read(void* buffer, ULONG bytes, ULONG* bytesRead) override;
  HRESULT Write(const void* buffer, ULONG bytes, ULONG* bytesWritten) override;
  HRESULT Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT SetSize(ULARGE_INTEGER newSize) override;
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* bytesRead,
                 ULARGE_INTEGER* bytesWritten) override;
  HRESULT Commit(DWORD flags) override;
  HRESULT Revert() override;
  HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) override;
  HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) override;
  HRESULT Stat(STATSTG* record, DWORD flags) override;
  HRESULT Clone(IStream** out) override;

 private:
  ~CStream() override;

  IFile* m_file;  // one reference for the stream's lifetime
};

// Wraps the file in a new stream handed out with one reference. 0 on
// success; 1 (nothing written) when the file or the out-pointer is missing
// or memory runs out.
int32_t CreateFileStream(IFile* file, IStream** out);
