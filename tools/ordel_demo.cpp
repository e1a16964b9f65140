// ordel-demo: the library's 2D engine and music in a few lines. Opens a
// 640 x 480 window, loads a picture into a surface, draws it, renders a
// tinted copy into a target surface and draws that, and plays an Ogg file
// in a loop when one is given. Ends when the window closes.
//
//   ordel-demo [picture] [music.ogg]
#include <cstdio>
#include <string>

#include "ordel/Audio.h"
#include "ordel/FileSystem.h"
#include "ordel/Graphic.h"
#include "ordel/Ordel.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

// Opens an absolute path's file through the library's file system.
IFile* OpenFile(IFileSystem* fs, const std::string& path) {
  IDirectory* root = nullptr;
  IFile* file = nullptr;
  if (fs->OpenDirectory(&root, u"/") == 0) {
    root->OpenFile(&file, Utf8ToUtf16(path).c_str(), nullptr);
    root->Release();
  }
  return file;
}

class Demo final : public CUnknownImpl<IGraphicHandler> {
 public:
  Demo(IGraphic* graphic, IFile* picture) : m_graphic(graphic), m_picture(picture) {}

  void OnInitialize() override {
    if (m_picture != nullptr) m_graphic->CreateSurfaceFromFile(&m_surface, m_picture);
    m_graphic->CreateSurface(&m_target, 256, 256, 1);  // kind 1: a render target
  }
  void OnUpdate() override { m_frame = (m_frame + 1) % 256; }
  void OnDraw() override {
    // Into the target: the picture, tinted blue.
    m_graphic->SetRenderTarget(m_target);
    const RECT targetArea{0, 0, 256, 256};
    const float blue[4] = {0.5f, 0.6f, 1.0f, 1.0f};
    m_graphic->SetTexture(m_surface, 0);
    m_graphic->DrawQuad(&targetArea, nullptr, blue);
    // On screen: the picture on the left, the target on the right, sliding.
    m_graphic->SetRenderTarget(nullptr);
    m_graphic->SetTexture(m_surface, 0);
    const RECT left{20, 40, 300, 440};
    m_graphic->DrawQuad(&left, nullptr, nullptr);
    m_graphic->SetTexture(m_target, 0);
    const RECT right{340, 40 + m_frame / 4, 620, 320 + m_frame / 4};
    m_graphic->DrawQuad(&right, nullptr, nullptr);
  }
  void OnExit() override {
    if (m_surface != nullptr) m_surface->Release();
    if (m_target != nullptr) m_target->Release();
    m_surface = m_target = nullptr;
  }

 private:
  IGraphic* m_graphic;
  IFile* m_picture;
  ISurface* m_surface = nullptr;
  ISurface* m_target = nullptr;
  int m_frame = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string here = Utf16ToUtf8(GetModuleDirectory());
  const std::string picture = argc > 1 ? argv[1] : here + "../sample-book/01.jpg";
  IFileSystem* fs = nullptr;
  IGraphic* graphic = nullptr;
  if (OrdelCreateInstance(IID_IFileSystem, reinterpret_cast<void**>(&fs)) != 0 ||
      OrdelCreateInstance(IID_IGraphic, reinterpret_cast<void**>(&graphic)) != 0) {
    std::fprintf(stderr, "ordel-demo: the library gave no file system or engine\n");
    return 1;
  }
  IAudio* audio = nullptr;
  IBGM* music = nullptr;
  if (argc > 2 && OrdelCreateInstance(IID_IAudio, reinterpret_cast<void**>(&audio)) == 0) {
    if (IFile* ogg = OpenFile(fs, argv[2])) {
      if (audio->CreateBGM(&music, ogg) == 0) music->Play();
      ogg->Release();
    }
  }
  IFile* image = OpenFile(fs, picture);
  auto* demo = new Demo(graphic, image);
  demo->AddRef();
  int rc = 1;
  if (graphic->Initialize(nullptr, demo, 640, 480, true) == 0) rc = graphic->Run();
  if (music != nullptr) music->Release();  // before the engine that plays it
  if (audio != nullptr) audio->Release();
  graphic->Release();
  demo->Release();
  if (image != nullptr) image->Release();
  fs->Release();
  return rc;
}
