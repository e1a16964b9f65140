// Secrets of the user's (the catalogues' passwords), kept out of every
// settings file: in the desktop's secret store (the Secret Service or
// KWallet, through QtKeychain) where one answers, else in a file only the
// user can read, $XDG_CONFIG_HOME/velmora/catalogue-secrets. Calls return
// within a bounded wait whatever the desktop does: without a session bus
// the keychain is not asked at all, and one that fails, says it has no
// backend or does not answer in time is not asked again by this store.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

enum class SecretRoute { Keychain, File };

enum class SecretStatus { Done, NotFound, Failed };

struct SecretResult {
  SecretStatus status = SecretStatus::Failed;
  std::u16string value;   // what was read
  std::u16string reason;  // why it failed, in one line (English, for the debug output and the dialog)
};

struct SecretStoreOptions {
  // None: the keychain when a session bus is there and VELMORA_SECRETS is
  // not "file"; the file otherwise.
  std::optional<SecretRoute> route;
  // Empty: $XDG_CONFIG_HOME/velmora/catalogue-secrets (~/.config/... without it).
  std::u16string file;
  // The longest a keychain call is waited for before the file takes over.
  std::chrono::milliseconds keychainWait{3000};
};

class SecretFile;

class SecretStore {
 public:
  explicit SecretStore(SecretStoreOptions options = {});
  ~SecretStore();
  SecretStore(const SecretStore&) = delete;
  SecretStore& operator=(const SecretStore&) = delete;

  // Done with the value, or NotFound when none is kept under `key`.
  SecretResult ReadSecret(const std::u16string& key);
  // Done once the value is kept (an empty one too).
  SecretResult WriteSecret(const std::u16string& key, const std::u16string& value);
  // Done, or NotFound when there was nothing to delete.
  SecretResult DeleteSecret(const std::u16string& key);

  // Where secrets go now: the keychain until it has failed once.
  SecretRoute Route() const { return m_route; }

 private:
  void GiveUpKeychain(const std::u16string& reason);

  SecretRoute m_route;
  std::chrono::milliseconds m_wait;
  std::unique_ptr<SecretFile> m_file;
};
