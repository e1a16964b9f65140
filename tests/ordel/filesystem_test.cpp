// The disk file system, driven through libordel.so as a foreign caller
// drives it: objects come from the factory, calls go through the vtables.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "TestSupport.h"
#include "platform/text.h"

using test::Ref;
using test::TempDir;

namespace {

class DiskFileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::OrdelLibrary::Get().create(IID_IFileSystem, reinterpret_cast<void**>(&m_fs)), 0);
  }

  // The scratch folder as a directory.
  void OpenTemp(Ref<IDirectory>& dir) {
    ASSERT_EQ(m_fs->OpenDirectory(&dir, Utf8ToUtf16(m_tmp.path()).c_str()), 0);
  }

  static std::map<std::u16string, FileSystemEntry> List(IDirectory* dir, const char16_t* path) {
    std::map<std::u16string, FileSystemEntry> result;
    Ref<IFileSystemEntries> entries;
    EXPECT_EQ(dir->GetEntries(path, &entries), 0);
    if (!entries) return result;
    uint32_t count = 0;
    EXPECT_EQ(entries->GetCount(&count), 0);
    for (uint32_t i = 0; i < count; ++i) {
      FileSystemEntry entry;
      EXPECT_EQ(entries->GetEntry(i, &entry), 0);
      result[entry.name] = entry;
    }
    EXPECT_EQ(result.size(), count) << "names listed twice";
    return result;
  }

  static std::string ReadAll(IFile* file) {
    std::string data;
    char buffer[7];  // odd size: several reads, the last one short
    for (;;) {
      uint32_t got = 12345;
      EXPECT_EQ(file->Read(buffer, sizeof buffer, &got), 0);
      data.append(buffer, got);
      if (got < sizeof buffer) return data;
    }
  }

  Ref<IFileSystem> m_fs;
  TempDir m_tmp;
};

TEST_F(DiskFileSystem, OpenDirectoryAcceptsOnlyAbsolutePaths) {
  IDirectory* const sentinel = reinterpret_cast<IDirectory*>(0x1);
  for (const char16_t* path : {u"", u"relative/folder", u"./x", u"C:\\Books", u"\\\\server\\share\\"}) {
    IDirectory* dir = sentinel;
    EXPECT_EQ(m_fs->OpenDirectory(&dir, path), 1) << Utf16ToUtf8(path);
    EXPECT_EQ(dir, sentinel);
  }
  // The disk is not consulted: a missing folder opens and fails later.
  Ref<IDirectory> missing;
  ASSERT_EQ(m_fs->OpenDirectory(&missing, u"/no/such/folder/anywhere"), 0);
  IFileSystemEntries* entries = nullptr;
  EXPECT_EQ(missing->GetEntries(u"/", &entries), 1);
  EXPECT_EQ(entries, nullptr);
  IFile* file = nullptr;
  EXPECT_EQ(missing->OpenFile(&file, u"/x", nullptr), 1);
  EXPECT_EQ(file, nullptr);
}

TEST_F(DiskFileSystem, RootFolderListsAndOpens) {
  Ref<IDirectory> root;
  ASSERT_EQ(m_fs->OpenDirectory(&root, u"/"), 0);
  auto entries = List(root.get(), u"/");
  ASSERT_TRUE(entries.count(u"tmp") || entries.count(u"usr"));
  // A path under the root joins with exactly one "/".
  m_tmp.WriteFile("r.txt", "root");
  Ref<IFile> file;
  const std::u16string path = Utf8ToUtf16(m_tmp / "r.txt");
  ASSERT_EQ(root->OpenFile(&file, path.c_str(), nullptr), 0);
  EXPECT_EQ(ReadAll(file.get()), "root");
}

TEST_F(DiskFileSystem, ListsNestedFoldersWithFlagsAndSizes) {
  m_tmp.WriteFile("a.png", std::string(1234, 'a'));
  m_tmp.WriteFile(".hidden", "h");
  m_tmp.WriteFile("back\\slash.jpg", "bs");  // "\" is an ordinary character on disk
  m_tmp.MakeFolder("vol1");
  m_tmp.WriteFile("vol1/p01.png", "12345");
  m_tmp.MakeFolder("vol1/deeper");
  m_tmp.MakeFolder("empty");
  Ref<IDirectory> dir;
  OpenTemp(dir);

  auto root = List(dir.get(), u"/");
  ASSERT_EQ(root.size(), 5u);
  EXPECT_EQ(root[u"a.png"].flags, 0u);
  EXPECT_EQ(root[u"a.png"].size, 1234u);
  EXPECT_EQ(root[u".hidden"].size, 1u);
  EXPECT_EQ(root[u"back\\slash.jpg"].size, 2u);
  EXPECT_EQ(root[u"vol1"].flags, FILE_SYSTEM_ENTRY_FOLDER);
  EXPECT_EQ(root[u"vol1"].size, 0u);

  // Each listed folder lists in turn; the trailing "/" and the leading one
  // are both optional.
  for (const char16_t* path : {u"/vol1/", u"/vol1", u"vol1/", u"vol1"}) {
    auto sub = List(dir.get(), path);
    ASSERT_EQ(sub.size(), 2u) << Utf16ToUtf8(path);
    EXPECT_EQ(sub[u"p01.png"].size, 5u);
    EXPECT_EQ(sub[u"deeper"].flags, FILE_SYSTEM_ENTRY_FOLDER);
  }
  EXPECT_TRUE(List(dir.get(), u"/empty/").empty());

  // A file's path, or a missing folder, is not a folder.
  IFileSystemEntries* sentinel = reinterpret_cast<IFileSystemEntries*>(0x1);
  IFileSystemEntries* entries = sentinel;
  EXPECT_EQ(dir->GetEntries(u"/a.png/", &entries), 1);
  EXPECT_EQ(dir->GetEntries(u"/nothing/", &entries), 1);
  EXPECT_EQ(entries, sentinel);
}

TEST_F(DiskFileSystem, SkipsWhatIsNeitherFolderNorFile) {
  m_tmp.WriteFile("real.png", "123");
  m_tmp.MakeFolder("sub");
  ASSERT_EQ(::mkfifo((m_tmp / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("loop-b", (m_tmp / "loop-a").c_str()), 0);
  ASSERT_EQ(::symlink("loop-a", (m_tmp / "loop-b").c_str()), 0);
  ASSERT_EQ(::symlink("missing-target", (m_tmp / "broken").c_str()), 0);
  ASSERT_EQ(::symlink("real.png", (m_tmp / "link-to-file").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (m_tmp / "link-to-folder").c_str()), 0);
  Ref<IDirectory> dir;
  OpenTemp(dir);

  auto entries = List(dir.get(), u"/");
  std::set<std::u16string> names;
  for (auto& [name, entry] : entries) names.insert(name);
  EXPECT_EQ(names, (std::set<std::u16string>{u"real.png", u"sub", u"link-to-file", u"link-to-folder"}));
  EXPECT_EQ(entries[u"link-to-file"].size, 3u);
  EXPECT_EQ(entries[u"link-to-folder"].flags, FILE_SYSTEM_ENTRY_FOLDER);

  // None of these opens as a file, and the FIFO does not block the open.
  for (const char16_t* path : {u"/pipe", u"/loop-a", u"/broken", u"/sub", u"/link-to-folder", u"/"}) {
    IFile* file = nullptr;
    EXPECT_EQ(dir->OpenFile(&file, path, nullptr), 1) << Utf16ToUtf8(path);
    EXPECT_EQ(file, nullptr);
  }
  Ref<IFile> viaLink;
  ASSERT_EQ(dir->OpenFile(&viaLink, u"/link-to-file", nullptr), 0);
  EXPECT_EQ(ReadAll(viaLink.get()), "123");
}

TEST_F(DiskFileSystem, NamesThatAreNotUtf8OpenAgain) {
  const std::string badFile = "page\xff\xfe.png";
  const std::string badFolder = "vol\xe9";  // Latin-1 e-acute
  m_tmp.WriteFile(badFile, "bytes");
  m_tmp.MakeFolder(badFolder);
  m_tmp.WriteFile(badFolder + "/\xc3\xa9t\xc3\xa9.jpg", "utf8");  // valid UTF-8 inside
  Ref<IDirectory> dir;
  OpenTemp(dir);

  auto root = List(dir.get(), u"/");
  ASSERT_EQ(root.size(), 2u);
  const std::u16string fileName = u"page\xDCFF\xDCFE.png";
  const std::u16string folderName = u"vol\xDCE9";
  ASSERT_TRUE(root.count(fileName));
  ASSERT_TRUE(root.count(folderName));

  Ref<IFile> file;
  ASSERT_EQ(dir->OpenFile(&file, (u"/" + fileName).c_str(), nullptr), 0);
  EXPECT_EQ(ReadAll(file.get()), "bytes");

  auto sub = List(dir.get(), (u"/" + folderName + u"/").c_str());
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(sub.begin()->first, u"\u00e9t\u00e9.jpg");
  Ref<IFile> inner;
  ASSERT_EQ(dir->OpenFile(&inner, (u"/" + folderName + u"/\u00e9t\u00e9.jpg").c_str(), nullptr), 0);
  EXPECT_EQ(ReadAll(inner.get()), "utf8");
}

TEST_F(DiskFileSystem, GetEntryOutOfRangeLeavesRecordAlone) {
  m_tmp.WriteFile("one", "1");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  Ref<IFileSystemEntries> entries;
  ASSERT_EQ(dir->GetEntries(u"/", &entries), 0);
  uint32_t count = 0;
  ASSERT_EQ(entries->GetCount(&count), 0);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(entries->Reserved(), 1);

  FileSystemEntry record;
  std::memset(&record, 0xAB, sizeof record);
  FileSystemEntry before = record;
  EXPECT_EQ(entries->GetEntry(count, &record), 1);
  EXPECT_EQ(entries->GetEntry(0xFFFFFFFFu, &record), 1);
  EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
  EXPECT_EQ(entries->GetEntry(0, &record), 0);
  EXPECT_EQ(std::u16string(record.name), u"one");
}

TEST_F(DiskFileSystem, ListIsASnapshot) {
  m_tmp.WriteFile("first", "1");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  Ref<IFileSystemEntries> entries;
  ASSERT_EQ(dir->GetEntries(u"/", &entries), 0);
  m_tmp.WriteFile("second", "2");
  ::unlink((m_tmp / "first").c_str());
  uint32_t count = 0;
  entries->GetCount(&count);
  ASSERT_EQ(count, 1u);
  FileSystemEntry record;
  ASSERT_EQ(entries->GetEntry(0, &record), 0);
  EXPECT_EQ(std::u16string(record.name), u"first");
}

TEST_F(DiskFileSystem, FolderChangingDuringListingNeverCorruptsTheList) {
  for (int i = 0; i < 300; ++i) m_tmp.WriteFile("stable" + std::to_string(i), "s");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    for (int i = 0; !stop; ++i) {
      const std::string name = m_tmp / ("churn" + std::to_string(i % 50));
      if (i % 2 == 0) {
        if (FILE* f = std::fopen(name.c_str(), "w")) std::fclose(f);
      } else {
        ::unlink(name.c_str());
      }
    }
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  int listings = 0;
  while (std::chrono::steady_clock::now() < until) {
    auto entries = List(dir.get(), u"/");
    int stable = 0;
    for (auto& [name, entry] : entries) {
      ASSERT_FALSE(name.empty());
      ASSERT_TRUE(name.rfind(u"stable", 0) == 0 || name.rfind(u"churn", 0) == 0);
      ASSERT_EQ(entry.flags, 0u);
      stable += name.rfind(u"stable", 0) == 0;
    }
    ASSERT_EQ(stable, 300);
    ++listings;
  }
  stop = true;
  churn.join();
  EXPECT_GT(listings, 0);
}

TEST_F(DiskFileSystem, OpenFileWithOrWithoutLeadingSlash) {
  m_tmp.WriteFile("res.pack", "pack");
  m_tmp.MakeFolder("f");
  m_tmp.WriteFile("f/x.bin", "x");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  for (const char16_t* path : {u"/res.pack", u"res.pack"}) {
    Ref<IFile> file;
    ASSERT_EQ(dir->OpenFile(&file, path, nullptr), 0);
    EXPECT_EQ(ReadAll(file.get()), "pack");
  }
  Ref<IFile> nested;
  ASSERT_EQ(dir->OpenFile(&nested, u"f/x.bin", nullptr), 0);
  IFile* const sentinel = reinterpret_cast<IFile*>(0x1);
  IFile* file = sentinel;
  EXPECT_EQ(dir->OpenFile(&file, u"/missing.png", nullptr), 1);
  EXPECT_EQ(file, sentinel);
}

TEST_F(DiskFileSystem, ReadSeekAndSize) {
  m_tmp.WriteFile("ten", "0123456789");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  Ref<IFile> file;
  ASSERT_EQ(dir->OpenFile(&file, u"/ten", nullptr), 0);
  EXPECT_EQ(file->Reserved(), 1);

  uint64_t size = 0;
  ASSERT_EQ(file->GetSize(&size), 0);
  EXPECT_EQ(size, 10u);

  char buffer[16] = {};
  uint32_t got = 0;
  ASSERT_EQ(file->Read(buffer, 4, &got), 0);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");

  uint64_t position = 99;
  ASSERT_EQ(file->Seek(0, 1, &position), 0);  // from the current position: no move
  EXPECT_EQ(position, 4u);
  ASSERT_EQ(file->Seek(2, 1, &position), 0);
  EXPECT_EQ(position, 6u);
  ASSERT_EQ(file->Seek(-3, 2, &position), 0);
  EXPECT_EQ(position, 7u);
  ASSERT_EQ(file->Seek(0, 2, &position), 0);
  EXPECT_EQ(position, 10u);
  ASSERT_EQ(file->Seek(-1, 77, &position), 0);  // any other origin counts from the end
  EXPECT_EQ(position, 9u);
  ASSERT_EQ(file->Seek(8, 0, nullptr), 0);

  // A short read at the end is success; at the end, 0 bytes.
  ASSERT_EQ(file->Read(buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  got = 77;
  ASSERT_EQ(file->Read(buffer, sizeof buffer, &got), 0);
  EXPECT_EQ(got, 0u);

  // Without a place for the count the read still happens.
  ASSERT_EQ(file->Seek(5, 0, nullptr), 0);
  ASSERT_EQ(file->Read(buffer, 1, nullptr), 0);
  EXPECT_EQ(buffer[0], '5');
  ASSERT_EQ(file->Seek(0, 1, &position), 0);
  EXPECT_EQ(position, 6u);

  // Before the start is a system error: negative, and the position stays.
  position = 1234;
  const int32_t status = file->Seek(-100, 0, &position);
  EXPECT_LT(status, 0);
  EXPECT_EQ(static_cast<uint32_t>(status) & 0xFFFF0000u, 0x80070000u);
  EXPECT_EQ(position, 1234u);
  ASSERT_EQ(file->Seek(0, 1, &position), 0);
  EXPECT_EQ(position, 6u);
}

TEST_F(DiskFileSystem, SizesAbove4GiBComeThroughWhole) {
  constexpr uint64_t kSize = (5ull << 30) + 17;
  constexpr uint64_t kMarkAt = (4ull << 30) + 3;
  m_tmp.WriteFile("big.bin", "");
  ASSERT_EQ(::truncate((m_tmp / "big.bin").c_str(), static_cast<off_t>(kSize)), 0);
  {
    FILE* f = std::fopen((m_tmp / "big.bin").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::fseeko(f, static_cast<off_t>(kMarkAt), SEEK_SET), 0);
    std::fputs("mark", f);
    std::fclose(f);
  }
  Ref<IDirectory> dir;
  OpenTemp(dir);
  EXPECT_EQ(List(dir.get(), u"/")[u"big.bin"].size, kSize);

  Ref<IFile> file;
  ASSERT_EQ(dir->OpenFile(&file, u"/big.bin", nullptr), 0);
  uint64_t size = 0;
  ASSERT_EQ(file->GetSize(&size), 0);
  EXPECT_EQ(size, kSize);
  uint64_t position = 0;
  ASSERT_EQ(file->Seek(static_cast<int64_t>(kMarkAt), 0, &position), 0);
  EXPECT_EQ(position, kMarkAt);
  char buffer[4];
  uint32_t got = 0;
  ASSERT_EQ(file->Read(buffer, 4, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "mark");
  ASSERT_EQ(file->Seek(0, 2, &position), 0);
  EXPECT_EQ(position, kSize);
}

TEST_F(DiskFileSystem, EachObjectAnswersUnknownAndItsOwnInterfaceOnly) {
  m_tmp.WriteFile("f", "x");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  Ref<IFileSystemEntries> entries;
  ASSERT_EQ(dir->GetEntries(u"/", &entries), 0);
  Ref<IFile> file;
  ASSERT_EQ(dir->OpenFile(&file, u"/f", nullptr), 0);

  struct Case {
    IUnknown* object;
    const GUID* own;
  };
  const GUID* all[] = {&IID_IFileSystem, &IID_IDirectory, &IID_IFileSystemEntries, &IID_IFile};
  for (Case c : {Case{m_fs.get(), &IID_IFileSystem}, Case{dir.get(), &IID_IDirectory},
                 Case{entries.get(), &IID_IFileSystemEntries}, Case{file.get(), &IID_IFile}}) {
    EXPECT_EQ(test::RefCount(c.object), 1u);
    void* viaUnknown = nullptr;
    void* viaOwn = nullptr;
    ASSERT_EQ(c.object->QueryInterface(IID_IUnknown, &viaUnknown), S_OK);
    ASSERT_EQ(c.object->QueryInterface(*c.own, &viaOwn), S_OK);
    EXPECT_EQ(viaUnknown, viaOwn);
    EXPECT_EQ(viaOwn, static_cast<void*>(c.object));
    EXPECT_EQ(test::RefCount(c.object), 3u);
    c.object->Release();
    c.object->Release();
    for (const GUID* other : all) {
      if (other == c.own) continue;
      void* out = reinterpret_cast<void*>(0x1);
      EXPECT_EQ(c.object->QueryInterface(*other, &out), E_NOINTERFACE);
      EXPECT_EQ(out, nullptr);
    }
  }
}

TEST_F(DiskFileSystem, HandedOutObjectsOutliveTheDirectory) {
  m_tmp.WriteFile("keep", "kept");
  Ref<IDirectory> dir;
  OpenTemp(dir);
  Ref<IFile> file;
  Ref<IFileSystemEntries> entries;
  ASSERT_EQ(dir->OpenFile(&file, u"/keep", nullptr), 0);
  ASSERT_EQ(dir->GetEntries(u"/", &entries), 0);
  dir.Reset();
  EXPECT_EQ(ReadAll(file.get()), "kept");
  FileSystemEntry record;
  EXPECT_EQ(entries->GetEntry(0, &record), 0);
}

// A directory from "another module": records what reaches it.
class RecordingDirectory final : public IDirectory {
 public:
  explicit RecordingDirectory(int32_t result) : m_result(result) {}
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }
  int32_t OpenFile(IFile**, const char16_t* path, void* reserved) override {
    ++calls;
    lastPath = path;
    lastReserved = reserved;
    return m_result;
  }
  int32_t Mount(const char16_t*, IDirectory*) override { return 1; }
  int32_t GetEntries(const char16_t*, IFileSystemEntries**) override {
    ++calls;
    return 1;
  }

  int refs = 1;  // the test's own
  int calls = 0;
  std::u16string lastPath;
  void* lastReserved = nullptr;

 private:
  int32_t m_result;
};

TEST_F(DiskFileSystem, FirstMatchingMountWinsAndGetsTheRestOfThePath) {
  m_tmp.WriteFile("plain", "disk");
  RecordingDirectory shorter(7), longer(8);
  {
    Ref<IDirectory> dir;
    OpenTemp(dir);
    ASSERT_EQ(dir->Mount(u"/res", &shorter), 0);
    ASSERT_EQ(dir->Mount(u"/res/sub", &longer), 0);
    EXPECT_EQ(shorter.refs, 2);

    IFile* file = nullptr;
    void* const reserved = reinterpret_cast<void*>(0x5EED);
    EXPECT_EQ(dir->OpenFile(&file, u"/res/sub/page.png", reserved), 7);  // result passed back as is
    EXPECT_EQ(shorter.lastPath, u"/sub/page.png");
    EXPECT_EQ(shorter.lastReserved, reserved);
    EXPECT_EQ(longer.calls, 0);

    // Prefixes compare by code unit, with no regard to path components.
    EXPECT_EQ(dir->OpenFile(&file, u"/resources", nullptr), 7);
    EXPECT_EQ(shorter.lastPath, u"ources");
    Ref<IFile> fromDisk;
    EXPECT_EQ(dir->OpenFile(&fromDisk, u"/RES/plain", nullptr), 1);
    EXPECT_EQ(dir->OpenFile(&fromDisk, u"/plain", nullptr), 0);

    // Listing ignores the mounts.
    EXPECT_EQ(List(dir.get(), u"/").size(), 1u);
    EXPECT_EQ(shorter.calls + longer.calls, 2);
  }
  // Releasing the directory releases each mount once.
  EXPECT_EQ(shorter.refs, 1);
  EXPECT_EQ(longer.refs, 1);
}

TEST_F(DiskFileSystem, RemountingAPrefixKeepsItsPlace) {
  RecordingDirectory first(11), catchAll(12), replacement(13);
  Ref<IDirectory> dir;
  OpenTemp(dir);
  ASSERT_EQ(dir->Mount(u"/x", &first), 0);
  ASSERT_EQ(dir->Mount(u"/", &catchAll), 0);
  ASSERT_EQ(dir->Mount(u"/x", &replacement), 0);
  EXPECT_EQ(first.refs, 1);  // the old directory was released
  EXPECT_EQ(replacement.refs, 2);

  IFile* file = nullptr;
  EXPECT_EQ(dir->OpenFile(&file, u"/x/f", nullptr), 13);  // still ahead of "/"
  EXPECT_EQ(replacement.lastPath, u"/f");
  EXPECT_EQ(dir->OpenFile(&file, u"/y", nullptr), 12);

  // A record without a directory is refused rather than stored.
  EXPECT_EQ(dir->Mount(u"/null", nullptr), 1);
  EXPECT_EQ(dir->OpenFile(&file, u"/null/f", nullptr), 12);
  dir.Reset();
  EXPECT_EQ(replacement.refs, 1);
  EXPECT_EQ(catchAll.refs, 1);
}

TEST_F(DiskFileSystem, DiskDirectoryMountsInsideAnother) {
  TempDir other;
  other.WriteFile("inner.txt", "inner");
  Ref<IDirectory> dir, mounted;
  OpenTemp(dir);
  ASSERT_EQ(m_fs->OpenDirectory(&mounted, Utf8ToUtf16(other.path()).c_str()), 0);
  ASSERT_EQ(dir->Mount(u"/other/", mounted.get()), 0);
  mounted.Reset();  // the mount table keeps it alive
  Ref<IFile> file;
  ASSERT_EQ(dir->OpenFile(&file, u"/other/inner.txt", nullptr), 0);
  EXPECT_EQ(ReadAll(file.get()), "inner");
}

// The slots are called by number, as a program that knows only the table of
// slots would call them, not through this project's declarations.
TEST_F(DiskFileSystem, SlotsAreWhereForeignCallersLookForThem) {
  m_tmp.WriteFile("slot.txt", "abc");
  auto slot = [](void* object, int index) { return (*static_cast<void***>(object))[index]; };
  using OpenDirectoryFn = int32_t (*)(void*, void**, const char16_t*);
  using OpenFileFn = int32_t (*)(void*, void**, const char16_t*, void*);
  using GetEntriesFn = int32_t (*)(void*, const char16_t*, void**);
  using GetCountFn = int32_t (*)(void*, uint32_t*);
  using ReadFn = int32_t (*)(void*, void*, uint32_t, uint32_t*);
  using GetSizeFn = int32_t (*)(void*, uint64_t*);
  using ReleaseFn = ULONG (*)(void*);

  void* dir = nullptr;
  const std::u16string path = Utf8ToUtf16(m_tmp.path());
  ASSERT_EQ(reinterpret_cast<OpenDirectoryFn>(slot(m_fs.get(), 3))(m_fs.get(), &dir, path.c_str()), 0);
  void* list = nullptr;
  ASSERT_EQ(reinterpret_cast<GetEntriesFn>(slot(dir, 5))(dir, u"/", &list), 0);
  uint32_t count = 0;
  ASSERT_EQ(reinterpret_cast<GetCountFn>(slot(list, 4))(list, &count), 0);
  EXPECT_EQ(count, 1u);
  void* file = nullptr;
  ASSERT_EQ(reinterpret_cast<OpenFileFn>(slot(dir, 3))(dir, &file, u"/slot.txt", nullptr), 0);
  uint64_t size = 0;
  ASSERT_EQ(reinterpret_cast<GetSizeFn>(slot(file, 6))(file, &size), 0);
  EXPECT_EQ(size, 3u);
  char buffer[3];
  uint32_t got = 0;
  ASSERT_EQ(reinterpret_cast<ReadFn>(slot(file, 3))(file, buffer, 3, &got), 0);
  EXPECT_EQ(std::string(buffer, got), "abc");
  for (void* object : {file, list, dir}) EXPECT_EQ(reinterpret_cast<ReleaseFn>(slot(object, 2))(object), 0u);
}

}  // namespace
