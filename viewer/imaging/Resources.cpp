// The viewer's own pictures and palette, read from "res.pack" next to the
// program through the same interfaces as any archive book.
#include "common/Stream.h"
#include "viewer/book/Archive.h"
#include "viewer/imaging/WICFormatConverter.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Settings.h"

int32_t CMainWindow::LoadResources() {
  if (m_fileSystem == nullptr) return 1;
  ComRef<IDirectory> folder;
  if (m_fileSystem->OpenDirectory(&folder, g_moduleDir.c_str()) != 0) return 1;
  ComRef<IDirectory> pack;
  {
    ComRef<IFile> file;
    if (folder->OpenFile(&file, u"/res.pack", nullptr) != 0) return 1;
    if (OpenArchive(file.get(), &pack) != 0) return 1;
  }
  ComRef<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))))
    return 1;

  const struct {
    const char16_t* path;
    ID2D1Bitmap** bitmap;
  } pictures[] = {{u"/res/back.png", &m_background},
                  {u"/res/title.png", &m_titleImage},
                  {u"/res/unknown.png", &m_unknownImage},
                  {u"/res/error.png", &m_errorImage}};
  for (const auto& picture : pictures) {
    ComRef<IFile> file;
    ComRef<IStream> stream;
    ComRef<IWICBitmapDecoder> decoder;
    ComRef<IWICBitmapFrameDecode> frame;
    ComRef<IWICFormatConverter> converter;
    if (pack->OpenFile(&file, picture.path, nullptr) != 0 || CreateFileStream(file.get(), &stream) != 0 ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeMedianCut)))
      return 1;
    // A picture that cannot become a bitmap draws as nothing.
    SafeRelease(*picture.bitmap);
    MakeBitmap(picture.bitmap, converter.get());
  }

  ComRef<IFile> palette;
  if (pack->OpenFile(&palette, u"/res/4color4_v0.1.7.amp", nullptr) != 0) return 1;
  BYTE bytes[kPaletteFileBytes];
  uint32_t got = 0;
  if (palette->Read(bytes, sizeof bytes, &got) != 0 || got != sizeof bytes) return 1;
  LoadColorTable(bytes, got);
  return 0;
}
