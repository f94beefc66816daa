// qornsfx make --config FILE: the settings of make in a TOML file a release
// keeps under review. Its keys are the long options' names; each value goes
// through the same checks as on the command line, and an option given there
// overrides the file's key.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/host_files.h"
#include "tools/command_line.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

// Keys whose values name files on this machine: relative to the file's folder.
bool isHostPath(const std::string& key) {
    return key == "output" || key == "stub" || key == "icon" || key == "sources";
}

bool isAbsolute(const std::string& path) {
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return true;
    return !path.empty() && (path[0] == '\\' || path[0] == '/');
#else
    return !path.empty() && path[0] == '/';
#endif
}

std::string folderOf(const std::string& file) {
    size_t slash = file.find_last_of('/');
#ifdef _WIN32
    const size_t back = file.find_last_of('\\');
    if (back != std::string::npos && (slash == std::string::npos || back > slash)) slash = back;
#endif
    return slash == std::string::npos ? "" : file.substr(0, slash + 1);
}

bool readText(const std::string& path, std::string& text) {
    FILE* f = encode::host::openFile(path, "rb");
    if (!f) return false;
    char chunk[1 << 14];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

int applyMakeConfig(Arguments& args) {
    const std::string path = args.value("config");
    std::string text;
    if (!readText(path, text)) {
        std::fprintf(stderr, "qornsfx: cannot read the config file %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    toml::parse_result parsed = toml::parse(text, path);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        std::fprintf(stderr, "qornsfx: %s:%u:%u: %.*s\n", path.c_str(),
                     static_cast<unsigned>(e.source().begin.line),
                     static_cast<unsigned>(e.source().begin.column),
                     static_cast<int>(e.description().size()), e.description().data());
        return kExitUsage;
    }
    std::vector<std::string> valued, flags;
    optionNames("make", valued, flags);
    valued.erase(std::remove(valued.begin(), valued.end(), "config"), valued.end());
    std::vector<std::string> keys = valued;
    keys.insert(keys.end(), flags.begin(), flags.end());
    keys.push_back("sources");

    const std::string base = folderOf(path);
    auto place = [&](const std::string& key, const std::string& value) {
        return isHostPath(key) && !isAbsolute(value) ? base + value : value;
    };
    std::vector<std::string> words, sources;
    for (auto&& [key, node] : parsed.table()) {
        const std::string name(key.str());
        const std::string where = path + ":" + std::to_string(key.source().begin.line) + ": ";
        const bool isFlag = std::find(flags.begin(), flags.end(), name) != flags.end();
        const bool isValued = std::find(valued.begin(), valued.end(), name) != valued.end();
        if (!isFlag && !isValued && name != "sources") {
            const std::string near = nearestWord(name, keys);
            std::fprintf(stderr, "qornsfx: %sunknown key \"%s\"%s\n", where.c_str(), name.c_str(),
                         near.empty() ? "" : (" (did you mean " + near + "?)").c_str());
            return kExitUsage;
        }
        if (isFlag) {
            if (!node.is_boolean()) {
                std::fprintf(stderr, "qornsfx: %s%s takes true or false\n", where.c_str(),
                             name.c_str());
                return kExitUsage;
            }
            if (*node.value<bool>()) words.push_back("--" + name);
            continue;
        }
        if (name == "sources") {
            const toml::array* list = node.as_array();
            bool ok = list != nullptr || node.is_string();
            if (list)
                for (const toml::node& item : *list) {
                    if (!item.is_string())
                        ok = false;
                    else
                        sources.push_back(place(name, *item.value<std::string>()));
                }
            else if (ok)
                sources.push_back(place(name, *node.value<std::string>()));
            if (!ok) {
                std::fprintf(stderr, "qornsfx: %ssources takes a list of paths\n", where.c_str());
                return kExitUsage;
            }
            continue;
        }
        std::string value;
        if (node.is_string())
            value = place(name, *node.value<std::string>());
        else if (node.is_integer())
            value = std::to_string(*node.value<int64_t>());
        else {
            std::fprintf(
                stderr, "qornsfx: %s%s takes a text%s\n", where.c_str(), name.c_str(),
                name == "level" || name == "start-menu" || name == "desktop" || name == "send-to"
                    ? " or a number"
                    : "");
            return kExitUsage;
        }
        words.push_back("--" + name);
        words.push_back(value);
    }
    Arguments fromFile;
    if (const int status = parseOptionList("make", words, path + ": ", fromFile)) return status;
    // The command line's options come last, and the last of a name counts.
    fromFile.options.insert(fromFile.options.end(), args.options.begin(), args.options.end());
    args.options = fromFile.options;
    if (args.positional.empty()) args.positional = sources;
    return 0;
}

}  // namespace qorn::tool
