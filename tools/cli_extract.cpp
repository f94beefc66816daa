// qornsfx extract: run the stub's extraction worker from a terminal.
//
// The worker runs on its own thread exactly as in the stub; this thread only
// waits for its last word. Ctrl-C plays the abort button.
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "decode/decode_session.h"
#include "extract/entry_paths.h"
#include "extract/extraction_worker.h"
#include "platform/platform.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

constexpr int kExitAborted = 130;

// Shows the member and the bar's percentage on one line on a terminal, one
// plain line per member otherwise, and tells the waiting thread when the run
// is over.
class ExtractReporter : public TerminalReporter {
  public:
    explicit ExtractReporter(bool terminal) : terminal_(terminal) {}

    void memberStarted(const char16_t* path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        member_ = shown(path);
        percent_ = 0;
        if (terminal_)
            drawLine();
        else
            std::fprintf(stderr, "%s\n", member_.c_str());
    }
    void progressPosition(uint32_t position) override {
        std::lock_guard<std::mutex> lock(mutex_);
        percent_ = position > 100 ? 100 : position;
        if (terminal_) drawLine();
    }
    void messageBox(BoxOwner owner, const char16_t* text, const char16_t* caption,
                    uint32_t flags) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clearLine();
        }
        TerminalReporter::messageBox(owner, text, caption, flags);
    }
    void runEnded(bool aborted) override {
        std::lock_guard<std::mutex> lock(mutex_);
        clearLine();
        aborted_ = aborted;
        ended_ = true;
        done_.notify_all();
    }
    bool waitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return ended_; });
        return aborted_;
    }

  private:
    void drawLine() {
        std::fprintf(stderr, "\r\033[K%3u%% %s", percent_, member_.c_str());
        shown_ = true;
    }
    void clearLine() {
        if (terminal_ && shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

    const bool terminal_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::string member_;
    uint32_t percent_ = 0;
    bool shown_ = false;
    bool ended_ = false;
    bool aborted_ = false;
};

extern "C" void onInterrupt(int) {
    keepRunning.store(0, std::memory_order_relaxed);
}

// Creates the destination and makes it the current directory, as the stub
// does before its worker starts.
bool enterDestination(const WideString& folder) {
    if (platform::setCurrentDirectory(folder.c_str())) return true;
    if (createFolderTree(folder.c_str()) && platform::setCurrentDirectory(folder.c_str()))
        return true;
    std::fprintf(stderr, "qornsfx: %s: %s: %s\n", utf8(kTextCannotCreateFolder).c_str(),
                 shown(folder).c_str(),
                 utf8(platform::systemErrorText(platform::lastError())).c_str());
    return false;
}

}  // namespace

int runExtract(const Arguments& args) {
    SfxSettings settings;
    bool hasSettings;
    BinaryFile* file = openArchive(args, settings, hasSettings);
    if (!file) return 1;

    WideString folder;
    if (args.has("d"))
        folder = wide(args.value("d"));
    else if (hasSettings && !settings.destination.isEmpty())
        folder = settings.destination;
    if (!folder.isEmpty() && !enterDestination(folder)) {
        delete file;
        return 1;
    }

    ExtractReporter reporter(isatty(STDERR_FILENO) != 0);
    ExtractionJob job;
    job.payloadFile = file;
    job.settings = settings;
    // The shell paths need the folder in full, whatever was typed.
    job.destinationFolder = platform::currentDirectory();
    job.reporter = &reporter;

    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous;
    sigaction(SIGINT, &action, &previous);

    if (!startExtraction(job)) {
        std::fprintf(stderr, "qornsfx: cannot start the extraction thread\n");
        sigaction(SIGINT, &previous, nullptr);
        delete file;
        return 1;
    }
    const bool aborted = reporter.waitForEnd();
    sigaction(SIGINT, &previous, nullptr);
    // As the window does on an abort: the half-written file goes.
    if (aborted && !job.currentFile.isEmpty()) platform::deleteFile(job.currentFile.c_str());
    delete file;
    if (aborted) {
        std::fprintf(stderr, "qornsfx: extraction aborted\n");
        return kExitAborted;
    }
    return job.failed ? 1 : 0;
}

}  // namespace qorn::tool
