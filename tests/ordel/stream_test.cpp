// The IStream over an IFile, over disk files from the library and over a
// file that counts what reaches it.
#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "common/Stream.h"
#include "platform/text.h"

using test::Ref;

namespace {

// An IFile whose answers a test sets, counting references and calls.
class ScriptedFile final : public IFile {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override {
    ++releases;
    return static_cast<ULONG>(--refs);
  }
  int32_t Read(void*, uint32_t, uint32_t* got) override {
    if (got != nullptr) *got = readCount;
    return readStatus;
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t, uint32_t, uint64_t*) override {
    ++seeks;
    return seekStatus;
  }
  int32_t GetSize(uint64_t* size) override {
    if (sizeStatus == 0) *size = 42;
    return sizeStatus;
  }

  int refs = 1;
  int releases = 0;
  int seeks = 0;
  uint32_t readCount = 0;
  int32_t readStatus = 0;
  int32_t seekStatus = 0;
  int32_t sizeStatus = 0;
};

LARGE_INTEGER Distance(int64_t d) {
  LARGE_INTEGER li;
  li.QuadPart = d;
  return li;
}

class StreamOverDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    m_tmp.WriteFile("page.bin", std::string(1234, 'p'));
    Ref<IFileSystem> fs;
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&fs)), 0);
    Ref<IDirectory> dir;
    ASSERT_EQ(fs->OpenDirectory(&dir, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
    Ref<IFile> file;
    ASSERT_EQ(dir->OpenFile(&file, u"/page.bin", nullptr), 0);
    ASSERT_EQ(CreateFileStream(file.get(), &m_stream), 0);
  }

  test::TempDir m_tmp;
  Ref<IStream> m_stream;
};

TEST_F(StreamOverDisk, ReadsToTheEndWithSOk) {
  std::string data(2000, '\0');
  ULONG got = 0;
  ASSERT_EQ(m_stream->Read(data.data(), 2000, &got), S_OK);
  EXPECT_EQ(got, 1234u);
  EXPECT_EQ(data.substr(0, 1234), std::string(1234, 'p'));
  got = 99;
  EXPECT_EQ(m_stream->Read(data.data(), 10, &got), S_OK);
  EXPECT_EQ(got, 0u);
}

TEST_F(StreamOverDisk, SeeksFromEachOrigin) {
  ULARGE_INTEGER position;
  ASSERT_EQ(m_stream->Seek(Distance(0), STREAM_SEEK_END, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 1234u);
  ASSERT_EQ(m_stream->Seek(Distance(100), STREAM_SEEK_SET, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 100u);
  ASSERT_EQ(m_stream->Seek(Distance(-50), STREAM_SEEK_CUR, nullptr), S_OK);

  // An unknown origin changes nothing; a seek before the start fails.
  EXPECT_EQ(m_stream->Seek(Distance(0), 3, &position), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(m_stream->Seek(Distance(-5000), STREAM_SEEK_CUR, &position), STG_E_INVALIDFUNCTION);
  ASSERT_EQ(m_stream->Seek(Distance(0), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 50u);

  // A read without a place for the count still moves the position.
  char c;
  ASSERT_EQ(m_stream->Read(&c, 1, nullptr), S_OK);
  ASSERT_EQ(m_stream->Seek(Distance(0), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 51u);
}

TEST_F(StreamOverDisk, StatFillsSizeAndTypeOnly) {
  STATSTG record;
  std::memset(&record, 0xCD, sizeof record);
  ASSERT_EQ(m_stream->Stat(&record, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(record.pwcsName, nullptr);
  EXPECT_EQ(record.type, STGTY_STREAM);
  EXPECT_EQ(record.cbSize.QuadPart, 1234u);
  STATSTG expected{};
  expected.type = STGTY_STREAM;
  expected.cbSize.QuadPart = 1234;
  EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0) << "a member other than size and type is set";
}

TEST_F(StreamOverDisk, AnswersUnknownAndIStreamOnly) {
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(m_stream->QueryInterface(IID_ISequentialStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  void* unknown = nullptr;
  ASSERT_EQ(m_stream->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, m_stream.get());
  static_cast<IUnknown*>(unknown)->Release();

  ULARGE_INTEGER zero{};
  IStream* clone = nullptr;
  EXPECT_EQ(m_stream->Write("x", 1, nullptr), E_NOTIMPL);
  EXPECT_EQ(m_stream->SetSize(zero), E_NOTIMPL);
  EXPECT_EQ(m_stream->CopyTo(nullptr, zero, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(m_stream->Commit(0), E_NOTIMPL);
  EXPECT_EQ(m_stream->Revert(), E_NOTIMPL);
  EXPECT_EQ(m_stream->LockRegion(zero, zero, 0), E_NOTIMPL);
  EXPECT_EQ(m_stream->UnlockRegion(zero, zero, 0), E_NOTIMPL);
  EXPECT_EQ(m_stream->Clone(&clone), E_NOTIMPL);
  EXPECT_EQ(clone, nullptr);
}

TEST(Stream, HoldsOneReferenceAndReleasesItOnce) {
  ScriptedFile file;
  IStream* stream = nullptr;
  ASSERT_EQ(CreateFileStream(&file, &stream), 0);
  EXPECT_EQ(file.refs, 2);
  EXPECT_EQ(stream->AddRef(), 2u);
  EXPECT_EQ(stream->Release(), 1u);
  EXPECT_EQ(file.releases, 0);
  EXPECT_EQ(stream->Release(), 0u);
  EXPECT_EQ(file.releases, 1);
  EXPECT_EQ(file.refs, 1);

  IStream* untouched = reinterpret_cast<IStream*>(0x1);
  EXPECT_EQ(CreateFileStream(nullptr, &untouched), 1);
  EXPECT_EQ(untouched, reinterpret_cast<IStream*>(0x1));
}

TEST(Stream, FileFailuresBecomeStreamAnswers) {
  ScriptedFile file;
  Ref<IStream> stream;
  ASSERT_EQ(CreateFileStream(&file, &stream), 0);

  // A failing read still reports S_OK with the count the file gave.
  file.readStatus = static_cast<int32_t>(0x80070005u);
  file.readCount = 3;
  char buffer[8];
  ULONG got = 0;
  EXPECT_EQ(stream->Read(buffer, 8, &got), S_OK);
  EXPECT_EQ(got, 3u);

  file.seekStatus = 1;
  EXPECT_EQ(stream->Seek(Distance(0), STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(Distance(0), 4, nullptr), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(file.seeks, 1) << "an unknown origin must not reach the file";

  file.sizeStatus = static_cast<int32_t>(0x80070005u);
  STATSTG record;
  std::memset(&record, 0xCD, sizeof record);
  ASSERT_EQ(stream->Stat(&record, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(record.cbSize.QuadPart, 0u);
  EXPECT_EQ(stream->Stat(nullptr, 0), STG_E_INVALIDPOINTER);
}

}  // namespace
