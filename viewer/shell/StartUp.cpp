#include "viewer/shell/StartUp.h"

#include <unistd.h>

#include <string>
#include <string_view>

#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/winuser.h"
#include "viewer/catalogue/Url.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"


// The start path: the first argument as the shell hands it over, at least
// five characters long, made absolute against the current folder.
std::u16string StartPath(int argc, char** argv) {
  const int first = argc > 1 && std::string_view(argv[1]) == "--" ? 2 : 1;
  if (argc <= first) return {};
  const std::u16string token = Utf8ToUtf16(argv[first]);
  if (token.size() < 5) return {};
  if (token[0] == u'/') return token;
  std::string cwd(4096, '\0');
  if (::getcwd(cwd.data(), cwd.size()) == nullptr) return {};
  cwd.resize(std::char_traits<char>::length(cwd.c_str()));
  return Utf8ToUtf16(cwd) + u"/" + token;
}

std::u16string StartAddress(int argc, char** argv) {
  const int first = argc > 1 && std::string_view(argv[1]) == "--" ? 2 : 1;
  if (argc <= first) return {};
  const std::u16string token = Utf8ToUtf16(argv[first]);
  return IsWebUrl(token) ? token : std::u16string();
}

void OpenStartPath(CMainWindow& window, const std::u16string& path,
                   std::function<void(const std::u16string& why)> settled) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    window.OpenDirectory(path.c_str(), nullptr);
  else
    window.OpenFile(path.c_str());
  window.WhenSettled([&window, settled = std::move(settled)] { settled(FailureText(window.failure())); });
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

