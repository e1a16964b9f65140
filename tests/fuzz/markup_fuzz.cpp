// libFuzzer's entry for FuzzMarkup (harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzMarkup(data, size);
  return 0;
}
