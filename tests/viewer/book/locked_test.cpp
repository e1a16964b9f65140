// Locked archives opened through the opener, the user's answers scripted:
// made by Debian's zip and 7z, one of each kind of encryption, read back
// byte for byte from worker threads.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <future>
#include <optional>

#include "ArchiveBuilders.h"
#include "MemoryFileSystem.h"
#include "TestSupport.h"
#include "viewer/archive/Archive.h"
#include "viewer/book/BookOpener.h"

using test::MemoryDirectory;
using test::MemoryFileSystem;

namespace {

std::string Page(int seed, std::size_t size) {
  std::string bytes = "IMG";
  uint32_t x = static_cast<uint32_t>(seed) * 2654435761u + 1;
  while (bytes.size() < size) bytes.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
  return bytes;
}

// Pages of different sizes, the smallest not first.
const std::vector<std::pair<std::string, std::string>>& Pages() {
  static const std::vector<std::pair<std::string, std::string>> pages = {
      {"1.png", Page(1, 30000)}, {"2.png", Page(2, 900)}, {"sub/3.png", Page(3, 12000)}};
  return pages;
}

struct Kind {
  const char* name;
  const char* command;  // run in a folder holding the pages
} const kKinds[] = {
    {"crypto.zip", "zip -q -P secret crypto.zip 1.png 2.png sub/3.png"},
    {"aes.zip", "7z a -tzip -psecret -mem=AES256 aes.zip 1.png 2.png sub/3.png"},
    {"solid.7z", "7z a -psecret -ms=on solid.7z 1.png 2.png sub/3.png"},
    {"plain.7z", "7z a -psecret -ms=off plain.7z 1.png 2.png sub/3.png"},
    {"list.7z", "7z a -psecret -mhe=on list.7z 1.png 2.png sub/3.png"},
};

std::string Archive(const Kind& kind) {
  static std::map<std::string, std::string> made;
  std::string& bytes = made[kind.name];
  if (bytes.empty()) {
    test::TempDir tmp;
    tmp.MakeFolder("sub");
    for (const auto& [name, page] : Pages()) tmp.WriteFile(name, page);
    const std::string command = "cd '" + tmp.path() + "' && " + kind.command + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(tmp / kind.name, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return bytes;
}

class LockedArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    m_disk.Set(new MemoryDirectory);
    m_fileSystem.Set(new MemoryFileSystem(m_disk.get()));
  }
  static bool NoImage(IDirectory*, const std::u16string&) { return false; }
  // An opener whose user answers from `m_answers` (giving up when they run
  // out); what each question said goes to `m_asked`.
  CBookOpener Books() {
    CBookOpener opener(m_fileSystem.get());
    opener.UsePasswords(&m_kept, [this](const std::u16string& path, bool wrongBefore) {
      m_asked.push_back(wrongBefore && path == m_path);
      std::optional<std::u16string> answer;
      if (!m_answers.empty()) answer = m_answers.front(), m_answers.pop_front();
      return answer;
    });
    return opener;
  }
  BookOpening Open(const Kind& kind, std::deque<std::optional<std::u16string>> answers) {
    m_path = u"/" + std::u16string(kind.name, kind.name + std::strlen(kind.name));
    m_disk->AddFile(m_path, Archive(kind));
    m_answers = std::move(answers);
    m_asked.clear();
    return Books().OpenFile(m_path, NoImage);
  }

  ComRef<MemoryDirectory> m_disk;
  ComRef<MemoryFileSystem> m_fileSystem;
  SessionPasswords m_kept;
  std::u16string m_path;
  std::deque<std::optional<std::u16string>> m_answers;
  std::vector<bool> m_asked;
};

// Every page of `book`, each read on a thread of its own.
void ExpectEveryPageReads(const Book& book) {
  std::vector<std::future<std::string>> reads;
  for (const auto& [name, page] : Pages())
    reads.push_back(std::async(std::launch::async, [&book, name = name] {
      ComRef<IFile> file;
      const std::u16string path = u"/" + std::u16string(name.begin(), name.end());
      if (book.root->OpenFile(&file, path.c_str(), nullptr) != 0) return std::string("<failed>");
      uint64_t size = 0;
      file->GetSize(&size);
      std::string bytes(size, '\0');
      uint32_t got = 0;
      file->Read(bytes.data(), static_cast<uint32_t>(size), &got);
      return bytes.substr(0, got);
    }));
  for (std::size_t i = 0; i < reads.size(); ++i) EXPECT_TRUE(reads[i].get() == Pages()[i].second) << Pages()[i].first;
}

TEST_F(LockedArchives, AskedUntilTheRightPasswordThenNotAgain) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    BookOpening opened = Open(kind, {u"wrong", u"secret"});
    ASSERT_EQ(opened.status, OpenStatus::Opened);
    EXPECT_EQ(m_asked, (std::vector<bool>{false, true})) << "asked again, saying the first was wrong";
    ExpectEveryPageReads(opened.book);
    ASSERT_NE(m_kept.Find(m_path), nullptr);
    EXPECT_EQ(*m_kept.Find(m_path), u"secret");

    opened = Open(kind, {});
    ASSERT_EQ(opened.status, OpenStatus::Opened);
    EXPECT_TRUE(m_asked.empty()) << "the run's password is used";
    ExpectEveryPageReads(opened.book);
  }
}

TEST_F(LockedArchives, GivingUpOpensAsWithoutAsking) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    for (const auto& answers : {std::deque<std::optional<std::u16string>>{std::nullopt},
                                std::deque<std::optional<std::u16string>>{u"wrong", std::nullopt}}) {
      BookOpening opened = Open(kind, answers);
      EXPECT_EQ(m_asked.size(), answers.size());
      const BookOpening before = CBookOpener(m_fileSystem.get()).OpenFile(m_path, NoImage);
      ASSERT_EQ(opened.status, before.status);
      EXPECT_EQ(opened.why, before.why);
      EXPECT_EQ(opened.why, kind.name == std::string("list.7z") ? OpenFailure::NeedsPassword : OpenFailure::None);
      if (opened.status != OpenStatus::Opened) continue;
      for (PageEntry& page : opened.book.pages)
        if (page.state == PageState::Unknown) page.state = PageState::NotImage;
      EXPECT_EQ(Books().DiagnosePages(opened.book), OpenFailure::NeedsPassword);
    }
    EXPECT_EQ(m_kept.size(), 0u);
  }
}

TEST_F(LockedArchives, NotAskedWhereNoPasswordCouldHelp) {
  std::vector<test::Rar5Entry> rar5 = {{"1.png", Page(1, 500)}, {"2.png", Page(2, 500)}};
  rar5[1].encrypted = true;  // libarchive decrypts no RAR
  m_disk->AddFile(u"/locked.rar", test::Rar5Archive(rar5));
  m_disk->AddFile(u"/open.zip", test::ZipArchive({{"1.png", Page(1, 500)}}));
  for (const char16_t* path : {u"/locked.rar", u"/open.zip"}) {
    EXPECT_EQ(Books().OpenFile(path, NoImage).status, OpenStatus::Opened);
    EXPECT_TRUE(m_asked.empty());
  }
}

// A RAR whose list is encrypted needs a password, which nothing here could
// use: it says so, without asking.
TEST_F(LockedArchives, ARarWhoseListIsEncryptedNeedsAPasswordNotAskedFor) {
  m_disk->AddFile(u"/hidden5.rar", test::Rar5Archive({{"1.png", Page(1, 500)}}, false, true));
  // RAR 4 made so by its main header's flag (its CRC mended); what follows
  // would be encrypted.
  std::string four = test::RarArchive({{"1.png", Page(1, 500)}});
  four[10] = static_cast<char>(four[10] | 0x80);
  const uint32_t crc = test::Crc32(four.substr(9, 11));
  four[7] = static_cast<char>(crc), four[8] = static_cast<char>(crc >> 8);
  m_disk->AddFile(u"/hidden4.rar", four);
  for (const char16_t* path : {u"/hidden5.rar", u"/hidden4.rar"}) {
    const BookOpening opened = Books().OpenFile(path, NoImage);
    EXPECT_NE(opened.status, OpenStatus::Opened);
    EXPECT_EQ(opened.why, OpenFailure::NeedsPassword);
    EXPECT_TRUE(m_asked.empty());
  }
  // The plain ones say nothing of passwords: the header is what tells.
  const std::string plain5 = test::Rar5Archive({{"1.png", Page(1, 500)}});
  const std::string plain4 = test::RarArchive({{"1.png", Page(1, 500)}});
  EXPECT_FALSE(IsRarWithEncryptedList(reinterpret_cast<const BYTE*>(plain5.data()), plain5.size()));
  EXPECT_FALSE(IsRarWithEncryptedList(reinterpret_cast<const BYTE*>(plain4.data()), plain4.size()));
}

}  // namespace
