#include "platform/shell.h"

#include <glib.h>

#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace {
// Read on every call (GLib would cache the folder for the process).
std::string RecentFilePath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/recently-used.xbel";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/share/recently-used.xbel";
}
}  // namespace

void SHAddToRecentDocs(UINT flags, const void* data) {
  if (flags != SHARD_PATHW || data == nullptr) return;
  const std::string path = Utf16ToUtf8(static_cast<const char16_t*>(data));
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (uri == nullptr) return;
  const std::string file = RecentFilePath();
  GBookmarkFile* bookmarks = g_bookmark_file_new();
  g_bookmark_file_load_from_file(bookmarks, file.c_str(), nullptr);  // a missing list starts empty
  g_bookmark_file_add_application(bookmarks, uri, "velmora", "velmora %u");
  gchar* folder = g_path_get_dirname(file.c_str());
  g_mkdir_with_parents(folder, 0700);
  g_free(folder);
  g_bookmark_file_to_file(bookmarks, file.c_str(), nullptr);  // written whole, then renamed into place
  g_bookmark_file_free(bookmarks);
  g_free(uri);
}
