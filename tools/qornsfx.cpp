// qornsfx: the command-line companion of the Qorn SFX stub.
#include <cstring>

#include "platform/platform.h"
#include "tools/commands.h"

namespace qorn::tool {

bool Arguments::has(const char* name) const {
    for (const auto& o : options)
        if (o.first == name) return true;
    return false;
}

std::string Arguments::value(const char* name, const char* fallback) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it)
        if (it->first == name) return it->second;
    return fallback;
}

std::string utf8(const char16_t* text) {
    char small[1];
    std::size_t n = platform::toUtf8(text, small, 0);
    std::string out(n + 1, '\0');
    platform::toUtf8(text, &out[0], out.size());
    out.resize(n);
    return out;
}

std::string utf8(const WideString& text) {
    return utf8(text.c_str());
}

WideString wide(const std::string& text) {
    return platform::fromUtf8(text.c_str());
}

void TerminalReporter::messageBox(BoxOwner, const char16_t* text, const char16_t* caption,
                                  uint32_t) {
    std::string t = utf8(text);
    while (!t.empty() && t.back() == '\n') t.pop_back();
    if (caption)
        std::fprintf(stderr, "qornsfx: %s: %s\n", utf8(caption).c_str(), t.c_str());
    else
        std::fprintf(stderr, "qornsfx: %s\n", t.c_str());
}

BinaryFile* openArchive(const Arguments& args, SfxSettings& settings, bool& hasSettings) {
    hasSettings = false;
    const std::string& path = args.positional.at(0);
    BinaryFile* file = BinaryFile::openForReading(wide(path).c_str());
    if (!file) {
        std::fprintf(stderr, "qornsfx: cannot open %s: %s\n", path.c_str(),
                     utf8(platform::systemErrorText(platform::lastError())).c_str());
        return nullptr;
    }
    if (args.has("archive")) return file;
    if (file->size() <= PayloadOffset || !file->moveTo(PayloadOffset)) {
        std::fprintf(
            stderr,
            "qornsfx: %s has no payload at offset %lld (use --archive for a plain archive)\n",
            path.c_str(), static_cast<long long>(PayloadOffset));
        delete file;
        return nullptr;
    }
    if (!readSettings(*file, settings)) {
        std::fprintf(stderr, "qornsfx: %s: the settings block is cut short\n", path.c_str());
        delete file;
        return nullptr;
    }
    hasSettings = settings.present;
    return file;
}

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
    static const char* const names[] = {
        "codepage",  "d",          "o",       "title",   "destination",
        "main-file", "start-menu", "desktop", "send-to", "open",
        "link-name", "method",     "level",   "stub",    "program-files-folder"};
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

}  // namespace

}  // namespace qorn::tool

int main(int argc, char** argv) {
    using namespace qorn::tool;
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
    if (args.has("codepage") && !qorn::platform::setAnsiCodePage(args.value("codepage").c_str())) {
        std::fprintf(stderr, "qornsfx: unknown code page %s\n", args.value("codepage").c_str());
        return kExitUsage;
    }
    if (args.has("program-files-folder"))
        qorn::platform::setProgramFilesFolder(wide(args.value("program-files-folder")).c_str());
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
