// IStream and its record, in the Windows slot order, for the image decoders.
#pragma once

#include "platform/com.h"

constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;

struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

struct ISequentialStream : IUnknown {
  static constexpr GUID iid = MakeGuid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
  virtual HRESULT Read(void* buffer, ULONG bytes, ULONG* bytesRead) = 0;
  virtual HRESULT Write(const void* buffer, ULONG bytes, ULONG* bytesWritten) = 0;
};

struct IStream : ISequentialStream {
  static constexpr GUID iid = MakeGuid("{0000000C-0000-0000-C000-000000000046}");
  virtual HRESULT Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER newSize) = 0;
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* bytesRead,
                         ULARGE_INTEGER* bytesWritten) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) = 0;
  virtual HRESULT Stat(STATSTG* record, DWORD flags) = 0;
  virtual HRESULT Clone(IStream** out) = 0;
};
inline constexpr const GUID& IID_ISequentialStream = ISequentialStream::iid;
inline constexpr const GUID& IID_IStream = IStream::iid;
