#include "viewer/archive/SevenZipCheck.h"

#include <cstring>
#include <vector>

#include "viewer/archive/SevenZip.h"

namespace {

using GetModulePropFunc = HRESULT (*)(PROPID propId, PROPVARIANT* value);
using GetNumberOfFormatsFunc = HRESULT (*)(UInt32* count);
using GetHandlerProperty2Func = HRESULT (*)(UInt32 format, PROPID propId, PROPVARIANT* value);
using SysFreeStringFunc = void (*)(BSTR text);

// What GetModuleProp is asked, and the one interface type declared here:
// IUnknown without a virtual destructor (1 is the type with one).
constexpr PROPID kModuleInterfaceType = 0;
constexpr PROPID kModuleVersion = 1;
constexpr UInt32 kPlainInterfaces = 0;
constexpr UInt32 kDestructorInterfaces = 1;

constexpr PROPID kHandlerName = 0;
constexpr PROPID kHandlerClassId = 1;

// More than any build has; a count beyond it is garbage.
constexpr UInt32 kMostFormats = 1024;
constexpr UInt32 kMostProperties = 256;

constexpr uint8_t kZip = 0x01, k7z = 0x07;

// No interface of 7-Zip's: every object must refuse it.
constexpr GUID kNoSuchInterface = {0x6B0C1E57, 0x2F4D, 0x4E8A, {0x9C, 0x31, 0x5A, 0x72, 0x0D, 0xE4, 0x18, 0xB6}};

struct Exports {
  CreateObjectFunc createObject;
  VariantClearFunc variantClear;
  SysFreeStringFunc sysFreeString;
};

// A value the library filled, cleared by the library.
class Variant {
 public:
  explicit Variant(VariantClearFunc clear) : m_clear(clear) {}
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { m_clear(&value); }
  PROPVARIANT value{};

 private:
  VariantClearFunc m_clear;
};

std::string Ascii(BSTR text) {
  std::string out;
  for (const uint32_t* unit = text; unit != nullptr && *unit != 0 && out.size() < 64; ++unit)
    out.push_back(*unit < 0x80 ? static_cast<char>(*unit) : '?');
  return out;
}

std::string InterfaceRefusal(GetModulePropFunc get, VariantClearFunc clear) {
  Variant type(clear), version(clear);
  if (get(kModuleInterfaceType, &type.value) != S_OK || type.value.vt != VT_UI4) return "no interface type";
  if (type.value.ulVal == kDestructorInterfaces) return "interfaces with a virtual destructor";
  if (type.value.ulVal != kPlainInterfaces) return "unknown interface type " + std::to_string(type.value.ulVal);
  if (get(kModuleVersion, &version.value) != S_OK || version.value.vt != VT_UI4 || version.value.ulVal == 0)
    return "no version";
  return {};
}

// Every handler named, under a class id of 7-Zip's form; Zip and 7z among
// them under the numbers the archive layer creates them by.
std::string HandlerRefusal(GetNumberOfFormatsFunc count, GetHandlerProperty2Func property, VariantClearFunc clear) {
  UInt32 formats = 0;
  if (count(&formats) != S_OK || formats == 0 || formats > kMostFormats) return "no list of formats";
  bool zip = false, sevenZip = false;
  for (UInt32 i = 0; i < formats; ++i) {
    Variant name(clear), id(clear);
    if (property(i, kHandlerName, &name.value) != S_OK || name.value.vt != VT_BSTR || name.value.bstrVal == nullptr)
      return "a format without a name";
    const std::string text = Ascii(name.value.bstrVal);
    // A class id is a string of 16 bytes; its length is kept before it.
    if (property(i, kHandlerClassId, &id.value) != S_OK || id.value.vt != VT_BSTR || id.value.bstrVal == nullptr ||
        id.value.bstrVal[-1] != sizeof(GUID))
      return "format " + text + " without a class id";
    GUID clsid;
    std::memcpy(&clsid, id.value.bstrVal, sizeof clsid);
    const uint8_t number = clsid.Data4[5];
    if (!(clsid == SevenZipFormat(number))) return "format " + text + " with a foreign class id";
    zip = zip || (text == "zip" && number == kZip);
    sevenZip = sevenZip || (text == "7z" && number == k7z);
  }
  if (!zip) return "no Zip handler listed";
  if (!sevenZip) return "no 7z handler listed";
  return {};
}

struct PropertyInfo {
  PROPID id;
  VARTYPE type;
};

// A handler's list of properties through a count and an info slot.
bool ListProperties(IInArchive* archive, HRESULT (IInArchive::*number)(UInt32*),
                    HRESULT (IInArchive::*info)(UInt32, BSTR*, PROPID*, VARTYPE*), SysFreeStringFunc free,
                    std::vector<PropertyInfo>& out) {
  UInt32 count = 0;
  if ((archive->*number)(&count) != S_OK || count > kMostProperties) return false;
  for (UInt32 i = 0; i < count; ++i) {
    BSTR name = nullptr;
    PropertyInfo property{0, VT_EMPTY};
    const HRESULT result = (archive->*info)(i, &name, &property.id, &property.type);
    if (name != nullptr) free(name);
    if (result != S_OK) return false;
    out.push_back(property);
  }
  return true;
}

bool Has(const std::vector<PropertyInfo>& list, PROPID id, VARTYPE type) {
  for (const PropertyInfo& property : list)
    if (property.id == id && (type == VT_EMPTY || property.type == type)) return true;
  return false;
}

// A round trip through the Zip handler, unopened, that tells the layouts
// apart before any call that differs between them.
std::string LayoutRefusal(const Exports& library) {
  IInArchive* archive = nullptr;
  const GUID zip = SevenZipFormat(kZip);
  if (library.createObject(&zip, &IInArchive::iid, reinterpret_cast<void**>(&archive)) != S_OK || archive == nullptr)
    return "no Zip handler";
  // Slots 11 and 12 take the same arguments in both layouts: here the
  // archive's properties, and with a virtual destructor in IUnknown its
  // items' ones. A Zip archive has no path; its items have. Until that
  // settles the layout, a refused object is left as it is (leaked): any
  // other call, Release too, may land on its destructor.
  std::vector<PropertyInfo> archiveProperties, itemProperties;
  if (!ListProperties(archive, &IInArchive::GetNumberOfArchiveProperties, &IInArchive::GetArchivePropertyInfo,
                      library.sysFreeString, archiveProperties))
    return "archive properties unreadable";
  if (Has(archiveProperties, kpidPath, VT_EMPTY)) return "interface slots out of place";

  std::string refusal;
  if (!ListProperties(archive, &IInArchive::GetNumberOfProperties, &IInArchive::GetPropertyInfo, library.sysFreeString,
                      itemProperties) ||
      !Has(itemProperties, kpidPath, VT_BSTR) || !Has(itemProperties, kpidIsDir, VT_BOOL) ||
      !Has(itemProperties, kpidSize, VT_UI8))
    refusal = "Zip items without path, folder flag and size";
  UInt32 items = 1;
  if (refusal.empty() && (archive->GetNumberOfItems(&items) != S_OK || items != 0)) refusal = "items before opening";
  if (refusal.empty()) {
    const ULONG added = archive->AddRef();
    const ULONG released = archive->Release();
    if (added < 2 || released != added - 1) refusal = "reference counts off";
  }
  if (refusal.empty()) {
    void* same = nullptr;
    void* none = archive;
    const HRESULT asked = archive->QueryInterface(IInArchive::iid, &same);
    if (same != nullptr) static_cast<IUnknown*>(same)->Release();
    if (asked != S_OK || same != archive) refusal = "QueryInterface gives another object";
    else if (archive->QueryInterface(kNoSuchInterface, &none) != E_NOINTERFACE || none != nullptr)
      refusal = "QueryInterface answers anything";
  }
  const ULONG left = archive->Release();
  if (refusal.empty() && left != 0) refusal = "reference counts off";
  if (!refusal.empty()) return refusal;

  const GUID sevenZip = SevenZipFormat(k7z);
  if (library.createObject(&sevenZip, &IInArchive::iid, reinterpret_cast<void**>(&archive)) != S_OK ||
      archive == nullptr)
    return "no 7z handler";
  archive->Release();
  return {};
}

}  // namespace

std::string SevenZipRefusal(HMODULE module) {
  Exports library{};
  library.createObject = reinterpret_cast<CreateObjectFunc>(GetProcAddress(module, "CreateObject"));
  library.variantClear = reinterpret_cast<VariantClearFunc>(GetProcAddress(module, "VariantClear"));
  if (library.createObject == nullptr) return "no CreateObject";
  if (library.variantClear == nullptr) return "no VariantClear";
  // Newer builds say what they are; older ones (p7zip) do not, and the
  // round trip below is all there is to go by.
  if (auto get = reinterpret_cast<GetModulePropFunc>(GetProcAddress(module, "GetModuleProp"))) {
    std::string refusal = InterfaceRefusal(get, library.variantClear);
    if (!refusal.empty()) return refusal;
  }
  auto count = reinterpret_cast<GetNumberOfFormatsFunc>(GetProcAddress(module, "GetNumberOfFormats"));
  auto property = reinterpret_cast<GetHandlerProperty2Func>(GetProcAddress(module, "GetHandlerProperty2"));
  library.sysFreeString = reinterpret_cast<SysFreeStringFunc>(GetProcAddress(module, "SysFreeString"));
  if (count == nullptr || property == nullptr) return "no list of formats";
  if (library.sysFreeString == nullptr) return "no SysFreeString";
  std::string refusal = HandlerRefusal(count, property, library.variantClear);
  if (!refusal.empty()) return refusal;
  return LayoutRefusal(library);
}
