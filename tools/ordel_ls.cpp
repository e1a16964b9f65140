// ordel-ls: lists a folder through libordel.so, as any program that knows
// only the file-system interfaces would: load the library, ask the factory
// for an IFileSystem, and walk the folder through the vtables.
//
//   ordel-ls [-r] /absolute/folder
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ordel/Ordel.h"
#include "ordel/FileSystem.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

bool ListFolder(IDirectory* directory, const std::u16string& folder, bool recursive) {
  IFileSystemEntries* entries = nullptr;
  if (directory->GetEntries(folder.c_str(), &entries) != 0) {
    std::fprintf(stderr, "ordel-ls: cannot list %s\n", Utf16ToUtf8(folder).c_str());
    return false;
  }
  uint32_t count = 0;
  entries->GetCount(&count);
  bool ok = true;
  for (uint32_t i = 0; i < count; ++i) {
    FileSystemEntry entry;
    if (entries->GetEntry(i, &entry) != 0) continue;
    const std::u16string path = folder + entry.name;
    const bool isFolder = (entry.flags & FILE_SYSTEM_ENTRY_FOLDER) != 0;
    std::printf("%s %12llu %s%s\n", isFolder ? "d" : "f",
                static_cast<unsigned long long>(entry.size), Utf16ToUtf8(path).c_str(),
                isFolder ? "/" : "");
    if (isFolder && recursive) ok = ListFolder(directory, path + u"/", true) && ok;
  }
  entries->Release();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool recursive = false;
  const char* folder = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-r") == 0)
      recursive = true;
    else
      folder = argv[i];
  }
  if (folder == nullptr) {
    std::fprintf(stderr, "usage: ordel-ls [-r] /absolute/folder\n");
    return 2;
  }

  const std::string library = Utf16ToUtf8(GetModuleDirectory()) + "libordel.so";
  void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    std::fprintf(stderr, "ordel-ls: %s\n", dlerror());
    return 1;
  }
  auto create = reinterpret_cast<OrdelCreateInstanceFn>(dlsym(module, "OrdelCreateInstance"));
  IFileSystem* fileSystem = nullptr;
  if (create == nullptr || create(IID_IFileSystem, reinterpret_cast<void**>(&fileSystem)) != 0) {
    std::fprintf(stderr, "ordel-ls: no file system from %s\n", library.c_str());
    return 1;
  }
  IDirectory* directory = nullptr;
  int rc = 1;
  if (fileSystem->OpenDirectory(&directory, Utf8ToUtf16(folder).c_str()) == 0) {
    rc = ListFolder(directory, u"/", recursive) ? 0 : 1;
    directory->Release();
  } else {
    std::fprintf(stderr, "ordel-ls: not an absolute folder path: %s\n", folder);
  }
  fileSystem->Release();
  dlclose(module);
  return rc;
}
