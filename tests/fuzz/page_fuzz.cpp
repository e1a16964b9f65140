// libFuzzer's entry for FuzzPage (harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzPage(data, size);
  return 0;
}
