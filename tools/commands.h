// The subcommands of the qornsfx tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/common.h"

namespace qorn::tool {

// A member the stub would not extract, and why.
struct ArchiveProblem {
    std::string member;  // its position, with its stored path when it has one
    std::string reason;
};

// What the check found. problems: what would stop the stub or make it pass
// a member over; warnings: bytes it would never read; notes: what it passes
// over by design.
struct ArchiveReport {
    std::vector<ArchiveProblem> problems, warnings, notes;
    // Every path the stub would make, its folders included, folded as
    // Windows compares names (upperCaseUnit, '/' between parts); true for a
    // folder.
    std::map<std::u16string, bool> names;
    unsigned members = 0;
    uint64_t originalBytes = 0;         // the members' sizes as their headers give them
    std::vector<std::u16string> files;  // its files, paths made safe, as spelt
};

// Walks and decodes a plain archive the way the stub does, from the file
// scratch (open as f, created for the check alone), written for it, closed
// and removed after. False when the bytes cannot even be put in the file.
bool checkArchive(const std::vector<uint8_t>& archive, FILE* f, const std::string& scratch,
                  ArchiveReport& report);

// make --config: the file's settings joined to args, the command line's
// winning. 0, or the exit status with a message given.
int applyMakeConfig(Arguments& args);

int runList(const Arguments& args);
int runTest(const Arguments& args);
int runExtract(const Arguments& args);
int runMake(const Arguments& args);
int runPack(const Arguments& args);

}  // namespace qorn::tool
