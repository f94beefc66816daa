// What every command of the qornsfx tool shares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/failure.h"
#include "payload/archive_entry.h"
#include "payload/binary_file.h"
#include "payload/sfx_settings.h"
#include "platform/wide_string.h"

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
// A path as the system is handed it: the core joins folders with '\', which
// this platform's layer turns into '/'.
std::string systemPathText(const WideString& path);

// Opens FILE and moves to its archive: offset 0 with --archive, else the
// payload offset and the settings block. Null (with a message) on failure.
BinaryFile* openArchive(const Arguments& args, SfxSettings& settings, bool& hasSettings);

// text as a JSON string, quotes included: UTF-8, with '"', '\\' and the
// control characters escaped.
std::string jsonString(const std::string& text);

// "lh5" or "-lh5-" (the command line has checked it): Method::Lh5.
Method methodNamed(const std::string& text);

// The default method of make: the smallest files (see make --help).
constexpr const char* kMakeMethod = "lh7";

// One line of progress on stderr while it is a terminal (nothing otherwise):
// what is being done, its percentage and the file at hand.
class ProgressLine {
  public:
    ProgressLine();
    void show(const char* what, uint64_t done, uint64_t total, const std::string& path);
    void status(const std::string& text);
    // Clears the line, before a message or at the end.
    void clear();

  private:
    bool terminal_;
    bool shown_ = false;
    int lastPermille_ = -1;
};

// The closing line of make and pack on stdout: the file, its members, the
// bytes in (the members' sizes) and out (the file's), their ratio, the time.
void printSummary(const std::string& file, unsigned members, uint64_t bytesIn, uint64_t bytesOut,
                  double seconds);

}  // namespace qorn::tool
