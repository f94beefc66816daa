// The subcommands of the qornsfx tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common.h"

namespace qorn::tool {

// A member the stub would not extract, and why.
struct ArchiveProblem {
    std::string member;  // its position, with its stored path when it has one
    std::string reason;
};

// Walks and decodes a plain archive the way the stub does. problems: what
// would stop the stub or make it pass a member over; notes: what it passes
// over by design. False when the bytes cannot even be put in a file.
bool checkArchive(const std::vector<uint8_t>& archive, std::vector<ArchiveProblem>& problems,
                  std::vector<ArchiveProblem>& notes);

int runList(const Arguments& args);
int runTest(const Arguments& args);
int runExtract(const Arguments& args);
int runMake(const Arguments& args);
int runPack(const Arguments& args);

}  // namespace qorn::tool
