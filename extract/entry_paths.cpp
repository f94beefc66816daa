#include "extract/entry_paths.h"

#include "platform/platform.h"

namespace qorn {

namespace {

// Folder separators as members store them: '/' from extended headers, '\'
// from MS-DOS names, 0xFFFF from level-2 folder headers that were not yet
// rewritten.
bool isSeparator(char16_t ch) {
    return ch == u'/' || ch == u'\\' || ch == 0xFFFF;
}

bool isLetter(char16_t ch) {
    return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z');
}

char16_t upper(char16_t ch) {
    return (ch >= u'a' && ch <= u'z') ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

bool equalsUpper(const char16_t* text, size_t count, const char* name) {
    for (size_t i = 0; i < count; ++i, ++name)
        if (*name == 0 || upper(text[i]) != static_cast<char16_t>(*name)) return false;
    return *name == 0;
}

// Names that open a device instead of a file on Windows, whatever extension
// follows them: "NUL.txt" is the null device too.
bool isDeviceName(const char16_t* text, size_t count) {
    size_t base = 0;
    while (base < count && text[base] != u'.') ++base;
    while (base > 0 && text[base - 1] == u' ') --base;
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kNames)
        if (equalsUpper(text, base, name)) return true;
    // COM1-COM9 and LPT1-LPT9; Windows counts the superscript digits 1-3 too.
    const bool digit = base == 4 && ((text[3] >= u'1' && text[3] <= u'9') || text[3] == 0xB9 ||
                                     text[3] == 0xB2 || text[3] == 0xB3);
    return digit && (equalsUpper(text, 3, "COM") || equalsUpper(text, 3, "LPT"));
}

bool onlyDotsAndSpaces(const char16_t* text, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (text[i] != u'.' && text[i] != u' ') return false;
    return true;
}

// Characters no Windows file name may hold; ':' would name a stream.
bool isInvalidInName(char16_t ch) {
    return ch < 0x20 || ch == u':' || ch == u'<' || ch == u'>' || ch == u'"' || ch == u'|' ||
           ch == u'?' || ch == u'*';
}

}  // namespace

// The path is cleaned component by component, so that no spelling of "..",
// of a root, a drive or a device can survive: '/', '\' and 0xFFFF all
// separate components, empty components and "parent" components go, a
// leading drive or "\\?\" / "\\.\" prefix goes, ':', '<', '>', '"', '|',
// '?', '*' and control characters become '_', so that every part is a name
// Windows can create as it stands.
//
// A parent component (and a leading separator) also drops the dots that
// directly follow it, so "a/../.cfg" gives "a/cfg" and "/.profile" gives
// "profile": hostile names do not get to plant hidden files either.
void sanitizeEntryPath(WideString& path) {
    const char16_t* in = path.c_str();
    const size_t length = path.length();
    PathBuffer out;
    out.reserve(length + 8);

    size_t i = 0;
    // Device namespaces: \\?\ and \\.\ (any separators).
    if (length >= 4 && isSeparator(in[0]) && isSeparator(in[1]) &&
        (in[2] == u'?' || in[2] == u'.') && isSeparator(in[3]))
        i = 4;
    // A drive: "C:" with or without a separator after it.
    if (i + 1 < length && isLetter(in[i]) && in[i + 1] == u':') i += 2;

    bool strip = false;
    if (i < length && isSeparator(in[i])) strip = true;

    while (i < length) {
        size_t start = i;
        while (i < length && !isSeparator(in[i])) ++i;
        const char16_t* part = in + start;
        size_t count = i - start;
        if (i < length) ++i;  // the separator
        if (count == 0) continue;

        if (onlyDotsAndSpaces(part, count)) {
            // "." is harmless and kept. Anything else of dots and spaces
            // ("..", "...", ".. ", ". ") is no name Windows can make, and may
            // read as the parent folder once it is trimmed.
            const bool keep = !strip && count == 1 && *part == u'.';
            if (!keep) {
                strip = true;
                continue;
            }
        } else {
            if (strip)
                while (count > 0 && *part == u'.') ++part, --count;
            // Windows drops trailing dots and spaces; doing it here keeps the
            // device-name check and the file system in agreement.
            while (count > 0 && (part[count - 1] == u'.' || part[count - 1] == u' ')) --count;
        }
        strip = false;
        if (!out.empty()) out.push(u'/');
        if (isDeviceName(part, count)) out.push(u'_');
        for (size_t k = 0; k < count; ++k) out.push(isInvalidInName(part[k]) ? u'_' : part[k]);
    }
    path.assign(out.text());
}

namespace {

// The folder above path: nothing for a lone component or a drive root.
bool parentFolder(const char16_t* path, PathBuffer& parent) {
    size_t length = textLength(path);
    if (length > 0 && PathBuffer::isSeparator(path[length - 1])) --length;
    if (length <= 1) return false;
    size_t k = length - 1;
    while (k >= 1 && !PathBuffer::isSeparator(path[k])) --k;
    if (k < 1) return false;
    if (path[k - 1] == u':') return false;
    parent.assignRange(path, path + k);
    return true;
}

// The folder is made or was there. "Already exists" is success only when the
// thing there is a folder: a file of that name must not pass for one.
bool makeFolder(const char16_t* path) {
    if (platform::createFolder(path)) return true;
    if (!platform::lastErrorIsAlreadyExists()) return false;
    const uint32_t error = platform::lastError();
    const bool folder = platform::pathKind(path) == platform::PathKind::Folder;
    platform::setLastError(error);
    return folder;
}

}  // namespace

bool createFolderTree(const char16_t* path) {
    if (makeFolder(path)) return true;
    if (platform::lastErrorIsAlreadyExists()) return false;
    PathBuffer parent;
    if (!parentFolder(path, parent)) return false;
    if (!createFolderTree(parent.text())) return false;
    // Again as above: a path ending in "." names the parent just made.
    return makeFolder(path);
}

BinaryFile* createOutputFile(const char16_t* path) {
    const size_t length = textLength(path);
    size_t last = length;
    for (size_t k = 0; k < length; ++k)
        if (PathBuffer::isSeparator(path[k])) last = k;
    if (last != length && last > 0) {
        PathBuffer folder;
        folder.assignRange(path, path + last);
        // Members mostly go where the one before went: one look at the
        // folder, and only a missing one is made.
        if (platform::pathKind(folder.text()) != platform::PathKind::Folder &&
            !createFolderTree(folder.text()))
            return nullptr;
    }
    return BinaryFile::createForWriting(path);
}

void applyEntryTime(const char16_t* path, const ArchiveEntry& entry) {
    platform::setFileTime(path, entry.modifiedTime);
}

}  // namespace qorn
