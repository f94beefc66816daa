// qornsfx: the command-line companion of the Qorn SFX stub.
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#endif

#include "platform/platform.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

const char kUsage[] =
    "usage: qornsfx COMMAND [options] ...\n"
    "\n"
    "commands:\n"
    "  list FILE            show the settings block and the members\n"
    "  test FILE            decode every member and check its CRC-16\n"
    "  extract FILE [-d DIR]\n"
    "                       extract like the stub does (DIR: the destination)\n"
    "  make -o OUT.exe [settings] [--force] ARCHIVE.lzh | DIR...\n"
    "                       build a self-extracting file (every member is decoded\n"
    "                       first; --force writes it even if the stub would fail)\n"
    "  pack OUT.lzh DIR...  write an LHA archive\n"
    "\n"
    "options:\n"
    "  --archive            FILE is a plain .lzh, not a self-extracting file\n"
    "  --codepage NAME      code page of narrow names (iconv name, default CP932)\n"
    "  --help, --version\n";

// Options that take a value; the others are flags.
bool takesValue(const std::string& name) {
    static const char* const names[] = {"codepage",
                                        "d",
                                        "o",
                                        "title",
                                        "destination",
                                        "main-file",
                                        "start-menu",
                                        "desktop",
                                        "send-to",
                                        "open",
                                        "link-name",
                                        "method",
                                        "level",
                                        "stub",
                                        "program-files-folder",
                                        "icon",
                                        "company",
                                        "description",
                                        "product-name",
                                        "file-version",
                                        "execution-level",
                                        "language",
                                        "run"};
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

}  // namespace

}  // namespace qorn::tool

namespace {

int runTool(int argc, char** argv) {
    using namespace qorn::tool;
    // A failed allocation is told on the terminal before the exit.
    static TerminalReporter memoryReporter;
    qorn::allocationReporter = &memoryReporter;
    Arguments args;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.size() > 1 && a[0] == '-' && a != "-") {
            std::string name = a.substr(a[1] == '-' ? 2 : 1);
            std::string value;
            std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
            } else if (takesValue(name)) {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "qornsfx: option -%s needs a value\n%s", name.c_str(),
                                 kUsage);
                    return kExitUsage;
                }
                value = argv[++i];
            }
            args.options.emplace_back(name, value);
        } else if (command.empty()) {
            command = a;
        } else {
            args.positional.push_back(a);
        }
    }
    if (args.has("help") || args.has("h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.has("version")) {
        std::printf("qornsfx %s\n", QORN_VERSION);
        return 0;
    }
#ifndef _WIN32
    if (args.has("codepage") && !qorn::platform::setAnsiCodePage(args.value("codepage").c_str())) {
        std::fprintf(stderr, "qornsfx: unknown code page %s\n", args.value("codepage").c_str());
        return kExitUsage;
    }
    if (args.has("program-files-folder"))
        qorn::platform::setProgramFilesFolder(wide(args.value("program-files-folder")).c_str());
#else
    // Windows reads narrow names in its own code page; --codepage only
    // chooses the one names are packed in.
    if (args.has("codepage") && command != "make" && command != "pack") {
        std::fprintf(stderr, "qornsfx: on Windows names are read in the system's code page\n");
        return kExitUsage;
    }
#endif
    if (command == "list" || command == "test" || command == "extract") {
        if (args.positional.size() != 1) {
            std::fprintf(stderr, "qornsfx: %s takes one FILE\n%s", command.c_str(), kUsage);
            return kExitUsage;
        }
        if (command == "list") return runList(args);
        if (command == "test") return runTest(args);
        return runExtract(args);
    }
    if (command == "make") return runMake(args);
    if (command == "pack") return runPack(args);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

}  // namespace

#ifdef _WIN32
namespace {
UINT g_consoleCodePage = 0;
void restoreConsoleCodePage() {
    SetConsoleOutputCP(g_consoleCodePage);
}
}  // namespace

// Arguments come as UTF-16 and go on as UTF-8, the text of the whole tool;
// the console is told so while the tool runs.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    for (int i = 0; i < argc; ++i)
        texts.push_back(qorn::tool::utf8(reinterpret_cast<const char16_t*>(argv[i])));
    for (std::string& t : texts) pointers.push_back(&t[0]);
    pointers.push_back(nullptr);
    g_consoleCodePage = GetConsoleOutputCP();
    if (g_consoleCodePage != 0 && g_consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsoleCodePage);
    return runTool(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
#ifdef __GLIBC__
    // A member's packed bytes are read into one buffer of their size. The
    // allocator maps a buffer of more than 128 KiB afresh and unmaps it when
    // it is freed, so each member's buffer is faulted in page by page again
    // (a tenth of a test run over members of a few MB, where a page fault
    // is dear). Buffers up to 32 MiB now come from the heap, which keeps up
    // to 64 MiB free for the next one.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    return runTool(argc, argv);
}
#endif
