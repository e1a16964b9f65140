// A file whose bytes are known not to be the whole file: an archive item
// that failed its check or ended early still hands out what it holds, so
// that a page shows as far as it goes, but it says so. Asked for through
// QueryInterface; a whole file does not answer.
#pragma once

#include <string>

#include "ordel/FileSystem.h"

struct IFileDamage : IUnknown {
  static constexpr GUID iid = MakeGuid("{5B0E7C3A-91D4-4E6F-8A27-C3D18F4B6E92}");
  // Why the bytes are not whole, in one line; never null.
  virtual const char16_t* Damage() = 0;
};
inline constexpr const GUID& IID_IFileDamage = IFileDamage::iid;

// Why `file`'s bytes are not whole; empty when nothing says they are not.
inline std::u16string DamageOf(IUnknown* file) {
  if (file == nullptr) return {};
  IFileDamage* damage = nullptr;
  if (file->QueryInterface(IID_IFileDamage, reinterpret_cast<void**>(&damage)) != S_OK || damage == nullptr) return {};
  std::u16string reason = damage->Damage();
  damage->Release();
  return reason;
}
