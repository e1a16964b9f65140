#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "harnesses.h"
#include "platform/text.h"
#include "viewer/shell/Profile.h"

// The program's folder, whose "profile/velmora.ini" the profile is: a
// scratch folder of the run's own (the program's own start-up is not
// linked here).
std::u16string g_moduleDir;

namespace {

// The scratch folder, made at first use and removed at exit; the profile's
// path in it. The user's folders point there too, so nothing outside is
// ever read or written.
class Scratch {
 public:
  Scratch() {
    // In memory where there is such a place: each save syncs the file.
    std::string pattern = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/velmora-fuzz-XXXXXX" : "/tmp/velmora-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_folder = pattern;
    ::mkdir((m_folder + "/profile").c_str(), 0700);
    ::setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
    ::setenv("HOME", m_folder.c_str(), 1);
    g_moduleDir = Utf8ToUtf16(m_folder + "/");
    m_profile = Utf16ToUtf8(ProfilePath());
  }
  ~Scratch() {
    std::remove(m_profile.c_str());
    ::rmdir((m_folder + "/profile").c_str());
    ::rmdir(m_folder.c_str());
  }
  const std::string& Profile() const { return m_profile; }

 private:
  std::string m_folder, m_profile;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether every line of a saved profile (UTF-16LE after its mark) is
// shorter than the 1023 units the reader takes at once. A longer one -- a
// history name of 1006 units or more -- is read back cut, or, at exactly
// 1023 units, ends the reading there, as the profile's format has it.
bool LinesFit(const std::string& saved) {
  std::size_t length = 0;
  for (std::size_t i = 2; i + 1 < saved.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(saved[i]) |
                                                static_cast<unsigned char>(saved[i + 1]) << 8);
    length = unit == u'\r' || unit == u'\n' ? 0 : length + 1;
    if (length >= 1023) return false;
  }
  return true;
}

bool SameState(const CProfile& a, const CProfile& b) {
  if (a.settings.pageMode != b.settings.pageMode || a.settings.mono2Color != b.settings.mono2Color) return false;
  const auto& x = a.history.Entries();
  const auto& y = b.history.Entries();
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (x[i].name != y[i].name || x[i].index != y[i].index) return false;
  return true;
}

}  // namespace

void FuzzProfile(const uint8_t* data, std::size_t size) {
  static const Scratch scratch;
  {
    std::ofstream out(scratch.Profile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CProfile first;
  first.Load();
  first.Save();
  const std::string saved = ReadFile(scratch.Profile());
  CProfile second;
  second.Load();
  if (!LinesFit(saved)) return;
  if (!SameState(first, second)) std::abort();
  second.Save();
  if (ReadFile(scratch.Profile()) != saved) std::abort();
}
