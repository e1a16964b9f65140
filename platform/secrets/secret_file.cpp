#include "platform/secrets/secret_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace {

// Far more than any number of passwords: a larger file is not ours.
constexpr off_t kMaxFileBytes = 1 << 20;
constexpr mode_t kOthers = S_IRWXG | S_IRWXO;

SecretResult Failure(const std::string& reason) { return SecretResult{SecretStatus::Failed, {}, Utf8ToUtf16(reason)}; }

std::string SystemReason(const std::string& what, int error) { return what + ": " + std::strerror(error); }

std::string Escaped(std::u16string_view text) {
  std::string out;
  for (const char c : Utf16ToUtf8(text)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// False for an escape not written by Escaped.
bool Unescaped(std::string_view text, std::u16string* out) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': bytes += '\\'; break;
      case 't': bytes += '\t'; break;
      case 'n': bytes += '\n'; break;
      case 'r': bytes += '\r'; break;
      default: return false;
    }
  }
  *out = Utf8ToUtf16(bytes);
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Why the folder may not hold secrets; empty when it may.
std::string FolderProblem(const std::string& folder) {
  struct stat info{};
  if (::stat(folder.c_str(), &info) != 0) return SystemReason(folder, errno);
  if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
  if (info.st_uid != ::geteuid()) return folder + " is not the user's";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return folder + " may be written by others";
  return {};
}

// Makes the folder and those missing above it, for the user alone.
bool MakeFolders(const std::string& folder) {
  if (folder.empty() || folder == "/" || folder == ".") return true;
  struct stat info{};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (!MakeFolders(FolderOf(folder))) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

SecretFile::SecretFile(std::u16string path) : m_path(Utf16ToUtf8(path)), m_folder(FolderOf(m_path)) {}

std::u16string SecretFile::DefaultPath() {
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0')
      if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr) home = user->pw_dir;
    config = std::string(home != nullptr ? home : "") + "/.config";
  }
  return Utf8ToUtf16(config + "/velmora/catalogue-secrets");
}

SecretResult SecretFile::Load(Secrets* secrets) const {
  secrets->clear();
  const int fd = ::open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return SecretResult{SecretStatus::NotFound, {}, {}};
    return Failure(SystemReason(m_path, errno));
  }
  struct stat info{};
  std::string problem;
  if (::fstat(fd, &info) != 0)
    problem = SystemReason(m_path, errno);
  else if (!S_ISREG(info.st_mode))
    problem = m_path + " is not a regular file";
  else if (info.st_uid != ::geteuid())
    problem = m_path + " is not the user's";
  else if ((info.st_mode & kOthers) != 0)
    problem = m_path + " may be read by others (chmod 600 it)";
  else if (info.st_size > kMaxFileBytes)
    problem = m_path + " is too large";
  else
    problem = FolderProblem(m_folder);
  std::string bytes;
  if (problem.empty()) {
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) problem = SystemReason(m_path, errno);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
  }
  ::close(fd);
  if (!problem.empty()) return Failure(problem);
  std::string_view rest(bytes);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::size_t tab = line.find('\t');
    std::u16string key, value;
    // A line that does not read (edited by hand) is passed over.
    if (tab != std::string_view::npos && Unescaped(line.substr(0, tab), &key) &&
        Unescaped(line.substr(tab + 1), &value))
      (*secrets)[key] = value;
  }
  return SecretResult{SecretStatus::Done, {}, {}};
}

SecretResult SecretFile::Save(const Secrets& secrets) const {
  if (secrets.empty()) {  // nothing kept: no file
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) return Failure(SystemReason(m_path, errno));
    return SecretResult{SecretStatus::Done, {}, {}};
  }
  if (!MakeFolders(m_folder)) return Failure(SystemReason(m_folder, errno));
  if (const std::string problem = FolderProblem(m_folder); !problem.empty()) return Failure(problem);
  std::string bytes;
  for (const auto& [key, value] : secrets) bytes += Escaped(key) + '\t' + Escaped(value) + '\n';
  std::string temporary = m_path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);  // 0600 from the start
  if (fd < 0) return Failure(SystemReason(m_folder, errno));
  const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), m_path.c_str()) != 0) {
    const int failed = written ? errno : error;
    ::unlink(temporary.c_str());
    return Failure(SystemReason(m_path, failed));
  }
  return SecretResult{SecretStatus::Done, {}, {}};
}

SecretResult SecretFile::Read(const std::u16string& key) const {
  Secrets secrets;
  SecretResult result = Load(&secrets);
  if (result.status != SecretStatus::Done) return result;
  const auto found = secrets.find(key);
  if (found == secrets.end()) return SecretResult{SecretStatus::NotFound, {}, {}};
  result.value = found->second;
  return result;
}

SecretResult SecretFile::Write(const std::u16string& key, const std::u16string& value) const {
  Secrets secrets;
  if (SecretResult loaded = Load(&secrets); loaded.status == SecretStatus::Failed) return loaded;
  secrets[key] = value;
  return Save(secrets);
}

SecretResult SecretFile::Delete(const std::u16string& key) const {
  Secrets secrets;
  if (SecretResult loaded = Load(&secrets); loaded.status != SecretStatus::Done) return loaded;
  if (secrets.erase(key) == 0) return SecretResult{SecretStatus::NotFound, {}, {}};
  return Save(secrets);
}
