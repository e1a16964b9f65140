// The graphics engine and background music, in a module of their own that
// the library opens at the first request for either: SDL, FAudio and the
// sound libraries behind them are then loaded only by the programs that
// draw or play through the library, not by every program that reads files.
#include "ordel/Audio.h"
#include "ordel/Graphic.h"
#include "ordel/MediaModule.h"
#include "ordel/audio/Audio.h"
#include "ordel/graphics/Graphic.h"

extern "C" __attribute__((visibility("default"))) int32_t OrdelMediaCreateInstance(const GUID& iid, void** out) {
  if (iid == IID_IGraphic) return CreateGraphic(out);
  if (iid == IID_IAudio) return CreateAudio(0, out);  // 0: the device's own rate
  return 1;
}
