// What every command of the qornsfx tool shares: the parsed arguments, text
// conversions, the terminal reporter and opening an archive.
#include "tools/common.h"

#include "platform/platform.h"

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

std::string systemPathText(const WideString& path) {
    std::string p = utf8(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
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

}  // namespace qorn::tool
