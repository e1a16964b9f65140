#include "platform/commandline.h"

#include <cstdio>

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION comes from the build (the project's version)"
#endif

namespace {

int Refuse(const char* program, const std::string& complaint) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, complaint.c_str(), program);
  return 2;
}

// An answer that did not reach its reader (a full disk, a closed pipe) is
// a failure.
int Answered() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

}  // namespace

bool CommandLine::Has(std::string_view name) const {
  for (const auto& [option, value] : options)
    if (option == name) return true;
  return false;
}

std::string CommandLine::Value(std::string_view name) const {
  std::string last;
  for (const auto& [option, value] : options)
    if (option == name) last = value;
  return last;
}

CommandLine ParseCommandLine(int argc, char** argv, const char* program, const char* help,
                             std::initializer_list<CommandLineOption> known) {
  CommandLine line;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      line.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    // Answered as soon as met, as getopt's callers do: what follows is not read.
    if (argument == "--help") {
      std::fputs(help, stdout);
      line.exitStatus = Answered();
      return line;
    }
    if (argument == "--version") {
      std::printf("%s (Velmora) %s\nCopyright (C) 2026 The Velmora developers.\n"
                  "This is free software under the MIT licence: there is NO WARRANTY.\n",
                  program, VELMORA_VERSION);
      line.exitStatus = Answered();
      return line;
    }
    const CommandLineOption* option = nullptr;
    for (const CommandLineOption& candidate : known)
      if (argument == candidate.name) option = &candidate;
    const bool isLong = argument[1] == '-';
    if (option == nullptr) {
      line.exitStatus = Refuse(program, isLong ? "unrecognized option '" + argument + "'"
                                               : "invalid option -- '" + argument.substr(1, 1) + "'");
      return line;
    }
    if (!option->takesValue) {
      line.options.emplace_back(argument, std::string());
    } else if (i + 1 < argc) {
      line.options.emplace_back(argument, argv[++i]);
    } else {
      line.exitStatus = Refuse(program, isLong ? "option '" + argument + "' requires an argument"
                                               : "option requires an argument -- '" + argument.substr(1) + "'");
      return line;
    }
  }
  return line;
}
