// Where the program's data and the user's profile live. A copy that keeps
// its data beside the program (the build tree, a portable copy) keeps its
// profile there too; an installed tree finds its data in the data folder
// relative to its bin/ folder and keeps the profile where Linux keeps
// per-user settings.
#pragma once

#include <string>

// The installed data folder as seen from the program's folder, ending in
// "/" ("../share/velmora/" for the usual layout).
extern const char16_t kInstalledDataFolder[];

// The folder (ending in "/") whose file `name` the program reads: the
// program's folder `moduleDir` when the file is there, else the installed
// data folder when it is there, else `moduleDir` (where the failure then
// shows).
std::u16string DataFolder(const std::u16string& moduleDir, const std::u16string& name);

// The per-user folders the profile may go to, as the environment gives
// them: $XDG_CONFIG_HOME and $HOME.
struct UserFolders {
  std::u16string configHome;
  std::u16string home;

  static UserFolders FromEnvironment();
};

enum class ProfilePlace {
  ProgramFolder,  // moduleDir + "profile/velmora.ini"
  UserConfig,     // <config home>/velmora/velmora.ini
  Nowhere,        // no user folder is known: path is the program folder's
};

struct ProfileLocation {
  ProfilePlace place = ProfilePlace::Nowhere;
  std::u16string path;    // the profile file
  std::u16string folder;  // the folder that holds it, without a trailing "/"
};

// Where the profile is, without touching the disk beyond looking: beside
// the program when that file exists, or when its "profile" folder is
// writable, or when the program keeps its data beside itself in a writable
// folder (the folder is made at start); otherwise in the user's config
// folder (an absolute $XDG_CONFIG_HOME, else $HOME/.config).
ProfileLocation LocateProfile(const std::u16string& moduleDir, const UserFolders& user);

// At start: locates the profile and makes its folder (0700 for a per-user
// one). When the profile can be written nowhere, says so once on the debug
// output; the program runs on without saving.
ProfileLocation PrepareProfileFolder(const std::u16string& moduleDir, const UserFolders& user);

// The program's cache folder (ending in "/"): <cache home>/velmora/, as
// below; empty when neither is known.
std::u16string CacheFolder(const std::u16string& cacheHome, const std::u16string& home);
// The same as the environment gives them.
std::u16string CacheFolderOfUser();

// The folder (ending in "/") the page grid's thumbnails are kept in:
// <cache home>/velmora/thumbnails/, the cache home being an absolute
// `cacheHome` ($XDG_CACHE_HOME), else `home` + "/.cache"; empty when
// neither is known.
std::u16string ThumbnailFolder(const std::u16string& cacheHome, const std::u16string& home);
// The same as the environment gives them.
std::u16string ThumbnailFolderOfUser();
