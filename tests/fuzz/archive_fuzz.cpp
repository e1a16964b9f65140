// libFuzzer's entry for FuzzArchive (harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzArchive(data, size);
  return 0;
}
