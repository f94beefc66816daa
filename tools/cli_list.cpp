// qornsfx list: the settings block and one line per member.
#include <ctime>
#include <memory>
#include <string>

#include "payload/archive_entry.h"
#include "tools/commands.h"
#include "tools/run_option.h"

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

// The settings block as stored: the destination as typed by its maker, not
// yet resolved, and the base-folder flag the stub's reader folds into it.
struct StoredSettings {
    WideString title, destination, mainFile, openFile, linkName;
    bool programFiles = false;
    uint8_t startMenu = 0, desktop = 0, sendTo = 0;
};

bool readText(BinaryFile& file, WideString& out) {
    uint8_t length;
    if (!file.readByte(length)) return false;
    uint8_t bytes[2 * 255];
    if (length && file.read(bytes, 2u * length) != 2u * length) return false;
    std::u16string text;
    for (unsigned i = 0; i < length; ++i)
        text += static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    out = WideString(text.c_str(), text.size());
    return true;
}

bool readStored(const std::string& path, StoredSettings& s) {
    std::unique_ptr<BinaryFile> file(BinaryFile::openForReading(wide(path).c_str()));
    uint8_t marker, base;
    return file && file->moveTo(PayloadOffset) && file->readByte(marker) && marker == 1 &&
           readText(*file, s.title) && file->readByte(base) &&
           (s.programFiles = base != 0, readText(*file, s.destination)) &&
           readText(*file, s.mainFile) && file->readByte(s.startMenu) &&
           file->readByte(s.desktop) && file->readByte(s.sendTo) && readText(*file, s.openFile) &&
           readText(*file, s.linkName);
}

std::string choiceName(uint8_t option) {
    static const char* const names[] = {"off", "offered", "forced", "checked"};
    return option < 4 ? names[option] : "unknown (" + std::to_string(option) + ")";
}

void printSettings(const StoredSettings& s, const SfxSettings& resolved) {
    std::printf("settings (as stored):\n");
    std::printf("  title          %s\n",
                s.title.isEmpty() ? "(none: Qorn SFX)" : shown(s.title).c_str());
    std::printf("  destination    %s\n", shown(s.destination).c_str());
    std::printf("  base folder    %s\n",
                s.programFiles ? "Program Files" : "the folder the file is run from");
    std::printf("  main file      %s\n", shown(s.mainFile).c_str());
    std::printf("  start menu     %s\n", choiceName(s.startMenu).c_str());
    std::printf("  desktop        %s\n", choiceName(s.desktop).c_str());
    std::printf("  send to        %s\n", choiceName(s.sendTo).c_str());
    std::printf("  open file      %s\n", shown(s.openFile).c_str());
    std::printf("  link name      %s\n", shown(s.linkName).c_str());
    std::printf("extract here to  %s\n", shown(wide(systemPathText(resolved.destination))).c_str());
}

std::string settingsJson(const StoredSettings& s, const SfxSettings& resolved) {
    return "{\"title\": " + jsonString(utf8(s.title)) +
           ", \"destination\": " + jsonString(utf8(s.destination)) +
           ", \"program_files\": " + (s.programFiles ? "true" : "false") +
           ", \"main_file\": " + jsonString(utf8(s.mainFile)) +
           ", \"start_menu\": " + jsonString(choiceName(s.startMenu)) +
           ", \"desktop\": " + jsonString(choiceName(s.desktop)) +
           ", \"send_to\": " + jsonString(choiceName(s.sendTo)) +
           ", \"open_file\": " + jsonString(utf8(s.openFile)) +
           ", \"link_name\": " + jsonString(utf8(s.linkName)) +
           "}, \"extract_here_to\": " + jsonString(systemPathText(resolved.destination));
}

}  // namespace

int runList(const Arguments& args) {
    SfxSettings settings;
    bool hasSettings;
    BinaryFile* file = openArchive(args, settings, hasSettings);
    if (!file) return 1;
    const bool json = args.has("json");
    StoredSettings stored;
    if (hasSettings && !readStored(args.positional[0], stored)) hasSettings = false;
    if (json) {
        std::printf("{\"file\": %s, \"settings\": ", jsonString(args.positional[0]).c_str());
        if (hasSettings)
            std::printf("%s", settingsJson(stored, settings).c_str());
        else if (args.has("archive"))
            std::printf("null");
        else
            std::printf("null, \"extract_here_to\": %s",
                        jsonString(systemPathText(settings.destination)).c_str());
    } else if (hasSettings) {
        printSettings(stored, settings);
    }
    RunCommand run;
    const bool installer = !args.has("archive") && readRunCommand(args.positional[0], run);
    if (json) {
        if (installer)
            std::printf(", \"run\": {\"program\": %s, \"arguments\": %s}",
                        jsonString(utf8(WideString(run.program.c_str()))).c_str(),
                        jsonString(utf8(WideString(run.arguments.c_str()))).c_str());
        else
            std::printf(", \"run\": null");
        std::printf(",\n \"members\": [");
    } else if (installer) {
        std::printf(
            "installer mode: extracts into a temporary folder, runs %s%s%s there, "
            "waits, removes the folder, exits with its status\n",
            shown(WideString(run.program.c_str())).c_str(), run.arguments.empty() ? "" : " ",
            shown(WideString(run.arguments.c_str())).c_str());
    }
    if (!json && !hasSettings && !args.has("archive")) {
        std::printf("settings: none\nextract here to  %s\n",
                    shown(wide(systemPathText(settings.destination))).c_str());
    }

    TerminalReporter reporter;
    ArchiveEntry entry;
    uint64_t packed = 0, original = 0;
    unsigned members = 0;
    HeaderResult r;
    if (!json)
        std::printf("%-5s %10s %10s %-4s %-20s %s\n", "meth", "packed", "size", "crc", "modified",
                    "path");
    while ((r = readEntryHeader(*file, entry, reporter)) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        char crc[8] = "none";
        if (entry.hasCrc) std::snprintf(crc, sizeof crc, "%04x", entry.crc);
        if (json)
            std::printf(
                "%s\n  {\"method\": %s, \"packed\": %u, \"size\": %u, \"crc\": %s, "
                "\"modified\": %s, \"path\": %s}",
                members ? "," : "", jsonString(std::string(entry.method, 5)).c_str(),
                entry.packedSize, entry.originalSize,
                entry.hasCrc ? jsonString(crc).c_str() : "null",
                jsonString(isoTime(entry.modifiedTime)).c_str(),
                jsonString(utf8(entry.path)).c_str());
        else
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
    if (json)
        std::printf(
            "],\n \"members_count\": %u, \"packed\": %llu, \"size\": %llu, "
            "\"damaged\": %s}\n",
            members, static_cast<unsigned long long>(packed),
            static_cast<unsigned long long>(original), r == HeaderResult::Bad ? "true" : "false");
    else
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
