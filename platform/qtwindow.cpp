// Windows and messages on Qt Widgets: a widget per window turns Qt's
// events into the numbered messages its implementation dispatches on.
#include <QtCore/QAbstractNativeEventFilter>
#include <QtCore/QFile>
#include <QtCore/QLibraryInfo>
#include <QtCore/QLocale>
#include <QtCore/QMimeData>
#include <QtCore/QPointer>
#include <QtCore/QSettings>
#include <QtCore/QSocketNotifier>
#include <QtCore/QTimer>
#include <QtCore/QTranslator>
#include <QtGui/QGuiApplication>
#include <QtGui/QImageReader>
#include <QtGui/QInputDevice>
#include <QtGui/QPainter>
#include <QtGui/QPointingDevice>
#include <QtGui/QScreen>
#include <QtGui/QWheelEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QWidget>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <cstring>
#include <array>
#include <map>
#include <memory>
#include <set>
#include <unistd.h>
#include <vector>

#include "platform/debug.h"
#include "platform/text.h"
#include "platform/wincodec.h"
#include "platform/winuser.h"

HRESULT CreateWindowClassInstance(REFCLSID clsid, REFIID iid, void** out);
// Dialogs and their controls (dialog.cpp) keep timers and visibility of their own.
bool ControlSetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds);
bool ControlKillTimer(HWND hwnd, UINT_PTR id);
bool ControlShowWindow(HWND hwnd, int command);
LRESULT ControlSend(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

struct DropFiles {
  std::vector<std::u16string> paths;
};

struct TouchInput {
  std::vector<TOUCHINPUT> records;
};
std::set<TouchInput*> g_touchInputs;  // handles not yet closed

// The modifier keys as the key message being handled saw them.
std::array<BYTE, 256> g_keyState{};

void NoteModifiers(Qt::KeyboardModifiers modifiers) {
  g_keyState[VK_SHIFT] = (modifiers & Qt::ShiftModifier) ? 0x80 : 0;
  g_keyState[VK_CONTROL] = (modifiers & Qt::ControlModifier) ? 0x80 : 0;
  g_keyState[VK_MENU] = (modifiers & Qt::AltModifier) ? 0x80 : 0;
}

QString ToQt(const char16_t* text) { return text != nullptr ? QString::fromUtf16(text) : QString(); }

class CQtWindow final : public QWidget, public PlatformWindow {
 public:
  explicit CQtWindow(CWindowImpl* impl) : m_impl(impl) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
  }

  // ---- PlatformWindow ----
  void SetTitle(const std::u16string& title) override { setWindowTitle(QString::fromStdU16String(title)); }
  std::u16string Title() const override { return windowTitle().toStdU16String(); }
  void ClientSize(int* width, int* height) const override {
    *width = QWidget::width();
    *height = QWidget::height();
  }
  float PixelRatio() const override { return static_cast<float>(devicePixelRatioF()); }
  void Invalidate() override { update(); }
  // Lent only within the paint event; the paint then knows its frame is
  // drawn.
  QPaintDevice* PaintingSurface() override {
    if (!m_painting) return nullptr;
    m_paintedInPlace = true;
    return this;
  }
  void PresentFrame(const BYTE* pixels, int width, int height, int stride) override {
    // Not copied: the frame is the renderer's own pixels, drawn below in the
    // same paint event that had it rendered and let go right after, so no
    // copy of a whole window's pixels is made per frame (nor, for the first
    // one, a fresh buffer faulted in page by page).
    m_frame = QImage(pixels, width, height, stride, QImage::Format_ARGB32_Premultiplied);
    m_paintedInPlace = false;
  }

  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (m_impl != nullptr && m_impl->ProcessWindowMessage(this, message, wParam, lParam, result, 0)) return result;
    return DefWindowProcW(this, message, wParam, lParam);
  }
  void Detach() { m_impl = nullptr; }

  std::map<UINT_PTR, int> timers;  // our id -> Qt's
  bool popup = false;              // WS_POPUP style: full screen without frame

 protected:
  void paintEvent(QPaintEvent*) override {
    m_frame = QImage();
    m_paintedInPlace = false;
    m_painting = true;
    Send(WM_PAINT, 0, 0);
    m_painting = false;
    // A frame not drawn onto the window's own surface is drawn here.
    if (!m_paintedInPlace) {
      QPainter painter(this);
      if (m_frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
      } else {
        // Drawn in device pixels: shown one to one on a scaled screen.
        const qreal ratio = devicePixelRatioF();
        painter.drawImage(QRectF(0, 0, m_frame.width() / ratio, m_frame.height() / ratio), m_frame,
                          QRectF(0, 0, m_frame.width(), m_frame.height()));
      }
    }
    // The renderer's pixels are not kept past the paint that drew them.
    m_frame = QImage();
    if (TracingFrames()) {  // every frame presented, for the benchmarks
      // For the benchmarks: when each frame went out, on the monotonic clock.
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::fprintf(stderr, "Frame presented %lld.%06ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    }
  }
  void resizeEvent(QResizeEvent*) override { Send(WM_SIZE, 0, MAKELPARAM(width(), height())); }
  void closeEvent(QCloseEvent* event) override {
    event->ignore();  // the window decides through WM_CLOSE
    Send(WM_CLOSE, 0, 0);
  }
  void keyPressEvent(QKeyEvent* event) override {
    const WPARAM key = VirtualKey(event);
    NoteModifiers(event->modifiers());
    if (key != 0) Send(WM_KEYDOWN, key, event->isAutoRepeat() ? 0x40000001 : 1);
  }
  void enterEvent(QEnterEvent*) override { Send(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)); }
  void leaveEvent(QEvent*) override { Send(WM_SETCURSOR, 0, MAKELPARAM(HTNOWHERE, WM_MOUSEMOVE)); }
  void mouseMoveEvent(QMouseEvent* event) override {
    Send(WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    Send(WM_MOUSEMOVE, 0, Position(event));
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::MiddleButton) Send(WM_MBUTTONDOWN, 0, Position(event));
    if (event->button() == Qt::LeftButton) Send(WM_LBUTTONDOWN, 0, Position(event));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton) Send(WM_RBUTTONUP, 0, Position(event));
    if (event->button() == Qt::LeftButton) Send(WM_LBUTTONUP, 0, Position(event));
  }
  void wheelEvent(QWheelEvent* event) override {
    // A touchpad or a fine wheel sends its parts of a notch as they come,
    // as a precision touchpad does: the window adds them up where it wants
    // whole notches, and scrolls by them smoothly where it can.
    const int angle = event->angleDelta().y();
    if (angle != 0 && angle > -120 && angle < 120) {
      const QPointF at = event->globalPosition();
      Send(WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint16_t>(angle)) << 16,
           MAKELPARAM(static_cast<int>(at.x()), static_cast<int>(at.y())));
      event->accept();
      return;
    }
    // Otherwise one message per whole notch, however the device splits its
    // deltas.
    m_wheel += angle;
    while (m_wheel >= 120 || m_wheel <= -120) {
      const int notch = m_wheel > 0 ? 120 : -120;
      m_wheel -= notch;
      const QPointF at = event->globalPosition();
      Send(WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<uint16_t>(notch)) << 16,
           MAKELPARAM(static_cast<int>(at.x()), static_cast<int>(at.y())));
    }
    event->accept();
  }
  void timerEvent(QTimerEvent* event) override {
    for (const auto& [id, qtId] : timers)
      if (qtId == event->timerId()) {
        Send(WM_TIMER, id, 0);
        return;
      }
  }
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (HasDroppable(event->mimeData())) event->acceptProposedAction();
  }
  void dropEvent(QDropEvent* event) override {
    auto* drop = new DropFiles;
    // Files as their paths; a web address (a link dragged from a browser)
    // as itself, which no path can be taken for: paths start with "/".
    for (const QUrl& url : event->mimeData()->urls())
      if (url.isLocalFile())
        drop->paths.push_back(Utf8ToUtf16(QFile::encodeName(url.toLocalFile()).toStdString()));
      else if (IsWebAddress(url))
        drop->paths.push_back(url.toString(QUrl::FullyEncoded).toStdU16String());
    if (drop->paths.empty()) {
      delete drop;
      return;
    }
    event->acceptProposedAction();
    Send(WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
  }
  bool event(QEvent* event) override {
    switch (event->type()) {
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TouchCancel:
        SendTouch(static_cast<QTouchEvent*>(event));
        return true;
      default:
        return QWidget::event(event);
    }
  }

 private:
  static bool IsWebAddress(const QUrl& url) {
    return (url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty();
  }
  static bool HasDroppable(const QMimeData* data) {
    for (const QUrl& url : data->urls())
      if (url.isLocalFile() || IsWebAddress(url)) return true;
    return false;
  }
  static LPARAM Position(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    return MAKELPARAM(p.x(), p.y());
  }
  static WPARAM VirtualKey(QKeyEvent* event) {
    const int key = event->key();
    switch (key) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        return VK_RETURN;
      case Qt::Key_Escape:
        return VK_ESCAPE;
      case Qt::Key_Space:
        return VK_SPACE;
      case Qt::Key_Left:
        return VK_LEFT;
      case Qt::Key_Up:
        return VK_UP;
      case Qt::Key_Right:
        return VK_RIGHT;
      case Qt::Key_Down:
        return VK_DOWN;
      case Qt::Key_Backspace:
        return VK_BACK;
      case Qt::Key_PageUp:
        return VK_PRIOR;
      case Qt::Key_PageDown:
        return VK_NEXT;
      case Qt::Key_Home:
        return VK_HOME;
      case Qt::Key_End:
        return VK_END;
      case Qt::Key_Menu:
        return VK_APPS;
      case Qt::Key_Slash:
      case Qt::Key_Question:
        return VK_OEM_2;
      case Qt::Key_Equal:
      case Qt::Key_Plus:
        return VK_OEM_PLUS;
      case Qt::Key_Minus:
        return VK_OEM_MINUS;
      default:
        break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + static_cast<WPARAM>(key - Qt::Key_F1);
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
      return static_cast<WPARAM>(key);  // the same codes as the virtual keys
    return 0;
  }
  void SendTouch(QTouchEvent* event) {
    auto* input = new TouchInput;
    for (const QEventPoint& point : event->points()) {
      DWORD flags = 0;
      if (point.state() == QEventPoint::Pressed) flags |= TOUCHEVENTF_DOWN | TOUCHEVENTF_INRANGE;
      if (point.state() == QEventPoint::Released) flags |= TOUCHEVENTF_UP;
      if (point.state() == QEventPoint::Updated || point.state() == QEventPoint::Stationary)
        flags |= TOUCHEVENTF_MOVE | TOUCHEVENTF_INRANGE;
      // The first point of a sequence is the primary one.
      if (point.state() == QEventPoint::Pressed && m_primaryTouch < 0) m_primaryTouch = point.id();
      if (point.id() == m_primaryTouch) flags |= TOUCHEVENTF_PRIMARY;
      const QPointF at = point.globalPosition();
      input->records.push_back(TOUCHINPUT{static_cast<LONG>(at.x() * 100), static_cast<LONG>(at.y() * 100), nullptr,
                                          static_cast<DWORD>(point.id()), flags, 0,
                                          static_cast<DWORD>(event->timestamp()), 0, 0, 0});
    }
    if (event->type() == QEvent::TouchEnd || event->type() == QEvent::TouchCancel) m_primaryTouch = -1;
    g_touchInputs.insert(input);
    Send(WM_TOUCH, input->records.size(), reinterpret_cast<LPARAM>(input));
    CloseTouchInputHandle(input);  // in case nobody did
  }

  CWindowImpl* m_impl;
  QImage m_frame;  // the frame being painted, over the renderer's pixels
  bool m_painting = false;        // within the paint event: frames are drawn in place
  bool m_paintedInPlace = false;  // this paint's frame was
  int m_wheel = 0;
  int m_primaryTouch = -1;
};

CQtWindow* QtWindowOf(HWND hwnd) { return dynamic_cast<CQtWindow*>(hwnd); }

CQtWindow* g_cursorWindow = nullptr;  // the window that last saw the mouse
int g_signalPipe[2] = {-1, -1};
std::atomic<bool> g_terminationRequested{false};  // lock-free: set in the handler

}  // namespace

CWindowImpl::~CWindowImpl() {
  if (CQtWindow* window = QtWindowOf(m_hWnd)) {
    window->Detach();
    if (g_cursorWindow == window) g_cursorWindow = nullptr;
    delete window;
  }
}

HWND CWindowImpl::Create(const char16_t* title, int width, int height) {
  auto* window = new CQtWindow(this);
  window->setWindowTitle(ToQt(title));
  window->resize(width, height);
  m_hWnd = window;
  if (window->Send(WM_NCCREATE, 0, 0) == FALSE) {
    window->Detach();
    delete window;
    m_hWnd = nullptr;
    return nullptr;
  }
  window->Send(WM_CREATE, 0, 0);
  return m_hWnd;
}

namespace {
QApplication* g_application = nullptr;
}  // namespace

namespace {

// A window destroyed by another X client (xdotool windowclose, a broken
// window manager) would leave the program running with no window: its
// DestroyNotify closes the window as the close box does, so the profile is
// saved and the program ends. The event's layout is the X protocol's.
class CDestroyedWindows final : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t" || message == nullptr) return false;
    struct DestroyNotify {
      uint8_t responseType;
      uint8_t pad;
      uint16_t sequence;
      uint32_t event;
      uint32_t window;
    };
    constexpr uint8_t kDestroyNotify = 17;
    const auto* notify = static_cast<const DestroyNotify*>(message);
    if ((notify->responseType & 0x7F) != kDestroyNotify) return false;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* window = dynamic_cast<CQtWindow*>(widget);
      if (window == nullptr || !window->testAttribute(Qt::WA_WState_Created) ||
          window->internalWinId() != static_cast<WId>(notify->window))
        continue;
      QPointer<CQtWindow> target(window);
      QTimer::singleShot(0, window, [target] {
        if (target) target->Send(WM_CLOSE, 0, 0);
      });
    }
    return false;
  }
};

}  // namespace

void InitApplication(int& argc, char** argv) {
  if (QCoreApplication::instance() == nullptr) {
    g_application = new QApplication(argc, argv);
    static CDestroyedWindows destroyed;  // lives as long as the process
    g_application->installNativeEventFilter(&destroyed);
    // Qt's own dialog texts (buttons, the file dialog) in Japanese for a
    // Japanese user, when Qt's translations are installed; English else.
    if (UserLanguageIsJapanese()) {
      auto* qt = new QTranslator(g_application);
      if (qt->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    }
  }
  SetBeepSink([](UINT, void*) { QApplication::beep(); }, nullptr);
  g_moreClasses = CreateWindowClassInstance;
}

void ShutdownApplication() {
  delete g_application;
  g_application = nullptr;
}

int RunMessageLoop() { return QApplication::exec(); }

void PostQuitMessage(int code) {
  QTimer::singleShot(0, [code] { QCoreApplication::exit(code); });
}

void CloseOnTerminationSignals(HWND hwnd) {
  // Non-blocking: a handler never waits on a full pipe (a signal is
  // enough once). Close-on-exec: programs started later do not inherit it.
  if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
  struct sigaction action {};
  action.sa_handler = [](int) {
    const int saved = errno;  // the interrupted code may be reading errno
    g_terminationRequested.store(true, std::memory_order_relaxed);
    const char byte = 1;
    (void)!::write(g_signalPipe[1], &byte, 1);  // async-signal-safe: the loop does the rest
    errno = saved;
  };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QtWindowOf(hwnd));
  QObject::connect(notifier, &QSocketNotifier::activated, [hwnd] {
    char bytes[64];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
    }  // however many signals came: one close
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
  });
}

bool TerminationRequested() { return g_terminationRequested.load(std::memory_order_relaxed); }

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CQtWindow* window = QtWindowOf(hwnd);
  return window != nullptr ? window->Send(message, wParam, lParam) : ControlSend(hwnd, message, wParam, lParam);
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return FALSE;
  QPointer<CQtWindow> target(window);
  QTimer::singleShot(0, window, [target, message, wParam, lParam] {
    if (target) target->Send(message, wParam, lParam);
  });
  return TRUE;
}

LRESULT DefWindowProcW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SETCURSOR:
      if (CQtWindow* window = QtWindowOf(hwnd)) {
        g_cursorWindow = window;
        if (LOWORD(static_cast<uintptr_t>(lParam)) == HTCLIENT) window->setCursor(Qt::ArrowCursor);
      }
      return TRUE;
    case WM_DROPFILES:
      DragFinish(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_TOUCH:
      CloseTouchInputHandle(reinterpret_cast<HTOUCHINPUT>(lParam));
      return 0;
    default:
      return 0;
  }
}

BOOL DestroyWindow(HWND hwnd) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return FALSE;
  for (const auto& [id, qtId] : window->timers) window->killTimer(qtId);
  window->timers.clear();
  window->hide();
  window->Send(WM_DESTROY, 0, 0);
  return TRUE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return ControlShowWindow(hwnd, command) ? TRUE : FALSE;
  const bool wasVisible = window->isVisible();
  switch (command) {
    case SW_HIDE:
      window->hide();
      break;
    case SW_SHOWMAXIMIZED:
      if (window->popup)
        window->showFullScreen();  // a frameless window over the whole monitor
      else
        window->showMaximized();
      break;
    case SW_SHOWNORMAL:
      window->showNormal();
      break;
    default:
      window->show();
      break;
  }
  return wasVisible ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND hwnd) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return FALSE;
  window->raise();
  window->activateWindow();
  return TRUE;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds, void*) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return ControlSetTimer(hwnd, id, milliseconds) ? id : 0;
  KillTimer(hwnd, id);
  // A frame's timer (an animation) must not drift by Qt's coarse 5 %.
  const int qtId =
      window->startTimer(static_cast<int>(milliseconds), milliseconds < 50 ? Qt::PreciseTimer : Qt::CoarseTimer);
  if (qtId == 0) return 0;
  window->timers[id] = qtId;
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return ControlKillTimer(hwnd, id) ? TRUE : FALSE;
  auto found = window->timers.find(id);
  if (found == window->timers.end()) return FALSE;
  window->killTimer(found->second);
  window->timers.erase(found);
  return TRUE;
}

HCURSOR ArrowCursor() { return reinterpret_cast<HCURSOR>(1); }

HCURSOR SetCursor(HCURSOR cursor) {
  if (g_cursorWindow != nullptr) g_cursorWindow->setCursor(cursor == nullptr ? Qt::BlankCursor : Qt::ArrowCursor);
  return nullptr;
}

void DragAcceptFiles(HWND hwnd, BOOL accept) {
  if (CQtWindow* window = QtWindowOf(hwnd)) window->setAcceptDrops(accept != FALSE);
}

UINT DragQueryFileW(HDROP drop, UINT index, char16_t* buffer, UINT size) {
  auto* files = static_cast<DropFiles*>(drop);
  if (files == nullptr) return 0;
  if (index == 0xFFFFFFFFu) return static_cast<UINT>(files->paths.size());
  if (index >= files->paths.size()) return 0;
  const std::u16string& path = files->paths[index];
  if (buffer == nullptr || size == 0) return static_cast<UINT>(path.size());
  const std::size_t n = std::min<std::size_t>(path.size(), size - 1);
  path.copy(buffer, n);
  buffer[n] = u'\0';
  return static_cast<UINT>(n);
}

void DragFinish(HDROP drop) { delete static_cast<DropFiles*>(drop); }

HDROP MakeDrop(const std::u16string* paths, UINT count) {
  auto* drop = new DropFiles;
  drop->paths.assign(paths, paths + count);
  return drop;
}

BOOL RegisterTouchWindow(HWND hwnd, ULONG) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return FALSE;
  window->setAttribute(Qt::WA_AcceptTouchEvents, true);
  return TRUE;
}

BOOL UnregisterTouchWindow(HWND hwnd) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return FALSE;
  window->setAttribute(Qt::WA_AcceptTouchEvents, false);
  return TRUE;
}

HTOUCHINPUT MakeTouchInput(const TOUCHINPUT* inputs, UINT count) {
  auto* input = new TouchInput;
  input->records.assign(inputs, inputs + count);
  g_touchInputs.insert(input);
  return input;
}

BOOL GetTouchInputInfo(HTOUCHINPUT handle, UINT count, TOUCHINPUT* inputs, int size) {
  auto* input = static_cast<TouchInput*>(handle);
  if (g_touchInputs.count(input) == 0 || inputs == nullptr || size != static_cast<int>(sizeof(TOUCHINPUT)) ||
      input->records.empty())
    return FALSE;
  const std::size_t n = std::min<std::size_t>(count, input->records.size());
  std::copy(input->records.begin(), input->records.begin() + static_cast<std::ptrdiff_t>(n), inputs);
  return TRUE;
}

BOOL CloseTouchInputHandle(HTOUCHINPUT handle) {
  auto* input = static_cast<TouchInput*>(handle);
  if (g_touchInputs.erase(input) == 0) return FALSE;
  delete input;
  return TRUE;
}

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT) {
  QMessageBox box(QMessageBox::NoIcon, caption != nullptr ? ToQt(caption) : QStringLiteral("Error"), ToQt(text),
                  QMessageBox::Ok, QtWindowOf(owner));
  box.exec();
  return 1;  // IDOK
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr || index != GWL_STYLE) return 0;
  if (window->popup) return WS_POPUP;
  return WS_OVERLAPPEDWINDOW | (window->isMaximized() ? WS_MAXIMIZE : 0);
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  const LONG_PTR old = GetWindowLongPtrW(hwnd, index);
  if (CQtWindow* window = QtWindowOf(hwnd); window != nullptr && index == GWL_STYLE) {
    window->popup = (value & WS_POPUP) != 0;
    if (!window->popup && window->isFullScreen()) window->showNormal();  // the frame comes back
  }
  return old;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr || placement == nullptr) return FALSE;
  const QRect normal = window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
  placement->flags = 0;
  placement->showCmd = window->isMaximized() ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  placement->ptMinPosition = placement->ptMaxPosition = POINT{-1, -1};
  placement->rcNormalPosition = RECT{normal.left(), normal.top(), normal.right() + 1, normal.bottom() + 1};
  return TRUE;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr || placement == nullptr) return FALSE;
  const RECT& r = placement->rcNormalPosition;
  if (window->isFullScreen() || window->isMaximized()) window->showNormal();
  window->setGeometry(QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)));
  // Qt holds a hidden window's resize until it shows; told now, what is
  // made before it shows (the first pages) is made at the size it shows at.
  if (!window->isVisible()) window->Send(WM_SIZE, 0, MAKELPARAM(window->width(), window->height()));
  return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr || rect == nullptr) return FALSE;
  const QRect g = window->frameGeometry();
  *rect = RECT{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* point) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr || point == nullptr) return FALSE;
  const QPoint global = window->mapToGlobal(QPoint(point->x, point->y));
  *point = POINT{global.x(), global.y()};
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* point) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr || point == nullptr) return FALSE;
  const QPoint local = window->mapFromGlobal(QPoint(point->x, point->y));
  *point = POINT{local.x(), local.y()};
  return TRUE;
}

void CenterWindow(HWND hwnd) {
  CQtWindow* window = QtWindowOf(hwnd);
  if (window == nullptr) return;
  QScreen* screen = window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

void SetWindowIcon(HWND hwnd) {
  // Read as the PNG it is: a QIcon given the file name loads every image
  // plugin to ask which reads it, about 20 ms before the first page.
  QImageReader reader(QStringLiteral(":/velmora/icon.png"), "png");
  reader.setAutoDetectImageFormat(false);
  const QIcon icon(QPixmap::fromImage(reader.read()));
  QApplication::setWindowIcon(icon);  // the dialogs take it too
  if (CQtWindow* window = QtWindowOf(hwnd)) window->setWindowIcon(icon);
}

SHORT GetKeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 255) return 0;
  return (g_keyState[static_cast<std::size_t>(virtualKey)] & 0x80) ? static_cast<SHORT>(-128) : 0;
}

BOOL SetKeyboardState(const BYTE* keys) {
  if (keys == nullptr) return FALSE;
  std::copy(keys, keys + 256, g_keyState.begin());
  return TRUE;
}

int GetSystemMetrics(int index) {
  if (index != SM_DIGITIZER) return 0;
  int value = 0;
  for (const QInputDevice* device : QInputDevice::devices()) {
    if (device->type() == QInputDevice::DeviceType::TouchScreen) {
      value |= 0x01 | 0x80;  // integrated touch, ready
      if (const auto* pointing = qobject_cast<const QPointingDevice*>(device); pointing && pointing->maximumPoints() > 1)
        value |= 0x40;  // several points at once
    } else if (device->type() == QInputDevice::DeviceType::Stylus) {
      value |= 0x04 | 0x80;
    }
  }
  return value;
}

void GetScreenDpi(int32_t* dpiX, int32_t* dpiY) {
  QScreen* screen = QGuiApplication::primaryScreen();
  *dpiX = screen != nullptr ? static_cast<int32_t>(screen->logicalDotsPerInchX()) : 96;
  *dpiY = screen != nullptr ? static_cast<int32_t>(screen->logicalDotsPerInchY()) : 96;
}

namespace {

std::u16string g_settingsFile;  // tests: the settings in a file of their own

std::unique_ptr<QSettings> UserSettings() {
  if (!g_settingsFile.empty())
    return std::make_unique<QSettings>(QString::fromStdU16String(g_settingsFile), QSettings::IniFormat);
  return std::make_unique<QSettings>(QStringLiteral("velmora"), QStringLiteral("velmora"));
}

// A text as stored: its bytes as the system names files (odd names
// included) when they are not UTF-8, plain text otherwise, so the file
// stays readable where it can.
QVariant StoredText(const std::u16string& text) {
  const std::string bytes = Utf16ToUtf8(text);
  const QString plain = QString::fromStdU16String(text);
  if (plain.toUtf8().toStdString() == bytes) return plain;
  return QByteArray::fromStdString(bytes);
}

// What a settings file, written by anyone, may hand us: more is dropped
// with one debug line, so that a damaged or hostile file costs no memory.
constexpr int kMaxSettingItems = 1024;
constexpr qsizetype kMaxSettingBytes = 64 * 1024;

void SayOutOfBounds(const QString& key) {
  OutputDebugStringW((u"Setting Out Of Bounds : " + key.toStdU16String() + u"\r\n").c_str());
}

std::u16string TextOf(const QVariant& value, const QString& key) {
  if (value.typeId() == QMetaType::QByteArray) {
    const QByteArray bytes = value.toByteArray();
    if (bytes.size() > kMaxSettingBytes) return SayOutOfBounds(key), std::u16string();
    return Utf8ToUtf16(bytes.toStdString());
  }
  const QString text = value.toString();
  if (text.size() > kMaxSettingBytes) return SayOutOfBounds(key), std::u16string();
  return text.toStdU16String();
}

QTranslator& Translation() {
  static QTranslator* translator = new QTranslator;  // lives as long as the process
  return *translator;
}
bool g_translated = false;

}  // namespace

void SetUserSetting(const char16_t* key, const char16_t* name, DWORD value) {
  const std::unique_ptr<QSettings> settings = UserSettings();
  const QString full = ToQt(key) + QStringLiteral("/") + ToQt(name);
  // Unchanged, the file is not written again: the program sets this at
  // every start, which then waited for the file to reach the disk.
  bool ok = false;
  if (settings->value(full).toUInt(&ok) == value && ok) return;
  settings->setValue(full, static_cast<uint>(value));
}

int64_t GetUserSettingInteger(const char16_t* key, int64_t fallback) {
  const QVariant value = UserSettings()->value(ToQt(key));
  bool ok = false;
  const qlonglong number = value.toLongLong(&ok);
  return ok ? number : fallback;
}

void SetUserSettingInteger(const char16_t* key, int64_t value) {
  UserSettings()->setValue(ToQt(key), static_cast<qlonglong>(value));
}

std::u16string GetUserSettingText(const char16_t* key) { return TextOf(UserSettings()->value(ToQt(key)), ToQt(key)); }

void SetUserSettingText(const char16_t* key, const std::u16string& value) {
  UserSettings()->setValue(ToQt(key), StoredText(value));
}

std::vector<std::u16string> GetUserSettingTexts(const char16_t* key) {
  std::unique_ptr<QSettings> settings = UserSettings();
  std::vector<std::u16string> values;
  const int count = settings->beginReadArray(ToQt(key));
  if (count > kMaxSettingItems) SayOutOfBounds(ToQt(key) + QStringLiteral("/size"));
  for (int i = 0; i < count && count <= kMaxSettingItems; ++i) {
    settings->setArrayIndex(i);
    values.push_back(TextOf(settings->value(QStringLiteral("value")), ToQt(key)));
  }
  settings->endArray();
  return values;
}

void SetUserSettingTexts(const char16_t* key, const std::vector<std::u16string>& values) {
  std::unique_ptr<QSettings> settings = UserSettings();
  settings->remove(ToQt(key));  // no items left over from a longer list
  settings->beginWriteArray(ToQt(key), static_cast<int>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    settings->setArrayIndex(static_cast<int>(i));
    settings->setValue(QStringLiteral("value"), StoredText(values[i]));
  }
  settings->endArray();
}

BOOL HasUserSetting(const char16_t* key) { return UserSettings()->contains(ToQt(key)) ? TRUE : FALSE; }

void SetUserSettingsFile(const std::u16string& path) { g_settingsFile = path; }

BOOL UserLanguageIsJapanese() {
  const QStringList languages = QLocale::system().uiLanguages();
  const QLocale first = languages.isEmpty() ? QLocale::system() : QLocale(languages.first());
  return first.language() == QLocale::Japanese ? TRUE : FALSE;
}

BOOL LoadTranslation(const char16_t* file) {
  g_translated = false;
  if (file == nullptr) return TRUE;
  g_translated = Translation().load(QString::fromUtf16(file));
  return g_translated ? TRUE : FALSE;
}

std::u16string TranslateText(const char* context, const char* text) {
  if (g_translated) {
    const QString translated = Translation().translate(context, text);
    if (!translated.isEmpty()) return translated.toStdU16String();
  }
  return QString::fromUtf8(text).toStdU16String();
}
