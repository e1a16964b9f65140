#include "platform/secrets/secret_keychain.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <qt6keychain/keychain.h>

#include <cstdlib>
#include <cstring>

namespace {

// The service every secret of the program is filed under.
const QString kService = QStringLiteral("velmora");

// Runs `job` and waits for its end, or for `wait` to pass. A job left
// behind ends later on its own and deletes itself, heard by no one.
SecretResult Run(QKeychain::Job* job, std::chrono::milliseconds wait, bool* denied, QString* text) {
  *denied = false;
  QEventLoop loop;
  bool finished = false;
  QKeychain::Error error = QKeychain::OtherError;
  QString reason;
  QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
    finished = true;
    error = done->error();
    reason = done->errorString();
    if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done); read != nullptr && text != nullptr)
      *text = read->textData();
    loop.quit();
  });
  QTimer::singleShot(wait, &loop, &QEventLoop::quit);
  job->setAutoDelete(true);
  job->start();
  // Keys and clicks wait: the dialog that asked must not be used meanwhile.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (!finished) return SecretResult{SecretStatus::Failed, {}, u"the keychain did not answer in time"};
  switch (error) {
    case QKeychain::NoError:
      return SecretResult{SecretStatus::Done, {}, {}};
    case QKeychain::EntryNotFound:
      return SecretResult{SecretStatus::NotFound, {}, {}};
    case QKeychain::AccessDeniedByUser:
      *denied = true;
      [[fallthrough]];
    default:
      return SecretResult{SecretStatus::Failed, {}, u"the keychain: " + reason.toStdU16String()};
  }
}

bool HasApplication() { return QCoreApplication::instance() != nullptr; }

SecretResult NoApplication() { return SecretResult{SecretStatus::Failed, {}, u"no application to ask the keychain"}; }

}  // namespace

bool KeychainWorthAsking() {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* route = std::getenv("VELMORA_SECRETS");
  return bus != nullptr && bus[0] != '\0' && (route == nullptr || std::strcmp(route, "file") != 0);
}

SecretResult KeychainRead(const std::u16string& key, std::chrono::milliseconds wait, bool* denied) {
  if (!HasApplication()) return NoApplication();
  auto* job = new QKeychain::ReadPasswordJob(kService);
  job->setKey(QString::fromStdU16String(key));
  QString text;
  SecretResult result = Run(job, wait, denied, &text);
  if (result.status == SecretStatus::Done) result.value = text.toStdU16String();
  return result;
}

SecretResult KeychainWrite(const std::u16string& key, const std::u16string& value, std::chrono::milliseconds wait,
                           bool* denied) {
  if (!HasApplication()) return NoApplication();
  auto* job = new QKeychain::WritePasswordJob(kService);
  job->setKey(QString::fromStdU16String(key));
  job->setTextData(QString::fromStdU16String(value));
  return Run(job, wait, denied, nullptr);
}

SecretResult KeychainDelete(const std::u16string& key, std::chrono::milliseconds wait, bool* denied) {
  if (!HasApplication()) return NoApplication();
  auto* job = new QKeychain::DeletePasswordJob(kService);
  job->setKey(QString::fromStdU16String(key));
  return Run(job, wait, denied, nullptr);
}
