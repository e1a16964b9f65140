// What the book tools (velmora-book, velmora-thumbnailer) do before they
// read a book: the path made absolute as the viewer makes a command-line
// path and looked at, the library's file system made, and their error
// lines, "program: what: why".
#pragma once

#include <string>

#include "ordel/FileSystem.h"

class CBookTool {
 public:
  explicit CBookTool(const char* program) : m_program(program) {}
  ~CBookTool();
  CBookTool(const CBookTool&) = delete;
  CBookTool& operator=(const CBookTool&) = delete;

  // The line on standard error.
  void Error(const std::string& what, const std::string& why) const;
  // The book at `path` (relative to the current folder, or absolute) found
  // and the library's file system made; false after the line saying why
  // (`shown` names the book there).
  bool Start(const std::string& shown, const std::string& path);

  const std::string& absolute() const { return m_absolute; }
  bool isFolder() const { return m_isFolder; }
  IFileSystem* fileSystem() const { return m_fileSystem.get(); }

 private:
  const char* m_program;
  std::string m_absolute;
  bool m_isFolder = false;
  ComRef<IFileSystem> m_fileSystem;
  bool m_started = false;  // COM is set up, to be taken down last
};
