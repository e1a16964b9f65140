// The viewer's own pictures and palette, read from the resource pack
// through the same interfaces as any archive book.
#pragma once

#include <string>

#include "ordel/FileSystem.h"
#include "viewer/imaging/D2D.h"

// Drawing-device bitmaps: made again whenever the device is.
struct BuiltInPictures {
  ComRef<ID2D1Bitmap> title;    // made when first asked for (MakeTitle)
  ComRef<ID2D1Bitmap> unknown;  // a book without a page that decodes
  ComRef<ID2D1Bitmap> error;    // a book that could not be opened
  ComRef<IFile> titleFile;      // the title as read from the pack, until it is made
};

// The pack's file name in the program's folder.
inline constexpr char16_t kResourcePack[] = u"res.pack";

// Reads `folder` + "res.pack": the background tile into the renderer, the
// pictures, and the palette into the colour table. 0, or 1 when the pack,
// a picture or the palette is missing or unreadable. The title is read but
// not decoded: it is as large as the others together, and a window that
// opens a book at once never shows it.
int32_t LoadResources(IFileSystem* fileSystem, const std::u16string& folder, D2D& renderer, BuiltInPictures& pictures);

// Decodes the title read by LoadResources and makes it, once: 0, or 1 when
// it does not decode. Tried once: from then on it stays as made, or null
// (drawing as nothing).
int32_t MakeTitle(D2D& renderer, BuiltInPictures& pictures);
