// The programs' command lines, the GNU way: --help and --version anywhere
// are answered on standard output (status 0) before anything else is done;
// an option the program does not know is refused on standard error
// (status 2); "--" ends the options, so a path that starts with '-' can
// follow; a lone "-" is an operand.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct CommandLineOption {
  const char* name;  // as written: "-s", "--hash"
  bool takesValue;   // the next argument is its value
};

struct CommandLine {
  // -1: the program is to run. Otherwise what it exits with, the usage, the
  // version or the complaint having been written.
  int exitStatus = -1;
  // The known options given, in order, with their values.
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;

  bool Has(std::string_view name) const;
  // The value given last; empty when none.
  std::string Value(std::string_view name) const;
};

// `help` is what --help writes, from its "Usage:" line on.
CommandLine ParseCommandLine(int argc, char** argv, const char* program, const char* help,
                             std::initializer_list<CommandLineOption> known = {});
