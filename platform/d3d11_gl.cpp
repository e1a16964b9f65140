// The Direct3D-11-shaped subset on OpenGL 3.3 core (with separate shader
// objects), entry points loaded through SDL.
#include <SDL2/SDL.h>
#include <GL/glcorearb.h>

#include <cstring>
#include <type_traits>
#include <new>
#include <string>
#include <vector>

#include "platform/d3d11.h"

namespace {

// The GL entry points used here.
struct Gl {
#define GL_FUNCTIONS(X)                                                                                    \
  X(PFNGLGENTEXTURESPROC, GenTextures) X(PFNGLBINDTEXTUREPROC, BindTexture) X(PFNGLTEXIMAGE2DPROC, TexImage2D) \
  X(PFNGLTEXPARAMETERIPROC, TexParameteri) X(PFNGLDELETETEXTURESPROC, DeleteTextures)                         \
  X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers) X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                   \
  X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D) X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)    \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus) X(PFNGLGENBUFFERSPROC, GenBuffers)               \
  X(PFNGLBINDBUFFERPROC, BindBuffer) X(PFNGLBUFFERDATAPROC, BufferData) X(PFNGLDELETEBUFFERSPROC, DeleteBuffers) \
  X(PFNGLBINDBUFFERBASEPROC, BindBufferBase) X(PFNGLCREATESHADERPROGRAMVPROC, CreateShaderProgramv)           \
  X(PFNGLGETPROGRAMIVPROC, GetProgramiv) X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                             \
  X(PFNGLGENPROGRAMPIPELINESPROC, GenProgramPipelines) X(PFNGLBINDPROGRAMPIPELINEPROC, BindProgramPipeline)   \
  X(PFNGLDELETEPROGRAMPIPELINESPROC, DeleteProgramPipelines) X(PFNGLUSEPROGRAMSTAGESPROC, UseProgramStages)   \
  X(PFNGLGETUNIFORMBLOCKINDEXPROC, GetUniformBlockIndex) X(PFNGLUNIFORMBLOCKBINDINGPROC, UniformBlockBinding) \
  X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation) X(PFNGLPROGRAMUNIFORM1IPROC, ProgramUniform1i)           \
  X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays) X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                   \
  X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays) X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray) \
  X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer) X(PFNGLDRAWARRAYSPROC, DrawArrays)                     \
  X(PFNGLVIEWPORTPROC, Viewport) X(PFNGLENABLEPROC, Enable) X(PFNGLDISABLEPROC, Disable)                      \
  X(PFNGLBLENDFUNCSEPARATEPROC, BlendFuncSeparate) X(PFNGLBLENDEQUATIONSEPARATEPROC, BlendEquationSeparate)   \
  X(PFNGLCOLORMASKPROC, ColorMask) X(PFNGLCLEARCOLORPROC, ClearColor) X(PFNGLCLEARPROC, Clear)               \
  X(PFNGLACTIVETEXTUREPROC, ActiveTexture) X(PFNGLREADPIXELSPROC, ReadPixels)                                \
  X(PFNGLBLITFRAMEBUFFERPROC, BlitFramebuffer) X(PFNGLFINISHPROC, Finish) X(PFNGLPIXELSTOREIPROC, PixelStorei)
#define GL_DECLARE(type, name) type name = nullptr;
  GL_FUNCTIONS(GL_DECLARE)
#undef GL_DECLARE
  bool Load() {
    bool ok = true;
#define GL_LOAD(type, name) ok = (name = reinterpret_cast<type>(SDL_GL_GetProcAddress("gl" #name))) != nullptr && ok;
    GL_FUNCTIONS(GL_LOAD)
#undef GL_LOAD
    return ok;
  }
};

class CDevice;

// Resources remember their device (for GL calls) with a reference.
template <class I, class... Bases>
class CChild : public CUnknownImpl<I, Bases...> {
 public:
  explicit CChild(CDevice* device);
  ~CChild() override;
  CDevice* m_device;
};

class CTexture final : public CChild<ID3D11Texture2D, ID3D11Resource> {
 public:
  using CChild::CChild;
  ~CTexture() override;
  void GetType(D3D11_RESOURCE_DIMENSION* d) override { *d = D3D11_RESOURCE_DIMENSION_TEXTURE2D; }
  void GetDesc(D3D11_TEXTURE2D_DESC* desc) override { *desc = m_desc; }
  GLuint Framebuffer();  // made on first use as a target
  D3D11_TEXTURE2D_DESC m_desc{};
  GLuint m_texture = 0;
  GLuint m_framebuffer = 0;
};

class CBuffer final : public CChild<ID3D11Buffer, ID3D11Resource> {
 public:
  using CChild::CChild;
  ~CBuffer() override;
  void GetType(D3D11_RESOURCE_DIMENSION* d) override { *d = D3D11_RESOURCE_DIMENSION_BUFFER; }
  D3D11_BUFFER_DESC m_desc{};
  GLuint m_buffer = 0;
  std::vector<uint8_t> m_shadow;  // what Map hands out
};

template <class I>
class CView final : public CChild<I, ID3D11View> {
 public:
  CView(CDevice* device, ID3D11Resource* resource) : CChild<I, ID3D11View>(device), m_resource(resource) {
    m_resource->AddRef();
  }
  ~CView() override { m_resource->Release(); }
  void GetResource(ID3D11Resource** out) override {
    m_resource->AddRef();
    *out = m_resource;
  }
  ID3D11Resource* m_resource;
};

template <class I>
class CProgram final : public CChild<I> {
 public:
  using CChild<I>::CChild;
  ~CProgram() override;
  GLuint m_program = 0;
};

class CInputLayout final : public CChild<ID3D11InputLayout> {
 public:
  using CChild::CChild;
  std::vector<D3D11_INPUT_ELEMENT_DESC> m_elements;
};

template <class I, class Desc>
class CState final : public CChild<I> {
 public:
  CState(CDevice* device, const Desc& desc) : CChild<I>(device), m_desc(desc) {}
  Desc m_desc;
};
using CBlendState = CState<ID3D11BlendState, D3D11_BLEND_DESC>;
using CRasterizerState = CState<ID3D11RasterizerState, D3D11_RASTERIZER_DESC>;
using CDepthStencilState = CState<ID3D11DepthStencilState, D3D11_DEPTH_STENCIL_DESC>;

class CDevice final : public CUnknownImpl<ID3D11Device> {
 public:
  CDevice(SDL_Window* window, SDL_GLContext context) : m_window(window), m_context(context) {}
  ~CDevice() override {
    MakeCurrent();
    if (m_vao != 0) gl.DeleteVertexArrays(1, &m_vao);
    if (m_pipeline != 0) gl.DeleteProgramPipelines(1, &m_pipeline);
    SDL_GL_DeleteContext(m_context);
  }
  void MakeCurrent() { SDL_GL_MakeCurrent(m_window, m_context); }

  HRESULT CreateBuffer(const D3D11_BUFFER_DESC* desc, const D3D11_SUBRESOURCE_DATA* data, ID3D11Buffer** out) override {
    if (desc == nullptr || out == nullptr || desc->ByteWidth == 0) return E_INVALIDARG;
    auto* buffer = new (std::nothrow) CBuffer(this);
    if (buffer == nullptr) return E_OUTOFMEMORY;
    buffer->m_desc = *desc;
    buffer->m_shadow.assign(desc->ByteWidth, 0);
    if (data != nullptr && data->pSysMem != nullptr) std::memcpy(buffer->m_shadow.data(), data->pSysMem, desc->ByteWidth);
    const GLenum target = (desc->BindFlags & D3D11_BIND_CONSTANT_BUFFER) ? GL_UNIFORM_BUFFER : GL_ARRAY_BUFFER;
    gl.GenBuffers(1, &buffer->m_buffer);
    gl.BindBuffer(target, buffer->m_buffer);
    gl.BufferData(target, desc->ByteWidth, buffer->m_shadow.data(),
                  desc->Usage == D3D11_USAGE_DYNAMIC ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    return HandOut(static_cast<ID3D11Buffer*>(buffer), ID3D11Buffer::iid, reinterpret_cast<void**>(out));
  }

  HRESULT CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const D3D11_SUBRESOURCE_DATA* data,
                          ID3D11Texture2D** out) override {
    if (desc == nullptr || out == nullptr || desc->Width == 0 || desc->Height == 0 || desc->Width > 16384 ||
        desc->Height > 16384 || desc->Format != DXGI_FORMAT_R8G8B8A8_UNORM)
      return E_INVALIDARG;
    auto* texture = new (std::nothrow) CTexture(this);
    if (texture == nullptr) return E_OUTOFMEMORY;
    texture->m_desc = *desc;
    gl.GenTextures(1, &texture->m_texture);
    gl.BindTexture(GL_TEXTURE_2D, texture->m_texture);
    // The default sampler of the other API: linear, clamped.
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    std::vector<uint8_t> rows;
    const void* pixels = nullptr;
    if (data != nullptr && data->pSysMem != nullptr) {
      // Row 0 first: texel row 0 is the image's top.
      rows.resize(static_cast<std::size_t>(desc->Width) * desc->Height * 4);
      for (UINT y = 0; y < desc->Height; ++y)
        std::memcpy(&rows[static_cast<std::size_t>(y) * desc->Width * 4],
                    static_cast<const uint8_t*>(data->pSysMem) + static_cast<std::size_t>(y) * data->SysMemPitch,
                    static_cast<std::size_t>(desc->Width) * 4);
      pixels = rows.data();
    }
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(desc->Width), static_cast<GLsizei>(desc->Height), 0,
                  GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    return HandOut(static_cast<ID3D11Texture2D*>(texture), ID3D11Texture2D::iid, reinterpret_cast<void**>(out));
  }

  HRESULT CreateShaderResourceView(ID3D11Resource* resource, const void*, ID3D11ShaderResourceView** out) override {
    if (resource == nullptr || out == nullptr) return E_INVALIDARG;
    auto* view = new (std::nothrow) CView<ID3D11ShaderResourceView>(this, resource);
    if (view == nullptr) return E_OUTOFMEMORY;
    return HandOut(static_cast<ID3D11ShaderResourceView*>(view), ID3D11ShaderResourceView::iid, reinterpret_cast<void**>(out));
  }

  HRESULT CreateRenderTargetView(ID3D11Resource* resource, const void*, ID3D11RenderTargetView** out) override {
    if (resource == nullptr || out == nullptr) return E_INVALIDARG;
    D3D11_RESOURCE_DIMENSION dimension;
    resource->GetType(&dimension);
    if (dimension != D3D11_RESOURCE_DIMENSION_TEXTURE2D) return E_INVALIDARG;
    auto* texture = static_cast<CTexture*>(static_cast<ID3D11Texture2D*>(resource));
    if (!(texture->m_desc.BindFlags & D3D11_BIND_RENDER_TARGET) || texture->Framebuffer() == 0) return E_INVALIDARG;
    auto* view = new (std::nothrow) CView<ID3D11RenderTargetView>(this, resource);
    if (view == nullptr) return E_OUTOFMEMORY;
    return HandOut(static_cast<ID3D11RenderTargetView*>(view), ID3D11RenderTargetView::iid, reinterpret_cast<void**>(out));
  }

  HRESULT CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements, UINT count, const void* bytecode, size_t length,
                            ID3D11InputLayout** out) override {
    if (elements == nullptr || out == nullptr || bytecode == nullptr || length == 0) return E_INVALIDARG;
    auto* layout = new (std::nothrow) CInputLayout(this);
    if (layout == nullptr) return E_OUTOFMEMORY;
    layout->m_elements.assign(elements, elements + count);
    return HandOut(layout, ID3D11InputLayout::iid, reinterpret_cast<void**>(out));
  }

  template <class I>
  HRESULT MakeProgram(GLenum stage, const void* bytecode, size_t length, I** out) {
    if (bytecode == nullptr || length == 0 || out == nullptr) return E_INVALIDARG;
    const std::string source(static_cast<const char*>(bytecode), length);
    const char* text = source.c_str();
    const GLuint program = gl.CreateShaderProgramv(stage, 1, &text);
    GLint linked = 0;
    if (program != 0) gl.GetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
      if (program != 0) gl.DeleteProgram(program);
      return E_INVALIDARG;  // not a shader this device can run
    }
    // Constant buffer 0 and texture 0, as the other API numbers them.
    const GLuint block = gl.GetUniformBlockIndex(program, "Projection");
    if (block != GL_INVALID_INDEX) gl.UniformBlockBinding(program, block, 0);
    const GLint sampler = gl.GetUniformLocation(program, "image");
    if (sampler >= 0) gl.ProgramUniform1i(program, sampler, 0);
    auto* object = new (std::nothrow) CProgram<I>(this);
    if (object == nullptr) {
      gl.DeleteProgram(program);
      return E_OUTOFMEMORY;
    }
    object->m_program = program;
    return HandOut(object, I::iid, reinterpret_cast<void**>(out));
  }
  HRESULT CreateVertexShader(const void* bytecode, size_t length, void*, ID3D11VertexShader** out) override {
    return MakeProgram(GL_VERTEX_SHADER, bytecode, length, out);
  }
  HRESULT CreatePixelShader(const void* bytecode, size_t length, void*, ID3D11PixelShader** out) override {
    return MakeProgram(GL_FRAGMENT_SHADER, bytecode, length, out);
  }
  HRESULT CreateBlendState(const D3D11_BLEND_DESC* desc, ID3D11BlendState** out) override {
    if (desc == nullptr || out == nullptr) return E_INVALIDARG;
    return HandOut(new CBlendState(this, *desc), ID3D11BlendState::iid, reinterpret_cast<void**>(out));
  }
  HRESULT CreateDepthStencilState(const D3D11_DEPTH_STENCIL_DESC* desc, ID3D11DepthStencilState** out) override {
    if (desc == nullptr || out == nullptr) return E_INVALIDARG;
    return HandOut(new CDepthStencilState(this, *desc), ID3D11DepthStencilState::iid, reinterpret_cast<void**>(out));
  }
  HRESULT CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc, ID3D11RasterizerState** out) override {
    if (desc == nullptr || out == nullptr) return E_INVALIDARG;
    return HandOut(new CRasterizerState(this, *desc), ID3D11RasterizerState::iid, reinterpret_cast<void**>(out));
  }

  Gl gl;
  SDL_Window* m_window;
  SDL_GLContext m_context;
  GLuint m_vao = 0;
  GLuint m_pipeline = 0;
};

template <class I, class... Bases>
CChild<I, Bases...>::CChild(CDevice* device) : m_device(device) {
  m_device->AddRef();
}
template <class I, class... Bases>
CChild<I, Bases...>::~CChild() {
  m_device->Release();
}

CTexture::~CTexture() {
  Gl& gl = m_device->gl;
  if (m_framebuffer != 0) gl.DeleteFramebuffers(1, &m_framebuffer);
  gl.DeleteTextures(1, &m_texture);
}

GLuint CTexture::Framebuffer() {
  if (m_framebuffer != 0) return m_framebuffer;
  Gl& gl = m_device->gl;
  gl.GenFramebuffers(1, &m_framebuffer);
  gl.BindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
  gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
  if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    gl.DeleteFramebuffers(1, &m_framebuffer);
    m_framebuffer = 0;
  }
  return m_framebuffer;
}

CBuffer::~CBuffer() { m_device->gl.DeleteBuffers(1, &m_buffer); }

template <class I>
CProgram<I>::~CProgram() {
  this->m_device->gl.DeleteProgram(m_program);
}

GLenum BlendFactor(D3D11_BLEND b) {
  switch (b) {
    case D3D11_BLEND_ZERO: return GL_ZERO;
    case D3D11_BLEND_SRC_ALPHA: return GL_SRC_ALPHA;
    case D3D11_BLEND_INV_SRC_ALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    default: return GL_ONE;
  }
}

class CContext final : public CUnknownImpl<ID3D11DeviceContext> {
 public:
  explicit CContext(CDevice* device) : m_device(device) { m_device->AddRef(); }
  ~CContext() override {
    Assign(m_layout, nullptr);
    Assign(m_vertexBuffer, nullptr);
    Assign(m_constants, nullptr);
    Assign(m_texture, nullptr);
    Assign(m_target, nullptr);
    Assign(m_vertexShader, nullptr);
    Assign(m_pixelShader, nullptr);
    Assign(m_rasterizer, nullptr);
    Assign(m_depth, nullptr);
    Assign(m_blend, nullptr);
    m_device->Release();
  }

  void VSSetConstantBuffers(UINT slot, UINT count, ID3D11Buffer* const* buffers) override {
    if (slot == 0 && count >= 1) Assign(m_constants, buffers[0]);
  }
  void PSSetShaderResources(UINT slot, UINT count, ID3D11ShaderResourceView* const* views) override {
    if (slot == 0 && count >= 1) Assign(m_texture, views[0]);
  }
  void PSSetShader(ID3D11PixelShader* shader, void* const*, UINT) override { Assign(m_pixelShader, shader); }
  void VSSetShader(ID3D11VertexShader* shader, void* const*, UINT) override { Assign(m_vertexShader, shader); }
  void IASetInputLayout(ID3D11InputLayout* layout) override { Assign(m_layout, layout); }
  void IASetVertexBuffers(UINT slot, UINT count, ID3D11Buffer* const* buffers, const UINT* strides, const UINT* offsets) override {
    if (slot != 0 || count < 1) return;
    Assign(m_vertexBuffer, buffers[0]);
    m_stride = strides != nullptr ? strides[0] : 0;
    m_offset = offsets != nullptr ? offsets[0] : 0;
  }
  void IASetPrimitiveTopology(UINT topology) override { m_topology = topology; }
  void OMSetRenderTargets(UINT count, ID3D11RenderTargetView* const* views, void*) override {
    Assign(m_target, count >= 1 ? views[0] : nullptr);
  }
  void OMSetBlendState(ID3D11BlendState* state, const float*, UINT) override { Assign(m_blend, state); }
  void OMSetDepthStencilState(ID3D11DepthStencilState* state, UINT) override { Assign(m_depth, state); }
  void RSSetViewports(UINT count, const D3D11_VIEWPORT* viewports) override {
    if (count >= 1) m_viewport = viewports[0];
  }
  void RSSetState(ID3D11RasterizerState* state) override { Assign(m_rasterizer, state); }

  void ClearRenderTargetView(ID3D11RenderTargetView* view, const float colour[4]) override {
    Gl& gl = m_device->gl;
    m_device->MakeCurrent();
    if (!BindTarget(view)) return;
    gl.Disable(GL_SCISSOR_TEST);
    gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl.ClearColor(colour[0], colour[1], colour[2], colour[3]);
    gl.Clear(GL_COLOR_BUFFER_BIT);
  }

  HRESULT Map(ID3D11Resource* resource, UINT, UINT, UINT, D3D11_MAPPED_SUBRESOURCE* out) override {
    D3D11_RESOURCE_DIMENSION dimension;
    resource->GetType(&dimension);
    if (dimension != D3D11_RESOURCE_DIMENSION_BUFFER || out == nullptr) return E_INVALIDARG;
    auto* buffer = static_cast<CBuffer*>(static_cast<ID3D11Buffer*>(resource));
    out->pData = buffer->m_shadow.data();
    out->RowPitch = out->DepthPitch = buffer->m_desc.ByteWidth;
    return S_OK;
  }
  void Unmap(ID3D11Resource* resource, UINT) override {
    auto* buffer = static_cast<CBuffer*>(static_cast<ID3D11Buffer*>(resource));
    Gl& gl = m_device->gl;
    gl.BindBuffer(GL_UNIFORM_BUFFER, buffer->m_buffer);
    gl.BufferData(GL_UNIFORM_BUFFER, buffer->m_desc.ByteWidth, buffer->m_shadow.data(), GL_DYNAMIC_DRAW);
  }

  void Draw(UINT vertexCount, UINT startVertex) override {
    Gl& gl = m_device->gl;
    m_device->MakeCurrent();
    if (m_vertexShader == nullptr || m_pixelShader == nullptr || m_layout == nullptr || m_vertexBuffer == nullptr ||
        !BindTarget(m_target))
      return;  // nothing to draw with: nothing drawn
    if (m_device->m_pipeline == 0) gl.GenProgramPipelines(1, &m_device->m_pipeline);
    if (m_device->m_vao == 0) gl.GenVertexArrays(1, &m_device->m_vao);
    gl.BindProgramPipeline(m_device->m_pipeline);
    gl.UseProgramStages(m_device->m_pipeline, GL_VERTEX_SHADER_BIT,
                        static_cast<CProgram<ID3D11VertexShader>*>(m_vertexShader)->m_program);
    gl.UseProgramStages(m_device->m_pipeline, GL_FRAGMENT_SHADER_BIT,
                        static_cast<CProgram<ID3D11PixelShader>*>(m_pixelShader)->m_program);
    gl.BindVertexArray(m_device->m_vao);
    gl.BindBuffer(GL_ARRAY_BUFFER, static_cast<CBuffer*>(m_vertexBuffer)->m_buffer);
    for (const D3D11_INPUT_ELEMENT_DESC& e : static_cast<CInputLayout*>(m_layout)->m_elements) {
      const GLuint location = std::strcmp(e.SemanticName, "POSITION") == 0 ? 0 : std::strcmp(e.SemanticName, "TEXCOORD") == 0 ? 1 : 2;
      const GLint size = e.Format == DXGI_FORMAT_R32G32_FLOAT ? 2 : 4;
      gl.EnableVertexAttribArray(location);
      gl.VertexAttribPointer(location, size, GL_FLOAT, GL_FALSE, static_cast<GLsizei>(m_stride),
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(m_offset + e.AlignedByteOffset)));
    }
    if (m_constants != nullptr) gl.BindBufferBase(GL_UNIFORM_BUFFER, 0, static_cast<CBuffer*>(m_constants)->m_buffer);
    gl.ActiveTexture(GL_TEXTURE0);
    ID3D11Resource* resource = nullptr;
    if (m_texture != nullptr) {
      m_texture->GetResource(&resource);
      gl.BindTexture(GL_TEXTURE_2D, static_cast<CTexture*>(static_cast<ID3D11Texture2D*>(resource))->m_texture);
      resource->Release();
    }
    if (m_blend != nullptr && static_cast<CBlendState*>(m_blend)->m_desc.RenderTarget[0].BlendEnable) {
      const D3D11_RENDER_TARGET_BLEND_DESC& b = static_cast<CBlendState*>(m_blend)->m_desc.RenderTarget[0];
      gl.Enable(GL_BLEND);
      gl.BlendFuncSeparate(BlendFactor(b.SrcBlend), BlendFactor(b.DestBlend), BlendFactor(b.SrcBlendAlpha),
                           BlendFactor(b.DestBlendAlpha));
      gl.BlendEquationSeparate(b.BlendOp == D3D11_BLEND_OP_MAX ? GL_MAX : GL_FUNC_ADD,
                               b.BlendOpAlpha == D3D11_BLEND_OP_MAX ? GL_MAX : GL_FUNC_ADD);
    } else {
      gl.Disable(GL_BLEND);
    }
    gl.Disable(GL_DEPTH_TEST);
    gl.Disable(GL_CULL_FACE);
    gl.Disable(GL_SCISSOR_TEST);
    // Rows of a target count from its top, as the vertex stage flips y.
    gl.Viewport(static_cast<GLint>(m_viewport.TopLeftX), static_cast<GLint>(m_viewport.TopLeftY),
                static_cast<GLsizei>(m_viewport.Width), static_cast<GLsizei>(m_viewport.Height));
    gl.DrawArrays(m_topology == D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP ? GL_TRIANGLE_STRIP : GL_TRIANGLES,
                  static_cast<GLint>(startVertex), static_cast<GLsizei>(vertexCount));
  }

 private:
  bool BindTarget(ID3D11RenderTargetView* view) {
    if (view == nullptr) return false;
    ID3D11Resource* resource = nullptr;
    view->GetResource(&resource);
    const GLuint framebuffer = static_cast<CTexture*>(static_cast<ID3D11Texture2D*>(resource))->Framebuffer();
    resource->Release();
    m_device->gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return framebuffer != 0;
  }

  CDevice* m_device;
  ID3D11InputLayout* m_layout = nullptr;
  ID3D11Buffer* m_vertexBuffer = nullptr;
  UINT m_stride = 0, m_offset = 0, m_topology = 0;
  ID3D11Buffer* m_constants = nullptr;
  ID3D11ShaderResourceView* m_texture = nullptr;
  ID3D11RenderTargetView* m_target = nullptr;
  ID3D11VertexShader* m_vertexShader = nullptr;
  ID3D11PixelShader* m_pixelShader = nullptr;
  ID3D11RasterizerState* m_rasterizer = nullptr;
  ID3D11DepthStencilState* m_depth = nullptr;
  ID3D11BlendState* m_blend = nullptr;
  D3D11_VIEWPORT m_viewport{};
};

class CSwapChain final : public CUnknownImpl<IDXGISwapChain> {
 public:
  CSwapChain(CDevice* device, ID3D11Texture2D* back) : m_device(device), m_back(back) { m_device->AddRef(); }
  ~CSwapChain() override {
    m_back->Release();
    m_device->Release();
  }
  HRESULT Present(UINT, UINT) override {
    Gl& gl = m_device->gl;
    m_device->MakeCurrent();
    auto* back = static_cast<CTexture*>(m_back);
    const GLint w = static_cast<GLint>(back->m_desc.Width), h = static_cast<GLint>(back->m_desc.Height);
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, back->Framebuffer());
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    int dw = w, dh = h;
    SDL_GL_GetDrawableSize(m_device->m_window, &dw, &dh);
    // Row 0 of the back buffer is the top: shown right way up.
    gl.BlitFramebuffer(0, 0, w, h, 0, dh, dw, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    SDL_GL_SwapWindow(m_device->m_window);
    return S_OK;
  }
  HRESULT GetBuffer(UINT index, REFIID iid, void** out) override {
    if (index != 0) return E_INVALIDARG;
    return m_back->QueryInterface(iid, out);
  }

 private:
  CDevice* m_device;
  ID3D11Texture2D* m_back;
};

}  // namespace

HRESULT D3D11CreateDeviceAndSwapChain(void*, UINT, void*, UINT, const UINT*, UINT, UINT, const DXGI_SWAP_CHAIN_DESC* desc,
                                      IDXGISwapChain** swapChain, ID3D11Device** device, UINT* featureLevel,
                                      ID3D11DeviceContext** context) {
  if (desc == nullptr || desc->OutputWindow == nullptr || swapChain == nullptr || device == nullptr || context == nullptr)
    return E_INVALIDARG;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GLContext gl = SDL_GL_CreateContext(desc->OutputWindow);
  if (gl == nullptr) return E_FAIL;
  auto* dev = new (std::nothrow) CDevice(desc->OutputWindow, gl);
  if (dev == nullptr) {
    SDL_GL_DeleteContext(gl);
    return E_OUTOFMEMORY;
  }
  dev->AddRef();
  if (!dev->gl.Load()) {
    dev->Release();
    return E_NOINTERFACE;  // no GL 3.3 core with separate shader objects here
  }
  SDL_GL_SetSwapInterval(1);
  D3D11_TEXTURE2D_DESC backDesc{desc->BufferDesc.Width, desc->BufferDesc.Height, 1, 1, DXGI_FORMAT_R8G8B8A8_UNORM,
                                {1, 0}, D3D11_USAGE_DEFAULT, D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE, 0, 0};
  ID3D11Texture2D* back = nullptr;
  if (FAILED(dev->CreateTexture2D(&backDesc, nullptr, &back))) {
    dev->Release();
    return E_FAIL;
  }
  auto* chain = new CSwapChain(dev, back);
  auto* ctx = new CContext(dev);
  HandOut(chain, IDXGISwapChain::iid, reinterpret_cast<void**>(swapChain));
  HandOut(ctx, ID3D11DeviceContext::iid, reinterpret_cast<void**>(context));
  *device = dev;  // the reference taken above
  if (featureLevel != nullptr) *featureLevel = 0xb000;
  return S_OK;
}

bool ReadTexturePixels(ID3D11Texture2D* texture, uint8_t* rgba) {
  auto* t = static_cast<CTexture*>(texture);
  Gl& gl = t->m_device->gl;
  t->m_device->MakeCurrent();
  const GLuint framebuffer = t->Framebuffer();
  if (framebuffer == 0) return false;
  gl.Finish();
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl.ReadPixels(0, 0, static_cast<GLsizei>(t->m_desc.Width), static_cast<GLsizei>(t->m_desc.Height), GL_RGBA,
                GL_UNSIGNED_BYTE, rgba);
  return true;
}
