// 7-Zip's archive interfaces, as its library lays them out: ordinary
// virtual calls, slots in declaration order, no virtual destructor.
// Declared at global scope under 7-Zip's own names.
#pragma once

#include <cstdint>

#include "platform/com.h"

using UInt32 = uint32_t;
using Int32 = int32_t;
using UInt64 = uint64_t;
using Int64 = int64_t;
using PROPID = uint32_t;
using VARTYPE = uint16_t;
// The library's strings: 32-bit units carrying UTF-16 code units, with the
// byte length stored in the 4 bytes before the pointer.
using BSTR = uint32_t*;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_I8 = 20;
constexpr VARTYPE VT_UI8 = 21;

struct PROPVARIANT {
  VARTYPE vt;
  uint16_t reserved1, reserved2, reserved3;
  union {
    int32_t lVal;
    uint32_t ulVal;
    int64_t hVal;
    uint64_t uhVal;
    int16_t boolVal;  // VARIANT_BOOL: -1 true
    BSTR bstrVal;
  };
};
static_assert(sizeof(PROPVARIANT) == 16);

constexpr PROPID kpidPath = 3;
constexpr PROPID kpidIsDir = 6;
constexpr PROPID kpidSize = 7;
constexpr PROPID kpidSolid = 13;
constexpr PROPID kpidMethod = 22;
constexpr PROPID kpidErrorFlags = 71;

constexpr Int32 kExtract = 0;  // ask modes
constexpr Int32 kTest = 1;
constexpr Int32 kSkip = 2;

constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);

// {23170F69-40C1-278A-0000-00gg00ii0000}
constexpr GUID SevenZipIid(uint8_t group, uint8_t id) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, id, 0x00, 0x00}};
}
// {23170F69-40C1-278A-1000-000110ff0000}
constexpr GUID SevenZipFormat(uint8_t format) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, format, 0x00, 0x00}};
}

struct IProgress : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x00, 0x05);
  virtual HRESULT SetTotal(UInt64 total) = 0;
  virtual HRESULT SetCompleted(const UInt64* completed) = 0;
};

struct ISequentialInStream : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x03, 0x01);
  virtual HRESULT Read(void* data, UInt32 size, UInt32* processed) = 0;
};

struct ISequentialOutStream : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x03, 0x02);
  virtual HRESULT Write(const void* data, UInt32 size, UInt32* processed) = 0;
};

struct IInStream : ISequentialInStream {
  static constexpr GUID iid = SevenZipIid(0x03, 0x03);
  virtual HRESULT Seek(Int64 offset, UInt32 origin, UInt64* newPosition) = 0;
};

struct IOutStream : ISequentialOutStream {
  static constexpr GUID iid = SevenZipIid(0x03, 0x04);
  virtual HRESULT Seek(Int64 offset, UInt32 origin, UInt64* newPosition) = 0;
  virtual HRESULT SetSize(UInt64 size) = 0;
};

struct IArchiveOpenCallback : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x06, 0x10);
  virtual HRESULT SetTotal(const UInt64* files, const UInt64* bytes) = 0;
  virtual HRESULT SetCompleted(const UInt64* files, const UInt64* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
  static constexpr GUID iid = SevenZipIid(0x06, 0x20);
  virtual HRESULT GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) = 0;
  virtual HRESULT PrepareOperation(Int32 askExtractMode) = 0;
  virtual HRESULT SetOperationResult(Int32 result) = 0;
};

struct IInArchive : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x06, 0x60);
  virtual HRESULT Open(IInStream* stream, const UInt64* maxCheckStartPosition, IArchiveOpenCallback* callback) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT GetNumberOfItems(UInt32* count) = 0;
  virtual HRESULT GetProperty(UInt32 index, PROPID propId, PROPVARIANT* value) = 0;
  virtual HRESULT Extract(const UInt32* indices, UInt32 count, Int32 testMode,
                          IArchiveExtractCallback* callback) = 0;
  virtual HRESULT GetArchiveProperty(PROPID propId, PROPVARIANT* value) = 0;
  virtual HRESULT GetNumberOfProperties(UInt32* count) = 0;
  virtual HRESULT GetPropertyInfo(UInt32 index, BSTR* name, PROPID* propId, VARTYPE* type) = 0;
  virtual HRESULT GetNumberOfArchiveProperties(UInt32* count) = 0;
  virtual HRESULT GetArchivePropertyInfo(UInt32 index, BSTR* name, PROPID* propId, VARTYPE* type) = 0;
};

// Settings of a handler; names are the library's wide strings (32-bit units
// here, as BSTR).
struct ISetProperties : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x06, 0x03);
  virtual HRESULT SetProperties(const uint32_t* const* names, const PROPVARIANT* values, UInt32 count) = 0;
};

// Asked of an open or extract callback when the handler meets encryption.
struct ICryptoGetTextPassword : IUnknown {
  static constexpr GUID iid = SevenZipIid(0x05, 0x10);
  virtual HRESULT CryptoGetTextPassword(BSTR* password) = 0;
};

inline constexpr const GUID& IID_IOutStream = IOutStream::iid;

using CreateObjectFunc = HRESULT (*)(const GUID* clsid, const GUID* iid, void** out);
using VariantClearFunc = HRESULT (*)(PROPVARIANT* value);
using SysAllocStringLenFunc = BSTR (*)(const uint32_t* units, uint32_t length);
