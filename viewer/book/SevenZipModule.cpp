#include "viewer/book/SevenZipModule.h"

HMODULE g_sevenZipModule = nullptr;
CreateObjectFunc g_createObject = nullptr;

namespace {

VariantClearFunc g_variantClear = nullptr;
SysAllocStringLenFunc g_sysAllocStringLen = nullptr;

}  // namespace

std::vector<std::u16string>& SevenZipSearchPaths() {
  static std::vector<std::u16string> paths = {GetModuleDirectory() + u"7z.so", u"/usr/lib/p7zip/7z.so"};
  return paths;
}

bool BindSevenZip() {
  if (g_sevenZipModule != nullptr) return true;
  for (const std::u16string& path : SevenZipSearchPaths()) {
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) continue;
    auto create = reinterpret_cast<CreateObjectFunc>(GetProcAddress(module, "CreateObject"));
    auto clear = reinterpret_cast<VariantClearFunc>(GetProcAddress(module, "VariantClear"));
    if (create == nullptr || clear == nullptr) {
      FreeLibrary(module);
      continue;
    }
    // Names then come out the same whatever the user's locale: UTF-8 where
    // it decodes, U+EF00 + byte where it does not.
    if (auto* forceUtf8 = static_cast<bool*>(GetProcAddress(module, "g_ForceToUTF8"))) *forceUtf8 = true;
    g_sevenZipModule = module;
    g_createObject = create;
    g_variantClear = clear;
    g_sysAllocStringLen = reinterpret_cast<SysAllocStringLenFunc>(GetProcAddress(module, "SysAllocStringLen"));
    return true;
  }
  return false;
}

SevenZipProperty::~SevenZipProperty() {
  if (g_variantClear != nullptr) g_variantClear(&value);
}

HRESULT AnswerPassword(const std::u16string* password, BSTR* out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (password == nullptr || g_sysAllocStringLen == nullptr) return E_ABORT;
  // The library's units are UTF-16 code units widened to 32 bits.
  std::vector<uint32_t> units(password->begin(), password->end());
  units.push_back(0);
  *out = g_sysAllocStringLen(units.data(), static_cast<uint32_t>(password->size()));
  WipeUnits(units);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}
