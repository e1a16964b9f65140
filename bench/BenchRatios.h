// Runs the registered benchmarks and then prints, for each declared pair,
// the ratio of the measured time to a reference measured in the same run:
// single figures are noise on a shared machine, ratios are not.
#pragma once

#include <string>

namespace bench {

// Declares "name / reference" as a ratio to print; names are the full
// benchmark names (with arguments), e.g. "BM_List/20000".
void Ratio(const std::string& name, const std::string& reference, const std::string& goal = "");

// The benchmark program's main: parses benchmark flags, runs, prints ratios.
int Main(int argc, char** argv);

// A new empty folder under $TMPDIR (or /tmp) for a benchmark's data.
std::string MakeScratchFolder();

// Names in a folder by a plain readdir loop (the reference for listings).
std::size_t CountNames(const std::string& folder);

}  // namespace bench
