// The pieces of start-up that read the outside world: the start path, its
// opening, and the report of the input digitizers.
#pragma once

#include <functional>
#include <string>

class CMainWindow;

// The start path: the first argument as the shell hands it over, at least
// five characters long, made absolute against the current folder; empty
// when there is none. The arguments are those the command line's check
// let through: a "--" before the path is not it.
std::u16string StartPath(int argc, char** argv);

// The first argument when it is a catalogue's address (http or https, with
// a host) instead of a path; empty otherwise.
std::u16string StartAddress(int argc, char** argv);

// Opens the start path in the window: a folder as a folder, anything else
// as a file, a path that is not there too, so that the window shows why,
// as it does for a book of the history that is gone. `settled` is called
// once the opening has settled (at once, or when the workers have brought
// the first pages or found that no page of the book shows) with the line
// the window then shows, empty when the book shows.
void OpenStartPath(CMainWindow& window, const std::u16string& path,
                   std::function<void(const std::u16string& why)> settled);

// The digitizer report on the debug output.
void WriteDigitizerReport();
