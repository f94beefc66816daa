// qornsfx make --run: installer mode. The program and its arguments go into
// a string table block of the installer-mode stub's own (app/installer.h).
#pragma once

#include <string>
#include <vector>

#include "pe/pe_resources.h"

namespace qorn::tool {

struct RunCommand {
    std::u16string program;    // a member's path, backslashes, as the maker wrote it
    std::u16string arguments;  // the rest of the command, as written
};

// Splits "PROGRAM ARGS..." the way Windows reads a command line's first
// word: up to the first blank, or a quoted program up to its closing quote.
// False with a message when the program is missing or cannot be a member's
// path (absolute, "..", a drive, too long).
bool parseRunCommand(const std::string& text, RunCommand& run, std::string& error);

// Does program name one of the files, as Windows compares names in a
// folder? If so it takes the member's own spelling.
bool namesMember(std::u16string& program, const std::vector<std::u16string>& files);

// The installer-mode command of the self-extracting file at path, as make
// stored it; false when the file has none (or no stub that can be read).
bool readRunCommand(const std::string& path, RunCommand& run);

// Adds the block (ids 16 to 31) with the program and its arguments.
void addRunTexts(encode::PeResources& pe, const RunCommand& run);

}  // namespace qorn::tool
