// The library's two exports. Callers link OrdelCreateInstance by name and
// receive objects through the interfaces of ordel/FileSystem.h,
// ordel/Graphic.h and ordel/Audio.h.
#pragma once

#include <cstdint>

#include "platform/guid.h"

#define ORDEL_EXPORT extern "C" __attribute__((visibility("default")))

// Always 0x10000.
ORDEL_EXPORT uint32_t OrdelAbout();

// 0 and one new object with one reference in *out for IID_IFileSystem,
// IID_IGraphic or IID_IAudio; 1 and *out untouched for any other (and for
// IID_IAudio when no audio device can be had). Writes the system report
// to the debugger output on every call.
ORDEL_EXPORT int32_t OrdelCreateInstance(const GUID& iid, void** out);

using OrdelCreateInstanceFn = int32_t (*)(const GUID& iid, void** out);
using OrdelAboutFn = uint32_t (*)();
