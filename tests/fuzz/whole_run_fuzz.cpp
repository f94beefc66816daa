// A whole run: the settings block, then every member through the extraction
// worker into a scratch destination that is the current directory. Nothing
// may appear outside it, and only plain files and folders inside it.
//
// Input: the payload as the stub finds it behind its own image.
//
// Built twice: over the file system in memory (platform_memory.h), fast
// enough to go deep, and as whole_run_disk over the real one, for the same
// inputs under the layer the tool uses.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decode/decode_session.h"
#include "extract/extraction_worker.h"
#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/run_recorder.h"

#ifdef QORN_FUZZ_MEMORY_FILES
#include "tests/fuzz/platform_memory.h"
#else
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace qorn;

namespace {

// With QORN_FUZZ_TREE naming a file, every input appends what it left in the
// destination there, so that the two variants can be compared.
std::vector<std::string> g_tree;

void listItem(const std::u16string& relative, bool folder, uint64_t size) {
    std::string line = folder ? "D " : "F ";
    for (char16_t c : relative) {
        char code[8];
        std::snprintf(code, sizeof code, "%%%04x", static_cast<unsigned>(c));
        line += c > 0x20 && c < 0x7F && c != u'%' ? std::string(1, static_cast<char>(c)) : code;
    }
    g_tree.push_back(line + ' ' + std::to_string(folder ? 0 : size));
}

void writeTree() {
    static const char* const name = std::getenv("QORN_FUZZ_TREE");
    if (name) {
        std::sort(g_tree.begin(), g_tree.end());
        FILE* out = std::fopen(name, "a");
        QORN_FUZZ_CHECK(out != nullptr);
        std::fprintf(out, "--\n");
        for (const std::string& line : g_tree) std::fprintf(out, "%s\n", line.c_str());
        std::fclose(out);
    }
    g_tree.clear();
}

#ifdef QORN_FUZZ_MEMORY_FILES

const std::u16string kScratch = u"/scratch";  // parent of the destination
const std::u16string kDestination = u"/scratch/dest";

void setUp() {
    platform::memory::reset();
    QORN_FUZZ_CHECK(platform::createFolder(kScratch.c_str()));
    QORN_FUZZ_CHECK(platform::createFolder(kDestination.c_str()));
    QORN_FUZZ_CHECK(platform::setCurrentDirectory(kDestination.c_str()));
}

// Nothing outside the destination, the current directory unchanged, no file
// left open but the payload; then the destination is emptied.
void checkAndEmpty() {
    QORN_FUZZ_CHECK(std::u16string(platform::currentDirectory().c_str()) == kDestination);
    const std::u16string inside = kDestination + u'/';
    platform::memory::forEach([&](const std::u16string& path, bool folder, size_t size) {
        if (path == kScratch || path == kDestination) return;
        QORN_FUZZ_CHECK(path.compare(0, inside.size(), inside) == 0);
        listItem(path.substr(inside.size()), folder, size);
    });
    QORN_FUZZ_CHECK(platform::memory::openHandles() == 1);
    platform::memory::emptyFolder(kDestination.c_str());
}

WideString destinationFolder() {
    return WideString(kDestination.c_str());
}

#else

std::string scratch;      // parent of the destination; holds nothing else
std::string destination;  // the current directory during a run

void removeScratch() {
    if (chdir("/") == 0 && !scratch.empty())
        nftw(
            scratch.c_str(),
            [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
}

void setUp() {
    char pattern[] = "/tmp/qorn-fuzz-run-XXXXXX";
    QORN_FUZZ_CHECK(mkdtemp(pattern) != nullptr);
    scratch = pattern;
    destination = scratch + "/dest";
    QORN_FUZZ_CHECK(mkdir(destination.c_str(), 0755) == 0);
    QORN_FUZZ_CHECK(chdir(destination.c_str()) == 0);
    std::atexit(removeScratch);
}

// Checks what is under the destination and removes it.
int checkAndRemove(const char* path, const struct stat* st, int kind, struct FTW* where) {
    QORN_FUZZ_CHECK(kind == FTW_F || kind == FTW_DP);
    QORN_FUZZ_CHECK(S_ISREG(st->st_mode) || S_ISDIR(st->st_mode));
    if (where->level > 0) {
        const WideString name = platform::fromUtf8(path + destination.size() + 1);
        listItem(name.c_str(), S_ISDIR(st->st_mode), static_cast<uint64_t>(st->st_size));
        QORN_FUZZ_CHECK(remove(path) == 0);
    }
    return 0;
}

void checkAndEmpty() {
    char here[4096];
    QORN_FUZZ_CHECK(getcwd(here, sizeof here) && destination == here);
    DIR* dir = opendir(scratch.c_str());
    QORN_FUZZ_CHECK(dir != nullptr);
    while (const dirent* e = readdir(dir))
        QORN_FUZZ_CHECK(!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..") ||
                        !std::strcmp(e->d_name, "dest"));
    closedir(dir);
    QORN_FUZZ_CHECK(nftw(destination.c_str(), checkAndRemove, 16, FTW_DEPTH | FTW_PHYS) == 0);
}

WideString destinationFolder() {
    return platform::fromUtf8(destination.c_str());
}

#endif

// Output is bounded up front: at most 256 KiB per member (four times the
// largest dictionary) and 1 MiB in all, so an input cannot ask for gigabytes
// of disk or memory, and runs stay short.
bool smallEnough(BinaryFile& payload) {
    const int64_t start = payload.position();
    fuzz::QuietReporter quiet;
    ArchiveEntry entry;
    uint64_t total = 0;
    bool ok = true;
    while (ok && readEntryHeader(payload, entry, quiet) == HeaderResult::Member) {
        total += entry.originalSize;
        ok = entry.originalSize <= (256u << 10) && total <= (1u << 20) &&
             payload.moveBy(static_cast<int64_t>(entry.packedSize));
    }
    payload.moveTo(start);
    return ok;
}

// The shell hears of each member under the destination, never above it.
void checkNotice(const std::u16string& full, const std::u16string& prefix) {
    QORN_FUZZ_CHECK(full.compare(0, prefix.size(), prefix) == 0);
    size_t start = prefix.size();
    for (size_t i = start; i <= full.size(); ++i) {
        if (i < full.size() && full[i] != u'\\') continue;
        const std::u16string part = full.substr(start, i - start);
        QORN_FUZZ_CHECK(part != u".." && part.find(u':') == std::u16string::npos);
        start = i + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        setUp();
        // A header may claim gigabytes of packed data; the input buffer is
        // sized from free memory, which stays small here.
        platform::faults().memoryLimit = 1u << 20;
        return true;
    }();
    (void)ready;
    std::unique_ptr<BinaryFile> payload(fuzz::memoryFile(data, size));
    ExtractionJob job;
    if (!readSettings(*payload, job.settings) || !smallEnough(*payload)) return 0;

    extract_test::RunRecorder recorder;
    job.payloadFile = payload.get();
    job.destinationFolder = destinationFolder();
    job.reporter = &recorder;
    extractionWorker(&job);

    QORN_FUZZ_CHECK(recorder.runEndedCalls == 1 && !recorder.endedAborted);
    std::u16string prefix(job.destinationFolder.c_str());
    prefix += u'\\';
    for (const std::u16string& full : recorder.created) checkNotice(full, prefix);
    checkAndEmpty();
    writeTree();
    return 0;
}
