// make-ogg: writes a few seconds of a looping chord as Ogg Vorbis, for the
// demo's end-to-end test.   make-ogg out.ogg [seconds]
#include <cstdio>
#include <cstdlib>

#include "OggSupport.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string ogg = test::EncodeOgg(test::Chord(argc > 2 ? std::atof(argv[2]) : 2.0));
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || ogg.empty() || std::fwrite(ogg.data(), 1, ogg.size(), f) != ogg.size()) return 1;
  return std::fclose(f) == 0 ? 0 : 1;
}
