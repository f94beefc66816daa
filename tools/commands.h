// The subcommands of the qornsfx tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/wide_string.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"

namespace qorn::tool {

struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // --name value (value may be "")
    bool has(const char* name) const;
    std::string value(const char* name, const char* fallback = "") const;
};

// Usage errors exit with 2.
constexpr int kExitUsage = 2;

// Prints message boxes to stderr, the way a terminal user reads them.
class TerminalReporter : public RunReporter {
  public:
    void messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                    uint32_t flags) override;
};

std::string utf8(const char16_t* text);
std::string utf8(const WideString& text);
WideString wide(const std::string& text);

// Opens FILE and moves to its archive: offset 0 with --archive, else the
// payload offset and the settings block. Null (with a message) on failure.
BinaryFile* openArchive(const Arguments& args, SfxSettings& settings, bool& hasSettings);

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
