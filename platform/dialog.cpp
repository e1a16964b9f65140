#include "platform/dialog.h"

#include <QtCore/QBuffer>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QFile>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QAbstractTextDocumentLayout>
#include <QtGui/QCloseEvent>
#include <QtGui/QDesktopServices>
#include <QtGui/QImageReader>
#include <QtGui/QPalette>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QHostInfo>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSlider>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "platform/debug.h"
#include "platform/html_bounds.h"
#include "platform/http/http_client.h"

bool ControlKillTimer(HWND hwnd, UINT_PTR id);

namespace {

// Every window of this file: the widget, and its implementation (dialogs).
class CQtControl final : public PlatformWindow {
 public:
  explicit CQtControl(QWidget* widget) : widget(widget) {}
  void SetTitle(const std::u16string& title) override { widget->setWindowTitle(QString::fromStdU16String(title)); }
  std::u16string Title() const override { return widget->windowTitle().toStdU16String(); }
  void ClientSize(int* width, int* height) const override {
    *width = widget->width();
    *height = widget->height();
  }
  void Invalidate() override { widget->update(); }
  void PresentFrame(const BYTE*, int, int, int) override {}

  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (impl != nullptr && impl->ProcessWindowMessage(this, message, wParam, lParam, result, 0)) return result;
    return 0;
  }

  QPointer<QWidget> widget;
  CWindowImpl* impl = nullptr;
  std::map<int, CQtControl*> children;  // by control id
  std::map<UINT_PTR, QTimer*> timers;
  int zoom = 100;
  double baseFont = 0;
};

CQtControl* Control(HWND hwnd) { return dynamic_cast<CQtControl*>(hwnd); }

// A top-level dialog whose close box becomes a cancel command.
class CDialogWidget final : public QWidget {
 public:
  CDialogWidget(QWidget* owner, CQtControl* self) : QWidget(owner, Qt::Dialog), m_self(self) {}
  ~CDialogWidget() override {
    for (auto& [id, child] : m_self->children) delete child;
    delete m_self;
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    m_self->Send(WM_COMMAND, IDCANCEL, 0);
  }

 private:
  CQtControl* m_self;
};

BrowserFetchHook g_fetchHook = nullptr;
void* g_fetchContext = nullptr;
NumberDialogHook g_numberHook = nullptr;
void* g_numberContext = nullptr;
PasswordDialogHook g_passwordHook = nullptr;
void* g_passwordContext = nullptr;

// What a page may cost. A page is HTML text; its pictures are what the
// network can make large, so each is capped in bytes and in pixels, and a
// page in count and in decoded bytes altogether.
constexpr qint64 kMaxPageBytes = qint64{1} << 20;        // 1 MiB
constexpr qint64 kMaxResourceBytes = qint64{4} << 20;    // 4 MiB a picture, as fetched
constexpr qint64 kMaxPicturePixels = qint64{4096} * 4096;
constexpr qint64 kMaxPageImageBytes = qint64{64} << 20;  // decoded pictures of one page
constexpr int kMaxResources = 64;                        // fetches per page
constexpr int kMaxRedirects = 5;
// A whole fetch, from the request to the last byte: a server dripping a
// byte now and then is never silent, so silence alone is no limit.
constexpr int kTransferDeadline = 20000;  // ms

int g_deadline = kTransferDeadline;
bool g_loopbackForTests = false;

// The test servers' one address, allowed only by the tests' own hook.
bool TestLoopback(const QUrl& url) { return g_loopbackForTests && url.host() == u"127.0.0.1"; }

// This machine and the networks around it: whatever serves there is not
// the web, and a page must not make the viewer ask it anything.
bool IsLocalNetwork(QHostAddress address) {
  bool v4 = false;
  const quint32 ipv4 = address.toIPv4Address(&v4);  // ::ffff:a.b.c.d too
  if (v4) address = QHostAddress(ipv4);
  static const char* const kSubnets[] = {"0.0.0.0/8",      "127.0.0.0/8", "10.0.0.0/8", "172.16.0.0/12",
                                         "192.168.0.0/16", "169.254.0.0/16", "::/96",  "fc00::/7",
                                         "fe80::/10"};
  for (const char* subnet : kSubnets)
    if (address.isInSubnet(QHostAddress::parseSubnet(QString::fromLatin1(subnet)))) return true;
  return false;
}

// Hands `checked` "" when the host of `url` is on the web, or why not: an
// address of the local networks, or a name that resolves to one (or to
// nothing). Names are looked up on Qt's resolver threads.
void CheckHost(const QUrl& url, QObject* context, std::function<void(const QString&)> checked) {
  const QString host = url.host();
  if (QHostAddress literal; literal.setAddress(host)) {
    checked(IsLocalNetwork(literal) ? QStringLiteral("a local address") : QString());
    return;
  }
  if (host.isEmpty()) {
    checked(QStringLiteral("no host"));
    return;
  }
  QHostInfo::lookupHost(host, context, [checked](const QHostInfo& info) {
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
      checked(QStringLiteral("no such host"));
      return;
    }
    const QList<QHostAddress> addresses = info.addresses();
    const bool local = std::any_of(addresses.begin(), addresses.end(), IsLocalNetwork);
    checked(local ? QStringLiteral("a name of a local address") : QString());
  });
}

using FetchDone = std::function<void(const QByteArray* body, const QString& refusal)>;

// Why the client gave up, as the debug line says it.
QString Refusal(const HttpResponse& response) {
  const QString reason = QString::fromStdU16String(response.reason);
  switch (response.error) {
    case HttpError::TooLarge:
      return QStringLiteral("too large");
    case HttpError::Timeout:
      return QStringLiteral("too slow");
    case HttpError::RefusedRedirect:
      return reason;
    default:
      return QStringLiteral("no answer (") + reason + u')';
  }
}

// Fetches `url` with `client` and hands `done` the body, or nothing and
// why on any failure: not HTTPS, a host of the local networks (the address
// asked for or any redirect's), an error, a body over `cap` bytes (cut off
// as soon as it shows), or more time than the deadline all told. `done`
// is called once, later, and not at all once `context` (which owns
// `client`) is gone.
void Fetch(const QUrl& url, qint64 cap, HttpClient& client, QObject* context, FetchDone done) {
  const bool exempt = TestLoopback(url);
  if (url.scheme() != u"https" && !(exempt && url.scheme() == u"http")) {
    QTimer::singleShot(0, context, [done] { done(nullptr, QStringLiteral("not HTTPS")); });
    return;
  }
  if (g_fetchHook != nullptr) g_fetchHook(url.toString().toStdU16String().c_str(), g_fetchContext);
  const QDeadlineTimer deadline(g_deadline);  // the host's check counts too
  const auto checked = [url, cap, &client, context, done, deadline](const QString& why) {
    if (!why.isEmpty()) return done(nullptr, why);
    if (deadline.hasExpired()) return done(nullptr, QStringLiteral("too slow"));
    HttpRequest request;
    request.url = url.toString(QUrl::FullyEncoded).toStdU16String();
    request.maxBytes = cap;
    request.maxRedirects = kMaxRedirects;
    request.totalLimit = request.stallLimit = std::chrono::milliseconds(deadline.remainingTime());
    request.redirectCheck = [context](const std::u16string& target, std::function<void(const std::u16string&)> answer) {
      const QUrl next(QString::fromStdU16String(target));
      if (next.scheme() != u"https") return answer(u"redirected to another scheme than HTTPS");
      CheckHost(next, context, [answer](const QString& why) {
        answer(why.isEmpty() ? std::u16string() : u"redirected to " + why.toStdU16String());
      });
    };
    client.Fetch(std::move(request), [done](HttpResponse response) {
      if (response.error != HttpError::None) return done(nullptr, Refusal(response));
      const QByteArray body = QByteArray::fromStdString(response.body);
      done(&body, QString());
    });
  };
  QTimer::singleShot(0, context, [url, context, exempt, checked] {  // answered later, whatever the answer
    if (exempt)
      checked(QString());
    else
      CheckHost(url, context, checked);
  });
}

// The light browser. Whatever it shows reads nothing from this machine but
// the copy of the page shipped as a Qt resource (and that copy's own
// resources); a fetched page's pictures come only over HTTPS, size-capped;
// a link opens outside only when it is HTTPS.
class CLightBrowser final : public QTextBrowser {
 public:
  explicit CLightBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);  // following a link in place would load it here
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) { Follow(link); });
  }

  HttpClient& Client() { return m_client; }
  // A page fetched from `base`.
  void ShowFetched(const QString& html, const QUrl& base) { Show(Origin::Fetched, html, base); }
  // The copy shipped with the program: `resource` is a Qt resource path
  // (":/..."); anything else shows nothing.
  void ShowShipped(const QString& resource) {
    QFile copy(resource);
    const bool ours = resource.startsWith(u":/") && copy.open(QIODevice::ReadOnly) && copy.size() <= kMaxPageBytes;
    Show(Origin::Shipped, ours ? QString::fromUtf8(copy.readAll()) : QString(),
         QUrl(QStringLiteral("qrc") + resource));
  }

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    // A blank picture rather than nothing: given nothing, the document and
    // its picture drawer would look for the name on disk themselves.
    const QVariant refused = type == QTextDocument::ImageResource ? QVariant(Blank()) : QVariant(QByteArray(""));
    const QUrl url = m_base.resolved(name);
    if (m_origin == Origin::Shipped) {
      if (url.scheme() != u"qrc") return refused;
      QFile file(QStringLiteral(":") + url.path());
      if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxResourceBytes) return refused;
      return file.readAll();
    }
    if (m_origin != Origin::Fetched || type != QTextDocument::ImageResource || url.scheme() != u"https" ||
        m_fetches >= kMaxResources || !m_requested.insert(url).second)
      return refused;
    ++m_fetches;
    const quint64 page = m_page;
    QPointer<CLightBrowser> self(this);
    Fetch(url, kMaxResourceBytes, m_client, this, [self, page, name](const QByteArray* bytes, const QString&) {
      if (self && bytes != nullptr && self->m_page == page) self->AddPicture(name, *bytes);
    });
    return refused;  // until it has come
  }

 private:
  enum class Origin { None, Fetched, Shipped };

  static QImage Blank() {
    QImage blank(1, 1, QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    return blank;
  }

  void Show(Origin origin, const QString& html, const QUrl& base) {
    ++m_page;  // what is still on its way belongs to the page before
    m_origin = origin;
    m_base = base;
    m_requested.clear();
    m_fetches = 0;
    m_imageBytes = 0;
    setHtml(html);
  }

  void AddPicture(const QUrl& name, const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();  // from the header, before any decoding
    const qint64 decoded = qint64{size.width()} * size.height() * 4;
    if (size.isEmpty() || qint64{size.width()} * size.height() > kMaxPicturePixels ||
        m_imageBytes + decoded > kMaxPageImageBytes)
      return;
    const QImage image = reader.read();
    if (image.isNull()) return;
    m_imageBytes += decoded;
    document()->addResource(QTextDocument::ImageResource, name, image);
    document()->markContentsDirty(0, document()->characterCount());  // lay out again with it
    viewport()->update();
  }

  void Follow(const QUrl& link) {
    if (link.path().isEmpty() && link.scheme().isEmpty() && link.hasFragment()) {
      scrollToAnchor(link.fragment());  // within the page
      return;
    }
    const QUrl url = m_base.resolved(link);
    if (url.scheme() == u"https") QDesktopServices::openUrl(url);
  }

  Origin m_origin = Origin::None;
  QUrl m_base;
  quint64 m_page = 0;
  std::set<QUrl> m_requested;  // each picture is fetched once a page
  int m_fetches = 0;
  qint64 m_imageBytes = 0;
  HttpClient m_client;  // its fetches end, unheard, with the browser
};

}  // namespace

HWND CreateDialogWindow(CWindowImpl* impl, HWND owner, const char16_t* caption, int width, int height) {
  QWidget* parent = dynamic_cast<QWidget*>(owner);
  auto* self = new CQtControl(nullptr);
  auto* widget = new CDialogWidget(parent, self);
  self->widget = widget;
  self->impl = impl;
  widget->setWindowTitle(QString::fromUtf16(caption));
  widget->resize(width, height);
  impl->m_hWnd = self;
  self->Send(WM_INITDIALOG, 0, 0);
  return self;
}

void DestroyDialogWindow(HWND dialog) {
  CQtControl* self = Control(dialog);
  if (self == nullptr) return;
  self->impl = nullptr;
  delete self->widget.data();  // takes its children and this control with it
}

HWND CreatePushButton(HWND parent, int id, const char16_t* text) {
  CQtControl* dialog = Control(parent);
  if (dialog == nullptr) return nullptr;
  auto* button = new QPushButton(QString::fromUtf16(text), dialog->widget);
  auto* self = new CQtControl(button);
  dialog->children[id] = self;
  QObject::connect(button, &QPushButton::clicked, [dialog, id] { dialog->Send(WM_COMMAND, static_cast<WPARAM>(id), 0); });
  button->show();
  return self;
}

HWND CreateBrowser(HWND parent, int id) {
  CQtControl* dialog = Control(parent);
  if (dialog == nullptr) return nullptr;
  auto* browser = new CLightBrowser(dialog->widget);
  auto* self = new CQtControl(browser);
  self->baseFont = browser->font().pointSizeF();
  browser->setProperty("velmoraDialog", QVariant::fromValue<void*>(dialog));  // where the page-loaded notice goes
  browser->setProperty("velmoraId", id);
  dialog->children[id] = self;
  browser->show();
  return self;
}

void BrowserNavigate(HWND hwnd, const char16_t* url, const char16_t* fallbackResource) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr) return;
  auto* browser = dynamic_cast<CLightBrowser*>(self->widget.data());
  if (browser == nullptr) return;
  const QString fallback = QString::fromUtf16(fallbackResource);
  const QUrl page(QString::fromUtf16(url));
  QPointer<CLightBrowser> target(browser);
  const auto show = [target, fallback, page](const QByteArray* html, QString refusal) {
    if (!target) return;
    if (html != nullptr) {
      // Measured before Qt lays it out: its layout recurses with the
      // nesting and could be kept busy for minutes by a page within the cap.
      const QString text = QString::fromUtf8(*html);
      const std::u16string_view units(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
      const HtmlVerdict verdict = CheckHtmlBounds(units, HtmlLimits{.maxUnits = kMaxPageBytes});
      if (verdict == HtmlVerdict::Fine)
        target->ShowFetched(text, page);
      else
        refusal = QString::fromUtf16(HtmlVerdictReason(verdict));
    }
    if (html == nullptr || !refusal.isEmpty()) {
      if (!refusal.isEmpty())
        OutputDebugStringW((u"About Page Refused : " + refusal.toStdU16String() + u"\r\n").c_str());
      target->ShowShipped(fallback);  // no network, no such page, or refused: the shipped copy
    }
    if (auto* owner = static_cast<CQtControl*>(target->property("velmoraDialog").value<void*>()))
      owner->Send(WM_BROWSER_DOCUMENT_COMPLETE, static_cast<WPARAM>(target->property("velmoraId").toInt()), 0);
  };
  // Only the web: Qt's network layer would read file: and qrc: addresses too.
  if (page.scheme() != u"http" && page.scheme() != u"https") {
    const QString refusal = page.isEmpty() ? QString() : QStringLiteral("not a web address");
    QTimer::singleShot(0, browser, [show, refusal] { show(nullptr, refusal); });  // answered later, as a fetch is
    return;
  }
  Fetch(page, kMaxPageBytes, browser->Client(), browser, show);
}

bool IsLocalNetworkAddress(const char16_t* address) {
  QHostAddress parsed;
  return address != nullptr && parsed.setAddress(QString::fromUtf16(address)) && IsLocalNetwork(parsed);
}

void AllowBrowserLoopbackForTests(bool allow) { g_loopbackForTests = allow; }

void SetBrowserDeadlineForTests(int milliseconds) {
  g_deadline = milliseconds > 0 ? milliseconds : kTransferDeadline;
}

void BrowserSetZoom(HWND hwnd, int percent) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr || self->widget == nullptr) return;
  self->zoom = percent;
  QFont font = self->widget->font();
  font.setPointSizeF(self->baseFont * percent / 100.0);
  self->widget->setFont(font);
}

int BrowserZoom(HWND hwnd) {
  CQtControl* self = Control(hwnd);
  return self != nullptr ? self->zoom : 0;
}

std::u16string BrowserText(HWND hwnd) {
  CQtControl* self = Control(hwnd);
  auto* browser = self != nullptr ? qobject_cast<QTextBrowser*>(self->widget) : nullptr;
  return browser != nullptr ? browser->toPlainText().toStdU16String() : std::u16string();
}

void SetBrowserFetchHook(BrowserFetchHook hook, void* context) {
  g_fetchHook = hook;
  g_fetchContext = context;
}

void SetNumberDialogHook(NumberDialogHook hook, void* context) {
  g_numberHook = hook;
  g_numberContext = context;
}

BOOL AskForNumber(HWND owner, const char16_t* title, const char16_t* label, int value, int minimum, int maximum,
                  int* result) {
  if (result == nullptr || minimum > maximum) return FALSE;
  value = std::clamp(value, minimum, maximum);
  if (g_numberHook != nullptr) return g_numberHook(title, label, value, minimum, maximum, result, g_numberContext);
  QDialog dialog(dynamic_cast<QWidget*>(owner));
  dialog.setWindowTitle(QString::fromUtf16(title));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QString::fromUtf16(label), &dialog));
  auto* spin = new QSpinBox(&dialog);
  spin->setRange(minimum, maximum);
  spin->setValue(value);
  layout->addWidget(spin);
  auto* slider = new QSlider(Qt::Horizontal, &dialog);
  slider->setRange(minimum, maximum);
  slider->setValue(value);
  layout->addWidget(slider);
  QObject::connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
  QObject::connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  spin->selectAll();
  spin->setFocus();
  if (dialog.exec() != QDialog::Accepted) return FALSE;
  *result = spin->value();
  return TRUE;
}

void SetPasswordDialogHook(PasswordDialogHook hook, void* context) {
  g_passwordHook = hook;
  g_passwordContext = context;
}

BOOL AskForPassword(HWND owner, const char16_t* title, const char16_t* prompt, const char16_t* wrongBefore,
                    std::u16string* password) {
  if (password == nullptr) return FALSE;
  if (g_passwordHook != nullptr) return g_passwordHook(title, prompt, wrongBefore, password, g_passwordContext);
  QDialog dialog(dynamic_cast<QWidget*>(owner));
  dialog.setWindowTitle(QString::fromUtf16(title));
  auto* layout = new QVBoxLayout(&dialog);
  if (wrongBefore != nullptr) {
    auto* wrong = new QLabel(QString::fromUtf16(wrongBefore), &dialog);
    QPalette palette = wrong->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    wrong->setPalette(palette);
    layout->addWidget(wrong);
  }
  auto* label = new QLabel(QString::fromUtf16(prompt), &dialog);
  label->setWordWrap(true);
  layout->addWidget(label);
  auto* field = new QLineEdit(&dialog);
  field->setEchoMode(QLineEdit::Password);
  // Not offered to input methods' dictionaries or the desktop's clipboard.
  field->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
  field->setContextMenuPolicy(Qt::NoContextMenu);
  label->setBuddy(field);
  layout->addWidget(field);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.setMinimumWidth(DialogUnitsToPixelsX(200));
  field->setFocus();
  const bool accepted = dialog.exec() == QDialog::Accepted;
  if (accepted) *password = field->text().toStdU16String();
  field->clear();
  return accepted ? TRUE : FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
  CQtControl* self = Control(dialog);
  if (self == nullptr) return nullptr;
  auto found = self->children.find(id);
  return found != self->children.end() ? found->second : nullptr;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr || self->widget == nullptr) return FALSE;
  self->widget->setGeometry(x, y, width, height);
  return TRUE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr || self->widget == nullptr) return FALSE;
  const bool wasDisabled = !self->widget->isEnabled();
  self->widget->setEnabled(enable != FALSE);
  return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  CQtControl* self = Control(hwnd);
  return self != nullptr && self->widget != nullptr && self->widget->isEnabled() ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  if (CQtControl* self = Control(hwnd); self != nullptr && self->widget != nullptr)
    return self->widget->isVisible() ? TRUE : FALSE;
  if (auto* widget = dynamic_cast<QWidget*>(hwnd)) return widget->isVisible() ? TRUE : FALSE;
  return FALSE;
}

void CenterWindowOver(HWND hwnd, HWND owner) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr || self->widget == nullptr) return;
  QWidget* over = dynamic_cast<QWidget*>(owner);
  if (over == nullptr) return;
  QRect frame = self->widget->frameGeometry();
  frame.moveCenter(over->frameGeometry().center());
  self->widget->move(frame.topLeft());
}

// MS Shell Dlg 8 at 96 dpi: a base unit of 6 by 13 pixels (4 and 8 dialog units).
int DialogUnitsToPixelsX(int units) { return units * 6 / 4; }
int DialogUnitsToPixelsY(int units) { return units * 13 / 8; }

// The window layer's timers and showing, for the windows of this file.
bool ControlSetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr || self->widget == nullptr) return false;
  ControlKillTimer(hwnd, id);
  auto* timer = new QTimer(self->widget);
  QObject::connect(timer, &QTimer::timeout, [self, id] { self->Send(WM_TIMER, id, 0); });
  timer->start(static_cast<int>(milliseconds));
  self->timers[id] = timer;
  return true;
}

bool ControlKillTimer(HWND hwnd, UINT_PTR id) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr) return false;
  auto found = self->timers.find(id);
  if (found == self->timers.end()) return false;
  delete found->second;
  self->timers.erase(found);
  return true;
}

bool ControlShowWindow(HWND hwnd, int command) {
  CQtControl* self = Control(hwnd);
  if (self == nullptr || self->widget == nullptr) return false;
  self->widget->setVisible(command != SW_HIDE);
  return true;
}

LRESULT ControlSend(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CQtControl* self = Control(hwnd);
  return self != nullptr ? self->Send(message, wParam, lParam) : 0;
}
