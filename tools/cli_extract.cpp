// qornsfx extract: run the stub's extraction worker from a terminal.
//
// The worker runs on its own thread exactly as in the stub; this thread only
// waits for its last word. Ctrl-C plays the abort button.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "decode/decode_session.h"
#include "extract/entry_paths.h"
#include "extract/extraction_worker.h"
#include "extract/parallel_decode.h"
#include "platform/host_files.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/run_option.h"

namespace qorn::tool {

namespace {

constexpr int kExitAborted = 130;

// Shows the run's overall percentage and the member being written on one
// line on a terminal, one plain line per member otherwise; counts what the
// run made for the closing summary, and tells the waiting thread when the
// run is over. The figure never goes back: a member's start leaves it where
// it was.
class ExtractReporter : public TerminalReporter {
  public:
    explicit ExtractReporter(bool terminal) : terminal_(terminal) {}

    void memberStarted(const char16_t* path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        member_ = shown(path);
        ++members_;
        lastPath_ = WideString(path);
        sanitizeEntryPath(lastPath_);
        lastDone_ = false;
        if (terminal_)
            drawLine();
        else
            std::fprintf(stderr, "%s\n", member_.c_str());
    }
    void progressPosition(uint32_t position) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint32_t p = position > 100 ? 100 : position;
        if (p <= percent_) return;
        percent_ = p;
        if (terminal_) drawLine();
    }
    void itemCreated(const char16_t* fullPath) override {
        ++complete_;
        lastDone_ = true;
        encode::host::PathInfo info;
        if (encode::host::pathInfo(systemPathText(WideString(fullPath)), info) &&
            info.kind == encode::host::Kind::File)
            bytes_ += info.size;
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
        aborted_ = aborted;
        ended_ = true;
        done_.notify_all();
    }
    bool waitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return ended_; });
        return aborted_;
    }
    // After the run: a complete one leaves its line at 100%, any other end
    // clears it.
    void closeLine(bool complete) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (complete && terminal_ && shown_) {
            percent_ = 100;
            drawLine();
            std::fputc('\n', stderr);
            shown_ = false;
        }
        clearLine();
    }
    unsigned members() const { return members_; }
    unsigned complete() const { return complete_; }
    uint64_t bytes() const { return bytes_; }
    // After a failed run: the file of the member the run stopped at, when
    // it stays on disk (a damaged file is kept, as the stub keeps it), is
    // counted with its bytes. True when there is one.
    bool countKeptFile() {
        if (lastDone_ || lastPath_.isEmpty()) return false;
        encode::host::PathInfo info;
        if (!encode::host::pathInfo(systemPathText(lastPath_), info) ||
            info.kind != encode::host::Kind::File)
            return false;
        bytes_ += info.size;
        return true;
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
    unsigned members_ = 0;
    // The worker's thread only, read after the run.
    unsigned complete_ = 0;
    uint64_t bytes_ = 0;
    WideString lastPath_;  // the member started last, cleaned as the stub cleans it
    bool lastDone_ = false;
    bool shown_ = false;
    bool ended_ = false;
    bool aborted_ = false;
};

#ifdef _WIN32
BOOL WINAPI onInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    keepRunning.store(0, std::memory_order_relaxed);
    return TRUE;
}
#else
extern "C" void onInterrupt(int) {
    keepRunning.store(0, std::memory_order_relaxed);
}
#endif

// Ctrl-C plays the abort button from construction to end().
class InterruptAsAbort {
  public:
    InterruptAsAbort() {
#ifdef _WIN32
        SetConsoleCtrlHandler(onInterrupt, TRUE);
#else
        struct sigaction action = {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
#endif
    }
    void end() {
#ifdef _WIN32
        SetConsoleCtrlHandler(onInterrupt, FALSE);
#else
        sigaction(SIGINT, &previous_, nullptr);
#endif
    }

  private:
#ifndef _WIN32
    struct sigaction previous_;
#endif
};

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
    RunCommand run;
    if (!args.has("archive") && readRunCommand(args.positional[0], run))
        std::fprintf(stderr,
                     "qornsfx: note: an installer-mode file; its program (%s) is not run here\n",
                     shown(WideString(run.program.c_str())).c_str());

    // Members decoded on every core ahead of the worker, which writes them
    // in archive order.
    std::unique_ptr<ParallelDecoder> ahead;
    if (decodeThreads() > 1)
        ahead.reset(
            new ParallelDecoder(wide(args.positional.at(0)).c_str(), file->position(), true));

    WideString folder;
    if (args.has("directory"))
        folder = wide(args.value("directory"));
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
    if (ahead) {
        ParallelDecoder::makeCurrent(ahead.get());
        job.decode = ParallelDecoder::decodeAhead;
    }

    InterruptAsAbort interrupt;

    const auto started = std::chrono::steady_clock::now();
    if (!startExtraction(job)) {
        std::fprintf(stderr, "qornsfx: cannot start the extraction thread\n");
        interrupt.end();
        delete file;
        return 1;
    }
    const bool aborted = reporter.waitForEnd();
    ParallelDecoder::makeCurrent(nullptr);
    interrupt.end();
    reporter.closeLine(!aborted && !job.failed);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    // As the window does on an abort: the half-written file goes.
    if (aborted && !job.currentFile.isEmpty()) platform::deleteFile(job.currentFile.c_str());
    delete file;
    // A failed run names what it left: the members complete, and the file
    // it stopped at when that stays on disk.
    const bool kept = !aborted && job.failed && reporter.countKeptFile();
    std::string parts;
    if (aborted || job.failed)
        parts = " (" + std::to_string(reporter.complete()) + " complete" +
                (kept ? ", 1 damaged file kept" : "") + ")";
    std::printf("%s: %u member%s%s, %llu bytes written, %.2f s\n",
                aborted      ? "aborted"
                : job.failed ? "failed"
                             : "extracted",
                reporter.members(), reporter.members() == 1 ? "" : "s", parts.c_str(),
                static_cast<unsigned long long>(reporter.bytes()), seconds.count());
    if (aborted) {
        std::fprintf(stderr, "qornsfx: extraction aborted\n");
        return kExitAborted;
    }
    return job.failed ? 1 : 0;
}

}  // namespace qorn::tool
