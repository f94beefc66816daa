// qornsfx pack: a plain LHA archive from files and folders.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "encode/archive_writer.h"
#include "platform/host_files.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

bool parseMethod(const std::string& text, Method& method) {
    if (text == "lh5" || text == "-lh5-")
        method = Method::Lh5;
    else if (text == "lh6" || text == "-lh6-")
        method = Method::Lh6;
    else if (text == "lh7" || text == "-lh7-")
        method = Method::Lh7;
    else
        return false;
    return true;
}

}  // namespace

int runPack(const Arguments& args) {
    if (args.positional.size() < 2) {
        std::fprintf(stderr,
                     "usage: qornsfx pack OUT.lzh DIR... [--method lh5|lh6|lh7] [--level 0..2]\n");
        return kExitUsage;
    }
    encode::PackOptions options;
    if (!parseMethod(args.value("method", "lh5"), options.method)) {
        std::fprintf(stderr, "qornsfx: --method takes lh5, lh6 or lh7\n");
        return kExitUsage;
    }
    const std::string level = args.value("level", "2");
    if (level.size() != 1 || level[0] < '0' || level[0] > '2') {
        std::fprintf(stderr, "qornsfx: --level takes 0, 1 or 2\n");
        return kExitUsage;
    }
    options.headerLevel = level[0] - '0';
    if (args.has("codepage")) options.codePage = args.value("codepage");

    const bool showProgress = isatty(2) != 0;
    int lastPercent = -1;
    options.progress = [&](uint64_t done, uint64_t total, const std::string& path) {
        if (!showProgress) return;
        const int percent = total ? static_cast<int>(done * 100 / total) : 100;
        if (percent == lastPercent) return;
        lastPercent = percent;
        std::fprintf(stderr, "\r%3d%%  %-60.60s", percent, path.c_str());
    };
    options.warning = [&](const std::string& text) {
        if (showProgress && lastPercent >= 0) std::fputc('\n', stderr);
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
    if (showProgress && lastPercent >= 0) std::fputc('\n', stderr);
    if (ok && !encode::host::renameFile(temp, out)) {
        ok = false;
        error = "cannot rename " + temp + " to " + out + ": " + encode::host::errorText();
    }
    if (!ok) {
        encode::host::removeFile(temp);
        std::fprintf(stderr, "qornsfx: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace qorn::tool
