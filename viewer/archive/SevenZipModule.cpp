#include "viewer/archive/SevenZipModule.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/archive/SevenZipCheck.h"

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

SevenZipAvailability FindSevenZip(bool sayRefusal) {
  // Opened archives may be on several threads at once: one search at a time.
  static std::mutex searching;
  // Libraries refused in this run, by path: a library that answered wrongly
  // once is not asked again (each try may cost a leaked handler), and is
  // reported once.
  static std::vector<std::u16string> refused;
  const std::lock_guard<std::mutex> hold(searching);
  if (g_sevenZipModule != nullptr) return SevenZipAvailability::Bound;
  bool anyRefused = false;
  for (const std::u16string& path : SevenZipSearchPaths()) {
    if (std::find(refused.begin(), refused.end(), path) != refused.end()) {
      anyRefused = true;
      continue;
    }
    std::string refusal;
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
      if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;  // not there
      refusal = "does not load";
    } else {
      refusal = SevenZipRefusal(module);
    }
    if (!refusal.empty()) {
      if (module != nullptr) FreeLibrary(module);
      anyRefused = true;
      if (!sayRefusal) continue;
      refused.push_back(path);
      OutputDebugStringW((u"7-Zip Library Refused : " + path + u" : " + AsciiToUtf16(refusal) + u"\r\n").c_str());
      continue;
    }
    // Names then come out the same whatever the user's locale: UTF-8 where
    // it decodes, U+EF00 + byte where it does not.
    if (auto* forceUtf8 = static_cast<bool*>(GetProcAddress(module, "g_ForceToUTF8"))) *forceUtf8 = true;
    g_variantClear = reinterpret_cast<VariantClearFunc>(GetProcAddress(module, "VariantClear"));
    g_sysAllocStringLen = reinterpret_cast<SysAllocStringLenFunc>(GetProcAddress(module, "SysAllocStringLen"));
    g_createObject = reinterpret_cast<CreateObjectFunc>(GetProcAddress(module, "CreateObject"));
    g_sevenZipModule = module;
    return SevenZipAvailability::Bound;
  }
  return anyRefused ? SevenZipAvailability::Refused : SevenZipAvailability::Missing;
}

bool BindSevenZip() { return FindSevenZip() == SevenZipAvailability::Bound; }

void PreloadSevenZip() {
  // The handle stays loaded for the process, as the one FindSevenZip keeps.
  std::thread([paths = SevenZipSearchPaths()] {
    for (const std::u16string& path : paths)
      if (LoadLibraryW(path.c_str()) != nullptr) return;
  }).detach();
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
