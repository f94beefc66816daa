// Failure reporting: the message boxes a run can raise and the exit statuses.
//
// The core never talks to a window. Everything the user may see goes through
// a RunReporter: the Windows shell implements it with message boxes and window
// messages, the command-line tool prints to the terminal, tests record calls.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/wide_string.h"

namespace qorn {

// Message-box flags, with the values the Windows API gives them.
enum : uint32_t {
    kBoxOk = 0x00,
    kBoxIconError = 0x10,
    kBoxIconWarning = 0x30,
};

// Who owns a box: the progress window, or nobody (the system's own boxes).
enum class BoxOwner { None, MainWindow };

// Exit statuses of the stub.
enum : int {
    kExitDone = 0,
    kExitWriteFailed = 1,
    kExitStartupFailed = 2,
    kExitOutOfMemory = 3,

    // Started with any switch, the stub gives every outcome a status of its
    // own, so that a deployment script can tell them apart. A disk-write
    // failure is kExitWriteFailed either way.
    kExitSwitchUsage = 2,
    kExitSwitchDamaged = 3,       // a member damaged, a header or the settings unreadable
    kExitSwitchCannotCreate = 4,  // the destination, or a member's folder or file
    kExitSwitchOutOfMemory = 5,
    kExitSwitchCancelled = 6,  // the dialog cancelled, the run aborted or closed
    kExitSwitchAfterRun = 7,   // every member extracted; a shortcut or the file to open failed
    kExitFolderLeft = 8,       // installer mode: the program succeeded, its folder stayed behind
};

// How the process was started, set once before anything can fail.
struct RunMode {
    bool switches = false;  // exit statuses as kExitSwitch...
    bool silent = false;    // no box may be shown
};
extern RunMode runMode;

// 1 while the run may go on; set to 0 by the abort button (or Ctrl-C) and
// never back. Every thread of a run reads it.
extern std::atomic<int> keepRunning;
inline bool stillRunning() {
    return keepRunning.load(std::memory_order_relaxed) != 0;
}

class RunReporter {
  public:
    virtual ~RunReporter() = default;
    // Before each member, with its path as stored (not yet cleaned).
    virtual void memberStarted(const char16_t* path) { (void)path; }
    // A new position for the progress bar (0..100, more means full).
    virtual void progressPosition(uint32_t position) { (void)position; }
    // A modal box; returns when the user has closed it.
    virtual void messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                            uint32_t flags) = 0;
    // A file or folder appeared (the shell is told with its full path).
    virtual void itemCreated(const char16_t* fullPath) { (void)fullPath; }
    // The worker's last word: the run ended, finished or aborted.
    virtual void runEnded(bool aborted) { (void)aborted; }
};

// The system's text for an error code in a box with no owner and no caption.
void showSystemMessage(RunReporter& reporter, uint32_t code, uint32_t flags);
// showSystemMessage for the calling thread's last error, as a warning.
void showLastError(RunReporter& reporter);
// The same naming the path it was about: the path (a long one by its last
// 119 characters behind an ellipsis), a line break, the text.
void showPathError(RunReporter& reporter, const char16_t* path);
// The disk-write failure: one box, then the process ends with status 1.
[[noreturn]] void fatalWriteError(RunReporter& reporter, const char16_t* text);
// failAllocation() (declared in platform.h, defined here): the system's
// text for "not enough memory" in a box through allocationReporter (when
// one is set), then the process ends with kExitOutOfMemory. The caller has
// dealt with any file it was writing.
extern RunReporter* allocationReporter;

// Texts of the boxes. The stub may replace them at start-up with those of
// the string table a maker's language put in its resources (app/texts.h).
extern const char16_t* kTextUnknownHeader;
extern const char16_t kCaptionDefault[];          // "Qorn SFX"
extern const char16_t* kTextCannotCreateFolder;   // destination folder
extern const char16_t* kTextFolderExists;         // appended after the path and a blank
extern const char16_t* kTextDamagedFormat;        // "ファイル %s が壊れています。"
extern const char16_t* kTextDamagedFolderFormat;  // "フォルダ %s が壊れています。"
extern const char16_t* kTextWriteFailed;          // disk full

// Decoding errors and allocation failures are not C++ exceptions here: the
// stub is built without exception support (it would not fit). See
// decode/decode_session.h for how a decoding error travels.
namespace HUFFMAN {
enum HuffmanError { HUF_ERROR = 0 };
}
// The kind of a failed allocation; new (std::nothrow) returns null instead.
class CNewException {};

}  // namespace qorn
