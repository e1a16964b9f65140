// The secret store's file route (the keychain is never asked here): kept
// for the user alone, refused when others may read it, replaced whole.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "TestSupport.h"
#include "platform/secrets/secret_store.h"
#include "platform/text.h"

using test::TempDir;

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class SecretFileRoute : public ::testing::Test {
 protected:
  std::string Folder() const { return m_dir / "config/velmora"; }
  std::string File() const { return Folder() + "/catalogue-secrets"; }
  TempDir m_dir;
  SecretStore m_store{SecretStoreOptions{SecretRoute::File, Utf8ToUtf16(File())}};
};

TEST_F(SecretFileRoute, KeptForTheUserAlone) {
  EXPECT_EQ(m_store.ReadSecret(u"https://k.example/ bob").status, SecretStatus::NotFound) << "no file yet";
  const std::u16string odd = u"p\u00e4ss\tw\\ord\nline2\r\U0001F511";
  ASSERT_EQ(m_store.WriteSecret(u"https://k.example/ bob", odd).status, SecretStatus::Done);
  ASSERT_EQ(m_store.WriteSecret(u"https://\u66f8\u5eab.example/ \u00e9l\u00e8ve", u"2").status, SecretStatus::Done);
  EXPECT_EQ(ModeOf(File()), 0600u);
  EXPECT_EQ(ModeOf(Folder()), 0700u);
  EXPECT_EQ(ModeOf(m_dir / "config"), 0700u) << "made for the user alone too";
  const SecretResult read = m_store.ReadSecret(u"https://k.example/ bob");
  EXPECT_EQ(read.status, SecretStatus::Done);
  EXPECT_EQ(read.value, odd);
  EXPECT_EQ(m_store.ReadSecret(u"https://\u66f8\u5eab.example/ \u00e9l\u00e8ve").value, u"2");
  EXPECT_EQ(m_store.ReadSecret(u"https://k.example/").status, SecretStatus::NotFound);
  // Replaced whole: no temporary file is left beside it.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Folder())) ++files;
  EXPECT_EQ(files, 1u);

  EXPECT_EQ(m_store.DeleteSecret(u"https://k.example/ bob").status, SecretStatus::Done);
  EXPECT_EQ(m_store.DeleteSecret(u"https://k.example/ bob").status, SecretStatus::NotFound);
  EXPECT_EQ(m_store.ReadSecret(u"https://k.example/ bob").status, SecretStatus::NotFound);
  EXPECT_EQ(m_store.ReadSecret(u"https://\u66f8\u5eab.example/ \u00e9l\u00e8ve").value, u"2") << "the other stays";
  EXPECT_EQ(m_store.DeleteSecret(u"https://\u66f8\u5eab.example/ \u00e9l\u00e8ve").status, SecretStatus::Done);
  EXPECT_FALSE(std::filesystem::exists(File())) << "nothing kept, no file";
  EXPECT_EQ(m_store.Route(), SecretRoute::File);
}

// A file others may read, or a folder others may write, is not used: not
// read, and not written over either (which would drop what it holds).
TEST_F(SecretFileRoute, RefusedWhenOthersMayGetAtIt) {
  ASSERT_EQ(m_store.WriteSecret(u"k", u"v").status, SecretStatus::Done);
  const struct {
    const char* which;
    mode_t file, folder;
  } cases[] = {{"world-readable", 0644, 0700}, {"group-readable", 0640, 0700}, {"folder world-writable", 0600, 0777}};
  for (const auto& c : cases) {
    ::chmod(File().c_str(), c.file);
    ::chmod(Folder().c_str(), c.folder);
    const SecretResult read = m_store.ReadSecret(u"k");
    EXPECT_EQ(read.status, SecretStatus::Failed) << c.which;
    EXPECT_TRUE(read.value.empty()) << c.which;
    EXPECT_FALSE(read.reason.empty()) << c.which;
    EXPECT_EQ(m_store.WriteSecret(u"k2", u"v2").status, SecretStatus::Failed) << c.which;
    EXPECT_EQ(m_store.DeleteSecret(u"k").status, SecretStatus::Failed) << c.which;
  }
  ::chmod(File().c_str(), 0600);
  ::chmod(Folder().c_str(), 0700);
  EXPECT_EQ(m_store.ReadSecret(u"k").value, u"v") << "untouched by the refusals";
  EXPECT_EQ(m_store.ReadSecret(u"k2").status, SecretStatus::NotFound);
}

// A keychain that cannot be asked (here: no application to run its jobs)
// is given up for the file at once, and not asked again.
TEST_F(SecretFileRoute, AKeychainThatFailsGivesWayToTheFile) {
  SecretStore store(SecretStoreOptions{SecretRoute::Keychain, Utf8ToUtf16(File())});
  EXPECT_EQ(store.Route(), SecretRoute::Keychain);
  EXPECT_EQ(store.WriteSecret(u"k", u"v").status, SecretStatus::Done);
  EXPECT_EQ(store.Route(), SecretRoute::File);
  EXPECT_EQ(m_store.ReadSecret(u"k").value, u"v") << "in the file";
}

}  // namespace
