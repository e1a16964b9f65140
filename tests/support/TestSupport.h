// Shared helpers for the tests: scratch folders on disk, the library loaded
// the way a foreign program loads it, and reference-count probes.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "ordel/Ordel.h"
#include "ordel/FileSystem.h"

namespace test {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/velmora-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Absolute path of the folder (no trailing "/") or of a name under it.
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    const int fd = ::open((*this / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("cannot write " + name);
    ::close(fd);
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void MakeFolder(const std::string& name) const {
    if (::mkdir((*this / name).c_str(), 0755) != 0) throw std::runtime_error("mkdir " + name);
  }

 private:
  std::string m_path;
};

// libordel.so opened with dlopen, once per test program.
struct OrdelLibrary {
  void* module = nullptr;
  OrdelCreateInstanceFn create = nullptr;
  OrdelAboutFn about = nullptr;

  static const OrdelLibrary& Get() {
    static const OrdelLibrary library = [] {
      OrdelLibrary lib;
      lib.module = ::dlopen(ORDEL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
      if (lib.module == nullptr) throw std::runtime_error(::dlerror());
      lib.create = reinterpret_cast<OrdelCreateInstanceFn>(::dlsym(lib.module, "OrdelCreateInstance"));
      lib.about = reinterpret_cast<OrdelAboutFn>(::dlsym(lib.module, "OrdelAbout"));
      return lib;
    }();
    return library;
  }
};

// The reference count an object has now, read through AddRef/Release.
inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace test

namespace test {

template <class T>
using Ref = ComRef<T>;

}  // namespace test
