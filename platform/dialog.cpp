#include "platform/dialog.h"

#include <QtCore/QFile>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QWidget>

#include <map>

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

QNetworkAccessManager& Network() {
  static QNetworkAccessManager* manager = new QNetworkAccessManager;  // one for the process
  return *manager;
}

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
  auto* browser = new QTextBrowser(dialog->widget);
  browser->setOpenExternalLinks(true);
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
  auto* browser = qobject_cast<QTextBrowser*>(self->widget);
  if (browser == nullptr) return;
  const QString fallback = QString::fromUtf16(fallbackResource);
  QNetworkReply* reply = Network().get(QNetworkRequest(QUrl(QString::fromUtf16(url))));
  QPointer<QTextBrowser> target(browser);
  QObject::connect(reply, &QNetworkReply::finished, [reply, target, fallback] {
    reply->deleteLater();
    if (!target) return;
    if (reply->error() == QNetworkReply::NoError) {
      target->setHtml(QString::fromUtf8(reply->readAll()));
    } else {
      QFile copy(fallback);  // no network, or no such page: the shipped copy
      target->setHtml(copy.open(QIODevice::ReadOnly) ? QString::fromUtf8(copy.readAll()) : QString());
    }
    if (auto* owner = static_cast<CQtControl*>(target->property("velmoraDialog").value<void*>()))
      owner->Send(WM_BROWSER_DOCUMENT_COMPLETE, static_cast<WPARAM>(target->property("velmoraId").toInt()), 0);
  });
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
