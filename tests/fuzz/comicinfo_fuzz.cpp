// libFuzzer's entry for FuzzComicInfo (harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzComicInfo(data, size);
  return 0;
}
