// A Direct3D-11-shaped subset on OpenGL 3.3 core over the engine's window: only
// what the library's graphics engine calls. Textures keep Direct3D's
// orientation: texel row 0 and pixel row 0 of a target are the top; the
// swap chain's back buffer is a texture that Present shows right way up.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/graphicwindow.h"

constexpr UINT DXGI_FORMAT_R32G32B32A32_FLOAT = 2;
constexpr UINT DXGI_FORMAT_R32G32_FLOAT = 16;
constexpr UINT DXGI_FORMAT_R8G8B8A8_UNORM = 28;
constexpr UINT DXGI_USAGE_RENDER_TARGET_OUTPUT = 0x20;

enum D3D11_USAGE : UINT { D3D11_USAGE_DEFAULT = 0, D3D11_USAGE_IMMUTABLE = 1, D3D11_USAGE_DYNAMIC = 2 };
constexpr UINT D3D11_BIND_VERTEX_BUFFER = 0x1;
constexpr UINT D3D11_BIND_CONSTANT_BUFFER = 0x4;
constexpr UINT D3D11_BIND_SHADER_RESOURCE = 0x8;
constexpr UINT D3D11_BIND_RENDER_TARGET = 0x20;
constexpr UINT D3D11_CPU_ACCESS_WRITE = 0x10000;
constexpr UINT D3D11_MAP_WRITE_DISCARD = 4;
constexpr UINT D3D11_INPUT_PER_VERTEX_DATA = 0;
constexpr UINT D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP = 5;
enum D3D11_RESOURCE_DIMENSION : UINT {
  D3D11_RESOURCE_DIMENSION_UNKNOWN = 0,
  D3D11_RESOURCE_DIMENSION_BUFFER = 1,
  D3D11_RESOURCE_DIMENSION_TEXTURE2D = 3,
};
enum D3D11_BLEND : UINT {
  D3D11_BLEND_ZERO = 1,
  D3D11_BLEND_ONE = 2,
  D3D11_BLEND_SRC_ALPHA = 5,
  D3D11_BLEND_INV_SRC_ALPHA = 6,
};
enum D3D11_BLEND_OP : UINT { D3D11_BLEND_OP_ADD = 1, D3D11_BLEND_OP_MAX = 5 };
constexpr UINT D3D11_FILL_SOLID = 3;
constexpr UINT D3D11_CULL_NONE = 1;
constexpr UINT D3D11_COMPARISON_LESS = 2;
constexpr UINT D3D11_COMPARISON_ALWAYS = 8;
constexpr UINT D3D11_STENCIL_OP_KEEP = 1;
constexpr UINT D3D11_DEPTH_WRITE_MASK_ALL = 1;
constexpr UINT D3D11_SDK_VERSION = 7;
constexpr UINT D3D_DRIVER_TYPE_HARDWARE = 1;

struct DXGI_SAMPLE_DESC {
  UINT Count;
  UINT Quality;
};
struct D3D11_TEXTURE2D_DESC {
  UINT Width, Height, MipLevels, ArraySize, Format;
  DXGI_SAMPLE_DESC SampleDesc;
  D3D11_USAGE Usage;
  UINT BindFlags, CPUAccessFlags, MiscFlags;
};
struct D3D11_BUFFER_DESC {
  UINT ByteWidth;
  D3D11_USAGE Usage;
  UINT BindFlags, CPUAccessFlags, MiscFlags, StructureByteStride;
};
struct D3D11_SUBRESOURCE_DATA {
  const void* pSysMem;
  UINT SysMemPitch;
  UINT SysMemSlicePitch;
};
struct D3D11_MAPPED_SUBRESOURCE {
  void* pData;
  UINT RowPitch;
  UINT DepthPitch;
};
struct D3D11_INPUT_ELEMENT_DESC {
  const char* SemanticName;
  UINT SemanticIndex, Format, InputSlot, AlignedByteOffset, InputSlotClass, InstanceDataStepRate;
};
struct D3D11_RENDER_TARGET_BLEND_DESC {
  BOOL BlendEnable;
  D3D11_BLEND SrcBlend, DestBlend;
  D3D11_BLEND_OP BlendOp;
  D3D11_BLEND SrcBlendAlpha, DestBlendAlpha;
  D3D11_BLEND_OP BlendOpAlpha;
  uint8_t RenderTargetWriteMask;
};
struct D3D11_BLEND_DESC {
  BOOL AlphaToCoverageEnable;
  BOOL IndependentBlendEnable;
  D3D11_RENDER_TARGET_BLEND_DESC RenderTarget[8];
};
struct D3D11_RASTERIZER_DESC {
  UINT FillMode, CullMode;
  BOOL FrontCounterClockwise;
  int32_t DepthBias;
  float DepthBiasClamp, SlopeScaledDepthBias;
  BOOL DepthClipEnable, ScissorEnable, MultisampleEnable, AntialiasedLineEnable;
};
struct D3D11_DEPTH_STENCILOP_DESC {
  UINT StencilFailOp, StencilDepthFailOp, StencilPassOp, StencilFunc;
};
struct D3D11_DEPTH_STENCIL_DESC {
  BOOL DepthEnable;
  UINT DepthWriteMask, DepthFunc;
  BOOL StencilEnable;
  uint8_t StencilReadMask, StencilWriteMask;
  D3D11_DEPTH_STENCILOP_DESC FrontFace, BackFace;
};
struct D3D11_VIEWPORT {
  float TopLeftX, TopLeftY, Width, Height, MinDepth, MaxDepth;
};
struct DXGI_SWAP_CHAIN_DESC {
  struct {
    UINT Width, Height;
    struct {
      UINT Numerator, Denominator;
    } RefreshRate;
    UINT Format, ScanlineOrdering, Scaling;
  } BufferDesc;
  DXGI_SAMPLE_DESC SampleDesc;
  UINT BufferUsage, BufferCount;
  GraphicWindow OutputWindow;
  BOOL Windowed;
  UINT SwapEffect, Flags;
};

struct ID3D11DeviceChild : IUnknown {};
struct ID3D11Resource : ID3D11DeviceChild {
  virtual void GetType(D3D11_RESOURCE_DIMENSION* dimension) = 0;
};
struct ID3D11Texture2D : ID3D11Resource {
  static constexpr GUID iid = MakeGuid("{6F15AAF2-D208-4E89-9AB4-489535D34F9C}");
  virtual void GetDesc(D3D11_TEXTURE2D_DESC* desc) = 0;
};
struct ID3D11Buffer : ID3D11Resource {
  static constexpr GUID iid = MakeGuid("{48570B85-D1EE-4FCD-A250-EB350722B037}");
};
struct ID3D11View : ID3D11DeviceChild {
  virtual void GetResource(ID3D11Resource** resource) = 0;
};
struct ID3D11ShaderResourceView : ID3D11View {
  static constexpr GUID iid = MakeGuid("{B0E06FE0-8192-4E1A-B1CA-36D7414710B2}");
};
struct ID3D11RenderTargetView : ID3D11View {
  static constexpr GUID iid = MakeGuid("{DFDBA067-0B8D-4865-875B-D7B4516CC164}");
};
struct ID3D11VertexShader : ID3D11DeviceChild {
  static constexpr GUID iid = MakeGuid("{3B301D64-D678-4289-8897-22F8928B72F3}");
};
struct ID3D11PixelShader : ID3D11DeviceChild {
  static constexpr GUID iid = MakeGuid("{EA82E40D-51DC-4F33-93D4-DB7C9125AE8C}");
};
struct ID3D11InputLayout : ID3D11DeviceChild {
  static constexpr GUID iid = MakeGuid("{E4819DDC-4CF0-4025-BD26-5DE82A3E07B7}");
};
struct ID3D11BlendState : ID3D11DeviceChild {
  static constexpr GUID iid = MakeGuid("{75B68FAA-347D-4159-8F45-A0640F01CD9A}");
};
struct ID3D11RasterizerState : ID3D11DeviceChild {
  static constexpr GUID iid = MakeGuid("{9BB4AB81-AB1A-4D8F-B506-FC04200B6EE7}");
};
struct ID3D11DepthStencilState : ID3D11DeviceChild {
  static constexpr GUID iid = MakeGuid("{03823EFB-8D8F-4E1C-9AA2-F64BB2CBFDF1}");
};

struct ID3D11Device : IUnknown {
  static constexpr GUID iid = MakeGuid("{DB6F6DDB-AC77-4E88-8253-819DF9BBF140}");
  virtual HRESULT CreateBuffer(const D3D11_BUFFER_DESC* desc, const D3D11_SUBRESOURCE_DATA* data, ID3D11Buffer** out) = 0;
  virtual HRESULT CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const D3D11_SUBRESOURCE_DATA* data,
                                  ID3D11Texture2D** out) = 0;
  virtual HRESULT CreateShaderResourceView(ID3D11Resource* resource, const void* desc, ID3D11ShaderResourceView** out) = 0;
  virtual HRESULT CreateRenderTargetView(ID3D11Resource* resource, const void* desc, ID3D11RenderTargetView** out) = 0;
  virtual HRESULT CreateInputLayout(const D3D11_INPUT_ELEMENT_DESC* elements, UINT count, const void* bytecode,
                                    size_t length, ID3D11InputLayout** out) = 0;
  virtual HRESULT CreateVertexShader(const void* bytecode, size_t length, void* linkage, ID3D11VertexShader** out) = 0;
  virtual HRESULT CreatePixelShader(const void* bytecode, size_t length, void* linkage, ID3D11PixelShader** out) = 0;
  virtual HRESULT CreateBlendState(const D3D11_BLEND_DESC* desc, ID3D11BlendState** out) = 0;
  virtual HRESULT CreateDepthStencilState(const D3D11_DEPTH_STENCIL_DESC* desc, ID3D11DepthStencilState** out) = 0;
  virtual HRESULT CreateRasterizerState(const D3D11_RASTERIZER_DESC* desc, ID3D11RasterizerState** out) = 0;
};

struct ID3D11DeviceContext : IUnknown {
  static constexpr GUID iid = MakeGuid("{C0BFA96C-E089-44FB-8EAF-26F8796190DA}");
  virtual void VSSetConstantBuffers(UINT slot, UINT count, ID3D11Buffer* const* buffers) = 0;
  virtual void PSSetShaderResources(UINT slot, UINT count, ID3D11ShaderResourceView* const* views) = 0;
  virtual void PSSetShader(ID3D11PixelShader* shader, void* const* classes, UINT count) = 0;
  virtual void VSSetShader(ID3D11VertexShader* shader, void* const* classes, UINT count) = 0;
  virtual void Draw(UINT vertexCount, UINT startVertex) = 0;
  virtual HRESULT Map(ID3D11Resource* resource, UINT subresource, UINT type, UINT flags, D3D11_MAPPED_SUBRESOURCE* out) = 0;
  virtual void Unmap(ID3D11Resource* resource, UINT subresource) = 0;
  virtual void IASetInputLayout(ID3D11InputLayout* layout) = 0;
  virtual void IASetVertexBuffers(UINT slot, UINT count, ID3D11Buffer* const* buffers, const UINT* strides,
                                  const UINT* offsets) = 0;
  virtual void IASetPrimitiveTopology(UINT topology) = 0;
  virtual void OMSetRenderTargets(UINT count, ID3D11RenderTargetView* const* views, void* depthStencil) = 0;
  virtual void OMSetBlendState(ID3D11BlendState* state, const float factor[4], UINT sampleMask) = 0;
  virtual void OMSetDepthStencilState(ID3D11DepthStencilState* state, UINT reference) = 0;
  virtual void RSSetViewports(UINT count, const D3D11_VIEWPORT* viewports) = 0;
  virtual void RSSetState(ID3D11RasterizerState* state) = 0;
  virtual void ClearRenderTargetView(ID3D11RenderTargetView* view, const float colour[4]) = 0;
};

struct IDXGISwapChain : IUnknown {
  static constexpr GUID iid = MakeGuid("{310D36A0-D2E7-4C0A-AA04-6A9D23B8886A}");
  virtual HRESULT Present(UINT syncInterval, UINT flags) = 0;
  virtual HRESULT GetBuffer(UINT index, REFIID iid, void** surface) = 0;
};

HRESULT D3D11CreateDeviceAndSwapChain(void* adapter, UINT driverType, void* software, UINT flags,
                                      const UINT* featureLevels, UINT levels, UINT sdkVersion,
                                      const DXGI_SWAP_CHAIN_DESC* desc, IDXGISwapChain** swapChain,
                                      ID3D11Device** device, UINT* featureLevel, ID3D11DeviceContext** context);

// Reads back the pixels of a 2D texture (after finishing all drawing) as
// RGBA bytes, row 0 the top. For tests.
bool ReadTexturePixels(ID3D11Texture2D* texture, uint8_t* rgba);
