#include "viewer/imaging/D2D.h"

#include <algorithm>


namespace {
constexpr D2D1_COLOR_F kBlack{0.0f, 0.0f, 0.0f, 1.0f};
constexpr D2D1_COLOR_F kLoupeFrame{0.5f, 0.0f, 0.5f, 1.0f};
constexpr auto kLinear = D2D1_BITMAP_INTERPOLATION_MODE_LINEAR;
}  // namespace

D2D::~D2D() {
  SafeRelease(m_background);
  SafeRelease(m_renderTarget);
  SafeRelease(m_factory);
}

HRESULT D2D::CreateFactory() {
  return D2D1CreateFactory(D2D1_FACTORY_TYPE_MULTI_THREADED, IID_ID2D1Factory, nullptr,
                           reinterpret_cast<void**>(&m_factory));
}

void D2D::CreateTarget(HWND window, int32_t dpiX, int32_t dpiY) {
  m_window = window;
  m_dpiX = dpiX;
  m_dpiY = dpiY;
  RECT rc{};
  GetClientRect(m_window, &rc);
  const D2D1_SIZE_U size{static_cast<UINT>(rc.right - rc.left), static_cast<UINT>(rc.bottom - rc.top)};
  const D2D1_RENDER_TARGET_PROPERTIES properties{
      D2D1_RENDER_TARGET_TYPE_DEFAULT,
      {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
      static_cast<float>(m_dpiX),
      static_cast<float>(m_dpiY),
      D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE,
      0};
  const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{m_window, size, D2D1_PRESENT_OPTIONS_NONE};
  SafeRelease(m_renderTarget);
  if (m_factory != nullptr) m_factory->CreateHwndRenderTarget(properties, windowProperties, &m_renderTarget);
}

void D2D::ResizeTarget() {
  if (m_renderTarget == nullptr) return;
  RECT rc{};
  GetClientRect(m_window, &rc);
  const D2D1_SIZE_U size{static_cast<UINT>(rc.right - rc.left), static_cast<UINT>(rc.bottom - rc.top)};
  m_renderTarget->Resize(&size);
}

int32_t D2D::MakeBitmap(ID2D1Bitmap** bitmap, IWICBitmapSource* source) {
  if (m_renderTarget == nullptr) return 1;
  return SUCCEEDED(m_renderTarget->CreateBitmapFromWicBitmap(source, nullptr, bitmap)) ? 0 : 1;
}

void D2D::SetBackground(ID2D1Bitmap* tile) { Assign(m_background, tile); }

void D2D::ReleaseDeviceObjects() {
  SafeRelease(m_background);
  SafeRelease(m_renderTarget);
}

HRESULT D2D::Paint(ID2D1Bitmap* firstPage, ID2D1Bitmap* secondPage, PageMode mode, const Loupe& loupe) {
  // No target since a failed rebuild: nothing to draw until one exists.
  if (m_renderTarget == nullptr) return S_OK;
  m_renderTarget->BeginDraw();
  m_renderTarget->Clear(&kBlack);
  if (mode == PageMode::SpreadRight)
    DrawSpread(secondPage, firstPage, loupe);  // the lower index on the right
  else if (mode == PageMode::SpreadLeft)
    DrawSpread(firstPage, secondPage, loupe);
  else
    DrawPage(firstPage, loupe);
  return m_renderTarget->EndDraw();
}

void D2D::DrawBackground(float left, float top, float right, float bottom, float opacity) {
  if (m_background == nullptr) return;
  const D2D1_SIZE_U tile = m_background->GetPixelSize();
  const float tw = static_cast<float>(tile.width), th = static_cast<float>(tile.height);
  if (tw <= 0 || th <= 0) return;
  // The grid is always the full background's, anchored at the origin.
  for (float x = tw * static_cast<float>(static_cast<int64_t>(left / tw)); x < right; x += tw)
    for (float y = th * static_cast<float>(static_cast<int64_t>(top / th)); y < bottom; y += th) {
      const D2D1_RECT_F dest{x, y, x + tw, y + th};
      m_renderTarget->DrawBitmap(m_background, &dest, opacity, kLinear, nullptr);
    }
}

void D2D::DrawPage(ID2D1Bitmap* page, const Loupe& loupe) {
  if (page != nullptr) page->AddRef();  // held for the frame
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const float W = size.width, H = size.height;
  DrawBackground(0, 0, W, H, 1.0f);
  if (page != nullptr) {
    const D2D1_SIZE_U px = page->GetPixelSize();
    const float w = static_cast<float>(px.width), h = static_cast<float>(px.height);
    const float s = std::min({W / (8 * w), H / (8 * h), 1.0f});
    const float halfW = 8 * w * s / 2, halfH = 8 * h * s / 2;
    const D2D1_RECT_F dest{W / 2 - halfW, H / 2 - halfH, W / 2 + halfW, H / 2 + halfH};
    m_renderTarget->DrawBitmap(page, &dest, 1.0f, kLinear, nullptr);
    if (loupe.on) DrawLoupe(loupe, &dest, &page, 1);
    page->Release();
  } else if (loupe.on) {
    DrawLoupe(loupe, nullptr, nullptr, 0);
  }
}

void D2D::DrawSpread(ID2D1Bitmap* left, ID2D1Bitmap* right, const Loupe& loupe) {
  if ((left == nullptr) != (right == nullptr)) {
    DrawPage(left != nullptr ? left : right, loupe);
    return;
  }
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const float W = size.width, H = size.height;
  DrawBackground(0, 0, W, H, 1.0f);
  if (left == nullptr) {
    if (loupe.on) DrawLoupe(loupe, nullptr, nullptr, 0);
    return;
  }
  const D2D1_SIZE_U lp = left->GetPixelSize(), rp = right->GetPixelSize();
  const float w = static_cast<float>(lp.width), h = static_cast<float>(lp.height);
  const float s = std::min({(W / 2) / (8 * w), H / (8 * h), 1.0f});
  const float w2 = static_cast<float>(rp.width), h2 = static_cast<float>(rp.height);
  const float s2 = std::min({(W / 2) / (8 * w2), H / (8 * h2), 1.0f});
  const D2D1_RECT_F dests[2] = {{W / 2 - 8 * w * s, H / 2 - 4 * h * s, W / 2, H / 2 + 4 * h * s},
                                {W / 2, H / 2 - 4 * h2 * s2, W / 2 + 8 * w2 * s2, H / 2 + 4 * h2 * s2}};
  ID2D1Bitmap* const pages[2] = {left, right};
  m_renderTarget->DrawBitmap(left, &dests[0], 1.0f, kLinear, nullptr);
  m_renderTarget->DrawBitmap(right, &dests[1], 1.0f, kLinear, nullptr);
  if (loupe.on) DrawLoupe(loupe, dests, pages, 2);
}

void D2D::DrawLoupe(const Loupe& loupe, const D2D1_RECT_F* pages, ID2D1Bitmap* const* bitmaps, int count) {
  const float hw = static_cast<float>(m_dpiX * 380 / 96) * 0.5f;
  const float hh = static_cast<float>(m_dpiY * 380 / 96) * 0.5f;
  const float mx = static_cast<float>(loupe.x), my = static_cast<float>(loupe.y);
  const D2D1_RECT_F area{mx - hw, my - hh, mx + hw, my + hh};

  m_renderTarget->PushAxisAlignedClip(area, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
  DrawBackground(area.left, area.top, area.right, area.bottom, 0.75f);
  for (int i = 0; i < count; ++i) {
    const D2D1_RECT_F& d = pages[i];
    const D2D1_RECT_F magnified{(d.left - mx) * 2 + mx, (d.top - my) * 2 + my, (d.right - mx) * 2 + mx,
                                (d.bottom - my) * 2 + my};
    m_renderTarget->DrawBitmap(bitmaps[i], &magnified, 1.0f, kLinear, nullptr);
  }
  m_renderTarget->PopAxisAlignedClip();

  ID2D1SolidColorBrush* brush = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kLoupeFrame, &brush))) {
    m_renderTarget->DrawRectangle(area, brush, 4.0f, nullptr);
    brush->Release();
  }
}
