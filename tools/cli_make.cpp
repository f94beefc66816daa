// qornsfx make: stub + settings block + LHA archive = a self-extracting file.
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/sfx_settings.h"
#include "platform/host_files.h"
#include "platform/platform.h"
#include "tools/case_fold.h"
#include "tools/commands.h"
#include "tools/embedded_stub.h"
#include "tools/run_option.h"
#include "tools/stub_resources.h"
#if __has_include("encode/archive_writer.h")
#include "encode/archive_writer.h"
#define QORN_MAKE_CAN_PACK 1
#endif

namespace qorn::tool {

namespace {

// The settings a user can give; without any of them the block still goes in
// (a run with the dialog), unless --no-settings asks for a bare payload.
const char* const kSettingOptions[] = {"title",     "destination", "program-files",
                                       "main-file", "start-menu",  "desktop",
                                       "send-to",   "open",        "link-name"};

bool readWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* f = encode::host::openFile(path, "rb");
    if (!f) return false;
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

// One length byte counting UTF-16 code units, then the units, little-endian.
// A text that does not fit is an error: a shortened path would name some
// other file.
bool appendString(std::vector<uint8_t>& block, const char* option, const std::string& value) {
    WideString text = wide(value);
    const size_t units = text.length();
    if (units > 255) {
        std::fprintf(stderr,
                     "qornsfx: --%s is %zu UTF-16 code units long; the settings block holds at "
                     "most 255\n",
                     option, units);
        return false;
    }
    block.push_back(static_cast<uint8_t>(units));
    for (size_t i = 0; i < units; ++i) {
        const char16_t unit = text.c_str()[i];
        block.push_back(static_cast<uint8_t>(unit & 0xFF));
        block.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return true;
}

// The command line has turned a choice's name into its number.
bool optionByte(const Arguments& args, const char* option, uint8_t& value) {
    const std::string text = args.value(option, "0");
    if (text.size() != 1 || text[0] < '0' || text[0] > '3') {
        std::fprintf(stderr, "qornsfx: --%s takes off, offered, forced or checked (or 0 to 3)\n",
                     option);
        return false;
    }
    value = static_cast<uint8_t>(text[0] - '0');
    return true;
}

bool buildSettings(const Arguments& args, std::vector<uint8_t>& block) {
    if (args.has("no-settings")) {
        for (const char* option : kSettingOptions)
            if (args.has(option)) {
                std::fprintf(stderr, "qornsfx: --no-settings and --%s contradict each other\n",
                             option);
                return false;
            }
        block.push_back(0);
        return true;
    }
    uint8_t startMenu, desktop, sendTo;
    if (!optionByte(args, "start-menu", startMenu) || !optionByte(args, "desktop", desktop) ||
        !optionByte(args, "send-to", sendTo))
        return false;
    block.push_back(1);
    if (!appendString(block, "title", args.value("title"))) return false;
    block.push_back(args.has("program-files") ? 1 : 0);
    if (!appendString(block, "destination", args.value("destination")) ||
        !appendString(block, "main-file", args.value("main-file")))
        return false;
    block.push_back(startMenu);
    block.push_back(desktop);
    block.push_back(sendTo);
    return appendString(block, "open", args.value("open")) &&
           appendString(block, "link-name", args.value("link-name"));
}

std::string toolFolder() {
#ifdef _WIN32
    return ".";
#else
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    char* slash = std::strrchr(path, '/');
    if (slash) *slash = 0;
    return path;
#endif
}

bool exists(const std::string& path) {
    return platform::pathKind(wide(path).c_str()) == platform::PathKind::File;
}

// --stub, else (for a tool built without its stubs) one beside the tool.
// Installer mode has a stub of its own.
std::string findStub(const Arguments& args, bool installer) {
    if (args.has("stub")) return args.value("stub");
    const std::string folder = toolFolder();
    const std::string name = installer ? "qornsfx-run-stub.exe" : "qornsfx-stub.exe";
    for (const std::string& candidate : {"/" + name, "/../stub/" + name})
        if (exists(folder + candidate)) return folder + candidate;
    return "";
}

// --stub, else the stub built into the tool.
bool loadStub(const Arguments& args, bool installer, std::vector<uint8_t>& stub) {
#ifdef QORN_EMBEDDED_STUB
    if (!args.has("stub")) {
        if (installer)
            stub.assign(kEmbeddedRunStub, kEmbeddedRunStub + kEmbeddedRunStubSize);
        else
            stub.assign(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize);
        return true;
    }
#endif
    const std::string path = findStub(args, installer);
    if (path.empty()) {
        std::fprintf(stderr, "qornsfx: no stub found; build it or name one with --stub\n");
        return false;
    }
    if (!readWhole(path, stub)) {
        std::fprintf(stderr, "qornsfx: cannot read the stub %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    // The stub reads its payload at a fixed offset, so it must end exactly
    // there: a raw linker output would put the payload in the wrong place.
    if (stub.size() != static_cast<size_t>(PayloadOffset) || stub[0] != 'M' || stub[1] != 'Z') {
        std::fprintf(stderr,
                     "qornsfx: %s is not a finished stub (%zu bytes; a stub is an executable "
                     "padded to %lld bytes)\n",
                     path.c_str(), stub.size(), static_cast<long long>(PayloadOffset));
        return false;
    }
    return true;
}

bool looksLikeArchive(const std::vector<uint8_t>& archive) {
    if (archive.size() == 1 && archive[0] == 0) return true;  // empty archive
    return archive.size() >= 7 && archive[2] == '-' && archive[3] == 'l' &&
           (archive[4] == 'h' || archive[4] == 'z') && archive[6] == '-';
}

bool isFolder(const std::string& path) {
    return platform::pathKind(wide(path).c_str()) == platform::PathKind::Folder;
}

bool loadArchive(const Arguments& args, std::vector<uint8_t>& archive, ProgressLine& progress) {
    const std::string& first = args.positional[0];
    if (args.positional.size() == 1 && !isFolder(first)) {
        if (!readWhole(first, archive)) {
            std::fprintf(stderr, "qornsfx: cannot read %s: %s\n", first.c_str(),
                         std::strerror(errno));
            return false;
        }
        if (!looksLikeArchive(archive)) {
            std::fprintf(stderr, "qornsfx: %s is not an LHA archive\n", first.c_str());
            return false;
        }
        return true;
    }
#ifdef QORN_MAKE_CAN_PACK
    // Folders and files: packed here with the defaults of "pack".
    FILE* temp = encode::host::temporaryFile();
    if (!temp) {
        std::fprintf(stderr, "qornsfx: cannot create a temporary file: %s\n", std::strerror(errno));
        return false;
    }
    encode::PackOptions options;
    if (args.has("codepage")) options.codePage = args.value("codepage");
    options.method = methodNamed(args.value("method", kMakeMethod));
    options.headerLevel = args.value("level", "2")[0] - '0';
    options.foldersOnlyWhenEmpty = true;
    if (args.value("effort") == "max") options.encodeLevel = encode::EncodeLevel::Maximum;
    options.progress = [&](uint64_t done, uint64_t total, const std::string& path) {
        progress.show("packing", done, total, path);
    };
    options.warning = [&](const std::string& text) {
        progress.clear();
        std::fprintf(stderr, "qornsfx: warning: %s\n", text.c_str());
    };
    std::string error;
    const bool ok = encode::writeArchive(args.positional, options, temp, error);
    progress.clear();
    if (ok) {
        std::rewind(temp);
        uint8_t chunk[1 << 16];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, temp)) > 0)
            archive.insert(archive.end(), chunk, chunk + n);
    }
    std::fclose(temp);
    if (!ok) std::fprintf(stderr, "qornsfx: %s\n", error.c_str());
    return ok;
#else
    std::fprintf(stderr, "qornsfx: this build cannot pack folders; give an .lzh archive\n");
    return false;
#endif
}

// A scratch file beside out, created where no file is: OUT.part, else
// OUT.part-2 and on. A file of the user's that happens to bear one of these
// names is never opened, let alone removed afterwards. Null (with a message)
// when none can be made.
FILE* createScratch(const std::string& out, const char* suffix, std::string& name) {
    for (int n = 1; n <= 100; ++n) {
        name = out + suffix + (n == 1 ? "" : "-" + std::to_string(n));
        bool taken = false;
        if (FILE* f = encode::host::createNewFile(name, taken)) return f;
        if (!taken) break;
    }
    std::fprintf(stderr, "qornsfx: cannot create a scratch file beside %s (%s): %s\n", out.c_str(),
                 name.c_str(), encode::host::errorText().c_str());
    return nullptr;
}

// The archive as the stub will meet it: a file that would stop it halfway
// (or pass a member over) is not written unless --force asks for it.
bool checkBeforeWriting(const Arguments& args, const std::vector<uint8_t>& archive,
                        const std::string& out, ArchiveReport& report) {
    const bool folders = args.positional.size() > 1 || isFolder(args.positional[0]);
    const std::string source = folders ? "the packed folders" : args.positional[0];
    std::string scratch;
    FILE* f = createScratch(out, ".check", scratch);
    if (!f) return false;
    if (!checkArchive(archive, f, scratch, report)) {
        std::fprintf(stderr, "qornsfx: cannot check %s: %s\n", source.c_str(),
                     std::strerror(errno));
        return false;
    }
    const bool force = args.has("force");
    for (const ArchiveProblem& p : report.notes)
        std::fprintf(stderr, "qornsfx: note: %s: %s: %s\n", source.c_str(), p.member.c_str(),
                     p.reason.c_str());
    for (const ArchiveProblem& p : report.warnings)
        std::fprintf(stderr, "qornsfx: warning: %s: %s: %s\n", source.c_str(), p.member.c_str(),
                     p.reason.c_str());
    const std::vector<ArchiveProblem>& problems = report.problems;
    for (const ArchiveProblem& p : problems)
        std::fprintf(stderr, "qornsfx: %s%s: %s: %s\n", force ? "warning: " : "", source.c_str(),
                     p.member.c_str(), p.reason.c_str());
    if (problems.empty() || force) return true;
    std::fprintf(stderr,
                 "qornsfx: %s not written: the stub would not extract %s completely (%zu "
                 "problem%s; --force writes it anyway)\n",
                 out.c_str(), source.c_str(), problems.size(), problems.size() == 1 ? "" : "s");
    return false;
}

// What the stub would do with the settings: a shortcut to nothing, a file
// that is not there to open. Messages given; false when any.
bool settingsWork(const Arguments& args, const ArchiveReport& report) {
    if (args.has("no-settings")) return true;
    bool ok = true;
    const bool shortcuts = (args.value("start-menu", "0") != "0" ||
                            args.value("desktop", "0") != "0" || args.value("send-to", "0") != "0");
    if (shortcuts && args.value("main-file").empty()) {
        std::fprintf(stderr,
                     "qornsfx: --start-menu, --desktop and --send-to make shortcuts to the "
                     "main file: give --main-file (or leave them off)\n");
        ok = false;
    }
    if (args.has("link-name") && !args.value("link-name").empty() && !shortcuts) {
        std::fprintf(stderr,
                     "qornsfx: --link-name names shortcuts, but none is made (give "
                     "--start-menu, --desktop or --send-to)\n");
        ok = false;
    }
    for (const char* option : {"main-file", "open"}) {
        const std::string value = args.value(option);
        if (value.empty()) continue;
        std::string why;
        const std::u16string folded = settingPath(value, why);
        if (why.empty()) {
            const auto at = report.names.find(folded);
            const bool file = at != report.names.end() && !at->second;
            const bool folder = at != report.names.end() && at->second;
            if (file || (folder && std::string(option) == "open")) continue;
            why = folder ? "is a folder of the archive, not a file"
                         : "is not a member of the archive";
        }
        std::fprintf(stderr, "qornsfx: --%s \"%s\" %s\n", option, value.c_str(), why.c_str());
        ok = false;
    }
    return ok;
}

// The packing options mean nothing for an archive taken as it is.
bool packingOptionsFit(const Arguments& args, bool packing) {
    if (packing) return true;
    for (const char* option : {"method", "level", "effort"})
        if (args.has(option)) {
            std::fprintf(stderr,
                         "qornsfx: --%s applies when make packs files and folders; %s is "
                         "taken as it is\n",
                         option, args.positional[0].c_str());
            return false;
        }
    return true;
}

// The command with {} replaced by the path, quoted for the shell that runs it.
std::string signCommand(const std::string& command, const std::string& path) {
#ifdef _WIN32
    const std::string quoted = "\"" + path + "\"";
#else
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
#endif
    std::string out;
    for (size_t at = 0; at < command.size(); ++at) {
        if (command.compare(at, 2, "{}") == 0) {
            out += quoted;
            ++at;
        } else {
            out += command[at];
        }
    }
    return out;
}

int runCommand(const std::string& command) {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    return _wsystem(reinterpret_cast<const wchar_t*>(wide(command).c_str()));
#else
    const int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

// Signs the written file and reads it back as the stub will: its payload
// (settings and archive) where it was, unchanged, every member decoding to
// its CRC. A signature goes after the archive's end mark, where the stub
// stops reading.
bool signAndTest(const Arguments& args, const std::string& file, const std::string& out,
                 const std::vector<uint8_t>& stub, const std::vector<uint8_t>& settings,
                 const std::vector<uint8_t>& archive) {
    const std::string command = args.value("sign-cmd");
    const int status = runCommand(signCommand(command, file));
    if (status != 0) {
        std::fprintf(stderr, "qornsfx: %s not written: the signing command failed (status %d)\n",
                     out.c_str(), status);
        return false;
    }
    std::vector<uint8_t> signedFile;
    if (!readWhole(file, signedFile)) {
        std::fprintf(stderr, "qornsfx: cannot read the signed file %s: %s\n", file.c_str(),
                     std::strerror(errno));
        return false;
    }
    const size_t payload = settings.size() + archive.size();
    const bool sameStart =
        signedFile.size() >= stub.size() + payload && signedFile[0] == 'M' && signedFile[1] == 'Z';
    const bool samePayload =
        sameStart &&
        std::equal(settings.begin(), settings.end(), signedFile.begin() + PayloadOffset) &&
        std::equal(archive.begin(), archive.end(),
                   signedFile.begin() + PayloadOffset + static_cast<long>(settings.size()));
    if (!samePayload) {
        std::fprintf(stderr,
                     "qornsfx: %s not written: the signed file no longer holds the settings and "
                     "the archive at offset %lld as written\n",
                     out.c_str(), static_cast<long long>(PayloadOffset));
        return false;
    }
    // What lies after the end mark: the stub never reads it, but it must
    // not read as a member either.
    std::vector<uint8_t> tail(
        signedFile.begin() + PayloadOffset + static_cast<long>(settings.size()), signedFile.end());
    ArchiveReport report;
    std::string scratch;
    FILE* f = createScratch(out, ".check", scratch);
    if (!f) return false;
    if (!checkArchive(tail, f, scratch, report)) {
        std::fprintf(stderr, "qornsfx: cannot test the signed file: %s\n", std::strerror(errno));
        return false;
    }
    for (const ArchiveProblem& p : report.problems)
        std::fprintf(stderr, "qornsfx: signed file: %s: %s\n", p.member.c_str(), p.reason.c_str());
    if (!report.problems.empty() && !args.has("force")) {
        std::fprintf(stderr, "qornsfx: %s not written: the signed file does not test well\n",
                     out.c_str());
        return false;
    }
    std::printf("signed and tested: %zu bytes of signature after the archive\n",
                signedFile.size() - stub.size() - payload);
    return true;
}

}  // namespace

int runMake(const Arguments& given) {
    const auto started = std::chrono::steady_clock::now();
    Arguments args = given;
    if (args.has("config"))
        if (const int status = applyMakeConfig(args)) return status;
    if (args.value("output").empty()) {
        std::fprintf(stderr, "qornsfx: make: no output file given (-o OUT.exe)\n");
        return kExitUsage;
    }
    if (args.positional.empty()) {
        std::fprintf(stderr,
                     "qornsfx: make: nothing to build from: give an LHA archive, or files and "
                     "folders\n");
        return kExitUsage;
    }
    if (args.has("sign-cmd") && args.value("sign-cmd").find("{}") == std::string::npos) {
        std::fprintf(stderr, "qornsfx: --sign-cmd has no {} for the file to sign\n");
        return kExitUsage;
    }
    const bool packing = args.positional.size() > 1 || isFolder(args.positional[0]);
    if (!packingOptionsFit(args, packing)) return kExitUsage;
    std::vector<uint8_t> settings, stub, archive;
    RunCommand run;
    const bool installer = args.has("run");
    if (installer) {
        std::string error;
        if (!parseRunCommand(args.value("run"), run, error)) {
            std::fprintf(stderr, "qornsfx: %s\n", error.c_str());
            return kExitUsage;
        }
        // The file extracts into a temporary folder and makes no shortcut:
        // these settings would be silently dropped.
        for (const char* option : kSettingOptions)
            if (std::strcmp(option, "title") != 0 && args.has(option)) {
                std::fprintf(stderr,
                             "qornsfx: --run and --%s do not go together (installer mode "
                             "extracts into a temporary folder and makes no shortcut)\n",
                             option);
                return kExitUsage;
            }
    }
    if (!buildSettings(args, settings)) return kExitUsage;
    if (!loadStub(args, installer, stub)) return 1;
    const std::vector<uint8_t> plainStub = stub;
    bool edited;
    // Before the archive is packed, so that a mistake in them is told at once.
    if (const int status = editStubResources(args, installer ? &run : nullptr, stub, edited))
        return status;
    ProgressLine progress;
    if (!loadArchive(args, archive, progress)) return 1;
    // The end mark: one 0 byte after the last member.
    if (archive.empty() || archive.back() != 0) archive.push_back(0);

    const std::string out = args.value("output");
    ArchiveReport report;
    progress.status("checking every member as the stub will read it");
    const bool fine = checkBeforeWriting(args, archive, out, report);
    progress.clear();
    if (!fine) return 1;
    if (!settingsWork(args, report)) {
        std::fprintf(stderr, "qornsfx: %s not written: the settings would not work\n", out.c_str());
        return 1;
    }
    if (installer) {
        if (!namesMember(run.program, report.files)) {
            std::fprintf(stderr,
                         "qornsfx: --run: %s is not a file of the archive (names are compared "
                         "as Windows compares them, letter case aside)\n",
                         utf8(WideString(run.program.c_str())).c_str());
            return 1;
        }
        // Again, with the program spelt as the archive spells it.
        stub = plainStub;
        if (const int status = editStubResources(args, &run, stub, edited)) return status;
    }
    if (edited) stampChecksum(stub, settings, archive);
    std::string temp;
    FILE* f = createScratch(out, ".part", temp);
    if (!f) return 1;
    bool ok = std::fwrite(stub.data(), 1, stub.size(), f) == stub.size() &&
              std::fwrite(settings.data(), 1, settings.size(), f) == settings.size() &&
              std::fwrite(archive.data(), 1, archive.size(), f) == archive.size();
    if (std::fclose(f) != 0) ok = false;
#ifndef _WIN32
    if (ok) chmod(temp.c_str(), 0755);
#endif
    if (!ok) {
        std::fprintf(stderr, "qornsfx: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
        encode::host::removeFile(temp);
        return 1;
    }
    if (args.has("sign-cmd") && !signAndTest(args, temp, out, stub, settings, archive)) {
        encode::host::removeFile(temp);
        return 1;
    }
    encode::host::PathInfo written;
    if (!encode::host::pathInfo(temp, written)) written.size = 0;
    if (!encode::host::renameFile(temp, out)) {
        std::fprintf(stderr, "qornsfx: cannot write %s: %s\n", out.c_str(),
                     encode::host::errorText().c_str());
        encode::host::removeFile(temp);
        return 1;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    printSummary(out, report.members, report.originalBytes, written.size, seconds.count());
    return 0;
}

}  // namespace qorn::tool
