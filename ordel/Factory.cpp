// The library's exports and its load/unload hooks.
#include <new>
#include <string>

#include "ordel/Audio.h"
#include "ordel/FileSystem.h"
#include "ordel/Graphic.h"
#include "ordel/Ordel.h"
#include "ordel/audio/Audio.h"
#include "ordel/fs/DiskFileSystem.h"
#include "ordel/graphics/Graphic.h"
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
  if (iid == IID_IGraphic) return CreateGraphic(out);
  if (iid == IID_IAudio) return CreateAudio(0, out);  // 0: the device's own rate
  return 1;
}
