// libFuzzer's entry for FuzzOpdsFeed (harnesses.h).
#include "harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzOpdsFeed(data, size);
  return 0;
}
