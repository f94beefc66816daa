#include "base/command_line.h"

namespace qorn {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// Past the program name: a quoted one ends at the next quote, whatever it
// holds, an unquoted one at the first blank.
const char16_t* skipProgramName(const char16_t* p) {
    if (*p == u'"') {
        ++p;
        while (*p && *p != u'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && !isBlank(*p)) ++p;
    }
    return p;
}

// The path after /D=: to the end of the line, as NSIS takes it, so that a
// path with blanks needs no quotes. Quotes around all or part of it (which
// a launcher adds to an argument with blanks) are dropped: no path holds
// one. Blanks go from both ends once the quotes are gone, so that a quoted
// "C:\x y " does not leave a folder named with a trailing blank.
WideString destinationFrom(const char16_t* start) {
    const char16_t* end = start + textLength(start);
    while (start < end && (isBlank(*start) || *start == u'"')) ++start;
    while (end > start && (isBlank(end[-1]) || end[-1] == u'"')) --end;
    WideString path(u"");
    for (; start < end; ++start)
        if (*start != u'"') path.appendChar(*start);
    return path;
}

}  // namespace

CommandLine parseCommandLine(const char16_t* line) {
    CommandLine result;
    if (!line) return result;
    const char16_t* p = skipProgramName(line);
    for (;;) {
        while (isBlank(*p)) ++p;
        if (!*p) break;
        const char16_t* q = *p == u'"' ? p + 1 : p;
        if (q[0] == u'/' && (q[1] | 0x20) == u'd' && q[2] == u'=') {
            result.given = true;
            result.destination = destinationFrom(q + 3);
            result.destinationEmpty = result.destination.isEmpty();
            break;
        }
        // One argument: 2n backslashes before a quote stand for n and the
        // quote opens or closes a quoted part, 2n + 1 for n and a literal
        // quote; a doubled quote inside a quoted part is a literal one.
        // Only the first two characters matter to the switches.
        char16_t head[2] = {};
        size_t length = 0;
        bool quoted = false;
        for (;;) {
            size_t slashes = 0;
            while (*p == u'\\') ++slashes, ++p;
            char16_t c = 0;
            if (*p == u'"') {
                length += slashes / 2;
                if (slashes % 2 == 0 && !(quoted && p[1] == u'"')) {
                    quoted = !quoted;
                    ++p;
                    continue;
                }
                if (slashes % 2 == 0) ++p;  // the first of a doubled quote
                c = u'"';
            } else {
                length += slashes;
                if (!*p || (!quoted && isBlank(*p))) break;
                c = *p;
            }
            ++p;
            if (length < 2 && slashes == 0) head[length] = c;
            ++length;
        }
        if (length == 2 && head[0] == u'/' && (head[1] | 0x20) == u's')
            result.given = result.silent = true;
        else if (length == 2 && head[0] == u'/' && head[1] == u'?')
            result.given = result.help = true;
        else
            result.unknown = true;
    }
    return result;
}

}  // namespace qorn
