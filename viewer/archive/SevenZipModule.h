// 7-Zip's library as a loaded module: found on first use, kept for the
// process, with the two exports the archive layer calls.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"
#include "viewer/archive/Passwords.h"
#include "viewer/archive/SevenZip.h"

// The library, loaded on first use and kept for the process; null until then.
extern HMODULE g_sevenZipModule;
extern CreateObjectFunc g_createObject;

// Where the library is looked for, in order: next to the program, then
// Debian's p7zip. Tests may point it elsewhere before the first load.
std::vector<std::u16string>& SevenZipSearchPaths();

// Whether the library can be used.
enum class SevenZipAvailability {
  Bound,    // loaded, and it answered as declared
  Missing,  // no search path holds a library (looked for again next time)
  Refused,  // none bound: a library that is there does not load or does not answer as declared
};

// Loads the library unless it is loaded: the first along the search paths
// that answers as declared. A library refused is said so once, in the
// debug output, and not tried again; a missing one is looked for on every
// call. Safe from any thread. Not `sayRefusal`: a library that would be
// refused is left untried as far as later searches go, and nothing is said
// (an opening made ahead, whose failure the real one meets and says).
SevenZipAvailability FindSevenZip(bool sayRefusal = true);
// Whether FindSevenZip binds the library.
bool BindSevenZip();
// Starts loading the library into memory on a thread of its own, asking it
// nothing: the dynamic linker's tens of milliseconds then pass beside the
// caller's start-up instead of in the first archive's way. FindSevenZip
// still decides whether it is used.
void PreloadSevenZip();

// The library's answer to its password question: `password` as a string
// the library allocates (and frees once read). E_ABORT without a password,
// as when the user gives none.
HRESULT AnswerPassword(const std::u16string* password, BSTR* out);

// One property value from the library, cleared through the library (which
// allocated what it holds) when it goes. Only valid once the library is bound.
struct SevenZipProperty {
  PROPVARIANT value{};
  SevenZipProperty() = default;
  SevenZipProperty(const SevenZipProperty&) = delete;
  SevenZipProperty& operator=(const SevenZipProperty&) = delete;
  ~SevenZipProperty();
};
