// The profile file: view settings and the history of books.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/text.h"
#include "viewer/shell/DataPaths.h"
#include "viewer/shell/Profile.h"
#include "viewer/shell/Settings.h"

namespace {

constexpr std::size_t kMaxProfileBytes = 100000;
constexpr std::size_t kMaxLine = 1023;

// What was found where the profile goes: nothing (or nothing to keep), a
// profile, or a file that is not one this program reads (another encoding,
// too large) and that a save must not destroy.
enum class ProfileFile { Missing, Read, Unreadable };

// The whole text after the byte-order mark, NUL-terminated; empty when the
// file is missing, too large or has no mark.
std::u16string ReadProfileText(ProfileFile* found) {
  *found = ProfileFile::Missing;
  const std::string path = Utf16ToUtf8(ProfilePath());
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::u16string text;
  struct stat st;
  unsigned char mark[2] = {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && st.st_size > 0) *found = ProfileFile::Unreadable;
  if (regular && st.st_size <= static_cast<off_t>(kMaxProfileBytes) && ::read(fd, mark, 2) == 2 && mark[0] == 0xFF &&
      mark[1] == 0xFE) {
    *found = ProfileFile::Read;
    // As many units as the file has bytes, zero-filled: always terminated.
    std::vector<unsigned char> bytes(static_cast<std::size_t>(st.st_size) * 2, 0);
    std::size_t got = 0;
    while (got + 2 < static_cast<std::size_t>(st.st_size)) {
      const ssize_t n = ::read(fd, bytes.data() + got, static_cast<std::size_t>(st.st_size) - 2 - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
      if (unit == 0) break;
      text.push_back(unit);
    }
  }
  ::close(fd);
  return text;
}

// The C library's decimal reading (as _wtoi): blanks, a sign, digits. Out
// of range values stop at the int32 limits instead of overflowing.
int32_t ReadInteger(const std::u16string& value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == u' ' || (value[i] >= u'\t' && value[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) negative = value[i++] == u'-';
  int64_t result = 0;
  for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
    result = result * 10 + (value[i] - u'0');
    if (result > static_cast<int64_t>(INT32_MAX) + 1) result = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) result = -result;
  return static_cast<int32_t>(std::clamp<int64_t>(result, INT32_MIN, INT32_MAX));
}

void ApplyLine(const std::u16string& line, ViewSettings& settings, std::vector<HistoryEntry>& slots) {
  const std::size_t equals = line.find(u'=');
  if (equals == std::u16string::npos || equals == 0) return;
  const std::u16string key = line.substr(0, equals);
  const std::u16string value = line.substr(equals + 1);
  if (key == u"c.page") {
    settings.pageMode = static_cast<PageMode>(ReadInteger(value));
    return;
  }
  if (key == u"c.mono2color") {
    settings.mono2Color = ReadInteger(value);
    return;
  }
  for (int n = 0; n < static_cast<int>(CHistory::kLength); ++n) {
    const std::u16string slot = u"c.history." + AsciiToUtf16(std::to_string(n));
    if (key == slot + u".name") {
      slots[static_cast<std::size_t>(n)].name = value;
      return;
    }
    if (key == slot + u".index") {
      slots[static_cast<std::size_t>(n)].index = ReadInteger(value);
      return;
    }
  }
}

// The settings and history in the file; false (and nothing changed) when it
// cannot be read or holds nothing.
bool ReadProfile(ViewSettings& settings, CHistory& history, ProfileFile* found) {
  const std::u16string text = ReadProfileText(found);
  if (text.empty()) return false;
  std::vector<HistoryEntry> slots(CHistory::kLength);
  std::size_t at = 0;
  for (;;) {
    std::u16string line;
    while (at < text.size() && text[at] != u'\r' && text[at] != u'\n' && line.size() < kMaxLine) line.push_back(text[at++]);
    if (line.size() < kMaxLine)  // stopped at a line break (or the end): skip the whole run
      while (at < text.size() && (text[at] == u'\r' || text[at] == u'\n')) ++at;
    if (line.empty()) break;
    ApplyLine(line, settings, slots);
  }
  // Slots without a name are dropped; the others keep their order.
  std::erase_if(slots, [](const HistoryEntry& e) { return e.name.empty(); });
  history.Assign(std::move(slots));
  return true;
}

// An unreadable profile is renamed beside itself before a new one takes its
// place: the history it may hold is the user's, whatever wrote it.
void KeepAside(const std::string& path) {
  std::string aside;
  for (int n = 1; n <= 9; ++n) {
    aside = path + ".unreadable" + (n == 1 ? std::string() : "-" + std::to_string(n));
    if (::access(aside.c_str(), F_OK) != 0) break;
  }
  if (::rename(path.c_str(), aside.c_str()) == 0)
    OutputDebugStringW((u"Profile Kept Aside : " + Utf8ToUtf16(aside) + u"\r\n").c_str());
}

}  // namespace

std::u16string ProfilePath() { return LocateProfile(g_moduleDir, UserFolders::FromEnvironment()).path; }

void CProfile::Load() {
  ProfileFile found = ProfileFile::Missing;
  if (!ReadProfile(settings, history, &found)) history.Assign({});
  m_loaded = true;
  m_settingsOnFile = settings;
  m_shown.clear();
}

bool CProfile::Merge() {
  // Another window may have written the file since: its books and settings
  // stay, and what this one changed goes over them.
  ViewSettings onFile = settings;
  CHistory merged;
  ProfileFile found = ProfileFile::Missing;
  // Nothing there to merge, or nothing read here to tell what changed since.
  if (!ReadProfile(onFile, merged, &found) || !m_loaded) return found == ProfileFile::Unreadable;
  if (settings.pageMode == m_settingsOnFile.pageMode) settings.pageMode = onFile.pageMode;
  if (settings.mono2Color == m_settingsOnFile.mono2Color) settings.mono2Color = onFile.mono2Color;
  // The pages of books shown elsewhere are that window's to tell.
  std::vector<HistoryEntry> entries = merged.Entries();
  for (HistoryEntry& entry : entries) entry.page.clear();
  merged.Assign(std::move(entries));
  for (const HistoryEntry& entry : m_shown) merged.Add(entry.name, entry.index, entry.page);
  history = std::move(merged);
  return false;
}

void CProfile::Save() {
  const bool unreadable = Merge();
  m_settingsOnFile = settings;
  m_shown.clear();
  std::u16string text = u"\xFEFF";
  auto number = [](int32_t v) { return AsciiToUtf16(std::to_string(v)); };
  text += u"c.page=" + number(static_cast<int32_t>(settings.pageMode)) + u"\r\n";
  text += u"c.mono2color=" + number(settings.mono2Color) + u"\r\n";
  const std::vector<HistoryEntry>& entries = history.Entries();
  for (std::size_t n = 0; n < entries.size(); ++n) {
    const std::u16string slot = u"c.history." + number(static_cast<int32_t>(n));
    text += slot + u".name=" + entries[n].name + u"\r\n";
    text += slot + u".index=" + number(entries[n].index) + u"\r\n";
  }
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }

  // Written beside the old profile and renamed over it, so a failed save
  // (a full disk, a crash) leaves the old one whole.
  const std::string path = Utf16ToUtf8(ProfilePath());
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return;  // a folder that cannot be written: said once at start
  if (unreadable) KeepAside(path);
  bool ok = ::fchmod(fd, 0644) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    // A full disk or a quota: the books shown since stay unsaved, said once.
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) OutputDebugStringW((u"Profile Not Saved : " + Utf8ToUtf16(path) + u"\r\n").c_str());
  }
}

bool CProfile::AddHistory(const std::u16string& name, int32_t index, const std::u16string& page) {
  if (!NoteHistory(name, index, page)) return false;
  Save();
  return true;
}

bool CProfile::NoteHistory(const std::u16string& name, int32_t index, const std::u16string& page) {
  std::erase_if(m_shown, [&](const HistoryEntry& e) { return e.name == name; });
  m_shown.emplace_back(name, index, page);
  return history.Add(name, index, page);
}
