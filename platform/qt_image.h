// Inside the platform layer only: objects whose pixels already are a
// QImage hand it over directly, so decoding, converting and making a
// bitmap share one buffer instead of copying it at every step.
#pragma once

#include <QtGui/QImage>

#include "platform/com.h"

struct IQtImage : IUnknown {
  static constexpr GUID iid = MakeGuid("{5A1E0F7C-93B4-4C1D-8E2A-6B7D0C9F4E31}");
  // The pixels, sharing (not copying) the object's buffer.
  virtual QImage Image() const = 0;
};

// The image of `source` when it is one of the platform's own objects.
inline bool QtImageOf(IUnknown* source, QImage* image) {
  IQtImage* qt = nullptr;
  if (source == nullptr || source->QueryInterface(IQtImage::iid, reinterpret_cast<void**>(&qt)) != S_OK) return false;
  *image = qt->Image();
  qt->Release();
  return true;
}
