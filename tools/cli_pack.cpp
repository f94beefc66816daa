// qornsfx pack: a plain LHA archive from files and folders.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "encode/archive_writer.h"
#include "payload/archive_entry.h"
#include "platform/host_files.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

// The members of the written archive and their sizes, for the summary.
void countMembers(const std::string& path, unsigned& members, uint64_t& original) {
    members = 0;
    original = 0;
    std::unique_ptr<BinaryFile> file(BinaryFile::openForReading(wide(path).c_str()));
    if (!file) return;
    TerminalReporter reporter;
    ArchiveEntry entry;
    while (readEntryHeader(*file, entry, reporter) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        ++members;
        original += entry.originalSize;
        if (!file->moveTo(dataStart + entry.packedSize)) break;
    }
}

}  // namespace

int runPack(const Arguments& args) {
    const auto started = std::chrono::steady_clock::now();
    if (args.positional.size() < 2) {
        std::fprintf(stderr,
                     "qornsfx: pack: give the archive to write and what to pack "
                     "(qornsfx pack --help)\n");
        return kExitUsage;
    }
    encode::PackOptions options;
    options.method = methodNamed(args.value("method", "lh5"));
    options.headerLevel = args.value("level", "2")[0] - '0';
    if (args.value("effort") == "max") options.encodeLevel = encode::EncodeLevel::Maximum;
    if (args.has("codepage")) options.codePage = args.value("codepage");

    ProgressLine progress;
    options.progress = [&](uint64_t done, uint64_t total, const std::string& path) {
        progress.show("packing", done, total, path);
    };
    options.warning = [&](const std::string& text) {
        progress.clear();
        std::fprintf(stderr, "qornsfx: warning: %s\n", text.c_str());
    };

    // The archive appears under its name only when it is complete.
    const std::string& out = args.positional[0];
    const std::string temp = out + ".part";
    FILE* f = encode::host::openFile(temp, "wb");
    if (!f) {
        std::fprintf(stderr, "qornsfx: cannot create %s: %s\n", temp.c_str(), std::strerror(errno));
        return 1;
    }
    const std::vector<std::string> roots(args.positional.begin() + 1, args.positional.end());
    std::string error;
    bool ok = encode::writeArchive(roots, options, f, error);
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = std::string("cannot write the archive: ") + std::strerror(errno);
    }
    progress.clear();
    if (ok && !encode::host::renameFile(temp, out)) {
        ok = false;
        error = "cannot rename " + temp + " to " + out + ": " + encode::host::errorText();
    }
    if (!ok) {
        encode::host::removeFile(temp);
        std::fprintf(stderr, "qornsfx: %s\n", error.c_str());
        return 1;
    }
    unsigned members;
    uint64_t original;
    countMembers(out, members, original);
    encode::host::PathInfo written;
    if (!encode::host::pathInfo(out, written)) written.size = 0;
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    printSummary(out, members, original, written.size, seconds.count());
    return 0;
}

}  // namespace qorn::tool
