// The switches whoever runs a self-extracting file may give it.
//
//   /S         no dialog, no progress window, no box: the outcome is the
//              exit status alone
//   /D=PATH    the destination; the rest of the line, blanks included, so
//              it comes last
//   /?         the usage
//
// Switches are matched without regard to case. Anything else on the line
// (a file dropped on the program, the rest of an unquoted path with blanks,
// another installer's switch) is passed over: the run goes on as it would
// without it.
#pragma once

#include "platform/wide_string.h"

namespace qorn {

struct CommandLine {
    bool given = false;             // one of the switches, /D= with or without a path
    bool silent = false;            // /S
    bool help = false;              // /?
    bool unknown = false;           // an argument that is none of the switches (passed over)
    bool destinationEmpty = false;  // /D= with nothing after it
    WideString destination;         // /D=, quotes taken out; empty without it
};

// Reads a whole command line as the system keeps it, program name first,
// split by the Windows quoting rules.
CommandLine parseCommandLine(const char16_t* line);

}  // namespace qorn
