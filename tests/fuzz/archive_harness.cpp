#include <memory>
#include <string>
#include <vector>

#include "MemoryFileSystem.h"
#include "harnesses.h"
#include "viewer/archive/Archive.h"
#include "viewer/book/Book.h"

void FuzzArchive(const uint8_t* data, std::size_t size) {
  ComRef<IFile> file;
  file.Set(new test::MemoryFile(std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size)));
  ComRef<IDirectory> archive;
  if (OpenArchive(file.get(), &archive) != 0) {
    DiagnoseArchive(file.get());
    return;
  }
  Book book;
  book.root = archive;
  AppendTree(book, u"/");
  std::vector<char> buffer(1 << 16);
  for (const PageEntry& entry : book.pages) {
    if (entry.state == PageState::Folder) continue;
    ComRef<IFile> item;
    if (archive->OpenFile(&item, entry.path.c_str(), nullptr) != 0) {
      DiagnoseArchiveItem(archive.get(), entry.path.c_str());
      continue;
    }
    uint64_t itemSize = 0;
    item->GetSize(&itemSize);
    uint32_t got = 0;
    do {
      if (item->Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got) != 0) break;
    } while (got > 0);
    // Once more from the start, as a second look at a page does.
    if (item->Seek(0, 0, nullptr) == 0) item->Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
  }
}
