// Installer mode, a build of its own of the stub (QORN_INSTALLER_MODE),
// which `qornsfx make --run` chooses. A self-extracting file whose string table names a program
// to run (`qornsfx make --run`) extracts into a fresh folder of its own under
// the user's temporary folder, with no dialog and no shortcuts, runs the
// program there with its arguments and whatever the file itself was given,
// waits for it, removes the folder and ends with the program's exit status.
// Without those texts the file is what it always was.
#pragma once

#include <windows.h>

#include "platform/wide_string.h"

namespace qorn::app {

// From the string table (IDS_RUN_PROGRAM, IDS_RUN_ARGUMENTS; app/texts.cpp
// loads them): the program as a member's path, with backslashes, or null;
// its arguments, or null.
extern const char16_t* runProgram;
extern const char16_t* runArguments;

// The whole run of an installer-mode file: the extraction into a folder of
// its own, the program, the folder's removal. The exit status: the
// program's; a failure's (nothing is run after one); kExitFolderLeft when
// the program succeeded but its folder could not be removed. runMode is set
// from the switches already; what follows the program name on commandLine
// is passed on.
int runInstaller(HINSTANCE instance, const char16_t* commandLine);

// A folder made for this run under the temporary folder, no backslash at
// its end; empty when none could be made.
WideString createRunFolder();

// Runs the program from folder (its working folder too) and waits for it:
// its exit status, or kExitSwitchAfterRun when it could not be started.
// passedOn goes behind the stored arguments.
int runInstallerProgram(const WideString& folder, const char16_t* passedOn, bool silent);

// Removes folder and everything in it, trying again for a few seconds
// while files are still held open. Links (junctions, symbolic links) inside
// it are removed as links: what they point at is left alone. False when
// something is left.
bool removeRunFolder(const WideString& folder);

}  // namespace qorn::app
