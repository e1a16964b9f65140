// The drawing interface on QPainter over a premultiplied ARGB frame buffer.
#include "platform/d2d1.h"

#include "platform/qt_image.h"

#include <QtGui/QFont>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <algorithm>
#include <memory>
#include <new>

namespace {

bool g_loseDevice = false;

class CBitmap final : public CUnknownImpl<ID2D1Bitmap> {
 public:
  CBitmap(QImage image, float dpiX, float dpiY) : m_image(std::move(image)), m_dpiX(dpiX), m_dpiY(dpiY) {}
  D2D1_SIZE_F GetSize() const override {
    return {m_image.width() * 96.0f / m_dpiX, m_image.height() * 96.0f / m_dpiY};
  }
  D2D1_SIZE_U GetPixelSize() const override {
    return {static_cast<UINT>(m_image.width()), static_cast<UINT>(m_image.height())};
  }
  const QImage& image() const { return m_image; }

 private:
  QImage m_image;  // ARGB32_Premultiplied, that is 32bppPBGRA
  float m_dpiX, m_dpiY;
};

class CSolidColorBrush final : public CUnknownImpl<ID2D1SolidColorBrush> {
 public:
  explicit CSolidColorBrush(const D2D1_COLOR_F& color) : m_color(color) {}
  D2D1_COLOR_F GetColor() const override { return m_color; }

 private:
  D2D1_COLOR_F m_color;
};

QRectF ToQt(const D2D1_RECT_F& r) { return QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom)); }
QColor ToQt(const D2D1_COLOR_F& c) { return QColor::fromRgbF(c.r, c.g, c.b, c.a); }

// Fonts need a running application (its font database).
bool CanDrawText() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QFont FontOf(const DWRITE_TEXT_FORMAT_DESC& format) {
  QFont font;
  font.setPixelSize(std::max(1, static_cast<int>(format.fontSize + 0.5f)));  // drawing units, scaled with the target
  font.setBold(format.bold);
  return font;
}

int FlagsOf(const DWRITE_TEXT_FORMAT_DESC& format) {
  const int horizontal = format.alignment == DWRITE_TEXT_ALIGNMENT_CENTER     ? Qt::AlignHCenter
                         : format.alignment == DWRITE_TEXT_ALIGNMENT_TRAILING ? Qt::AlignRight
                                                                              : Qt::AlignLeft;
  return horizontal | Qt::AlignTop | Qt::TextWordWrap;
}

class CHwndRenderTarget final : public CUnknownImpl<ID2D1HwndRenderTarget> {
 public:
  CHwndRenderTarget(HWND hwnd, D2D1_SIZE_U size, float dpiX, float dpiY)
      : m_hwnd(hwnd), m_dpiX(dpiX > 0 ? dpiX : 96.0f), m_dpiY(dpiY > 0 ? dpiY : 96.0f) {
    Allocate(size);
  }

  HRESULT CreateBitmapFromWicBitmap(IWICBitmapSource* source, const D2D1_BITMAP_PROPERTIES*,
                                    ID2D1Bitmap** bitmap) override {
    if (source == nullptr || bitmap == nullptr) return E_INVALIDARG;
    WICPixelFormatGUID format;
    UINT width = 0, height = 0;
    if (FAILED(source->GetPixelFormat(&format)) || FAILED(source->GetSize(&width, &height)))
      return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (format != GUID_WICPixelFormat32bppPBGRA) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (width == 0 || height == 0 || static_cast<uint64_t>(width) * height > kMaxDecodedPixels)
      return E_INVALIDARG;
    QImage shared;
    if (QtImageOf(source, &shared) && shared.format() == QImage::Format_ARGB32_Premultiplied) {
      // The platform's own converter: share its pixels rather than copy them.
      CBitmap* object = new (std::nothrow) CBitmap(std::move(shared), m_dpiX, m_dpiY);
      if (object == nullptr) return E_OUTOFMEMORY;
      return HandOut(object, ID2D1Bitmap::iid, reinterpret_cast<void**>(bitmap));
    }
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return E_OUTOFMEMORY;
    const uint64_t size = static_cast<uint64_t>(image.bytesPerLine()) * height;
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    const HRESULT hr =
        source->CopyPixels(nullptr, static_cast<UINT>(image.bytesPerLine()), static_cast<UINT>(size), image.bits());
    if (FAILED(hr)) return hr;
    CBitmap* object = new (std::nothrow) CBitmap(std::move(image), m_dpiX, m_dpiY);
    if (object == nullptr) return E_OUTOFMEMORY;
    return HandOut(object, ID2D1Bitmap::iid, reinterpret_cast<void**>(bitmap));
  }

  HRESULT CreateSolidColorBrush(const D2D1_COLOR_F& color, ID2D1SolidColorBrush** brush) override {
    if (brush == nullptr) return E_INVALIDARG;
    CSolidColorBrush* object = new (std::nothrow) CSolidColorBrush(color);
    if (object == nullptr) return E_OUTOFMEMORY;
    return HandOut(object, ID2D1SolidColorBrush::iid, reinterpret_cast<void**>(brush));
  }

  void DrawRectangle(const D2D1_RECT_F& rect, ID2D1Brush* brush, float strokeWidth, void*) override {
    if (!m_painter || brush == nullptr) return;
    // Only solid brushes exist here.
    const D2D1_COLOR_F color = static_cast<ID2D1SolidColorBrush*>(brush)->GetColor();
    m_painter->save();
    m_painter->setPen(QPen(ToQt(color), strokeWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    m_painter->setBrush(Qt::NoBrush);
    m_painter->drawRect(ToQt(rect));
    m_painter->restore();
  }

  void DrawBitmap(ID2D1Bitmap* bitmap, const D2D1_RECT_F* destination, float opacity,
                  D2D1_BITMAP_INTERPOLATION_MODE mode, const D2D1_RECT_F* source) override {
    if (!m_painter || bitmap == nullptr) return;
    const QImage& image = static_cast<CBitmap*>(bitmap)->image();
    const D2D1_SIZE_F size = bitmap->GetSize();
    const QRectF target = destination != nullptr ? ToQt(*destination) : QRectF(0, 0, size.width, size.height);
    const QRectF from = source != nullptr ? ToQt(*source) : QRectF(0, 0, image.width(), image.height());
    m_painter->setOpacity(opacity);
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform, mode == D2D1_BITMAP_INTERPOLATION_MODE_LINEAR);
    m_painter->drawImage(target, image, from);
    m_painter->setOpacity(1.0);
  }

  void Clear(const D2D1_COLOR_F* color) override {
    if (!m_painter) return;
    const QColor fill = color != nullptr ? ToQt(*color) : QColor(0, 0, 0, 0);
    m_painter->save();
    m_painter->setCompositionMode(QPainter::CompositionMode_Source);
    m_painter->resetTransform();
    m_painter->fillRect(QRectF(m_painter->window()), fill);
    m_painter->restore();
  }

  void PushAxisAlignedClip(const D2D1_RECT_F& clip, D2D1_ANTIALIAS_MODE) override {
    if (!m_painter) return;
    m_painter->save();
    m_painter->setClipRect(ToQt(clip), m_painter->hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
  }
  void PopAxisAlignedClip() override {
    if (m_painter) m_painter->restore();
  }

  void BeginDraw() override {
    if (m_painter) return;
    // Onto the window's own surface while it paints: the frame then needs
    // no buffer of its own, nor a copy of every pixel to be shown.
    if (QPaintDevice* surface = m_hwnd != nullptr ? m_hwnd->PaintingSurface() : nullptr) {
      auto painter = std::make_unique<QPainter>();
      if (painter->begin(surface)) {
        const qreal ratio = surface->devicePixelRatioF();  // the surface counts device pixels / ratio
        painter->scale(m_dpiX / 96.0 / ratio, m_dpiY / 96.0 / ratio);
        m_painter = std::move(painter);
        m_inPlace = true;
        return;
      }
    }
    m_inPlace = false;
    // Made at the first frame of a size, not when the size is told: a
    // window told its size before it shows has other work first.
    if (m_frame.width() != m_width || m_frame.height() != m_height) {
      m_frame = QImage(m_width, m_height, QImage::Format_ARGB32_Premultiplied);
      m_frame.fill(Qt::black);
    }
    m_painter = std::make_unique<QPainter>(&m_frame);
    m_painter->scale(m_dpiX / 96.0, m_dpiY / 96.0);  // drawing units are 1/96 inch
  }

  HRESULT EndDraw(uint64_t*, uint64_t*) override {
    if (!m_painter) return static_cast<HRESULT>(0x88990001u);  // D2DERR_WRONG_STATE
    m_painter->end();
    m_painter.reset();
    if (g_loseDevice) {
      g_loseDevice = false;
      return D2DERR_RECREATE_TARGET;
    }
    if (m_hwnd != nullptr && !m_inPlace)
      m_hwnd->PresentFrame(m_frame.constBits(), m_frame.width(), m_frame.height(),
                           static_cast<int>(m_frame.bytesPerLine()));
    return S_OK;
  }

  D2D1_SIZE_F GetSize() const override {
    return {m_width * 96.0f / m_dpiX, m_height * 96.0f / m_dpiY};
  }
  D2D1_SIZE_U GetPixelSize() const override {
    return {static_cast<UINT>(m_width), static_cast<UINT>(m_height)};
  }
  void GetDpi(float* dpiX, float* dpiY) const override {
    if (dpiX != nullptr) *dpiX = m_dpiX;
    if (dpiY != nullptr) *dpiY = m_dpiY;
  }
  void FillRectangle(const D2D1_RECT_F& rect, ID2D1Brush* brush) override {
    if (!m_painter || brush == nullptr) return;
    m_painter->fillRect(ToQt(rect), ToQt(static_cast<ID2D1SolidColorBrush*>(brush)->GetColor()));
  }

  void DrawText(const char16_t* text, UINT length, const DWRITE_TEXT_FORMAT_DESC& format, const D2D1_RECT_F& layout,
                ID2D1Brush* brush) override {
    if (!m_painter || brush == nullptr || text == nullptr || !CanDrawText()) return;
    m_painter->save();
    m_painter->setFont(FontOf(format));
    m_painter->setPen(ToQt(static_cast<ID2D1SolidColorBrush*>(brush)->GetColor()));
    m_painter->drawText(ToQt(layout), FlagsOf(format), QString::fromUtf16(text, static_cast<qsizetype>(length)));
    m_painter->restore();
  }

  D2D1_SIZE_F MeasureText(const char16_t* text, UINT length, const DWRITE_TEXT_FORMAT_DESC& format,
                          float maxWidth) override {
    if (text == nullptr || !CanDrawText()) return {0, 0};
    const QFontMetricsF metrics(FontOf(format));
    const QRectF box = metrics.boundingRect(QRectF(0, 0, maxWidth, 1e6), FlagsOf(format),
                                            QString::fromUtf16(text, static_cast<qsizetype>(length)));
    return {static_cast<float>(box.width()), static_cast<float>(box.height())};
  }

  HRESULT Resize(const D2D1_SIZE_U* size) override {
    if (size == nullptr) return E_INVALIDARG;
    if (m_painter) return static_cast<HRESULT>(0x88990001u);
    Allocate(*size);
    return S_OK;
  }
  HWND GetHwnd() const override { return m_hwnd; }

 private:
  void Allocate(D2D1_SIZE_U size) {
    // A minimised window has no area; keep one pixel to draw into.
    m_width = static_cast<int>(size.width > 0 ? size.width : 1);
    m_height = static_cast<int>(size.height > 0 ? size.height : 1);
  }

  HWND m_hwnd;
  float m_dpiX, m_dpiY;
  int m_width = 1, m_height = 1;  // the frame's size in pixels, from the next frame on
  QImage m_frame;  // drawn into where the window has no surface to lend
  std::unique_ptr<QPainter> m_painter;
  bool m_inPlace = false;  // this frame is drawn onto the window's surface
};

class CFactory final : public CUnknownImpl<ID2D1Factory> {
 public:
  HRESULT CreateHwndRenderTarget(const D2D1_RENDER_TARGET_PROPERTIES& properties,
                                 const D2D1_HWND_RENDER_TARGET_PROPERTIES& windowProperties,
                                 ID2D1HwndRenderTarget** target) override {
    if (target == nullptr) return E_INVALIDARG;
    CHwndRenderTarget* object = new (std::nothrow)
        CHwndRenderTarget(windowProperties.hwnd, windowProperties.pixelSize, properties.dpiX, properties.dpiY);
    if (object == nullptr) return E_OUTOFMEMORY;
    return HandOut(object, ID2D1HwndRenderTarget::iid, reinterpret_cast<void**>(target));
  }
};

}  // namespace

HRESULT D2D1CreateFactory(D2D1_FACTORY_TYPE, REFIID iid, const void*, void** factory) {
  if (factory == nullptr) return E_POINTER;
  CFactory* object = new (std::nothrow) CFactory;
  if (object == nullptr) return E_OUTOFMEMORY;
  return HandOut(object, iid, factory);
}

void D2D1SimulateDeviceLoss() { g_loseDevice = true; }
