// What every command of the qornsfx tool shares: the parsed arguments, text
// conversions, the terminal reporter and opening an archive.
#include "tools/common.h"

#include <unistd.h>

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
    // Most texts are names and fit: one conversion.
    char small[512];
    std::size_t n = platform::toUtf8(text, small, sizeof small);
    if (n < sizeof small) return std::string(small, n);
    std::string out(n + 1, '\0');
    platform::toUtf8(text, &out[0], out.size());
    out.resize(n);
    return out;
}

std::string utf8(const WideString& text) {
    return utf8(text.c_str());
}

std::string shown(const char16_t* text) {
    static const char kNamed[] = "abtnvfr";  // 0x07 to 0x0D
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : utf8(text)) {
        if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        } else if (c >= 0x07 && c <= 0x0D) {
            out += '\\';
            out += kNamed[c - 0x07];
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    // C1 controls (U+0080 to U+009F, UTF-8 C2 80 to C2 9F) start escape
    // sequences on some terminals too.
    for (size_t at = 0; (at = out.find('\xC2', at)) != std::string::npos;) {
        const unsigned char next = at + 1 < out.size() ? out[at + 1] : 0;
        if (next < 0x80 || next > 0x9F) {
            ++at;
            continue;
        }
        const std::string code = std::string("\\u00") + kHex[next >> 4] + kHex[next & 15];
        out.replace(at, 2, code);
        at += code.size();
    }
    return out;
}

std::string shown(const WideString& text) {
    return shown(text.c_str());
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
    // One line on the terminal: the box's lines joined by ": ", each with its
    // controls escaped, since a line may hold a member's name.
    std::string t;
    for (const char16_t* line = text; *line;) {
        const char16_t* end = line;
        while (*end && *end != u'\n') ++end;
        const char16_t* stop = end;
        if (stop > line && stop[-1] == u'\r') --stop;
        if (stop > line) {
            if (!t.empty()) t += ": ";
            t += shown(WideString(line, static_cast<size_t>(stop - line)));
        }
        line = *end ? end + 1 : end;
    }
    if (caption)
        std::fprintf(stderr, "qornsfx: %s: %s\n", shown(caption).c_str(), t.c_str());
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

std::string jsonString(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

Method methodNamed(const std::string& text) {
    const size_t digit = text[0] == '-' ? 3 : 2;
    return digit < text.size() ? static_cast<Method>(text[digit] - '0') : Method::Lh5;
}

ProgressLine::ProgressLine() : terminal_(isatty(STDERR_FILENO) != 0) {}

void ProgressLine::show(const char* what, uint64_t done, uint64_t total, const std::string& path) {
    if (!terminal_) return;
    const int permille = total ? static_cast<int>(done * 1000 / total) : 1000;
    if (permille == lastPermille_) return;
    lastPermille_ = permille;
    std::fprintf(stderr, "\r\033[K%s %3d.%d%%  %.60s", what, permille / 10, permille % 10,
                 shown(platform::fromUtf8(path.c_str())).c_str());
    shown_ = true;
}

void ProgressLine::status(const std::string& text) {
    if (!terminal_) return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    shown_ = true;
    lastPermille_ = -1;
}

void ProgressLine::clear() {
    if (terminal_ && shown_) std::fprintf(stderr, "\r\033[K");
    shown_ = false;
    lastPermille_ = -1;
}

void printSummary(const std::string& file, unsigned members, uint64_t bytesIn, uint64_t bytesOut,
                  double seconds) {
    const double ratio = bytesIn ? 100.0 * static_cast<double>(bytesOut) / bytesIn : 0.0;
    std::printf("%s: %u member%s, %llu bytes in, %llu bytes out (%.1f%%), %.2f s\n", file.c_str(),
                members, members == 1 ? "" : "s", static_cast<unsigned long long>(bytesIn),
                static_cast<unsigned long long>(bytesOut), ratio, seconds);
}

}  // namespace qorn::tool
