// qornsfx make's check: the archive walked and decoded the way the stub will
// do it, before anything is written. Whatever would stop the stub halfway
// (or pass a member over) is found here, where its author can still mend it.
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/crc16.h"
#include "decode/decode_session.h"
#include "decode/decoder_context.h"
#include "extract/entry_paths.h"
#include "payload/archive_entry.h"
#include "platform/host_files.h"
#include "platform/platform.h"
#include "tools/case_fold.h"
#include "tools/commands.h"

namespace qorn::tool {

namespace {

// Boxes raised while checking are kept, not shown: the check words its own
// reasons.
class QuietReporter : public RunReporter {
  public:
    void messageBox(BoxOwner, const char16_t*, const char16_t*, uint32_t) override {}
};

bool isSymbolicLink(const WideString& path) {
    for (const char16_t* p = path.c_str(); *p; ++p)
        if (*p == u'|') return true;
    return false;
}

// Records a member's cleaned path and the folders above it in made (true:
// a folder), folded as Windows compares names: each unit through its
// upper-case table, "." parts resolved away as the system resolves them. True
// when one name is both a file and a folder: the stub then fails on the
// member (a file where its folder must go) or deletes the earlier file.
bool collides(std::map<std::u16string, bool>& made, const WideString& cleaned, bool folder) {
    std::u16string path;
    const char16_t* part = cleaned.c_str();
    for (const char16_t* p = part;; ++p) {
        if (*p != u'/' && *p != 0) continue;
        const bool dot = p - part == 1 && *part == u'.';
        if (!dot) {
            if (!path.empty()) path += u'/';
            for (const char16_t* c = part; c < p; ++c) path += upperCaseUnit(*c);
        }
        const bool isFolder = *p == u'/' || folder;
        if (!path.empty()) {
            const auto [at, fresh] = made.emplace(path, isFolder);
            if (!fresh && at->second != isFolder) return true;
        }
        if (*p == 0) return false;
        part = p + 1;
    }
}

// Windows makes no name longer than this many UTF-16 units.
constexpr size_t kLongestName = 255;

// Why the stub could not make the cleaned path, or "" when it can: a file
// named by a last part "." (the folder it would lie in), or a part longer
// than any name Windows makes.
std::string unmakeablePath(const WideString& cleaned, bool folder) {
    const char16_t* part = cleaned.c_str();
    for (const char16_t* p = part;; ++p) {
        if (*p != u'/' && *p != 0) continue;
        const size_t length = static_cast<size_t>(p - part);
        if (length > kLongestName) {
            // Its start names it; a surrogate pair is not cut in two.
            const size_t units = part[39] >= 0xD800 && part[39] < 0xDC00 ? 39 : 40;
            return "a part of its path (\"" + shown(WideString(part, units)) + "...\") is " +
                   std::to_string(length) + " UTF-16 units long; Windows takes at most " +
                   std::to_string(kLongestName);
        }
        if (*p == 0) {
            if (!folder && length == 1 && *part == u'.')
                return "a file whose name is \".\", the folder it would lie in; it cannot be "
                       "made";
            return "";
        }
        part = p + 1;
    }
}

std::string hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

}  // namespace

namespace {

// Does something at `at` read as a member header: a method the stub knows
// and a header level it reads? (At a 0 byte too: a level-2 header whose
// length is a multiple of 256 starts with one.)
bool looksLikeHeader(const std::vector<uint8_t>& archive, size_t at) {
    if (archive.size() < 21 || at > archive.size() - 21) return false;
    char method[5];
    for (int k = 0; k < 5; ++k) method[k] = static_cast<char>(archive[at + 2 + k]);
    return methodOf(method) != Method::Unknown && archive[at + 20] <= 3;
}

// The stub stops at the first 0 where a header would start (its end mark)
// or at the end of the file. Whatever lies behind that 0 is never read: a
// warning, and an error when it holds further members.
void checkTail(const std::vector<uint8_t>& archive, int64_t end, ArchiveReport& report) {
    if (end <= 0 || static_cast<uint64_t>(end) >= archive.size()) return;
    const size_t mark = static_cast<size_t>(end) - 1;
    const size_t after = archive.size() - static_cast<size_t>(end);
    const std::string where = "the end mark at offset " + std::to_string(mark);
    for (size_t at = mark; at + 21 <= archive.size(); ++at) {
        if (!looksLikeHeader(archive, at)) continue;
        report.problems.push_back(
            {where,
             "the stub stops reading there (a 0 where a header would start), but a "
             "member header follows at offset " +
                 std::to_string(at) + "; " + std::to_string(after) +
                 " bytes after the mark would never be extracted"});
        return;
    }
    report.warnings.push_back(
        {where, std::to_string(after) + " byte" + (after == 1 ? "" : "s") +
                    " after it would never be extracted (the stub stops reading there)"});
}

void walkArchive(BinaryFile& file, const std::vector<uint8_t>& archive, ArchiveReport& report) {
    std::vector<ArchiveProblem>& problems = report.problems;
    QuietReporter reporter;
    makeCrcTable();
    std::unique_ptr<DecoderContext> decoder(new DecoderContext());
    ArchiveEntry entry;
    std::map<std::u16string, bool>& made = report.names;
    unsigned index = 0;
    std::string previous;
    for (;; ++index) {
        const HeaderResult header = readEntryHeader(file, entry, reporter);
        if (header == HeaderResult::End) {
            checkTail(archive, file.position(), report);
            break;
        }
        if (header == HeaderResult::Bad) {
            problems.push_back(
                {"member " + std::to_string(index + 1) +
                     (previous.empty() ? "" : " (after \"" + previous + "\")"),
                 "its header cannot be read (damaged, cut short, or a layout the stub does "
                 "not know); nothing from here on would be extracted"});
            break;
        }
        const int64_t dataStart = file.position();
        ++report.members;
        report.originalBytes += entry.originalSize;
        previous = shown(entry.path);
        const std::string member = "member " + std::to_string(index + 1) + " \"" + previous + "\"";
        WideString cleaned(entry.path);
        sanitizeEntryPath(cleaned);
        const Method method = methodOf(entry.method);
        const bool folder = method == Method::Lhd;
        // The stub checks every member's packed size against the file, those
        // it passes over and folders included: one that runs past the end
        // would carry the walk past every later header.
        const bool cut = !file.holds(dataStart, entry.packedSize);
        std::string unmakeable;

        if (method == Method::Unknown) {
            problems.push_back({member, "method " + std::string(entry.method, 5) +
                                            " is not one the stub decodes; it would be "
                                            "passed over"});
        } else if (cut) {
            problems.push_back({member, "truncated: its packed size (" +
                                            std::to_string(entry.packedSize) +
                                            " bytes) runs past the end of the archive"});
        } else if (folder && isSymbolicLink(entry.path)) {
            report.notes.push_back({member, "a symbolic link; the stub passes links over"});
        } else if (!folder && cleaned.isEmpty()) {
            problems.push_back({member, "nothing is left of its path once it is made safe"});
        } else if (!(unmakeable = unmakeablePath(cleaned, folder)).empty()) {
            problems.push_back({member, unmakeable});
        } else if (!cleaned.isEmpty() && collides(made, cleaned, folder)) {
            problems.push_back({member,
                                "a file and a folder of one name (letter case aside); "
                                "one of them cannot be extracted"});
        } else if (!folder) {
            report.files.emplace_back(cleaned.c_str(), cleaned.length());
#ifdef _WIN32
            BinaryFile sink(platform::createForWriting(u"NUL"));
#else
            BinaryFile sink(platform::createForWriting(u"/dev/null"));
#endif
            const MemberResult result = decodeMember(*decoder, reporter, file, sink,
                                                     entry.originalSize, entry.packedSize, method);
            // The stub's own verdict (an overrun alone is the CRC's to judge).
            const bool crcBad = entry.hasCrc && result.crc != entry.crc;
            if (result.damaged && !(result.overrunOnly && entry.hasCrc) && !crcBad)
                problems.push_back({member, "its data cannot be decoded"});
            else if (crcBad)
                problems.push_back({member, "CRC mismatch (the header says " + hex4(entry.crc) +
                                                ", the data give " + hex4(result.crc) + ")"});
        }
        if (cut || !file.moveTo(dataStart + static_cast<int64_t>(entry.packedSize))) break;
    }
}

}  // namespace

bool checkArchive(const std::vector<uint8_t>& archive, FILE* f, const std::string& scratch,
                  ArchiveReport& report) {
    // The bytes go through a file, as the stub reads them.
    bool written = std::fwrite(archive.data(), 1, archive.size(), f) == archive.size();
    if (std::fclose(f) != 0) written = false;
    if (!written) {
        encode::host::removeFile(scratch);
        return false;
    }
    BinaryFile* file = BinaryFile::openForReading(wide(scratch).c_str());
    if (!file) {
        encode::host::removeFile(scratch);
        return false;
    }
    walkArchive(*file, archive, report);
    delete file;
    encode::host::removeFile(scratch);
    return true;
}

}  // namespace qorn::tool
