#include "viewer/shell/DataPaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/debug.h"
#include "platform/system.h"
#include "platform/text.h"

#ifndef VELMORA_DATA_FROM_BIN
#define VELMORA_DATA_FROM_BIN "../share/velmora/"
#endif

const char16_t kInstalledDataFolder[] = u"" VELMORA_DATA_FROM_BIN;

namespace {

// A save killed before its rename leaves its temporary profile behind; one
// older than this is no save under way (another window's, say).
constexpr int kStaleSaveSeconds = 60;

bool IsFile(const std::u16string& path) {
  struct stat st;
  return ::stat(Utf16ToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::u16string& path) {
  struct stat st;
  return ::stat(Utf16ToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether this process may make files in the folder (its effective ids,
// as the writes will be made with).
bool CanWriteIn(const std::u16string& folder) {
  return IsFolder(folder) && ::faccessat(AT_FDCWD, Utf16ToUtf8(folder).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool CanWriteFile(const std::u16string& path) {
  return ::faccessat(AT_FDCWD, Utf16ToUtf8(path).c_str(), W_OK, AT_EACCESS) == 0;
}

// "a/b/../c/./d/" without its "." and ".." steps, lexically: the program's
// folder comes from /proc/self/exe, which has no links left to follow.
std::u16string Tidy(const std::u16string& path) {
  std::u16string out;
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t end = path.find(u'/', at);
    if (end == std::u16string::npos) end = path.size();
    const std::u16string part = path.substr(at, end - at);
    if (part == u"..") {
      if (out.size() > 1) {
        out.pop_back();
        out.resize(out.rfind(u'/') + 1);
      }
    } else if (part != u"." && !part.empty()) {
      out += part + u"/";
    } else if (out.empty() && at == 0) {
      out = u"/";
    }
    at = end + 1;
  }
  return out.empty() ? u"/" : out;
}

// The per-user config folder for the profile, or empty when none is known.
// A relative $XDG_CONFIG_HOME is no place at all, as the base-directory
// rules say.
std::u16string ConfigHome(const UserFolders& user) {
  if (!user.configHome.empty() && user.configHome[0] == u'/') return user.configHome;
  if (!user.home.empty() && user.home[0] == u'/') {
    std::u16string home = user.home;
    while (home.size() > 1 && home.back() == u'/') home.pop_back();
    return (home == u"/" ? u"" : home) + u"/.config";
  }
  return {};
}

// mkdir -p with `mode` for the folders it makes; true when the folder is
// there at the end.
bool MakeFolders(const std::u16string& folder, mode_t mode) {
  const std::string path = Utf16ToUtf8(folder);
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string step = path.substr(0, at);
    if (::mkdir(step.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return IsFolder(folder);
}

}  // namespace

std::u16string DataFolder(const std::u16string& moduleDir, const std::u16string& name) {
  if (IsFile(moduleDir + name)) return moduleDir;
  const std::u16string installed = Tidy(moduleDir + kInstalledDataFolder);
  if (IsFile(installed + name)) return installed;
  return moduleDir;
}

UserFolders UserFolders::FromEnvironment() {
  UserFolders user;
  if (const char* config = std::getenv("XDG_CONFIG_HOME")) user.configHome = Utf8ToUtf16(config);
  if (const char* home = std::getenv("HOME")) user.home = Utf8ToUtf16(home);
  return user;
}

std::u16string CacheFolder(const std::u16string& cacheHome, const std::u16string& home) {
  std::u16string base;
  if (!cacheHome.empty() && cacheHome.front() == u'/')
    base = cacheHome;
  else if (!home.empty() && home.front() == u'/')
    base = home + u"/.cache";
  else
    return {};
  if (base.back() != u'/') base += u'/';
  return base + u"velmora/";
}

std::u16string ThumbnailFolder(const std::u16string& cacheHome, const std::u16string& home) {
  const std::u16string cache = CacheFolder(cacheHome, home);
  return cache.empty() ? cache : cache + u"thumbnails/";
}

ProfileLocation LocateProfile(const std::u16string& moduleDir, const UserFolders& user) {
  ProfileLocation beside{ProfilePlace::ProgramFolder, moduleDir + u"profile/velmora.ini", moduleDir + u"profile"};
  if (IsFile(beside.path) || CanWriteIn(beside.folder)) return beside;
  // A copy that carries its data with it is a portable one: its profile
  // folder is made beside it. An installed program's folder (/usr/bin)
  // never gets one, whoever runs it.
  const bool portable = IsFile(moduleDir + u"res.pack");
  if (portable && !IsFolder(beside.folder) && CanWriteIn(moduleDir)) return beside;

  const std::u16string configHome = ConfigHome(user);
  if (configHome.empty()) {
    beside.place = ProfilePlace::Nowhere;
    return beside;
  }
  return {ProfilePlace::UserConfig, configHome + u"/velmora/velmora.ini", configHome + u"/velmora"};
}

ProfileLocation PrepareProfileFolder(const std::u16string& moduleDir, const UserFolders& user) {
  const ProfileLocation location = LocateProfile(moduleDir, user);
  bool writable = false;
  switch (location.place) {
    case ProfilePlace::ProgramFolder:
      ::mkdir(Utf16ToUtf8(location.folder).c_str(), 0777);
      writable = IsFile(location.path) ? CanWriteFile(location.path) : CanWriteIn(location.folder);
      break;
    case ProfilePlace::UserConfig:
      writable = MakeFolders(location.folder, 0700) &&
                 (IsFile(location.path) ? CanWriteFile(location.path) : CanWriteIn(location.folder));
      break;
    case ProfilePlace::Nowhere:
      break;
  }
  // Saves would fail one by one without a word: said once, here.
  if (!writable) OutputDebugStringW((u"Profile Not Writable : " + location.path + u"\r\n").c_str());
  else RemoveStaleTemporaries(Utf16ToUtf8(location.path), kStaleSaveSeconds);
  return location;
}

std::u16string CacheFolderOfUser() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  return CacheFolder(cache != nullptr ? Utf8ToUtf16(cache) : u"", home != nullptr ? Utf8ToUtf16(home) : u"");
}

std::u16string ThumbnailFolderOfUser() {
  const std::u16string cache = CacheFolderOfUser();
  return cache.empty() ? cache : cache + u"thumbnails/";
}
