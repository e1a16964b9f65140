// The fuzzers' corpora through the same harnesses, in every test build (and
// so under AddressSanitizer and ThreadSanitizer too): the seeds, and every
// input a fuzz run found to crash or hang, kept as a seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harnesses.h"

namespace {

// Feeds every file of corpus/<target>/ to the harness; how many there were.
int RunCorpus(const char* target, void (*harness)(const uint8_t*, std::size_t)) {
  int count = 0;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VELMORA_FUZZ_CORPUS) / target))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.filename().string());
    harness(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  return count;
}

TEST(FuzzCorpus, Profiles) { EXPECT_GE(RunCorpus("profile", FuzzProfile), 3); }

TEST(FuzzCorpus, Archives) { EXPECT_GE(RunCorpus("archive", FuzzArchive), 6); }

TEST(FuzzCorpus, Pages) { EXPECT_GE(RunCorpus("page", FuzzPage), 10); }

TEST(FuzzCorpus, Markup) { EXPECT_GE(RunCorpus("markup", FuzzMarkup), 3); }

TEST(FuzzCorpus, ComicInfo) { EXPECT_GE(RunCorpus("comicinfo", FuzzComicInfo), 4); }

TEST(FuzzCorpus, OpdsFeeds) { EXPECT_GE(RunCorpus("opds", FuzzOpdsFeed), 3); }

}  // namespace
