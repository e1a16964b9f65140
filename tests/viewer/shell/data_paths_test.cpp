// Where the program finds its data and keeps the profile: beside itself in
// the build tree and a portable copy, in the installed layout's data folder
// and the user's config folder otherwise, and one debug line when the
// profile can be written nowhere.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "TestSupport.h"
#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/shell/DataPaths.h"
#include "viewer/shell/Profile.h"
#include "viewer/shell/Settings.h"

using test::TempDir;

namespace {

std::u16string U(const std::string& s) { return Utf8ToUtf16(s); }

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Runs `check` as a user without the right to write where root could: in a
// child as "nobody" when the tests run as root, else right here.
bool AsOrdinaryUser(const std::function<bool()>& check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
    ::_exit(dropped && check() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class DataPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(m_tmp.path().c_str(), 0755);  // reachable by the ordinary user as well
    SetDebugOutputSink([](const char16_t* t, void* c) { *static_cast<std::u16string*>(c) += t; }, &m_debug);
  }
  void TearDown() override {
    SetDebugOutputSink(nullptr, nullptr);
    ::chmod((m_tmp / "usr/bin").c_str(), 0755);
  }
  // An installed tree: usr/bin/ and, with `data`, usr/share/velmora/res.pack.
  std::u16string Installed(bool data = true) {
    std::filesystem::create_directories(m_tmp / "usr/bin");
    std::filesystem::create_directories(m_tmp / "usr/share/velmora");
    if (data) m_tmp.WriteFile("usr/share/velmora/res.pack", "pack");
    return U(m_tmp / "usr/bin/");
  }
  // A portable copy: usr/bin/ holds res.pack itself.
  std::u16string Portable() {
    Installed(false);
    m_tmp.WriteFile("usr/bin/res.pack", "pack");
    return U(m_tmp / "usr/bin/");
  }
  UserFolders User() const { return UserFolders{U(m_tmp / "config"), U(m_tmp / "home")}; }

  TempDir m_tmp;
  std::u16string m_debug;
};

TEST_F(DataPaths, DataBesideTheProgramFirstThenTheInstalledFolder) {
  EXPECT_EQ(std::u16string(kInstalledDataFolder), u"../share/velmora/");
  const std::u16string bin = Installed();
  EXPECT_EQ(DataFolder(bin, u"res.pack"), U(m_tmp / "usr/share/velmora/"));
  m_tmp.WriteFile("usr/bin/res.pack", "pack");
  EXPECT_EQ(DataFolder(bin, u"res.pack"), bin);
  // Found nowhere: the program's folder, where the failure then shows.
  EXPECT_EQ(DataFolder(bin, u"other.dat"), bin);
  // A folder of that name is no data file.
  std::filesystem::create_directories(m_tmp / "usr/share/velmora/dir.dat");
  EXPECT_EQ(DataFolder(bin, u"dir.dat"), bin);
}

TEST_F(DataPaths, APortableCopyKeepsItsProfileBesideItself) {
  const std::u16string bin = Portable();
  const ProfileLocation at = LocateProfile(bin, User());
  EXPECT_EQ(at.place, ProfilePlace::ProgramFolder);
  EXPECT_EQ(at.path, bin + u"profile/velmora.ini");
  // Located only: nothing made yet.
  EXPECT_FALSE(Exists(m_tmp / "usr/bin/profile"));
  EXPECT_EQ(PrepareProfileFolder(bin, User()).path, at.path);
  EXPECT_TRUE(std::filesystem::is_directory(m_tmp / "usr/bin/profile"));
  EXPECT_FALSE(Exists(m_tmp / "config"));
  EXPECT_EQ(m_debug, u"");
}

TEST_F(DataPaths, AnInstalledProgramKeepsItsProfileInTheUsersConfigFolder) {
  // Its folder may be writable (a DESTDIR, a root user): it still gets no
  // profile folder.
  const std::u16string bin = Installed();
  const ProfileLocation at = PrepareProfileFolder(bin, User());
  EXPECT_EQ(at.place, ProfilePlace::UserConfig);
  EXPECT_EQ(at.path, U(m_tmp / "config/velmora/velmora.ini"));
  EXPECT_FALSE(Exists(m_tmp / "usr/bin/profile"));
  struct stat st;
  ASSERT_EQ(::stat((m_tmp / "config/velmora").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(m_debug, u"");

  // The profile itself lands there, in its usual form.
  g_moduleDir = bin;
  ::setenv("XDG_CONFIG_HOME", (m_tmp / "config").c_str(), 1);
  CProfile profile;
  profile.settings.pageMode = PageMode::SpreadLeft;
  profile.Save();
  ::unsetenv("XDG_CONFIG_HOME");
  std::ifstream in(m_tmp / "config/velmora/velmora.ini", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.substr(0, 8), std::string("\xFF\xFE" "c\0.\0p\0", 8));
}

// A save killed before its rename leaves a temporary file: the next start
// removes it once it is older than a save takes, and nothing else.
TEST_F(DataPaths, SavesKilledHalfWayLeaveNothingBehind) {
  m_tmp.MakeFolder("config");
  m_tmp.MakeFolder("config/velmora");
  const std::string folder = m_tmp / "config/velmora";
  const std::pair<const char*, bool> files[] = {{"velmora.ini.Ab12Yz", true},  // old: removed
                                                {"velmora.ini.unreadable", false},  // any other name stays
                                                {"velmora.ini.x-1234", false},
                                                {"other.ini.Ab12Yz", false}};
  for (const auto& [name, stale] : files) {
    m_tmp.WriteFile("config/velmora/" + std::string(name), "x");
    const struct timeval old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    ASSERT_EQ(::utimes((folder + "/" + name).c_str(), old), 0);
  }
  m_tmp.WriteFile("config/velmora/velmora.ini.Young1", "a save under way");
  PrepareProfileFolder(Installed(), User());
  for (const auto& [name, stale] : files) EXPECT_EQ(Exists(folder + "/" + name), !stale) << name;
  EXPECT_TRUE(Exists(folder + "/velmora.ini.Young1"));
}

TEST_F(DataPaths, AProfileAlreadyBesideTheProgramStaysThere) {
  const std::u16string bin = Installed();
  std::filesystem::create_directories(m_tmp / "usr/bin/profile");
  EXPECT_EQ(LocateProfile(bin, User()).place, ProfilePlace::ProgramFolder);
  // A file is kept to even where its folder cannot be written to.
  m_tmp.WriteFile("usr/bin/profile/velmora.ini", "");
  ::chmod((m_tmp / "usr/bin/profile").c_str(), 0555);
  EXPECT_TRUE(AsOrdinaryUser([&] { return LocateProfile(bin, User()).place == ProfilePlace::ProgramFolder; }));
  ::chmod((m_tmp / "usr/bin/profile").c_str(), 0755);
}

TEST_F(DataPaths, AReadOnlyProgramFolderSendsTheProfileToTheConfigFolder) {
  const std::u16string bin = Portable();
  ::chmod((m_tmp / "usr/bin").c_str(), 0555);
  const std::u16string expected = U(m_tmp / "config/velmora/velmora.ini");
  EXPECT_TRUE(AsOrdinaryUser([&] {
    const ProfileLocation at = LocateProfile(bin, User());
    return at.place == ProfilePlace::UserConfig && at.path == expected;
  }));
  // So does a profile folder that is there but cannot be written to.
  ::chmod((m_tmp / "usr/bin").c_str(), 0755);
  std::filesystem::create_directories(m_tmp / "usr/bin/profile");
  ::chmod((m_tmp / "usr/bin/profile").c_str(), 0555);
  EXPECT_TRUE(AsOrdinaryUser([&] { return LocateProfile(bin, User()).place == ProfilePlace::UserConfig; }));
  ::chmod((m_tmp / "usr/bin/profile").c_str(), 0755);
}

TEST_F(DataPaths, TheConfigFolderFollowsTheBaseDirectoryRules) {
  const std::u16string bin = Installed();
  const std::u16string home = U(m_tmp / "home");
  struct Case {
    const char* what;
    UserFolders user;
    ProfilePlace place;
    std::u16string path;
  } cases[] = {
      {"XDG_CONFIG_HOME", {U(m_tmp / "x"), home}, ProfilePlace::UserConfig, U(m_tmp / "x/velmora/velmora.ini")},
      {"unset: ~/.config", {u"", home}, ProfilePlace::UserConfig, home + u"/.config/velmora/velmora.ini"},
      {"relative: ignored", {u"rel/dir", home}, ProfilePlace::UserConfig, home + u"/.config/velmora/velmora.ini"},
      {"home with a slash", {u"", home + u"/"}, ProfilePlace::UserConfig, home + u"/.config/velmora/velmora.ini"},
      {"home is the root", {u"", u"/"}, ProfilePlace::UserConfig, u"/.config/velmora/velmora.ini"},
      {"neither", {u"", u""}, ProfilePlace::Nowhere, bin + u"profile/velmora.ini"},
      {"relative home", {u"", u"home"}, ProfilePlace::Nowhere, bin + u"profile/velmora.ini"},
  };
  for (const Case& c : cases) {
    const ProfileLocation at = LocateProfile(bin, c.user);
    EXPECT_EQ(at.place, c.place) << c.what;
    EXPECT_EQ(at.path, c.path) << c.what;
  }
}

TEST_F(DataPaths, AProfileThatCannotBeWrittenAnywhereIsToldOnce) {
  const std::u16string bin = Installed();
  // A file where the config folder would be: no folder can be made under
  // it, not even by root.
  m_tmp.WriteFile("config", "");
  const ProfileLocation at = PrepareProfileFolder(bin, User());
  EXPECT_EQ(at.place, ProfilePlace::UserConfig);
  EXPECT_EQ(m_debug, u"Profile Not Writable : " + U(m_tmp / "config/velmora/velmora.ini") + u"\r\n");

  // No config folder known at all.
  m_debug.clear();
  EXPECT_EQ(PrepareProfileFolder(bin, UserFolders{}).place, ProfilePlace::Nowhere);
  EXPECT_EQ(m_debug, u"Profile Not Writable : " + bin + u"profile/velmora.ini\r\n");
  EXPECT_FALSE(Exists(m_tmp / "usr/bin/profile"));

  // Saving there fails without a word more, and leaves nothing behind.
  m_debug.clear();
  g_moduleDir = bin;
  ::setenv("XDG_CONFIG_HOME", (m_tmp / "config").c_str(), 1);
  CProfile().Save();
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(m_debug, u"");
  EXPECT_TRUE(std::filesystem::is_regular_file(m_tmp / "config"));
}

// The thumbnails' folder: an absolute $XDG_CACHE_HOME, else ~/.cache.
TEST(ThumbnailFolder, FollowsTheBaseDirectoryRules) {
  const struct {
    std::u16string cache, home, folder;
  } cases[] = {{u"/c", u"/h", u"/c/velmora/thumbnails/"},     {u"/c/", u"", u"/c/velmora/thumbnails/"},
               {u"rel", u"/h", u"/h/.cache/velmora/thumbnails/"}, {u"", u"/h", u"/h/.cache/velmora/thumbnails/"},
               {u"", u"", u""},                                  {u"rel", u"rel", u""}};
  for (const auto& c : cases) EXPECT_EQ(ThumbnailFolder(c.cache, c.home), c.folder) << Utf16ToUtf8(c.cache);
}

}  // namespace
