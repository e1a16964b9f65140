// The program: start-up, the message loop, and the end.
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"

namespace {

// The start path: the first argument as the shell hands it over, at least
// five characters long, made absolute against the current folder.
std::u16string StartPath(int argc, char** argv) {
  if (argc < 2) return {};
  const std::u16string token = Utf8ToUtf16(argv[1]);
  if (token.size() < 5) return {};
  if (token[0] == u'/') return token;
  std::string cwd(4096, '\0');
  if (::getcwd(cwd.data(), cwd.size()) == nullptr) return {};
  cwd.resize(std::char_traits<char>::length(cwd.c_str()));
  return Utf8ToUtf16(cwd) + u"/" + token;
}

void WriteDigitizerReport() {
  const int value = GetSystemMetrics(SM_DIGITIZER);
  std::u16string report = u"  \u5165\u529b\u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\r\n";
  const std::pair<int, const char16_t*> lines[] = {
      {0x01, u"    \u7d71\u5408\u578b\u306e\u30bf\u30c3\u30c1 \u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u304c\u5165\u529b\u306b\u4f7f\u7528\u3055\u308c\u3066\u3044\u307e\u3059\u3002"},
      {0x02, u"    \u5916\u4ed8\u3051\u306e\u30bf\u30c3\u30c1 \u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u304c\u5165\u529b\u306b\u4f7f\u7528\u3055\u308c\u3066\u3044\u307e\u3059\u3002"},
      {0x04, u"    \u7d71\u5408\u578b\u306e\u30da\u30f3 \u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u304c\u5165\u529b\u306b\u4f7f\u7528\u3055\u308c\u3066\u3044\u307e\u3059\u3002"},
      {0x08, u"    \u5916\u4ed8\u3051\u306e\u30da\u30f3 \u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u304c\u5165\u529b\u306b\u4f7f\u7528\u3055\u308c\u3066\u3044\u307e\u3059\u3002"},
      {0x40, u"    \u8907\u6570\u5165\u529b\u304c\u30b5\u30dd\u30fc\u30c8\u3055\u308c\u305f\u5165\u529b\u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u304c\u5165\u529b\u306b\u4f7f\u7528\u3055\u308c\u3066\u3044\u307e\u3059\u3002"},
      {0x80, u"    \u5165\u529b\u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u3067\u5165\u529b\u306e\u6e96\u5099\u304c\u3067\u304d\u3066\u3044\u307e\u3059\u3002"},
  };
  if (value == 0) report += u"    \u5165\u529b\u30c7\u30b8\u30bf\u30a4\u30b6\u30fc\u306b\u30bf\u30c3\u30c1\u6a5f\u80fd\u304c\u3042\u308a\u307e\u305b\u3093\u3002\r\n";
  for (const auto& [bit, line] : lines)
    if (value & bit) report += std::u16string(line) + u"\r\n";
  OutputDebugStringW(report.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::u16string startPath = StartPath(argc, argv);
  InitApplication(argc, argv);
  CoInitialize(nullptr);

  char16_t modulePath[4096] = {};
  GetModuleFileNameW(nullptr, modulePath, 4096);
  std::u16string moduleDir(modulePath);
  const std::size_t slash = moduleDir.rfind(u'/');
  if (slash == std::u16string::npos) {
    ShutdownApplication();
    return 1;
  }
  const std::u16string exeName = moduleDir.substr(slash + 1, 259);
  moduleDir.resize(slash + 1);
  g_moduleDir = moduleDir;
  CreateDirectoryW((g_moduleDir + u"profile").c_str(), nullptr);
  GetScreenDpi(&ScreenDpiX, &ScreenDpiY);

  OutputDebugStringW((std::u16string(kProductTitle) + u"\r\n  ScreenDpiX : " + Decimal(ScreenDpiX) +
                      u"\r\n  ScreenDpiY : " + Decimal(ScreenDpiY) + u"\r\n  Path : " + g_moduleDir + u"\r\n")
                         .c_str());
  WriteDigitizerReport();
  // Kept as the setting the about window's browser reads on its platform.
  SetUserSetting(u"Software/Microsoft/Internet Explorer/Main/FeatureControl/FEATURE_BROWSER_EMULATION",
                 exeName.c_str(), 10000);
  g_pageMode = PageModeSpreadRight;
  g_mono2Color = 1;

  auto window = std::make_unique<CMainWindow>();
  const HWND hwnd = window->Create(kProductTitle, 1024, 768);
  if (hwnd != nullptr) {
    SetWindowIcon(hwnd);
    CenterWindow(hwnd);
    ShowWindow(hwnd, SW_SHOW);
    RegisterTouchWindow(hwnd, 0);
    CloseOnTerminationSignals(hwnd);

    if (!startPath.empty()) {
      const DWORD attributes = GetFileAttributesW(startPath.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
          window->OpenDirectory(startPath.c_str(), nullptr);
        else
          window->OpenFile(startPath.c_str());
      }
    } else {
      ShowAboutAtStart(*window);
    }
    RunMessageLoop();
    UnregisterTouchWindow(hwnd);
  }
  window.reset();
  ShutdownApplication();
  CoUninitialize();
  return 0;
}
