#include "tools/BookTool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ordel/Ordel.h"

namespace {

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> here(4096);
  while (getcwd(here.data(), here.size()) == nullptr) {
    if (errno != ERANGE) return path;
    here.resize(here.size() * 2);
  }
  std::string absolute = here.data();
  if (absolute.back() != '/') absolute += '/';
  return absolute + path;
}

}  // namespace

CBookTool::~CBookTool() {
  // The book's directories went before: the library's state goes last.
  m_fileSystem.Reset();
  if (m_started) CoUninitialize();
}

void CBookTool::Error(const std::string& what, const std::string& why) const {
  std::fprintf(stderr, "%s: %s: %s\n", m_program, what.c_str(), why.c_str());
}

bool CBookTool::Start(const std::string& shown, const std::string& path) {
  m_absolute = Absolute(path);
  struct stat info {};
  if (::stat(m_absolute.c_str(), &info) != 0) {
    Error(shown, std::strerror(errno));
    return false;
  }
  m_isFolder = S_ISDIR(info.st_mode);
  if (OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&m_fileSystem)) != 0) {
    Error(shown, "the library gives no file system");
    return false;
  }
  CoInitialize(nullptr);
  m_started = true;
  return true;
}
