// The pieces of start-up that read the outside world: the start path and
// the report of the input digitizers.
#pragma once

#include <string>

// The start path: the first argument as the shell hands it over, at least
// five characters long, made absolute against the current folder; empty
// when there is none. The arguments are those the command line's check
// let through: a "--" before the path is not it.
std::u16string StartPath(int argc, char** argv);

// The digitizer report on the debug output.
void WriteDigitizerReport();
