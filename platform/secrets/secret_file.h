// The secret store's own route: one file the user alone may read, a line a
// secret ("key<TAB>value", tabs, line breaks and backslashes escaped, in
// UTF-8). Created 0600, in a folder created 0700; replaced whole through a
// temporary file and a rename, so that a crash leaves the old file or the
// new one. A file whose mode lets anyone else at it, that is not the
// user's, or that sits in a folder others may write to is neither read nor
// written.
#pragma once

#include <map>
#include <string>

#include "platform/secrets/secret_store.h"

class SecretFile {
 public:
  explicit SecretFile(std::u16string path);

  // $XDG_CONFIG_HOME/velmora/catalogue-secrets, else under ~/.config.
  static std::u16string DefaultPath();

  SecretResult Read(const std::u16string& key) const;
  SecretResult Write(const std::u16string& key, const std::u16string& value) const;
  SecretResult Delete(const std::u16string& key) const;

 private:
  using Secrets = std::map<std::u16string, std::u16string>;
  // Every secret of the file (none when it does not exist), or why not.
  SecretResult Load(Secrets* secrets) const;
  SecretResult Save(const Secrets& secrets) const;

  std::string m_path;    // as the system takes it
  std::string m_folder;  // where it lives, created on the first write
};
