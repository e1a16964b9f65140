// The library's 2D engine on the offscreen video driver: pixels drawn and
// read back, surfaces, render targets, and the frame loop's timing.
#include <gtest/gtest.h>
#include <SDL2/SDL.h>
#include <unistd.h>

#include <QtCore/QBuffer>
#include <QtGui/QImage>

#include <functional>
#include <string>

#include "ImageSupport.h"
#include "ordel/graphics/Graphic.h"

using test::Ref;

// Mesa's software GL driver keeps allocations that LeakSanitizer cannot even
// name (the driver is unloaded before the check): leak checks stay off for
// this program alone; AddressSanitizer's other checks stay on.
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() { return 1; }

namespace {

class Handler final : public CUnknownImpl<IGraphicHandler> {
 public:
  void OnInitialize() override { ++initialized; }
  void OnUpdate() override {
    ++updates;
    if (update) update();
  }
  void OnDraw() override {
    ++draws;
    if (draw) draw();
  }
  void OnExit() override { ++exits; }
  int initialized = 0, updates = 0, draws = 0, exits = 0;
  std::function<void()> update, draw;
};

std::string Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

// 256 x 256: red top left, green top right, blue bottom left, white bottom right.
QImage Quarters() {
  QImage image(256, 256, QImage::Format_RGB32);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      image.setPixel(x, y, y < 128 ? (x < 128 ? qRgb(255, 0, 0) : qRgb(0, 255, 0)) : (x < 128 ? qRgb(0, 0, 255) : qRgb(255, 255, 255)));
  return image;
}

class Graphic : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
    ASSERT_EQ(CreateGraphic(reinterpret_cast<void**>(&m_graphic)), 0);
    m_handler = new Handler;
    m_handler->AddRef();
  }
  void TearDown() override {
    m_graphic.Reset();
    m_handler->Release();
  }
  void Init(int w = 640, int h = 480) { ASSERT_EQ(m_graphic->Initialize(nullptr, m_handler, w, h, true), 0); }
  // Pixel (x, y) of the back buffer as 0xRRGGBB.
  uint32_t Pixel(int x, int y) {
    D3D11_TEXTURE2D_DESC desc;
    ID3D11Texture2D* back = BackBufferOf(m_graphic.get());
    back->GetDesc(&desc);
    std::vector<uint8_t> rgba(static_cast<std::size_t>(desc.Width) * desc.Height * 4);
    EXPECT_TRUE(ReadTexturePixels(back, rgba.data()));
    const uint8_t* p = &rgba[(static_cast<std::size_t>(y) * desc.Width + x) * 4];
    return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
  }
  void Fill(float r, float g, float b) {
    m_graphic->SetTexture(nullptr, 0);
    const RECT all{0, 0, 640, 480};
    const float colour[4] = {r, g, b, 1};
    m_graphic->DrawQuad(&all, nullptr, colour);
  }
  Ref<ISurface> Surface(const std::string& bytes, int32_t* result = nullptr) {
    IFile* file = nullptr;
    HandOut(new test::MemoryFile(bytes), IID_IFile, reinterpret_cast<void**>(&file));
    Ref<ISurface> surface;
    const int32_t r = m_graphic->CreateSurfaceFromFile(&surface, file);
    if (result != nullptr) *result = r;
    file->Release();
    return surface;
  }

  Ref<IGraphic> m_graphic;
  Handler* m_handler = nullptr;
};

TEST_F(Graphic, InitializeOnceWithAHandler) {
  EXPECT_EQ(m_graphic->Initialize(nullptr, nullptr, 640, 480, true), 1);
  Init();
  EXPECT_EQ(m_handler->initialized, 1);
  EXPECT_EQ(m_graphic->Initialize(nullptr, m_handler, 640, 480, true), 1);
  D3D11_TEXTURE2D_DESC desc;
  BackBufferOf(m_graphic.get())->GetDesc(&desc);
  EXPECT_EQ(desc.Width, 640u);
  EXPECT_EQ(desc.Height, 480u);
  // The drawable is exactly the size asked for, centred on its display.
  SDL_Window* window = WindowOf(m_graphic.get());
  int w = 0, h = 0, x = 0, y = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  SDL_Rect display{};
  ASSERT_EQ(SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &display), 0);
  SDL_GetWindowPosition(window, &x, &y);
  EXPECT_NEAR(x + w / 2, display.x + display.w / 2, 1);
  EXPECT_NEAR(y + h / 2, display.y + display.h / 2, 1);
}

TEST_F(Graphic, QuadsDrawTexturesUprightAndInColour) {
  Init();
  Fill(0, 0, 0);
  Ref<ISurface> quarters = Surface(Png(Quarters()));
  ASSERT_EQ(m_graphic->SetTexture(quarters.get(), 0), 0);
  const RECT whole{0, 0, 256, 256};
  m_graphic->DrawQuad(&whole, nullptr, nullptr);  // white: the texture's own colours
  EXPECT_EQ(Pixel(64, 64), 0xFF0000u);
  EXPECT_EQ(Pixel(192, 64), 0x00FF00u);
  EXPECT_EQ(Pixel(64, 192), 0x0000FFu);
  EXPECT_EQ(Pixel(192, 192), 0xFFFFFFu);
  EXPECT_EQ(Pixel(300, 300), 0x000000u);

  // The source's top left quarter over a whole 256 x 256 destination.
  const RECT at{300, 100, 556, 356};
  const RECT quarter{0, 0, 128, 128};
  m_graphic->DrawQuad(&at, &quarter, nullptr);
  EXPECT_EQ(Pixel(310, 110), 0xFF0000u);
  EXPECT_EQ(Pixel(540, 340), 0xFF0000u);

  // Without a texture: flat colour.
  m_graphic->SetTexture(nullptr, 0);
  const RECT flat{600, 400, 640, 480};
  const float teal[4] = {0, 0.5f, 1, 1};
  m_graphic->DrawQuad(&flat, nullptr, teal);
  EXPECT_EQ(Pixel(620, 440), 0x0080FFu);
}

TEST_F(Graphic, AlphaAndAdditiveBlending) {
  Init();
  Fill(0.2f, 0.2f, 0.2f);
  const float halfRed[4] = {1, 0, 0, 0.5f};
  m_graphic->SetTexture(nullptr, 0);
  const RECT left{0, 0, 100, 100};
  m_graphic->DrawQuad(&left, nullptr, halfRed);
  m_graphic->SetTexture(nullptr, 1);
  const RECT right{200, 0, 300, 100};
  m_graphic->DrawQuad(&right, nullptr, halfRed);
  // alpha: 0.5 + 0.5 x 0.2 = 0.6; additive: 0.5 + 0.2 = 0.7.
  EXPECT_NEAR(static_cast<int>(Pixel(50, 50) >> 16), 153, 1);
  EXPECT_NEAR(static_cast<int>(Pixel(250, 50) >> 16), 179, 1);
  EXPECT_NEAR(static_cast<int>((Pixel(250, 50) >> 8) & 0xFF), 51, 1);
}

TEST_F(Graphic, RenderTargetsKeepTheirTop) {
  Init();
  Fill(0, 0, 0);
  Ref<ISurface> target, plain, dynamic;
  ASSERT_EQ(m_graphic->CreateSurface(&target, 128, 128, 1), 0);
  ASSERT_EQ(m_graphic->CreateSurface(&plain, 64, 64, 0), 0);
  ASSERT_EQ(m_graphic->CreateSurface(&dynamic, 64, 64, 2), 0);
  EXPECT_EQ(m_graphic->SetRenderTarget(plain.get()), 1);
  EXPECT_EQ(m_graphic->SetRenderTarget(dynamic.get()), 1);

  ASSERT_EQ(m_graphic->SetRenderTarget(target.get()), 0);
  m_graphic->SetTexture(nullptr, 0);
  const RECT all{0, 0, 128, 128}, top{0, 0, 128, 64};
  const float blue[4] = {0, 0, 1, 1}, yellow[4] = {1, 1, 0, 1};
  m_graphic->DrawQuad(&all, nullptr, blue);
  m_graphic->DrawQuad(&top, nullptr, yellow);  // the top half of the target
  ASSERT_EQ(m_graphic->SetRenderTarget(nullptr), 0);
  m_graphic->SetTexture(target.get(), 0);
  const RECT shown{10, 10, 138, 138};
  m_graphic->DrawQuad(&shown, nullptr, nullptr);
  EXPECT_EQ(Pixel(70, 20), 0xFFFF00u);
  EXPECT_EQ(Pixel(70, 130), 0x0000FFu);
}

TEST_F(Graphic, AFileThatIsNoImageGivesASurfaceThatDrawsNothing) {
  Init();
  Fill(0, 0, 0);
  int32_t result = 0;
  Ref<ISurface> nothing = Surface("just text", &result);
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(nothing);
  EXPECT_EQ(m_graphic->SetTexture(nothing.get(), 0), 1);
  EXPECT_EQ(m_graphic->SetRenderTarget(nothing.get()), 1);
}

TEST_F(Graphic, TheFrameLoopTicksEvery16MillisecondsAndCatchesUpSixAtMost) {
  Init(64, 64);
  // A clock of its own: one millisecond a reading, plus the jumps the test
  // makes, so the loop's arithmetic is checked whatever the machine's load.
  static uint32_t now;
  now = 1000;
  g_timeGetTime = [] { return ++now; };
  std::vector<int> ticksBefore;  // ticks run before each frame
  int ticks = 0;
  m_handler->update = [&] { ++ticks; };
  m_handler->draw = [&] {
    ticksBefore.push_back(ticks);
    ticks = 0;
    switch (ticksBefore.size()) {
      case 3: now += 200; break;  // a stall: the next frame runs 6 ticks, not 12
      case 4: now += 36; break;   // 37 ms with the next reading: 2 ticks
      case 6: now = 0xFFFFFFFFu - 20; break;  // the 32-bit counter is about to wrap
      case 12: {
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
        break;
      }
      default: break;
    }
  };
  EXPECT_EQ(m_graphic->Run(), 0);
  g_timeGetTime = [] { return static_cast<uint32_t>(SDL_GetTicks()); };
  EXPECT_EQ(m_handler->exits, 1);
  ASSERT_GE(ticksBefore.size(), 12u) << "the loop froze";
  EXPECT_EQ(ticksBefore[3], 6);
  EXPECT_EQ(ticksBefore[4], 2);
  for (std::size_t i = 6; i < ticksBefore.size(); ++i) EXPECT_GE(ticksBefore[i], 1);
}

TEST_F(Graphic, MissingOrOversizedShadersDrawNothing) {
  test::TempDir place;
  place.MakeFolder("bin");
  place.MakeFolder("ordel");
  place.WriteFile("ordel/draw2dtex.VS.cfx", std::string(20000, ' '));  // larger than the read buffer
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir((place / "bin").c_str()), 0);
  const int32_t result = m_graphic->Initialize(nullptr, m_handler, 64, 64, true);
  ASSERT_EQ(::chdir(cwd), 0);
  ASSERT_EQ(result, 0);
  m_graphic->SetTexture(nullptr, 0);
  const RECT all{0, 0, 64, 64};
  m_graphic->DrawQuad(&all, nullptr, nullptr);  // no shaders: nothing drawn, nothing breaks
  EXPECT_NE(Pixel(32, 32), 0xFFFFFFu);
}

}  // namespace
