#include "platform/shell.h"

#include <glib.h>

#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

#include "platform/debug.h"
#include "platform/text.h"

namespace {

// Read on every call (GLib would cache the folder for the process).
std::string RecentFilePath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/recently-used.xbel";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/share/recently-used.xbel";
}

// One line on the debug output per list file, however often it fails.
void ReportUnreadable(const std::string& file, const char16_t* why) {
  static std::mutex mutex;
  static std::set<std::string> reported;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!reported.insert(file).second) return;
  }
  const std::u16string line = u"Recent documents: " + Utf8ToUtf16(file) + why + u"; left as it is\r\n";
  OutputDebugStringW(line.c_str());
}

// The list as it is on disk: true with `bookmarks` filled, or empty when
// there is no list yet (or an empty file); false when a list exists that
// cannot be read or understood, which is then someone else's to mend.
bool LoadRecentList(const std::string& file, GBookmarkFile* bookmarks) {
  gchar* contents = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (!g_file_get_contents(file.c_str(), &contents, &length, &error)) {
    const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
    if (!missing) ReportUnreadable(file, u" cannot be read");
    g_error_free(error);
    return missing;
  }
  bool ok = true;
  if (length > 0 && !g_bookmark_file_load_from_data(bookmarks, contents, length, &error)) {
    ReportUnreadable(file, u" does not parse");
    g_error_free(error);
    ok = false;
  }
  g_free(contents);
  return ok;
}

}  // namespace

void SHAddToRecentDocs(UINT flags, const void* data) {
  if (flags != SHARD_PATHW || data == nullptr) return;
  const std::string path = Utf16ToUtf8(static_cast<const char16_t*>(data));
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (uri == nullptr) return;
  const std::string file = RecentFilePath();
  GBookmarkFile* bookmarks = g_bookmark_file_new();
  // Other programs' entries live in the same list: never write over one we
  // could not read.
  if (LoadRecentList(file, bookmarks)) {
    g_bookmark_file_add_application(bookmarks, uri, "velmora", "velmora %u");
    gchar* folder = g_path_get_dirname(file.c_str());
    g_mkdir_with_parents(folder, 0700);
    g_free(folder);
    g_bookmark_file_to_file(bookmarks, file.c_str(), nullptr);  // written whole, then renamed into place
  }
  g_bookmark_file_free(bookmarks);
  g_free(uri);
}
