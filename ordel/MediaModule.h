// The entry point of the library's media module (libordel-media.so), beside
// the library: the graphics engine and background music by interface.
#pragma once

#include <cstdint>

#include "platform/guid.h"

constexpr char kMediaModuleName[] = "libordel-media.so";
constexpr char kMediaModuleEntry[] = "OrdelMediaCreateInstance";
// 0 and the object in *out; 1 for an interface the module does not make or
// an object it could not make.
using MediaCreateEntry = int32_t (*)(const GUID& iid, void** out);
