#include "viewer/archive/Passwords.h"

#include <cstring>

void WipeMemory(void* data, std::size_t bytes) { explicit_bzero(data, bytes); }

ArchivePassword MakeArchivePassword(const std::u16string& text) {
  return ArchivePassword(new std::u16string(text), [](const std::u16string* password) {
    auto* owned = const_cast<std::u16string*>(password);
    WipeUnits(*owned);
    delete owned;
  });
}

SessionPasswords::~SessionPasswords() {
  for (auto& [archive, password] : m_passwords) WipeUnits(password);
}

const std::u16string* SessionPasswords::Find(const std::u16string& archive) const {
  const auto found = m_passwords.find(archive);
  return found != m_passwords.end() ? &found->second : nullptr;
}

void SessionPasswords::Keep(const std::u16string& archive, const std::u16string& password) {
  std::u16string& kept = m_passwords[archive];
  WipeUnits(kept);
  kept = password;
}

void SessionPasswords::Forget(const std::u16string& archive) {
  const auto found = m_passwords.find(archive);
  if (found == m_passwords.end()) return;
  WipeUnits(found->second);
  m_passwords.erase(found);
}
