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
#include "tools/command_line.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

// The tool speaks English in every message, the texts the core shares with
// the stub included (the stub's own are Japanese unless its maker chose a
// language).
void useEnglishTexts() {
    kTextCannotCreateFolder = u"cannot create the folder";
    kTextFolderExists = u"cannot be extracted: a folder of the same name exists";
    kTextDamagedFormat = u"the file %s is damaged";
    kTextDamagedFolderFormat = u"the folder %s is damaged";
    kTextWriteFailed = u"cannot write to the disk";
    kTextUnknownHeader = u"unknown header";
}

}  // namespace

}  // namespace qorn::tool

namespace {

int runTool(int argc, char** argv) {
    using namespace qorn::tool;
    // A failed allocation is told on the terminal before the exit.
    static TerminalReporter memoryReporter;
    qorn::allocationReporter = &memoryReporter;
    useEnglishTexts();
    ParsedCommand parsed;
    if (const int status = parseCommandLine(argc, argv, parsed); status >= 0) return status;
    const Arguments& args = parsed.args;
    const std::string& command = parsed.name;
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
            std::fprintf(stderr, "qornsfx: %s: no FILE given (qornsfx %s --help)\n",
                         command.c_str(), command.c_str());
            return kExitUsage;
        }
        if (command == "list") return runList(args);
        if (command == "test") return runTest(args);
        return runExtract(args);
    }
    if (command == "make") return runMake(args);
    return runPack(args);
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
