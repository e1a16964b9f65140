#include "ordel/graphics/Graphic.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common/Stream.h"
#include "platform/debug.h"
#include "platform/graphicwindow.h"
#include "platform/mmsystem.h"
#include "platform/wincodec.h"

uint32_t (*g_timeGetTime)() = timeGetTime;

namespace {

constexpr uint32_t kTick = 16;
constexpr int kMaxTicks = 6;
constexpr std::size_t kShaderBuffer = 16384;

// A shader file's bytes, relative to the current folder; empty when it is
// missing or larger than the read buffer.
std::vector<char> ReadShader(const char* path) {
  std::vector<char> bytes(kShaderBuffer + 1);
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return {};
  const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  if (n > kShaderBuffer) return {};  // would not fit the buffer: refused
  bytes.resize(n);
  return bytes;
}

void Failed() { OutputDebugStringW(u"\u5931\u6557\r\n"); }

// The description of the 2D texture behind a view; false for another resource.
bool TextureBehind(ID3D11View* view, D3D11_TEXTURE2D_DESC* desc) {
  ID3D11Resource* resource = nullptr;
  view->GetResource(&resource);
  D3D11_RESOURCE_DIMENSION dimension;
  resource->GetType(&dimension);
  if (dimension == D3D11_RESOURCE_DIMENSION_TEXTURE2D) static_cast<ID3D11Texture2D*>(resource)->GetDesc(desc);
  resource->Release();
  return dimension == D3D11_RESOURCE_DIMENSION_TEXTURE2D;
}

class CSurface final : public ISurface, public ISurfaceGetInterface {
 public:
  explicit CSurface(ID3D11Device* device) : m_device(device) { m_device->AddRef(); }

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == ISurface::iid)
      *out = static_cast<ISurface*>(this);
    else if (riid == ISurfaceGetInterface::iid)
      *out = static_cast<ISurfaceGetInterface*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++m_count); }
  ULONG Release() override {
    const int32_t n = --m_count;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  void Reserved() override {}
  HRESULT GetShaderResourceView(ID3D11ShaderResourceView** out) override {
    if (m_srv == nullptr) return E_NOINTERFACE;
    m_srv->AddRef();
    *out = m_srv;
    return S_OK;
  }
  HRESULT GetRenderTargetView(ID3D11RenderTargetView** out) override {
    if (m_rtv == nullptr) return E_NOINTERFACE;
    m_rtv->AddRef();
    *out = m_rtv;
    return S_OK;
  }

  ID3D11Device* m_device;
  ID3D11Texture2D* m_texture = nullptr;
  ID3D11ShaderResourceView* m_srv = nullptr;
  ID3D11RenderTargetView* m_rtv = nullptr;

 private:
  ~CSurface() {
    SafeRelease(m_rtv);
    SafeRelease(m_srv);
    SafeRelease(m_texture);
    m_device->Release();
  }
  int32_t m_count = 0;
};

D3D11_TEXTURE2D_DESC TextureDesc(uint32_t width, uint32_t height, int32_t kind) {
  D3D11_TEXTURE2D_DESC desc{width, height, 1, 1, DXGI_FORMAT_R8G8B8A8_UNORM, {1, 0}, D3D11_USAGE_DEFAULT,
                            D3D11_BIND_SHADER_RESOURCE, 0, 0};
  if (kind == 1) desc.BindFlags |= D3D11_BIND_RENDER_TARGET;
  if (kind == 2) {
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
  }
  return desc;
}

class CGraphic final : public CUnknownImpl<IGraphic> {
 public:
  int32_t Initialize(void*, IGraphicHandler* handler, int32_t width, int32_t height, bool windowed) override;
  int32_t Run() override;
  int32_t CreateSurfaceFromFile(ISurface** out, IFile* file) override;
  int32_t CreateSurface(ISurface** out, uint32_t width, uint32_t height, int32_t kind) override;
  int32_t SetRenderTarget(ISurface* target) override;
  int32_t SetTexture(ISurface* texture, int32_t additive) override;
  int32_t DrawVertices(const Vertex2D* vertices, uint32_t count) override;
  int32_t DrawTestQuad() override;
  int32_t DrawQuad(const RECT* destination, const RECT* source, const float* colour) override;

  ID3D11Texture2D* BackBuffer() const { return m_backBuffer; }
  GraphicWindow Window() const { return m_window; }

 private:
  ~CGraphic() override {
    SafeRelease(m_handler);
    SafeRelease(m_psNoTex);
    SafeRelease(m_psTex);
    SafeRelease(m_additive);
    SafeRelease(m_alpha);
    SafeRelease(m_backView);
    SafeRelease(m_backBuffer);
    SafeRelease(m_swapChain);
    SafeRelease(m_context);
    SafeRelease(m_device);
    DestroyGraphicWindow(m_window);
  }
  ISurface* MakeSurface(ID3D11Texture2D* texture, bool renderTarget);

  GraphicWindow m_window = nullptr;
  ID3D11Device* m_device = nullptr;
  ID3D11DeviceContext* m_context = nullptr;
  IDXGISwapChain* m_swapChain = nullptr;
  ID3D11Texture2D* m_backBuffer = nullptr;
  ID3D11RenderTargetView* m_backView = nullptr;
  ID3D11BlendState* m_alpha = nullptr;
  ID3D11BlendState* m_additive = nullptr;
  ID3D11PixelShader* m_psTex = nullptr;
  ID3D11PixelShader* m_psNoTex = nullptr;
  IGraphicHandler* m_handler = nullptr;
  int32_t m_textureWidth = 0;
  int32_t m_textureHeight = 0;
};

int32_t CGraphic::Initialize(void*, IGraphicHandler* handler, int32_t width, int32_t height, bool windowed) {
  if (m_window != nullptr || handler == nullptr) return 1;
  // The library's own window; centred on its display when windowed.
  m_window = CreateGraphicWindow(u"Ordel", width, height,
                                 windowed ? GraphicWindowPlacement::Centred : GraphicWindowPlacement::FullScreen);
  if (m_window == nullptr) {
    Failed();
    return 1;
  }
  ShowGraphicWindow(m_window);

  DXGI_SWAP_CHAIN_DESC chain{};
  chain.BufferDesc.Width = static_cast<UINT>(width);
  chain.BufferDesc.Height = static_cast<UINT>(height);
  chain.BufferDesc.RefreshRate = {60, 1};
  chain.BufferDesc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
  chain.BufferDesc.ScanlineOrdering = 1;
  chain.SampleDesc = {1, 0};
  chain.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  chain.BufferCount = 1;
  chain.OutputWindow = m_window;
  chain.Windowed = windowed ? TRUE : FALSE;
  if (FAILED(D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                           &chain, &m_swapChain, &m_device, nullptr, &m_context))) {
    Failed();
    return 1;  // nothing can be drawn without a device: refused rather than half made
  }
  if (FAILED(m_swapChain->GetBuffer(0, ID3D11Texture2D::iid, reinterpret_cast<void**>(&m_backBuffer)))) Failed();
  if (m_backBuffer == nullptr || FAILED(m_device->CreateRenderTargetView(m_backBuffer, nullptr, &m_backView))) {
    Failed();
    return 1;
  }

  const std::vector<char> vs = ReadShader("../ordel/draw2dtex.VS.cfx");
  ID3D11VertexShader* vertexShader = nullptr;
  ID3D11InputLayout* layout = nullptr;
  const D3D11_INPUT_ELEMENT_DESC elements[] = {
      {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 0, D3D11_INPUT_PER_VERTEX_DATA, 0},
      {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, 8, D3D11_INPUT_PER_VERTEX_DATA, 0},
      {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 16, D3D11_INPUT_PER_VERTEX_DATA, 0}};
  m_device->CreateVertexShader(vs.data(), vs.size(), nullptr, &vertexShader);
  m_device->CreateInputLayout(elements, 3, vs.data(), vs.size(), &layout);

  const D3D11_RASTERIZER_DESC raster{D3D11_FILL_SOLID, D3D11_CULL_NONE, FALSE, 0, 0, 0, FALSE, FALSE, FALSE, FALSE};
  const D3D11_DEPTH_STENCILOP_DESC keep{D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP, D3D11_STENCIL_OP_KEEP,
                                        D3D11_COMPARISON_ALWAYS};
  const D3D11_DEPTH_STENCIL_DESC depth{FALSE, D3D11_DEPTH_WRITE_MASK_ALL, D3D11_COMPARISON_LESS, FALSE, 0xFF, 0xFF, keep, keep};
  ID3D11RasterizerState* rasterizer = nullptr;
  ID3D11DepthStencilState* depthState = nullptr;
  m_device->CreateRasterizerState(&raster, &rasterizer);
  m_device->CreateDepthStencilState(&depth, &depthState);

  m_context->IASetInputLayout(layout);
  m_context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP);
  m_context->VSSetShader(vertexShader, nullptr, 0);
  m_context->RSSetState(rasterizer);
  m_context->OMSetDepthStencilState(depthState, 0);
  SafeRelease(layout);
  SafeRelease(vertexShader);
  SafeRelease(rasterizer);
  SafeRelease(depthState);

  D3D11_BLEND_DESC blend{};
  blend.RenderTarget[0] = {TRUE, D3D11_BLEND_SRC_ALPHA, D3D11_BLEND_INV_SRC_ALPHA, D3D11_BLEND_OP_ADD,
                           D3D11_BLEND_ONE, D3D11_BLEND_ONE, D3D11_BLEND_OP_MAX, 0xF};
  m_device->CreateBlendState(&blend, &m_alpha);
  blend.RenderTarget[0].DestBlend = D3D11_BLEND_ONE;
  m_device->CreateBlendState(&blend, &m_additive);

  const std::vector<char> ps = ReadShader("../ordel/draw2dtex.PS.cfx");
  const std::vector<char> psNoTex = ReadShader("../ordel/draw2dtex.PSnoTex.cfx");
  m_device->CreatePixelShader(ps.data(), ps.size(), nullptr, &m_psTex);
  m_device->CreatePixelShader(psNoTex.data(), psNoTex.size(), nullptr, &m_psNoTex);

  SetRenderTarget(nullptr);
  handler->AddRef();
  SafeRelease(m_handler);
  m_handler = handler;
  m_handler->OnInitialize();
  return 0;
}

int32_t CGraphic::Run() {
  uint32_t last = g_timeGetTime();
  const float black[4] = {0, 0, 0, 0};
  for (;;) {
    const GraphicEvent event = PollGraphicEvent();
    if (event == GraphicEvent::Quit) break;
    if (event != GraphicEvent::None) continue;  // messages go before frames
    const uint32_t now = g_timeGetTime();
    if (now < last) last = 0;  // the counter wrapped
    if (last + kTick > now) {
      // Nothing to do before the next tick: sleep until it, or until a
      // message comes, instead of spinning a core.
      WaitGraphicEvent(static_cast<int>(last + kTick - now));
      continue;
    }
    int ticks = 0;
    do {
      m_handler->OnUpdate();
      last += kTick;
    } while (++ticks < kMaxTicks && last + kTick <= now);
    m_context->ClearRenderTargetView(m_backView, black);
    m_handler->OnDraw();
    m_swapChain->Present(1, 0);
    last = now;
  }
  m_handler->OnExit();
  return 0;
}

ISurface* CGraphic::MakeSurface(ID3D11Texture2D* texture, bool renderTarget) {
  auto* surface = new (std::nothrow) CSurface(m_device);
  if (surface == nullptr) return nullptr;
  surface->m_texture = texture;
  if (texture != nullptr) {
    m_device->CreateShaderResourceView(texture, nullptr, &surface->m_srv);
    if (renderTarget) m_device->CreateRenderTargetView(texture, nullptr, &surface->m_rtv);
  }
  ISurface* out = nullptr;
  surface->QueryInterface(ISurface::iid, reinterpret_cast<void**>(&out));
  return out;
}

int32_t CGraphic::CreateSurfaceFromFile(ISurface** out, IFile* file) {
  if (out == nullptr || m_device == nullptr) return 1;
  // Decoded as a page is: stream, decoder, frame 0, converted to 32bppRGBA.
  ID3D11Texture2D* texture = nullptr;
  IStream* stream = nullptr;
  IWICImagingFactory* factory = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICFormatConverter* converter = nullptr;
  UINT w = 0, h = 0;
  std::vector<BYTE> pixels;
  if (file != nullptr && CreateFileStream(file, &stream) == 0 &&
      SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) &&
      SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
      SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                      WICBitmapPaletteTypeMedianCut)) &&
      SUCCEEDED(converter->GetSize(&w, &h)) && w > 0 && h > 0 && static_cast<uint64_t>(w) * h * 4 <= 0xFFFFFFFFu) {
    pixels.resize(static_cast<std::size_t>(w) * h * 4);
    if (SUCCEEDED(converter->CopyPixels(nullptr, 4 * w, static_cast<UINT>(pixels.size()), pixels.data()))) {
      const D3D11_TEXTURE2D_DESC desc = TextureDesc(w, h, 0);
      const D3D11_SUBRESOURCE_DATA data{pixels.data(), 4 * w, 0};
      m_device->CreateTexture2D(&desc, &data, &texture);
    }
  }
  SafeRelease(converter);
  SafeRelease(frame);
  SafeRelease(decoder);
  SafeRelease(factory);
  SafeRelease(stream);
  // Not an image: a surface all the same, without a texture, which binds
  // nothing and draws nothing; the result says it failed.
  *out = MakeSurface(texture, false);
  return texture != nullptr ? 0 : 1;
}

int32_t CGraphic::CreateSurface(ISurface** out, uint32_t width, uint32_t height, int32_t kind) {
  if (out == nullptr || m_device == nullptr) return 1;
  const D3D11_TEXTURE2D_DESC desc = TextureDesc(width, height, kind);
  ID3D11Texture2D* texture = nullptr;
  m_device->CreateTexture2D(&desc, nullptr, &texture);
  *out = MakeSurface(texture, kind == 1);
  return 0;
}

int32_t CGraphic::SetRenderTarget(ISurface* target) {
  ID3D11RenderTargetView* view = nullptr;
  if (target != nullptr) {
    ISurfaceGetInterface* get = nullptr;
    if (target->QueryInterface(ISurfaceGetInterface::iid, reinterpret_cast<void**>(&get)) != S_OK) return 1;
    const HRESULT hr = get->GetRenderTargetView(&view);
    get->Release();
    if (FAILED(hr)) return 1;  // no render-target view: nothing changes
  } else {
    if (m_backView == nullptr) return 1;
    view = m_backView;
    view->AddRef();
  }
  D3D11_TEXTURE2D_DESC desc;
  if (!TextureBehind(view, &desc)) {
    view->Release();
    return 1;
  }
  const float W = static_cast<float>(desc.Width), H = static_cast<float>(desc.Height);
  float constants[64] = {2 / W, 0, 0, 0, 0, -2 / H, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
  const D3D11_BUFFER_DESC bufferDesc{256, D3D11_USAGE_DYNAMIC, D3D11_BIND_CONSTANT_BUFFER, D3D11_CPU_ACCESS_WRITE, 0, 0};
  const D3D11_SUBRESOURCE_DATA data{constants, 0, 0};
  ID3D11Buffer* buffer = nullptr;
  m_device->CreateBuffer(&bufferDesc, &data, &buffer);
  m_context->VSSetConstantBuffers(0, 1, &buffer);
  const D3D11_VIEWPORT viewport{0, 0, W, H, 0, 1};
  m_context->RSSetViewports(1, &viewport);
  m_context->OMSetRenderTargets(1, &view, nullptr);
  SafeRelease(buffer);
  view->Release();
  return 0;
}

int32_t CGraphic::SetTexture(ISurface* texture, int32_t additive) {
  if (texture != nullptr) {
    m_context->PSSetShader(m_psTex, nullptr, 0);
    ISurfaceGetInterface* get = nullptr;
    if (texture->QueryInterface(ISurfaceGetInterface::iid, reinterpret_cast<void**>(&get)) != S_OK) return 1;
    ID3D11ShaderResourceView* view = nullptr;
    const HRESULT hr = get->GetShaderResourceView(&view);
    get->Release();
    if (FAILED(hr)) return 1;
    D3D11_TEXTURE2D_DESC desc;
    if (!TextureBehind(view, &desc)) {
      view->Release();
      return 1;
    }
    m_textureWidth = static_cast<int32_t>(desc.Width);
    m_textureHeight = static_cast<int32_t>(desc.Height);
    m_context->PSSetShaderResources(0, 1, &view);
    view->Release();
  } else {
    m_context->PSSetShader(m_psNoTex, nullptr, 0);
    m_textureWidth = m_textureHeight = 0;
  }
  const float factor[4] = {0, 0, 0, 0};
  m_context->OMSetBlendState(additive != 0 ? m_additive : m_alpha, factor, 0xFFFFFFFFu);
  return 0;
}

int32_t CGraphic::DrawVertices(const Vertex2D* vertices, uint32_t) {
  if (vertices == nullptr || m_device == nullptr) return 1;
  const D3D11_BUFFER_DESC desc{128, D3D11_USAGE_DEFAULT, D3D11_BIND_VERTEX_BUFFER, 0, 0, 0};
  const D3D11_SUBRESOURCE_DATA data{vertices, 0, 0};
  ID3D11Buffer* buffer = nullptr;
  if (FAILED(m_device->CreateBuffer(&desc, &data, &buffer))) return 0;
  const UINT stride = sizeof(Vertex2D), offset = 0;
  m_context->IASetVertexBuffers(0, 1, &buffer, &stride, &offset);
  m_context->Draw(4, 0);
  SafeRelease(buffer);
  return 0;
}

int32_t CGraphic::DrawTestQuad() {
  const Vertex2D quad[4] = {{32, 500, 0, 1, 1, 1, 1, 1}, {32, 32, 0, 0, 1, 1, 1, 1}, {500, 500, 1, 1, 1, 1, 1, 1},
                            {500, 32, 1, 0, 1, 1, 1, 1}};
  return DrawVertices(quad, 4);
}

int32_t CGraphic::DrawQuad(const RECT* d, const RECT* s, const float* colour) {
  if (d == nullptr) return 1;
  const float c[4] = {colour != nullptr ? colour[0] : 1.0f, colour != nullptr ? colour[1] : 1.0f,
                      colour != nullptr ? colour[2] : 1.0f, colour != nullptr ? colour[3] : 1.0f};
  float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
  if (s != nullptr) {
    const float tw = static_cast<float>(m_textureWidth), th = static_cast<float>(m_textureHeight);
    u0 = s->left / tw, v0 = s->top / th, u1 = s->right / tw, v1 = s->bottom / th;
  }
  const float l = static_cast<float>(d->left), t = static_cast<float>(d->top), r = static_cast<float>(d->right),
              b = static_cast<float>(d->bottom);
  const Vertex2D quad[4] = {{l, b, u0, v1, c[0], c[1], c[2], c[3]},
                            {l, t, u0, v0, c[0], c[1], c[2], c[3]},
                            {r, b, u1, v1, c[0], c[1], c[2], c[3]},
                            {r, t, u1, v0, c[0], c[1], c[2], c[3]}};
  return DrawVertices(quad, 4);
}

}  // namespace

int32_t CreateGraphic(void** out) {
  CGraphic* graphic = new (std::nothrow) CGraphic;
  if (graphic == nullptr) return 1;
  return HandOut(graphic, IID_IGraphic, out) == S_OK ? 0 : 1;
}

GraphicWindow WindowOf(IGraphic* graphic) { return static_cast<CGraphic*>(graphic)->Window(); }

ID3D11Texture2D* BackBufferOf(IGraphic* graphic) { return static_cast<CGraphic*>(graphic)->BackBuffer(); }

ID3D11Texture2D* TextureOf(ISurface* surface) { return static_cast<CSurface*>(surface)->m_texture; }
