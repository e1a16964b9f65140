// The catalogue browser's timings against a book server (bench/catalogue_bench.py
// starts calibre's on a generated library and runs this): a feed page shown
// with its titles, the covers of the cells in view, a search answered; each
// from a cold HTTP cache, and the feed again on the cache it left.
//
//   bench_catalogue FEED-URL SEARCH-TERMS [RUNS]
#include <stdlib.h>

#include <QtWidgets/QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"
#include "viewer/catalogue/CatalogueBrowser.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

// Runs the event loop until `done`, or 20 s; the time it took, or -1.
double Until(const std::function<bool()>& done) {
  const auto start = Clock::now();
  while (!done()) {
    if (Clock::now() - start > std::chrono::seconds(20)) return -1;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  return Milliseconds(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FEED-URL SEARCH-TERMS [RUNS]\n", argv[0]);
    return 2;
  }
  const std::u16string feed = Utf8ToUtf16(argv[1]), terms = Utf8ToUtf16(argv[2]);
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  QApplication application(argc, argv);
  std::string scratch = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
  if (::mkdtemp(scratch.data()) == nullptr) return 1;
  std::map<std::string, std::vector<double>> times;
  std::size_t entries = 0, found = 0, covers = 0;
  for (int run = 0; run < runs; ++run) {
    const std::filesystem::path dir = std::filesystem::path(scratch) / std::to_string(run);
    CatalogueBrowser browser([](const std::u16string&) {},
                             CatalogueBrowserOptions{.bookFolder = dir / "books", .httpCacheFolder = dir / "http"});
    const auto start = Clock::now();
    browser.Open(feed);
    times["feed shown with titles"].push_back(Until([&] { return !browser.Loading(); }));
    entries = browser.EntryCount();
    Until([&] { return browser.CellsInView() > 0 && browser.CoversShown() >= browser.CellsInView(); });
    times["covers in view"].push_back(Milliseconds(Clock::now() - start).count());
    covers = browser.CoversShown();
    browser.Search(terms);
    times["search answered"].push_back(Until([&] { return !browser.Loading(); }));
    found = browser.EntryCount();
    browser.Open(feed);
    times["feed again, cached"].push_back(Until([&] { return !browser.Loading(); }));
    if (!browser.FailureLine().empty()) std::fprintf(stderr, "%s\n", Utf16ToUtf8(browser.FailureLine()).c_str());
  }
  std::filesystem::remove_all(scratch);
  const std::map<std::string, double> goals = {
      {"feed shown with titles", 500}, {"covers in view", 2000}, {"search answered", 500}, {"feed again, cached", 500}};
  std::printf("%zu entries, %zu covers in view, %zu found by the search; %d runs\n", entries, covers, found, runs);
  std::printf("%-24s %9s %9s %9s %9s\n", "", "median ms", "min", "max", "goal");
  for (auto& [name, values] : times) {
    std::sort(values.begin(), values.end());
    std::printf("%-24s %9.0f %9.0f %9.0f %9.0f%s\n", name.c_str(), values[values.size() / 2], values.front(),
                values.back(), goals.at(name), values[values.size() / 2] <= goals.at(name) ? "" : "  (over)");
  }
  return 0;
}
