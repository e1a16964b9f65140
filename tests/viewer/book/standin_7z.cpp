// A 7z.so that answers wrongly, one fault a build: STANDIN_empty exports
// nothing of the library's; STANDIN_destructor lists zip and 7z handlers
// but hands out objects laid out with a virtual destructor first;
// STANDIN_interface reports an unknown interface type. Whatever a careful
// caller never calls aborts.
#include <cstdint>
#include <cstdlib>

extern "C" int StandInNothing() { return 0; }

#ifndef STANDIN_empty
struct GUID {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
};
struct PROPVARIANT {
  uint16_t vt, reserved[3];
  union {
    uint32_t ulVal;
    const uint32_t* bstrVal;  // the library's strings: byte length before the units
  };
};
extern "C" int32_t VariantClear(PROPVARIANT* value) { return value->vt = 0; }
extern "C" void SysFreeString(const uint32_t*) {}
#endif

#ifdef STANDIN_interface
extern "C" int32_t CreateObject(const GUID*, const GUID*, void**) { std::abort(); }
extern "C" int32_t GetModuleProp(uint32_t, PROPVARIANT* value) {
  value->vt = 19, value->ulVal = 7;  // VT_UI4
  return 0;
}
#endif

#ifdef STANDIN_destructor
// Slots 0-1 the destructor, 2-4 IUnknown's, 5-10 IInArchive's first six;
// 11-12 GetNumberOfProperties and GetPropertyInfo, answering Zip's items.
// Named as the library names them, which the sanitizers' type checks read.
struct IUnknown {
  virtual ~IUnknown() = default;
  virtual void QueryInterface() { std::abort(); }
  virtual void AddRef() { std::abort(); }
  virtual void Release() { std::abort(); }
};
struct IInArchive : IUnknown {
  virtual void Open() { std::abort(); }
  virtual void Close() { std::abort(); }
  virtual void GetNumberOfItems() { std::abort(); }
  virtual void GetProperty() { std::abort(); }
  virtual void Extract() { std::abort(); }
  virtual void GetArchiveProperty() { std::abort(); }
  virtual int32_t GetNumberOfProperties(uint32_t* count) { return *count = 3, 0; }
  virtual int32_t GetPropertyInfo(uint32_t i, const uint32_t** name, uint32_t* id, uint16_t* type) {
    static const uint32_t ids[] = {3, 6, 7};       // path, folder, size
    static const uint16_t types[] = {8, 11, 21};  // BSTR, BOOL, UI8
    return *name = nullptr, *id = ids[i % 3], *type = types[i % 3], 0;
  }
} g_handler;

const uint32_t kNames[][5] = {{8, '7', 'z', 0}, {12, 'z', 'i', 'p', 0}};
const uint32_t kIds[][5] = {{16, 0x23170F69, 0x278A40C1, 0x01000010, 0x0710}, {16, 0x23170F69, 0x278A40C1, 0x01000010, 0x0110}};
extern "C" int32_t GetNumberOfFormats(uint32_t* count) { return *count = 2, 0; }
extern "C" int32_t GetHandlerProperty2(uint32_t format, uint32_t id, PROPVARIANT* value) {
  value->vt = 8;  // VT_BSTR
  value->bstrVal = (id == 0 ? kNames[format % 2] : kIds[format % 2]) + 1;
  return 0;
}
extern "C" int32_t CreateObject(const GUID*, const GUID*, void** out) { return *out = &g_handler, 0; }
#endif
