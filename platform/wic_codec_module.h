// Inside the platform layer only: the entry points of the module that holds
// the AVIF, JPEG XL and HEIF decoders (libvelmora-codecs.so). Their
// libraries, and the encoders those pull in, are loaded with it at the
// first such page instead of at every start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wic_codecs.h"

// The module's file name, looked for beside the program and in the
// programs' private library folder.
constexpr char kCodecModuleName[] = "libvelmora-codecs.so";

extern "C" {
// ProbeCodec and DecodeCodec inside the module, exported by these names.
using CodecProbeEntry = HRESULT (*)(CodecKind kind, const uint8_t* bytes, std::size_t size, ImageHeader* header);
using CodecDecodeEntry = HRESULT (*)(CodecKind kind, const uint8_t* bytes, std::size_t size,
                                     WICExifOrientation orientation, QImage* page);
}
constexpr char kCodecProbeEntry[] = "VelmoraProbeCodec";
constexpr char kCodecDecodeEntry[] = "VelmoraDecodeCodec";
