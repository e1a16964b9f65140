// libFuzzer's entry for FuzzProfile (harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzProfile(data, size);
  return 0;
}
