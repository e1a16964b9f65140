// The platform core: text conversion, identifiers, status codes, the COM
// object base, and the system queries.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/com.h"
#include "platform/objidl.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

TEST(Text, ConvertsValidUtf8BothWays) {
  const std::string utf8 = "a\xc3\xa9\xe6\xb0\xb8\xe9\x81\xa0\xf0\x9f\x93\x96z";  // a é 永遠 📖 z
  const std::u16string utf16 = u"a\u00e9\u6c38\u9060\U0001F4D6z";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

TEST(Text, EveryByteStringRoundTrips) {
  // Bytes that are not well-formed UTF-8 -- stray continuation bytes,
  // truncated sequences, overlong forms, encoded surrogates, values past
  // U+10FFFF -- must survive the trip to UTF-16 and back unchanged.
  const std::vector<std::string> awkward = {
      "\x80", "\xff\xfe", "\xc3", "\xe6\xb0", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
      "\xed\xbf\xbf", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "ok\xc3(x", "\xed\xb2\x80"};
  for (const std::string& bytes : awkward) EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes);

  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes);
  }
}

TEST(Text, UndecodableBytesBecomeLowSurrogates) {
  EXPECT_EQ(Utf8ToUtf16("x\xff"), u"x\xDCFF");
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\xDCED\xDCA0\xDC80");  // an encoded surrogate is not UTF-8
  EXPECT_EQ(Utf8ToUtf16("\xc3"), u"\xDCC3");
  // Surrogates with no byte behind them cannot round-trip and become U+FFFD.
  EXPECT_EQ(Utf16ToUtf8(u"\xD800"), "\xef\xbf\xbd");
  EXPECT_EQ(Utf16ToUtf8(u"\xDC10"), "\xef\xbf\xbd");
}

TEST(Guid, ParsesAndWritesTheRegistryForm) {
  constexpr GUID g = MakeGuid("{fe20d19e-FF64-4B6F-B412-9EF4C5DEE88D}");
  static_assert(g.Data1 == 0xFE20D19E && g.Data2 == 0xFF64 && g.Data3 == 0x4B6F);
  static_assert(g.Data4[0] == 0xB4 && g.Data4[1] == 0x12 && g.Data4[7] == 0x8D);
  EXPECT_EQ(GuidToString(g), "{FE20D19E-FF64-4B6F-B412-9EF4C5DEE88D}");
  EXPECT_EQ(GuidToString(IID_IStream), "{0000000C-0000-0000-C000-000000000046}");
}

TEST(Status, Win32ErrorsBecomeHresults) {
  EXPECT_EQ(HRESULT_FROM_WIN32(0), 0);
  EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(2)), 0x80070002u);
  EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(0x12345)), 0x80072345u);
  EXPECT_EQ(HRESULT_FROM_WIN32(-5), -5);  // already an HRESULT
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

struct IProbe : IUnknown {
  static constexpr GUID iid = MakeGuid("{11111111-2222-3333-4444-555555555555}");
  virtual int Value() = 0;
};

class CProbe final : public CUnknownImpl<IProbe> {
 public:
  explicit CProbe(int* destroyed) : m_destroyed(destroyed) {}
  int Value() override { return 7; }

 private:
  ~CProbe() override { ++*m_destroyed; }
  int* m_destroyed;
};

TEST(ComObject, StartsAtZeroAndIsHandedOutWithOneReference) {
  int destroyed = 0;
  IProbe* probe = nullptr;
  ASSERT_EQ(HandOut(new CProbe(&destroyed), IProbe::iid, reinterpret_cast<void**>(&probe)), S_OK);
  EXPECT_EQ(test::RefCount(probe), 1u);
  void* other = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(probe->QueryInterface(IID_IFileSystem, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(probe->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(probe->Release(), 0u);
  EXPECT_EQ(destroyed, 1);

  // A refused hand-out frees the new object and reports the refusal.
  void* out = nullptr;
  EXPECT_EQ(HandOut(new CProbe(&destroyed), IID_IFileSystem, &out), E_NOINTERFACE);
  EXPECT_EQ(destroyed, 2);
}

TEST(System, FileAttributes) {
  test::TempDir tmp;
  tmp.WriteFile("f", "x");
  EXPECT_EQ(GetFileAttributesW(Utf8ToUtf16(tmp.path()).c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(Utf8ToUtf16(tmp / "f").c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributesW(Utf8ToUtf16(tmp / "missing").c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(CreateDirectoryW(Utf8ToUtf16(tmp / "made").c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(Utf8ToUtf16(tmp / "made").c_str(), nullptr));
  EXPECT_EQ(GetFileAttributesW(Utf8ToUtf16(tmp / "made").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
}

TEST(System, ModuleDirectoryIsTheExecutablesFolder) {
  const std::u16string dir = GetModuleDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), u'/');
  EXPECT_EQ(dir.back(), u'/');
  char16_t path[4096];
  const DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  ASSERT_GT(n, dir.size());
  EXPECT_EQ(std::u16string(path, n).substr(0, dir.size()), dir);
  // A short buffer gets a NUL-terminated prefix.
  char16_t small[5];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 4u);
  EXPECT_EQ(small[4], u'\0');
}

TEST(System, NativeSystemInfo) {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.dwPageSize, static_cast<DWORD>(::sysconf(_SC_PAGESIZE)));
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
#if defined(__x86_64__)
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
#endif
}

// A page buffer made on a page worker's thread faults in a few huge pages
// (where the kernel gives them on request), not once per 4 KiB; once the
// advice is stopped, more again. Counted in fresh processes: new heaps.
TEST(System, APageBufferOnAWorkersHeapFaultsInFewTimes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers keep a heap of their own";
#endif
  std::string modes;
  std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), modes);
  if (modes.empty() || modes.find("[never]") != std::string::npos) GTEST_SKIP() << "no huge pages here";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Exits with 0 under 100 faults, 1 over 900 (938 pages of 4 KiB), else 2.
  const auto bufferFaults = [](bool advised, bool stopped) {
    KeepPageBuffersOnTheHeap();
    rusage before{}, after{};
    std::thread([&] {
      if (advised) AdviseHugePagesForThisThread();
      if (stopped) StopAdvisingHugePages();
      constexpr std::size_t kBytes = 800 * 1200 * 4;  // a page decoded for an 800 x 1200 view
      ::getrusage(RUSAGE_THREAD, &before);
      char* buffer = static_cast<char*>(std::malloc(kBytes));
      std::memset(buffer, 1, kBytes);
      asm volatile("" : : "r"(buffer) : "memory");
      ::getrusage(RUSAGE_THREAD, &after);
      std::free(buffer);
    }).join();
    const long taken = after.ru_minflt - before.ru_minflt;
    std::exit(taken < 100 ? 0 : taken > 900 ? 1 : 2);
  };
  EXPECT_EXIT(bufferFaults(true, false), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(bufferFaults(false, false), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(bufferFaults(true, true), [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, "");
}

TEST(DebugOutput, GoesToStderrAsUtf8OrToASink) {
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"Open Directory\r\n\u6c38\u9060\r\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Open Directory\r\n\xe6\xb0\xb8\xe9\x81\xa0\r\n");

  std::u16string captured;
  SetDebugOutputSink([](const char16_t* text, void* context) { *static_cast<std::u16string*>(context) += text; },
                     &captured);
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"Show Image\r\n");
  OutputDebugStringW(nullptr);
  SetDebugOutputSink(nullptr, nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(captured, u"Show Image\r\n");
}

}  // namespace
