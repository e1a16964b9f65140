// Passwords of locked archives: the one an archive is opened with, the
// ones that opened archives in this run, and the question put to the user.
// Passwords live in memory only, and are wiped when let go.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

// The password an archive is opened with, shared by whatever decrypts its
// items (extractions, a solid archive's pass); wiped when the last lets go.
using ArchivePassword = std::shared_ptr<const std::u16string>;
ArchivePassword MakeArchivePassword(const std::u16string& text);

// Overwrites memory so that the compiler cannot leave the write out.
void WipeMemory(void* data, std::size_t bytes);
template <class Units>
void WipeUnits(Units& units) {
  if (!units.empty()) WipeMemory(units.data(), units.size() * sizeof units[0]);
}

// Put to the user when an archive is locked: the password to try, or
// nothing when they give up. `wrongBefore`: the last answer did not open it.
using PasswordAsk = std::function<std::optional<std::u16string>(const std::u16string& archive, bool wrongBefore)>;

// The passwords that opened archives in this run, by the archive's path, so
// that opening one again does not ask again.
class SessionPasswords {
 public:
  SessionPasswords() = default;
  SessionPasswords(const SessionPasswords&) = delete;
  SessionPasswords& operator=(const SessionPasswords&) = delete;
  ~SessionPasswords();

  // Null when none is kept for `archive`.
  const std::u16string* Find(const std::u16string& archive) const;
  void Keep(const std::u16string& archive, const std::u16string& password);
  // The kept one no longer opens it (the file changed): forgotten.
  void Forget(const std::u16string& archive);
  std::size_t size() const { return m_passwords.size(); }

 private:
  std::map<std::u16string, std::u16string> m_passwords;
};
