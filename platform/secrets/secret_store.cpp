#include "platform/secrets/secret_store.h"

#include "platform/debug.h"
#include "platform/secrets/secret_file.h"
#include "platform/secrets/secret_keychain.h"

namespace {

SecretRoute FirstRoute(const SecretStoreOptions& options) {
  if (options.route) return *options.route;
  return KeychainWorthAsking() ? SecretRoute::Keychain : SecretRoute::File;
}

}  // namespace

SecretStore::SecretStore(SecretStoreOptions options)
    : m_route(FirstRoute(options)),
      m_wait(options.keychainWait),
      m_file(std::make_unique<SecretFile>(options.file.empty() ? SecretFile::DefaultPath() : options.file)) {}

SecretStore::~SecretStore() = default;

void SecretStore::GiveUpKeychain(const std::u16string& reason) {
  OutputDebugStringW((u"Keychain Not Used : " + reason + u"\r\n").c_str());
  m_route = SecretRoute::File;
}

SecretResult SecretStore::ReadSecret(const std::u16string& key) {
  if (m_route == SecretRoute::Keychain) {
    bool denied = false;
    SecretResult asked = KeychainRead(key, m_wait, &denied);
    if (asked.status == SecretStatus::Done || denied) return asked;
    if (asked.status == SecretStatus::NotFound) {
      // Kept in the file on a run when the keychain was away.
      SecretResult kept = m_file->Read(key);
      return kept.status == SecretStatus::Done ? kept : asked;
    }
    GiveUpKeychain(asked.reason);
  }
  return m_file->Read(key);
}

SecretResult SecretStore::WriteSecret(const std::u16string& key, const std::u16string& value) {
  if (m_route == SecretRoute::Keychain) {
    bool denied = false;
    SecretResult asked = KeychainWrite(key, value, m_wait, &denied);
    if (asked.status == SecretStatus::Done) m_file->Delete(key);  // no older copy left in the file
    if (asked.status == SecretStatus::Done || denied) return asked;
    GiveUpKeychain(asked.reason);
  }
  return m_file->Write(key, value);
}

SecretResult SecretStore::DeleteSecret(const std::u16string& key) {
  SecretResult asked{SecretStatus::NotFound, {}, {}};
  if (m_route == SecretRoute::Keychain) {
    bool denied = false;
    asked = KeychainDelete(key, m_wait, &denied);
    if (denied) return asked;
    if (asked.status == SecretStatus::Failed) GiveUpKeychain(asked.reason);
  }
  SecretResult filed = m_file->Delete(key);
  if (asked.status == SecretStatus::Done && filed.status != SecretStatus::Failed) return asked;
  return filed;
}
