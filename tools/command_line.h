// The qornsfx command line: every subcommand's options, their meaning and
// their checks, read with CLI11 into the Arguments the commands take.
#pragma once

#include <string>
#include <vector>

#include "tools/common.h"

namespace qorn::tool {

struct ParsedCommand {
    std::string name;  // list, test, extract, make or pack
    Arguments args;
};

// Reads argv. Returns -1 with `command` filled in when a command is to run;
// otherwise the exit status, with what the user needs already printed: 0
// after --help or --version, kExitUsage after a mistake (naming the word and
// the nearest option where there is one).
int parseCommandLine(int argc, char** argv, ParsedCommand& command);

// Reads `text` (the options of one subcommand, as a config file gives them)
// with that subcommand's checks. Returns 0 with `args` filled in, else
// kExitUsage with the message printed behind `where`.
int parseOptionList(const std::string& subcommand, const std::vector<std::string>& text,
                    const std::string& where, Arguments& args);

// The long names of a subcommand's options that take a value, and those that
// are flags (no value), for a config file's keys.
void optionNames(const std::string& subcommand, std::vector<std::string>& valued,
                 std::vector<std::string>& flags);

// The word of `candidates` nearest to `word` by edit distance, or "" when
// none is near enough to be a likely typo.
std::string nearestWord(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace qorn::tool
