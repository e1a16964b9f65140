// The library's exports and its load/unload hooks.
#include <dlfcn.h>

#include <new>
#include <string>

#include "ordel/Audio.h"
#include "ordel/FileSystem.h"
#include "ordel/Graphic.h"
#include "ordel/MediaModule.h"
#include "ordel/Ordel.h"
#include "ordel/fs/DiskFileSystem.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

void WriteSystemReport() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  const char16_t* architecture = u"unknown";
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL) architecture = u"x86";
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) architecture = u"x64";

  std::u16string report = u"System Infomation\r\n";
  report += u"  ProcessorArchitecture ";
  report += architecture;
  report += u"\r\n  PageSize ";
  report += AsciiToUtf16(std::to_string(info.dwPageSize));
  report += u"B\r\n  Thread ";
  report += AsciiToUtf16(std::to_string(info.dwNumberOfProcessors));
  report += u"\r\n";
  OutputDebugStringW(report.c_str());
}

// The media module beside the library, opened at the first request for
// graphics or audio and kept open; none when it cannot be opened.
MediaCreateEntry MediaModule() {
  static const MediaCreateEntry entry = [] {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&OrdelCreateInstance), &self) == 0 || self.dli_fname == nullptr)
      return MediaCreateEntry{nullptr};
    std::string path = self.dli_fname;
    path.resize(path.rfind('/') + 1);  // npos + 1: no folder, found as the library was
    path += kMediaModuleName;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return MediaCreateEntry{nullptr};
    const auto found = reinterpret_cast<MediaCreateEntry>(::dlsym(handle, kMediaModuleEntry));
    if (found == nullptr) ::dlclose(handle);
    return found;
  }();
  return entry;
}

__attribute__((constructor)) void OrdelProcessAttach() { CoInitialize(nullptr); }
__attribute__((destructor)) void OrdelProcessDetach() { CoUninitialize(); }

}  // namespace

ORDEL_EXPORT uint32_t OrdelAbout() { return 0x10000; }

ORDEL_EXPORT int32_t OrdelCreateInstance(const GUID& iid, void** out) {
  WriteSystemReport();
  if (out == nullptr) return 1;

  if (iid == IID_IFileSystem) {
    CFileSystem* fileSystem = new (std::nothrow) CFileSystem;
    if (fileSystem == nullptr) return 1;
    return HandOut(fileSystem, IID_IFileSystem, out) == S_OK ? 0 : 1;
  }
  if (iid == IID_IGraphic || iid == IID_IAudio) {
    const MediaCreateEntry create = MediaModule();
    return create != nullptr ? create(iid, out) : 1;
  }
  return 1;
}
