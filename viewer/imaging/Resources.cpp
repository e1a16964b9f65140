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

  // A picture that cannot become a bitmap draws as nothing. The entries
  // are read in the pack's order, the title's too (a null slot).
  ComRef<ID2D1Bitmap> background;
  const struct {
    const char16_t* path;
    ComRef<ID2D1Bitmap>* bitmap;
  } entries[] = {{u"/res/back.png", std::addressof(background)},
                 {u"/res/title.png", nullptr},
                 {u"/res/unknown.png", std::addressof(pictures.unknown)},
                 {u"/res/error.png", std::addressof(pictures.error)}};
  pictures.title = {};
  for (const auto& entry : entries) {
    ComRef<IFile> file;
    if (pack->OpenFile(&file, entry.path, nullptr) != 0) return 1;
    if (entry.bitmap == nullptr) {
      pictures.titleFile = std::move(file);
      continue;
    }
    ComRef<IWICBitmapSource> pixels;
    if (DecodeImage(file.get(), Colorizing::Off, pixels) != 0) return 1;
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

int32_t MakeTitle(D2D& renderer, BuiltInPictures& pictures) {
  if (!pictures.titleFile) return 0;
  ComRef<IWICBitmapSource> pixels;
  const int32_t decoded = DecodeImage(pictures.titleFile.get(), Colorizing::Off, pixels);
  pictures.titleFile = {};
  if (decoded != 0) return 1;
  renderer.MakeBitmap(&pictures.title, pixels.get());
  return 0;
}
