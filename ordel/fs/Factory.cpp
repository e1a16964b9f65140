// The library's exports and its load/unload hooks.
#include <new>
#include <string>

#include "ordel/Ordel.h"
#include "ordel/audio/Audio.h"
#include "ordel/graphics/Graphic.h"
#include "ordel/fs/DiskFileSystem.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr GUID kIidGraphic = MakeGuid("{394F173F-872C-4C70-9091-5600FC602CE2}");
constexpr GUID kIidAudio = MakeGuid("{C1F4598F-B507-43DB-A5FE-E308A395C6B6}");

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
  if (iid == kIidGraphic) return CreateGraphic(out);
  if (iid == kIidAudio) return CreateAudio(0, out);  // 0: the device's own rate
  return 1;
}
