#include "viewer/imaging/Resources.h"

#include <memory>

#include "viewer/archive/Archive.h"
#include "viewer/imaging/ImageDecoder.h"
#include "viewer/imaging/WICFormatConverter.h"

int32_t LoadResources(IFileSystem* fileSystem, const std::u16string& folder, D2D& renderer, BuiltInPictures& pictures) {
  if (fileSystem == nullptr) return 1;
  ComRef<IDirectory> programFolder;
  if (fileSystem->OpenDirectory(&programFolder, folder.c_str()) != 0) return 1;
  ComRef<IDirectory> pack;
  {
    ComRef<IFile> file;
    if (programFolder->OpenFile(&file, (u"/" + std::u16string(kResourcePack)).c_str(), nullptr) != 0) return 1;
    if (OpenArchive(file.get(), &pack) != 0) return 1;
  }

  // A picture that cannot become a bitmap draws as nothing.
  ComRef<ID2D1Bitmap> background;
  const struct {
    const char16_t* path;
    ComRef<ID2D1Bitmap>* bitmap;
  } entries[] = {{u"/res/back.png", std::addressof(background)},
                 {u"/res/title.png", std::addressof(pictures.title)},
                 {u"/res/unknown.png", std::addressof(pictures.unknown)},
                 {u"/res/error.png", std::addressof(pictures.error)}};
  for (const auto& entry : entries) {
    ComRef<IFile> file;
    ComRef<IWICBitmapSource> pixels;
    if (pack->OpenFile(&file, entry.path, nullptr) != 0 || DecodeImage(file.get(), Colorizing::Off, pixels) != 0)
      return 1;
    ComRef<ID2D1Bitmap>& slot = *entry.bitmap;
    renderer.MakeBitmap(&slot, pixels.get());
    if (entry.bitmap == std::addressof(background)) renderer.SetBackground(background.get());
  }

  ComRef<IFile> palette;
  if (pack->OpenFile(&palette, u"/res/4color4_v0.1.7.amp", nullptr) != 0) return 1;
  BYTE bytes[kPaletteFileBytes];
  uint32_t got = 0;
  if (palette->Read(bytes, sizeof bytes, &got) != 0 || got != sizeof bytes) return 1;
  LoadColorTable(bytes, got);
  return 0;
}
