// The progress window and the run it drives: one per process.
#pragma once

#include <windows.h>

#include "base/failure.h"
#include "extract/extraction_worker.h"

namespace qorn::app {

// Private messages to the progress window.
enum : UINT {
    BeginRunMessage = WM_APP,           // posted by the constructor
    MemberStartedMessage = WM_APP + 1,  // sent by the worker; lParam: the member's path
    RunFinishedMessage = WM_APP + 3,    // posted by the worker at its end
    RunAbortedMessage = WM_APP + 4,     // the same, when the run was aborted
};

// Exit status when start-up or window creation fails.
constexpr int kExitNoWindow = kExitStartupFailed;

extern HINSTANCE instanceHandle;
extern bool classRegistered;
extern HWND progressBar;

// The run's state shared with the worker comes from ExtractionJob
// (payloadFile, settings, destinationFolder, currentFile, failed); the window
// is also the worker's reporter, turning its reports into window messages.
class ExtractorWindow : public ExtractionJob, public RunReporter {
  public:
    explicit ExtractorWindow(HINSTANCE instance);
    ~ExtractorWindow() override;
    ExtractorWindow(const ExtractorWindow&) = delete;
    ExtractorWindow& operator=(const ExtractorWindow&) = delete;

    // False when start-up or a window failed: the program ends at once.
    bool created() const { return created_; }

    HWND mainWindow = nullptr;
    HWND statusLabel = nullptr;
    HWND abortButton = nullptr;
    // Set while the worker may still use this object; a close request then
    // stops the worker first instead of tearing the object down under it.
    bool workerRunning = false;
    // The exit status of a run started with switches: a run that ends before
    // it completes counts as cancelled unless a failure says otherwise.
    int runStatus = kExitSwitchCancelled;

    void beginRun();
    void showStatus(const char16_t* text);
    bool startWorker();
    void completeRun();
    void abortedRun();
    void openFileAfterRun();
    bool enterDestination(const char16_t* path);
    void registerShortcuts();
    void createShortcut(int csidl);
    void reportShortcut(const WideString& linkPath, HRESULT result);

    // RunReporter, called on the worker thread.
    void memberStarted(const char16_t* path) override;
    void progressPosition(uint32_t position) override;
    void messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                    uint32_t flags) override;
    void itemCreated(const char16_t* fullPath) override;
    void runEnded(bool aborted) override;

  private:
    bool created_ = false;
};

bool initialiseOnce(HINSTANCE instance, ExtractorWindow& window);
int runMessageLoop();

LRESULT CALLBACK extractorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK destinationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A backslash at the end unless the path is empty or has one already.
void appendSeparator(WideString& path);

// The shell and file-system calls take at most this many characters.
constexpr size_t kMaxPath = MAX_PATH;

}  // namespace qorn::app
