#include "viewer/imaging/Resources.h"

#include <memory>

#include "platform/debug.h"
#include "viewer/archive/Archive.h"
#include "viewer/archive/DiskFile.h"
#include "viewer/imaging/ImageDecoder.h"

namespace {

// In the order of ResourcesRead::pictures.
constexpr const char16_t* kPictures[] = {u"/res/back.png", u"/res/title.png", u"/res/unknown.png", u"/res/error.png"};

}  // namespace

ResourcesRead ReadResources(IFile* pack) {
  ResourcesRead read;
  ComRef<IDirectory> root;
  if (pack == nullptr || OpenArchive(pack, &root) != 0) return read;
  for (const char16_t* path : kPictures) {
    ComRef<IFile> file;
    ComRef<IWICBitmapSource> pixels;
    if (root->OpenFile(&file, path, nullptr) != 0 || DecodeImage(file.get(), Colorizing::Off, pixels) != 0)
      return read;
    read.pictures.push_back(std::move(pixels));
  }
  ComRef<IFile> palette;
  if (root->OpenFile(&palette, u"/res/4color4_v0.1.7.amp", nullptr) != 0) return read;
  uint32_t got = 0;
  if (palette->Read(read.palette.data(), static_cast<uint32_t>(read.palette.size()), &got) != 0 ||
      got != read.palette.size())
    return read;
  read.status = 0;
  return read;
}

ResourcesRead ReadResourcesAhead(const std::u16string& folder) {
  // What the reading says is kept for the window, where it is said as if
  // read there.
  std::u16string said;
  ResourcesRead read;
  {
    const CapturedDebugOutput capture(&said);
    ComRef<IFile> pack;
    if (OpenDiskFile(folder + kResourcePack, &pack) == 0) read = ReadResources(pack.get());
  }
  read.said = std::move(said);
  return read;
}

int32_t UseResources(const ResourcesRead& read, D2D& renderer, BuiltInPictures& pictures) {
  // A picture that cannot become a bitmap draws as nothing.
  ComRef<ID2D1Bitmap> background;
  ComRef<ID2D1Bitmap>* const slots[] = {std::addressof(background), std::addressof(pictures.title),
                                         std::addressof(pictures.unknown), std::addressof(pictures.error)};
  for (std::size_t k = 0; k < read.pictures.size() && k < std::size(slots); ++k) {
    renderer.MakeBitmap(&*slots[k], read.pictures[k].get());
    if (k == 0) renderer.SetBackground(background.get());
  }
  if (read.status != 0) return 1;
  LoadColorTable(read.palette.data(), read.palette.size());
  return 0;
}

int32_t LoadResources(IFileSystem* fileSystem, const std::u16string& folder, D2D& renderer, BuiltInPictures& pictures) {
  if (fileSystem == nullptr) return 1;
  ComRef<IDirectory> programFolder;
  if (fileSystem->OpenDirectory(&programFolder, folder.c_str()) != 0) return 1;
  ComRef<IFile> pack;
  if (programFolder->OpenFile(&pack, (u"/" + std::u16string(kResourcePack)).c_str(), nullptr) != 0) return 1;
  return UseResources(ReadResources(pack.get()), renderer, pictures);
}
