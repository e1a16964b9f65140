// The viewer's own pictures and palette, read from the resource pack
// through the same interfaces as any archive book.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "viewer/imaging/D2D.h"
#include "viewer/imaging/WICFormatConverter.h"

// Drawing-device bitmaps: made again whenever the device is.
struct BuiltInPictures {
  ComRef<ID2D1Bitmap> title;
  ComRef<ID2D1Bitmap> unknown;  // a book without a page that decodes
  ComRef<ID2D1Bitmap> error;    // a book that could not be opened
};

// The pack's file name in the program's folder.
inline constexpr char16_t kResourcePack[] = u"res.pack";

// The pack read and its pictures decoded, not yet made device bitmaps:
// that needs no window, so it may be done ahead, on another thread.
struct ResourcesRead {
  int32_t status = 1;  // 0 when every picture and the palette were read
  // The background tile, title, unknown and error pictures, in that order,
  // up to the first that could not be read.
  std::vector<ComRef<IWICBitmapSource>> pictures;
  std::array<BYTE, kPaletteFileBytes> palette{};
  std::u16string said;  // the debug output of a reading ahead, said when it is used
};

// Reads the pack `file` holds.
ResourcesRead ReadResources(IFile* pack);
// The pack in `folder` (it ends with '/') read straight from the disk.
ResourcesRead ReadResourcesAhead(const std::u16string& folder);
// The pictures of `read` made bitmaps (the tile the renderer's background)
// and its palette the colour table. 0, or 1 when the reading failed.
int32_t UseResources(const ResourcesRead& read, D2D& renderer, BuiltInPictures& pictures);

// Reads `folder` + "res.pack": the background tile into the renderer, the
// pictures, and the palette into the colour table. 0, or 1 when the pack,
// a picture or the palette is missing or unreadable.
int32_t LoadResources(IFileSystem* fileSystem, const std::u16string& folder, D2D& renderer, BuiltInPictures& pictures);
