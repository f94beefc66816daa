// qornsfx list: the settings block and one line per member.
#include <ctime>

#include "payload/archive_entry.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

std::string isoTime(int64_t t) {
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm;
    if (!gmtime_r(&tt, &tm)) return "-";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

void printSettings(const SfxSettings& s) {
    std::printf("settings:\n");
    std::printf("  title        %s\n", shown(s.title).c_str());
    std::printf("  destination  %s\n", shown(wide(systemPathText(s.destination))).c_str());
    std::printf("  main file    %s\n", shown(s.mainFile).c_str());
    std::printf("  start menu   0x%02X\n", s.startMenuOptions);
    std::printf("  desktop      0x%02X\n", s.desktopOptions);
    std::printf("  send to      0x%02X\n", s.sendToOptions);
    std::printf("  open file    %s\n", shown(s.openFile).c_str());
    std::printf("  link name    %s\n", shown(s.linkName).c_str());
}

}  // namespace

int runList(const Arguments& args) {
    SfxSettings settings;
    bool hasSettings;
    BinaryFile* file = openArchive(args, settings, hasSettings);
    if (!file) return 1;
    if (hasSettings)
        printSettings(settings);
    else if (!args.has("archive"))
        std::printf("settings: none\n");

    TerminalReporter reporter;
    ArchiveEntry entry;
    uint64_t packed = 0, original = 0;
    unsigned members = 0;
    HeaderResult r;
    std::printf("%-5s %10s %10s %-4s %-20s %s\n", "meth", "packed", "size", "crc", "modified",
                "path");
    while ((r = readEntryHeader(*file, entry, reporter)) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        char crc[8] = "none";
        if (entry.hasCrc) std::snprintf(crc, sizeof crc, "%04x", entry.crc);
        std::printf("%.5s %10u %10u %-4s %-20s %s\n", entry.method, entry.packedSize,
                    entry.originalSize, crc, isoTime(entry.modifiedTime).c_str(),
                    shown(entry.path).c_str());
        packed += entry.packedSize;
        original += entry.originalSize;
        ++members;
        if (!file->holds(dataStart, entry.packedSize) ||
            !file->moveTo(dataStart + entry.packedSize)) {
            r = HeaderResult::Bad;
            break;
        }
    }
    std::printf("total: %u member%s, %llu packed, %llu original\n", members,
                members == 1 ? "" : "s", static_cast<unsigned long long>(packed),
                static_cast<unsigned long long>(original));
    delete file;
    if (r == HeaderResult::Bad) {
        std::fprintf(stderr, "qornsfx: the archive is damaged after member %u\n", members);
        return 1;
    }
    return 0;
}

}  // namespace qorn::tool
