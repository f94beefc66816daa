// The subcommands of the qornsfx tool.
#pragma once

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
// UTF-8 for the terminal with control characters escaped ("\\x1b", "\\r"),
// so that a name can neither move the cursor nor retitle the terminal.
std::string shown(const char16_t* text);
std::string shown(const WideString& text);

// Opens FILE and moves to its archive: offset 0 with --archive, else the
// payload offset and the settings block. Null (with a message) on failure.
BinaryFile* openArchive(const Arguments& args, SfxSettings& settings, bool& hasSettings);

int runList(const Arguments& args);
int runTest(const Arguments& args);
int runExtract(const Arguments& args);
int runMake(const Arguments& args);
int runPack(const Arguments& args);

}  // namespace qorn::tool
