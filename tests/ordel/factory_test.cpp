// The library's exports, loaded with dlopen.
#include <gtest/gtest.h>

#include <regex>

#include "TestSupport.h"
#include "platform/system.h"

namespace {

const test::OrdelLibrary& Library() { return test::OrdelLibrary::Get(); }

// Runs one factory call and returns what it wrote to standard error.
std::string ReportOf(const GUID& iid, void** out, int32_t* status) {
  ::testing::internal::CaptureStderr();
  *status = Library().create(iid, out);
  return ::testing::internal::GetCapturedStderr();
}

TEST(Factory, AboutIsAConstant) { EXPECT_EQ(Library().about(), 0x10000u); }

TEST(Factory, EveryCallWritesOneSystemReport) {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  const std::string expected = "System Infomation\r\n  ProcessorArchitecture x64\r\n  PageSize " +
                               std::to_string(info.dwPageSize) + "B\r\n  Thread " +
                               std::to_string(info.dwNumberOfProcessors) + "\r\n";
#if !defined(__x86_64__)
  GTEST_SKIP() << "the expected architecture line is for x86-64";
#endif
  int32_t status = -1;
  IFileSystem* fs = nullptr;
  EXPECT_EQ(ReportOf(IID_IFileSystem, reinterpret_cast<void**>(&fs), &status), expected);
  ASSERT_EQ(status, 0);
  fs->Release();

  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(ReportOf(IID_IUnknown, &out, &status), expected);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
}

TEST(Factory, AnswersOnlyItsOwnIdentifiers) {
  // The IUnknown identifier, the other file-system interfaces, and one byte
  // away from IFileSystem. (Graphics and audio have tests of their own.)
  GUID nearMiss = IID_IFileSystem;
  nearMiss.Data4[7] ^= 1;
  const GUID refused[] = {IID_IUnknown,
                          IID_IDirectory,
                          IID_IFile,
                          nearMiss};
  for (const GUID& iid : refused) {
    void* out = reinterpret_cast<void*>(0x1);
    int32_t status = -1;
    ReportOf(iid, &out, &status);
    EXPECT_EQ(status, 1) << GuidToString(iid);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
  }
}

TEST(Factory, TheGraphicsEngineComesWithoutAWindow) {
  IUnknown* graphic = nullptr;
  int32_t status = -1;
  ReportOf(MakeGuid("{394F173F-872C-4C70-9091-5600FC602CE2}"), reinterpret_cast<void**>(&graphic), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(graphic->Release(), 0u);  // nothing set up, nothing to tear down
}

TEST(Factory, EachCallMakesANewFileSystemWithOneReference) {
  IFileSystem* a = nullptr;
  IFileSystem* b = nullptr;
  int32_t status = -1;
  ReportOf(IID_IFileSystem, reinterpret_cast<void**>(&a), &status);
  ASSERT_EQ(status, 0);
  ReportOf(IID_IFileSystem, reinterpret_cast<void**>(&b), &status);
  ASSERT_EQ(status, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->AddRef(), 2u);
  EXPECT_EQ(a->Release(), 1u);
  EXPECT_EQ(b->Release(), 0u);
  EXPECT_EQ(a->Release(), 0u);
}

}  // namespace
