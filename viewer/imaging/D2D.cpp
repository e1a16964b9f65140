#include "viewer/imaging/D2D.h"

#include <algorithm>
#include <cmath>


namespace {
constexpr D2D1_COLOR_F kBlack{0.0f, 0.0f, 0.0f, 1.0f};
constexpr D2D1_COLOR_F kLoupeFrame{0.5f, 0.0f, 0.5f, 1.0f};
constexpr D2D1_COLOR_F kShade{0.0f, 0.0f, 0.0f, 0.75f};  // under words, so they read on any picture
constexpr D2D1_COLOR_F kWords{1.0f, 1.0f, 1.0f, 1.0f};
constexpr float kCaptionSize = 18;  // drawing units
constexpr float kHelpSize = 15;
constexpr float kCornerSize = 13;
constexpr auto kLinear = D2D1_BITMAP_INTERPOLATION_MODE_LINEAR;
// The page grid: its cells' frames, the selected one's and the pages on
// screen's marks.
constexpr D2D1_COLOR_F kCellFrame{1.0f, 1.0f, 1.0f, 0.25f};
constexpr D2D1_COLOR_F kSelected{1.0f, 1.0f, 1.0f, 1.0f};
constexpr D2D1_COLOR_F kCurrent{1.0f, 0.6f, 0.0f, 1.0f};
constexpr float kGridPadding = 12;
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
  m_pixelRatio = GetWindowPixelRatio(window);
  const D2D1_RENDER_TARGET_PROPERTIES properties{
      D2D1_RENDER_TARGET_TYPE_DEFAULT,
      {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
      static_cast<float>(m_dpiX) * m_pixelRatio,
      static_cast<float>(m_dpiY) * m_pixelRatio,
      D2D1_RENDER_TARGET_USAGE_GDI_COMPATIBLE,
      0};
  const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{m_window, TargetPixels(), D2D1_PRESENT_OPTIONS_NONE};
  SafeRelease(m_renderTarget);
  if (m_factory != nullptr) m_factory->CreateHwndRenderTarget(properties, windowProperties, &m_renderTarget);
}

D2D1_SIZE_U D2D::TargetPixels() const {
  RECT rc{};
  GetClientRect(m_window, &rc);
  return {static_cast<UINT>(std::lround((rc.right - rc.left) * m_pixelRatio)),
          static_cast<UINT>(std::lround((rc.bottom - rc.top) * m_pixelRatio))};
}

void D2D::ResizeTarget() {
  if (m_renderTarget == nullptr) return;
  // The window may have moved to a screen of another scale.
  if (GetWindowPixelRatio(m_window) != m_pixelRatio) {
    CreateTarget(m_window, m_dpiX, m_dpiY);
    return;
  }
  const D2D1_SIZE_U size = TargetPixels();
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

BitmapMaker D2D::Maker() const {
  ComRef<ID2D1HwndRenderTarget> target;
  target.Set(m_renderTarget);
  return [target](IWICBitmapSource* pixels, ID2D1Bitmap** bitmap) -> HRESULT {
    if (!target) return E_FAIL;
    return target->CreateBitmapFromWicBitmap(pixels, nullptr, bitmap);
  };
}

Screen D2D::CurrentScreen() const {
  Screen screen;
  if (m_renderTarget == nullptr) return screen;
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  screen.width = size.width;
  screen.height = size.height;
  screen.dpiX = static_cast<float>(m_dpiX) * m_pixelRatio;
  screen.dpiY = static_cast<float>(m_dpiY) * m_pixelRatio;
  return screen;
}

D2D1_RECT_F Screen::RectAlone(D2D1_SIZE_U page) const {
  // Fitted and centred, never more than eight times the page's size.
  const float W = width, H = height;
  const float w = static_cast<float>(page.width), h = static_cast<float>(page.height);
  const float s = std::min({W / (8 * w), H / (8 * h), 1.0f});
  const float halfW = 8 * w * s / 2, halfH = 8 * h * s / 2;
  return {W / 2 - halfW, H / 2 - halfH, W / 2 + halfW, H / 2 + halfH};
}

void Screen::RectsPaired(D2D1_SIZE_U left, D2D1_SIZE_U right, D2D1_RECT_F* rects) const {
  // Each page fitted into its half, the two meeting at the middle.
  const float W = width, H = height;
  const float w = static_cast<float>(left.width), h = static_cast<float>(left.height);
  const float s = std::min({(W / 2) / (8 * w), H / (8 * h), 1.0f});
  const float w2 = static_cast<float>(right.width), h2 = static_cast<float>(right.height);
  const float s2 = std::min({(W / 2) / (8 * w2), H / (8 * h2), 1.0f});
  rects[0] = {W / 2 - 8 * w * s, H / 2 - 4 * h * s, W / 2, H / 2 + 4 * h * s};
  rects[1] = {W / 2, H / 2 - 4 * h2 * s2, W / 2 + 8 * w2 * s2, H / 2 + 4 * h2 * s2};
}

PagePlace Screen::PlaceAt(const D2D1_RECT_F& rect) const {
  const float kx = dpiX / 96.0f, ky = dpiY / 96.0f;
  const int64_t x0 = std::lround(rect.left * kx), x1 = std::lround(rect.right * kx);
  const int64_t y0 = std::lround(rect.top * ky), y1 = std::lround(rect.bottom * ky);
  return {rect, {static_cast<UINT>(std::max<int64_t>(x1 - x0, 1)), static_cast<UINT>(std::max<int64_t>(y1 - y0, 1))}};
}

Placement Screen::Place(D2D1_SIZE_U first, D2D1_SIZE_U second, PageMode mode) const {
  Placement placement;
  if (width <= 0 || height <= 0) return placement;
  const bool hasFirst = first.width > 0 && first.height > 0;
  const bool hasSecond = second.width > 0 && second.height > 0;
  const bool spread = mode == PageMode::SpreadRight || mode == PageMode::SpreadLeft;
  if (spread && hasFirst && hasSecond) {
    D2D1_RECT_F rects[2];
    // Right-opening: the lower index on the right.
    if (mode == PageMode::SpreadRight) {
      RectsPaired(second, first, rects);
      std::swap(rects[0], rects[1]);
    } else {
      RectsPaired(first, second, rects);
    }
    placement.first = PlaceAt(rects[0]);
    placement.second = PlaceAt(rects[1]);
  } else if (hasFirst) {
    placement.first = PlaceAt(RectAlone(first));
  } else if (spread && hasSecond) {
    placement.second = PlaceAt(RectAlone(second));
  }
  return placement;
}

D2D1_SIZE_U Screen::PixelsAlone(D2D1_SIZE_U page) const {
  if (width <= 0 || height <= 0 || page.width == 0 || page.height == 0) return {};
  return PlaceAt(RectAlone(page)).pixels;
}

D2D1_SIZE_U Screen::PixelsPaired(D2D1_SIZE_U page) const {
  if (width <= 0 || height <= 0 || page.width == 0 || page.height == 0) return {};
  D2D1_RECT_F rects[2];
  RectsPaired(page, page, rects);
  return PlaceAt(rects[0]).pixels;
}

HRESULT D2D::Paint(const PageImage& firstPage, const PageImage& secondPage, const Placement& placement,
                   const Loupe& loupe, const Overlay& overlay) {
  // The frame holds its own references to what it draws.
  const PageImage first = firstPage, second = secondPage;
  PagePlace places[2];
  const PageImage* pages[2];
  int count = 0;
  if (placement.first.pixels.width > 0) places[count] = placement.first, pages[count++] = &first;
  if (placement.second.pixels.width > 0) places[count] = placement.second, pages[count++] = &second;
  return PaintFrame(places, pages, count, false, loupe, overlay);
}

HRESULT D2D::Paint(const std::vector<PlacedPage>& pages, const Loupe& loupe, const Overlay& overlay) {
  std::vector<PagePlace> places;
  std::vector<const PageImage*> images;
  for (const PlacedPage& page : pages) {
    if (page.place.pixels.width == 0 || page.image.empty()) continue;
    places.push_back(page.place);
    images.push_back(&page.image);
  }
  return PaintFrame(places.data(), images.data(), static_cast<int>(places.size()), true, loupe, overlay);
}

HRESULT D2D::PaintFrame(const PagePlace* places, const PageImage* const* pages, int count, bool clip,
                        const Loupe& loupe, const Overlay& overlay) {
  // No target since a failed rebuild: nothing to draw until one exists.
  if (m_renderTarget == nullptr) return S_OK;
  m_renderTarget->BeginDraw();
  m_renderTarget->Clear(&kBlack);
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  DrawBackground(0, 0, size.width, size.height, 1.0f);
  if (clip) m_renderTarget->PushAxisAlignedClip({0, 0, size.width, size.height}, D2D1_ANTIALIAS_MODE_ALIASED);
  for (int i = 0; i < count; ++i) DrawImage(*pages[i], places[i]);
  if (clip) m_renderTarget->PopAxisAlignedClip();
  if (loupe.on) DrawLoupe(loupe, places, pages, count);
  if (!overlay.caption.empty()) DrawCaption(overlay.caption);
  if (!overlay.corner.empty()) DrawCorner(overlay.corner);
  if (!overlay.help.empty()) DrawHelp(overlay.help);
  if (!overlay.info.empty()) DrawInfo(overlay.info);
  return m_renderTarget->EndDraw();
}

void D2D::DrawCaption(const std::u16string& caption) {
  // One line across the lower part of the window, over a band of shade.
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const DWRITE_TEXT_FORMAT_DESC format{kCaptionSize, DWRITE_TEXT_ALIGNMENT_CENTER, true};
  const float margin = 16;
  const float width = std::max(size.width - 2 * margin, 1.0f);
  const D2D1_SIZE_F text = m_renderTarget->MeasureText(caption.data(), static_cast<UINT>(caption.size()), format, width);
  const float height = std::max(text.height, kCaptionSize * 1.4f);
  const float top = std::max(size.height * 0.88f - height / 2, 0.0f);
  ID2D1SolidColorBrush* shade = nullptr;
  ID2D1SolidColorBrush* words = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kShade, &shade)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kWords, &words))) {
    m_renderTarget->FillRectangle({0, top - margin / 2, size.width, top + height + margin / 2}, shade);
    m_renderTarget->DrawText(caption.data(), static_cast<UINT>(caption.size()), format,
                             {margin, top, margin + width, top + height}, words);
  }
  SafeRelease(shade);
  SafeRelease(words);
}

void D2D::DrawCorner(const std::u16string& words) {
  // Small, over a shade of its own, clear of the page's middle.
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const DWRITE_TEXT_FORMAT_DESC format{kCornerSize, DWRITE_TEXT_ALIGNMENT_TRAILING, false};
  const float padding = 6, margin = 12;
  const D2D1_SIZE_F text = m_renderTarget->MeasureText(words.data(), static_cast<UINT>(words.size()), format, 1e6f);
  const float right = std::max(size.width - margin, 0.0f), bottom = std::max(size.height - margin, 0.0f);
  const float left = std::max(right - text.width - 2 * padding, 0.0f);
  const float top = std::max(bottom - std::max(text.height, kCornerSize * 1.4f) - 2 * padding, 0.0f);
  ID2D1SolidColorBrush* shade = nullptr;
  ID2D1SolidColorBrush* brush = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kShade, &shade)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kWords, &brush))) {
    m_renderTarget->FillRectangle({left, top, right, bottom}, shade);
    m_renderTarget->DrawText(words.data(), static_cast<UINT>(words.size()), format,
                             {left + padding, top + padding, right - padding, bottom - padding}, brush);
  }
  SafeRelease(shade);
  SafeRelease(brush);
}

void D2D::DrawHelp(const std::vector<std::pair<std::u16string, std::u16string>>& rows) {
  // Two columns in a shaded panel in the middle: what to press, what it does.
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const DWRITE_TEXT_FORMAT_DESC keys{kHelpSize, DWRITE_TEXT_ALIGNMENT_LEADING, true};
  const DWRITE_TEXT_FORMAT_DESC actions{kHelpSize, DWRITE_TEXT_ALIGNMENT_LEADING, false};
  const float padding = 16, gap = 24, line = kHelpSize * 1.5f;
  float keysWidth = 0, actionsWidth = 0;
  for (const auto& [key, action] : rows) {
    keysWidth = std::max(keysWidth, m_renderTarget->MeasureText(key.data(), static_cast<UINT>(key.size()), keys, 1e6f).width);
    actionsWidth = std::max(
        actionsWidth, m_renderTarget->MeasureText(action.data(), static_cast<UINT>(action.size()), actions, 1e6f).width);
  }
  const float width = std::min(keysWidth + gap + actionsWidth + 2 * padding, size.width);
  const float height = std::min(line * static_cast<float>(rows.size()) + 2 * padding, size.height);
  const float left = std::max((size.width - width) / 2, 0.0f), top = std::max((size.height - height) / 2, 0.0f);
  ID2D1SolidColorBrush* shade = nullptr;
  ID2D1SolidColorBrush* words = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kShade, &shade)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kWords, &words))) {
    m_renderTarget->FillRectangle({left, top, left + width, top + height}, shade);
    m_renderTarget->PushAxisAlignedClip({left, top, left + width, top + height}, D2D1_ANTIALIAS_MODE_ALIASED);
    float y = top + padding;
    for (const auto& [key, action] : rows) {
      const float x = left + padding;
      m_renderTarget->DrawText(key.data(), static_cast<UINT>(key.size()), keys, {x, y, x + keysWidth, y + line}, words);
      m_renderTarget->DrawText(action.data(), static_cast<UINT>(action.size()), actions,
                               {x + keysWidth + gap, y, left + width - padding, y + line}, words);
      y += line;
    }
    m_renderTarget->PopAxisAlignedClip();
  }
  SafeRelease(shade);
  SafeRelease(words);
}

void D2D::DrawInfo(const std::vector<std::pair<std::u16string, std::u16string>>& rows) {
  // Labels and their words in a shaded panel in the middle, the words
  // wrapped to a readable width; what does not fit the window is cut off.
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const DWRITE_TEXT_FORMAT_DESC labels{kHelpSize, DWRITE_TEXT_ALIGNMENT_LEADING, true};
  const DWRITE_TEXT_FORMAT_DESC words{kHelpSize, DWRITE_TEXT_ALIGNMENT_LEADING, false};
  const float padding = 16, gap = 24, line = kHelpSize * 1.5f;
  float labelsWidth = 0;
  for (const auto& row : rows)
    labelsWidth = std::max(
        labelsWidth, m_renderTarget->MeasureText(row.first.data(), static_cast<UINT>(row.first.size()), labels, 1e6f).width);
  const float wordsWidth = std::max(std::min(kHelpSize * 36, size.width - labelsWidth - gap - 2 * padding), 1.0f);
  std::vector<float> heights;
  float height = 2 * padding;
  for (const auto& row : rows) {
    const D2D1_SIZE_F text =
        m_renderTarget->MeasureText(row.second.data(), static_cast<UINT>(row.second.size()), words, wordsWidth);
    heights.push_back(std::max(text.height, line));
    height += heights.back();
  }
  const float width = std::min(labelsWidth + gap + wordsWidth + 2 * padding, size.width);
  height = std::min(height, size.height);
  const float left = std::max((size.width - width) / 2, 0.0f), top = std::max((size.height - height) / 2, 0.0f);
  ID2D1SolidColorBrush* shade = nullptr;
  ID2D1SolidColorBrush* brush = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kShade, &shade)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kWords, &brush))) {
    m_renderTarget->FillRectangle({left, top, left + width, top + height}, shade);
    m_renderTarget->PushAxisAlignedClip({left, top, left + width, top + height}, D2D1_ANTIALIAS_MODE_ALIASED);
    float y = top + padding;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const float x = left + padding;
      const auto& [label, text] = rows[i];
      m_renderTarget->DrawText(label.data(), static_cast<UINT>(label.size()), labels,
                               {x, y, x + labelsWidth, y + line}, brush);
      m_renderTarget->DrawText(text.data(), static_cast<UINT>(text.size()), words,
                               {x + labelsWidth + gap, y, x + labelsWidth + gap + wordsWidth, y + heights[i]}, brush);
      y += heights[i];
    }
    m_renderTarget->PopAxisAlignedClip();
  }
  SafeRelease(shade);
  SafeRelease(brush);
}

float D2D::GridHeaderHeight(std::size_t rows) {
  return 2 * kGridPadding + kHelpSize * 1.5f * static_cast<float>(rows + 1);
}

HRESULT D2D::PaintGrid(const GridFrame& frame) {
  if (m_renderTarget == nullptr) return S_OK;
  m_renderTarget->BeginDraw();
  m_renderTarget->Clear(&kBlack);
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  DrawBackground(0, 0, size.width, size.height, 1.0f);
  ID2D1SolidColorBrush* shade = nullptr;
  ID2D1SolidColorBrush* frameBrush = nullptr;
  ID2D1SolidColorBrush* selected = nullptr;
  ID2D1SolidColorBrush* current = nullptr;
  ID2D1SolidColorBrush* words = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kShade, &shade)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kCellFrame, &frameBrush)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kSelected, &selected)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kCurrent, &current)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kWords, &words))) {
    // The cells scroll under the header: clipped below it.
    const float headerBottom = GridHeaderHeight(frame.header.size());
    m_renderTarget->FillRectangle({0, 0, size.width, size.height}, shade);
    m_renderTarget->PushAxisAlignedClip({0, headerBottom, size.width, size.height}, D2D1_ANTIALIAS_MODE_ALIASED);
    const DWRITE_TEXT_FORMAT_DESC number{kCornerSize, DWRITE_TEXT_ALIGNMENT_CENTER, false};
    for (const GridFrame::Cell& cell : frame.cells)
      if (!cell.noPage) m_renderTarget->DrawRectangle(cell.box, frameBrush, 1.0f, nullptr);
    for (const PlacedPage& thumbnail : frame.thumbnails)
      if (thumbnail.place.pixels.width > 0 && !thumbnail.image.empty()) DrawImage(thumbnail.image, thumbnail.place);
    for (const GridFrame::Cell& cell : frame.cells) {
      m_renderTarget->DrawText(cell.number.data(), static_cast<UINT>(cell.number.size()), number, cell.label, words);
      const D2D1_RECT_F inner{cell.box.left + 2, cell.box.top + 2, cell.box.right - 2, cell.box.bottom - 2};
      if (cell.current) m_renderTarget->DrawRectangle(inner, current, 3.0f, nullptr);
      if (cell.selected) m_renderTarget->DrawRectangle(cell.box, selected, 3.0f, nullptr);
    }
    m_renderTarget->PopAxisAlignedClip();
  }
  SafeRelease(shade);
  SafeRelease(frameBrush);
  SafeRelease(selected);
  SafeRelease(current);
  SafeRelease(words);
  DrawGridHeader(frame);
  return m_renderTarget->EndDraw();
}

void D2D::DrawGridHeader(const GridFrame& frame) {
  // As the book's description draws: labels and their words on rows, over
  // a shade, under the title; one line a row, what does not fit cut off.
  const D2D1_SIZE_F size = m_renderTarget->GetSize();
  const DWRITE_TEXT_FORMAT_DESC labels{kHelpSize, DWRITE_TEXT_ALIGNMENT_LEADING, true};
  const DWRITE_TEXT_FORMAT_DESC words{kHelpSize, DWRITE_TEXT_ALIGNMENT_LEADING, false};
  const float gap = 24, line = kHelpSize * 1.5f;
  const float height = std::min(GridHeaderHeight(frame.header.size()), size.height);
  float labelsWidth = 0;
  for (const auto& [label, text] : frame.header)
    labelsWidth = std::max(
        labelsWidth, m_renderTarget->MeasureText(label.data(), static_cast<UINT>(label.size()), labels, 1e6f).width);
  ID2D1SolidColorBrush* shade = nullptr;
  ID2D1SolidColorBrush* brush = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kShade, &shade)) &&
      SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kWords, &brush))) {
    m_renderTarget->FillRectangle({0, 0, size.width, height}, shade);
    m_renderTarget->PushAxisAlignedClip({0, 0, size.width, height}, D2D1_ANTIALIAS_MODE_ALIASED);
    const float x = kGridPadding, right = std::max(size.width - kGridPadding, x);
    float y = kGridPadding;
    m_renderTarget->DrawText(frame.title.data(), static_cast<UINT>(frame.title.size()), labels, {x, y, right, y + line},
                             brush);
    y += line;
    for (const auto& [label, text] : frame.header) {
      m_renderTarget->DrawText(label.data(), static_cast<UINT>(label.size()), labels, {x, y, x + labelsWidth, y + line},
                               brush);
      m_renderTarget->DrawText(text.data(), static_cast<UINT>(text.size()), words,
                               {x + labelsWidth + gap, y, std::max(right, x + labelsWidth + gap), y + line}, brush);
      y += line;
    }
    m_renderTarget->PopAxisAlignedClip();
  }
  SafeRelease(shade);
  SafeRelease(brush);
}

void D2D::DrawImage(const PageImage& page, const PagePlace& place) {
  const D2D1_SIZE_U scaled = page.scaled ? page.scaled->GetPixelSize() : D2D1_SIZE_U{};
  const float kx = static_cast<float>(m_dpiX) * m_pixelRatio / 96.0f;
  const float ky = static_cast<float>(m_dpiY) * m_pixelRatio / 96.0f;
  // Whether the place's pixels are all the device pixels its rectangle covers.
  const D2D1_SIZE_U all = CurrentScreen().PlaceAt(place.rect).pixels;
  const bool covers = all.width == place.pixels.width && all.height == place.pixels.height;
  const float left = std::round(place.rect.left * kx) / kx, top = std::round(place.rect.top * ky) / ky;
  if (scaled.width == place.pixels.width && scaled.height == place.pixels.height && !covers) {
    // A page zoomed so far that its copy is made smaller: enlarged here,
    // under the parts made for these pixels.
    m_renderTarget->DrawBitmap(page.scaled.get(), &place.rect, 1.0f, kLinear, nullptr);
  } else if (scaled.width == place.pixels.width && scaled.height == place.pixels.height) {
    // Made for exactly these pixels: drawn one to one, on whole pixels.
    const D2D1_RECT_F dest{left, top, left + static_cast<float>(scaled.width) / kx,
                           top + static_cast<float>(scaled.height) / ky};
    m_renderTarget->DrawBitmap(page.scaled.get(), &dest, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, nullptr);
  } else if (ID2D1Bitmap* bitmap = page.full ? page.full.get() : page.scaled.get(); bitmap != nullptr) {
    // Until a copy for these pixels is made, the painter scales what there is.
    m_renderTarget->DrawBitmap(bitmap, &place.rect, 1.0f, kLinear, nullptr);
  }
  for (const PagePart& part : page.parts) {
    if (part.cover.width != all.width || part.cover.height != all.height) continue;
    const float x = left + static_cast<float>(part.area.X) / kx, y = top + static_cast<float>(part.area.Y) / ky;
    const D2D1_RECT_F dest{x, y, x + static_cast<float>(part.area.Width) / kx,
                           y + static_cast<float>(part.area.Height) / ky};
    m_renderTarget->DrawBitmap(part.bitmap.get(), &dest, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR,
                               nullptr);
  }
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

void D2D::DrawLoupe(const Loupe& loupe, const PagePlace* places, const PageImage* const* pages, int count) {
  const float hw = static_cast<float>(m_dpiX * 380 / 96) * 0.5f;
  const float hh = static_cast<float>(m_dpiY * 380 / 96) * 0.5f;
  const float mx = static_cast<float>(loupe.x), my = static_cast<float>(loupe.y);
  const D2D1_RECT_F area{mx - hw, my - hh, mx + hw, my + hh};

  m_renderTarget->PushAxisAlignedClip(area, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
  DrawBackground(area.left, area.top, area.right, area.bottom, 0.75f);
  for (int i = 0; i < count; ++i) {
    // Magnified from the full pixels where they are at hand (a page decoded
    // small for the screen has none).
    const D2D1_RECT_F& d = places[i].rect;
    const D2D1_RECT_F magnified{(d.left - mx) * 2 + mx, (d.top - my) * 2 + my, (d.right - mx) * 2 + mx,
                                (d.bottom - my) * 2 + my};
    const bool full = pages[i]->full && (!pages[i]->decodedToDraw || !pages[i]->scaled);
    ID2D1Bitmap* bitmap = full ? pages[i]->full.get() : pages[i]->scaled.get();
    if (bitmap != nullptr) m_renderTarget->DrawBitmap(bitmap, &magnified, 1.0f, kLinear, nullptr);
  }
  m_renderTarget->PopAxisAlignedClip();

  ID2D1SolidColorBrush* brush = nullptr;
  if (SUCCEEDED(m_renderTarget->CreateSolidColorBrush(kLoupeFrame, &brush))) {
    m_renderTarget->DrawRectangle(area, brush, 4.0f, nullptr);
    brush->Release();
  }
}
