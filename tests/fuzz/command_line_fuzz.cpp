// parseCommandLine over arbitrary command lines: whatever a launcher hands
// the self-extracting file, the switches read from it hang together.
#include <string>
#include <vector>

#include "base/command_line.h"
#include "tests/fuzz/fuzz_support.h"

using namespace qorn;

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool same(const CommandLine& a, const CommandLine& b) {
    return a.given == b.given && a.silent == b.silent && a.help == b.help &&
           a.unknown == b.unknown && a.destinationEmpty == b.destinationEmpty &&
           a.destination == b.destination.c_str();
}

// Where the arguments start: past a quoted program name's closing quote, or
// an unquoted one's first blank (the system's rule for the first word).
size_t argumentsStart(const std::u16string& line) {
    size_t at = 0;
    if (!line.empty() && line[0] == u'"') {
        at = line.find(u'"', 1);
        return at == std::u16string::npos ? line.size() : at + 1;
    }
    while (at < line.size() && !isBlank(line[at])) ++at;
    return at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Odd first byte: one byte per character, so that quotes, backslashes,
    // blanks and slashes are one mutation away; even: UTF-16LE pairs. The
    // system's line ends at its first 0.
    std::u16string line;
    if (data[0] & 1) {
        for (size_t i = 1; i < size && data[i]; ++i) line += static_cast<char16_t>(data[i]);
    } else {
        for (size_t i = 1; i + 1 < size; i += 2) {
            const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
            if (c == 0) break;
            line += c;
        }
    }
    const CommandLine c = parseCommandLine(line.c_str());
    if (line.empty()) {
        QORN_FUZZ_CHECK(!c.given);
        return 0;
    }
    QORN_FUZZ_CHECK(same(c, parseCommandLine(line.c_str())));

    // Nothing but blanks after the program name is no argument at all; any
    // argument is a switch or is passed over. A switch is what `given` says.
    const size_t start = argumentsStart(line);
    bool anything = false;
    for (size_t i = start; i < line.size(); ++i) anything = anything || !isBlank(line[i]);
    QORN_FUZZ_CHECK(anything == (c.given || c.unknown));
    QORN_FUZZ_CHECK(c.given ==
                    (c.silent || c.help || c.destinationEmpty || !c.destination.isEmpty()));
    QORN_FUZZ_CHECK(!(c.destinationEmpty && !c.destination.isEmpty()));

    // A destination holds no quote and no blank at either end, and every one
    // of its characters comes from the line, in order.
    const char16_t* d = c.destination.c_str();
    const size_t length = c.destination.length();
    if (length > 0) {
        QORN_FUZZ_CHECK(!isBlank(d[0]) && !isBlank(d[length - 1]));
        size_t from = start;
        for (size_t k = 0; k < length; ++k) {
            QORN_FUZZ_CHECK(d[k] != u'"');
            from = line.find(d[k], from);
            QORN_FUZZ_CHECK(from != std::u16string::npos);
            ++from;
        }
    }

    // What was read, written out plainly, reads back the same.
    std::u16string plain = u"setup.exe";
    if (c.silent) plain += u" /S";
    if (c.help) plain += u" /?";
    if (length > 0) plain += u" /D=" + std::u16string(d, length);
    const CommandLine back = parseCommandLine(plain.c_str());
    QORN_FUZZ_CHECK(back.silent == c.silent && back.help == c.help && !back.unknown &&
                    back.destination == c.destination.c_str());

    // A /S put first among the arguments adds silence and changes nothing
    // else (unless a program name's quote is never closed: it then takes it).
    if (line[0] == u'"' && line.find(u'"', 1) == std::u16string::npos) return 0;
    const std::u16string louder = line.substr(0, start) + u" /S " + line.substr(start);
    CommandLine expected = c;
    expected.given = expected.silent = true;
    QORN_FUZZ_CHECK(same(parseCommandLine(louder.c_str()), expected));
    return 0;
}
