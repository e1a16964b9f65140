// A stand-in for 7-Zip's library that answers wrongly, one fault a build:
// STANDIN_empty exports nothing of the library's; STANDIN_destructor lists
// its handlers as the library does but hands out objects laid out with a
// virtual destructor first; STANDIN_interface reports an interface type
// nobody knows. Whatever a careful caller must not call aborts.
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
    const uint32_t* bstrVal;
  };
};

extern "C" int32_t VariantClear(PROPVARIANT* value) {
  value->vt = 0;  // every string handed out is static
  return 0;
}
extern "C" void SysFreeString(const uint32_t*) {}

#endif

#ifdef STANDIN_interface

extern "C" int32_t CreateObject(const GUID*, const GUID*, void**) { std::abort(); }
extern "C" int32_t GetModuleProp(uint32_t, PROPVARIANT* value) {
  value->vt = 19;  // VT_UI4
  value->ulVal = 7;
  return 0;
}

#endif

#ifdef STANDIN_destructor

// The interfaces as a build with a virtual destructor in IUnknown lays them out.
struct IUnknown {
  virtual ~IUnknown() = default;
  virtual int32_t QueryInterface(const GUID&, void**) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
};
struct IInArchive : IUnknown {
  virtual int32_t Open(void*, const uint64_t*, void*) = 0;
  virtual int32_t Close() = 0;
  virtual int32_t GetNumberOfItems(uint32_t*) = 0;
  virtual int32_t GetProperty(uint32_t, uint32_t, PROPVARIANT*) = 0;
  virtual int32_t Extract(const uint32_t*, uint32_t, int32_t, void*) = 0;
  virtual int32_t GetArchiveProperty(uint32_t, PROPVARIANT*) = 0;
  virtual int32_t GetNumberOfProperties(uint32_t*) = 0;
  virtual int32_t GetPropertyInfo(uint32_t, const uint32_t**, uint32_t*, uint16_t*) = 0;
  virtual int32_t GetNumberOfArchiveProperties(uint32_t*) = 0;
  virtual int32_t GetArchivePropertyInfo(uint32_t, const uint32_t**, uint32_t*, uint16_t*) = 0;
};

// Zip's items as the real handler lists them: path, folder flag, size.
struct Handler final : IInArchive {
  int32_t QueryInterface(const GUID&, void**) override { std::abort(); }
  uint32_t AddRef() override { std::abort(); }
  uint32_t Release() override { std::abort(); }
  int32_t Open(void*, const uint64_t*, void*) override { std::abort(); }
  int32_t Close() override { std::abort(); }
  int32_t GetNumberOfItems(uint32_t*) override { std::abort(); }
  int32_t GetProperty(uint32_t, uint32_t, PROPVARIANT*) override { std::abort(); }
  int32_t Extract(const uint32_t*, uint32_t, int32_t, void*) override { std::abort(); }
  int32_t GetArchiveProperty(uint32_t, PROPVARIANT*) override { std::abort(); }
  int32_t GetNumberOfProperties(uint32_t* count) override {
    *count = 3;
    return 0;
  }
  int32_t GetPropertyInfo(uint32_t index, const uint32_t** name, uint32_t* id, uint16_t* type) override {
    static const uint32_t ids[] = {3, 6, 7};
    static const uint16_t types[] = {8, 11, 21};
    *name = nullptr;
    *id = ids[index % 3];
    *type = types[index % 3];
    return 0;
  }
  int32_t GetNumberOfArchiveProperties(uint32_t* count) override {
    *count = 0;
    return 0;
  }
  int32_t GetArchivePropertyInfo(uint32_t, const uint32_t**, uint32_t*, uint16_t*) override { std::abort(); }
};
Handler g_handler;

// Strings as the library makes them: the byte length before the units.
struct Name {
  uint32_t bytes;
  uint32_t units[4];
};
struct ClassId {
  uint32_t bytes;
  GUID id;
};
const Name kNames[] = {{8, {'7', 'z', 0}}, {12, {'z', 'i', 'p', 0}}};
const ClassId kClassIds[] = {{16, {0x23170F69, 0x40C1, 0x278A, {0x10, 0, 0, 0x01, 0x10, 0x07, 0, 0}}},
                             {16, {0x23170F69, 0x40C1, 0x278A, {0x10, 0, 0, 0x01, 0x10, 0x01, 0, 0}}}};

extern "C" int32_t GetNumberOfFormats(uint32_t* count) {
  *count = 2;
  return 0;
}
extern "C" int32_t GetHandlerProperty2(uint32_t format, uint32_t id, PROPVARIANT* value) {
  value->vt = 8;  // VT_BSTR
  value->bstrVal = id == 0 ? kNames[format % 2].units : reinterpret_cast<const uint32_t*>(&kClassIds[format % 2].id);
  return 0;
}
extern "C" int32_t CreateObject(const GUID*, const GUID*, void** out) {
  *out = static_cast<IInArchive*>(&g_handler);
  return 0;
}

#endif
