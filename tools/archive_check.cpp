// qornsfx make's check: the archive walked and decoded the way the stub will
// do it, before anything is written. Whatever would stop the stub halfway
// (or pass a member over) is found here, where its author can still mend it.
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "extract/entry_paths.h"
#include "payload/archive_entry.h"
#include "platform/platform.h"
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

// The first character of a cleaned path that Windows refuses in a name
// (creating the file then fails), or 0.
char16_t forbiddenCharacter(const WideString& path) {
    for (const char16_t* p = path.c_str(); *p; ++p)
        if (*p < 0x20 || *p == u'<' || *p == u'>' || *p == u'"' || *p == u'|' || *p == u'?' ||
            *p == u'*')
            return *p;
    return 0;
}

// Records a member's cleaned path and the folders above it, folded as
// Windows compares names (ASCII case here), in made (true: a folder). True
// when one name is both a file and a folder: the stub then fails on the
// member (a file where its folder must go) or deletes the earlier file.
bool collides(std::map<std::u16string, bool>& made, const WideString& cleaned, bool folder) {
    std::u16string path;
    for (const char16_t* p = cleaned.c_str();; ++p) {
        if (*p == u'/' || *p == 0) {
            const bool isFolder = *p == u'/' || folder;
            const auto [at, fresh] = made.emplace(path, isFolder);
            if (!fresh && at->second != isFolder) return true;
            if (*p == 0) return false;
        }
        path += (*p >= u'a' && *p <= u'z') ? static_cast<char16_t>(*p - u'a' + u'A') : *p;
    }
}

std::string hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

}  // namespace

bool checkArchive(const std::vector<uint8_t>& archive, std::vector<ArchiveProblem>& problems,
                  std::vector<ArchiveProblem>& notes) {
    // The bytes go through a file, as the stub reads them.
    FILE* temp = std::tmpfile();
    if (!temp || std::fwrite(archive.data(), 1, archive.size(), temp) != archive.size() ||
        std::fflush(temp) != 0) {
        if (temp) std::fclose(temp);
        return false;
    }
    BinaryFile file(static_cast<platform::FileHandle>(dup(fileno(temp))));
    std::fclose(temp);
    if (!file.isOpen() || !file.moveTo(0)) return false;

    QuietReporter reporter;
    makeCrcTable();
    resetProgress(nullptr, 0);
    ArchiveEntry entry;
    std::map<std::u16string, bool> made;
    unsigned index = 0;
    std::string previous;
    for (;; ++index) {
        const HeaderResult header = readEntryHeader(file, entry, reporter);
        if (header == HeaderResult::End) break;
        if (header == HeaderResult::Bad) {
            problems.push_back(
                {"member " + std::to_string(index + 1) +
                     (previous.empty() ? "" : " (after \"" + previous + "\")"),
                 "its header cannot be read (damaged, cut short, or a layout the stub does "
                 "not know); nothing from here on would be extracted"});
            break;
        }
        const int64_t dataStart = file.position();
        previous = utf8(entry.path);
        const std::string member = "member " + std::to_string(index + 1) + " \"" + previous + "\"";
        WideString cleaned(entry.path);
        sanitizeEntryPath(cleaned);
        const int method = methodIndex(entry.method);

        if (method < 0) {
            problems.push_back({member, "method " + std::string(entry.method, 5) +
                                            " is not one the stub decodes; it would be "
                                            "passed over"});
        } else if (method == kMethodLhd && isSymbolicLink(entry.path)) {
            notes.push_back({member, "a symbolic link; the stub passes links over"});
        } else if (method != kMethodLhd && cleaned.isEmpty()) {
            problems.push_back({member, "nothing is left of its path once it is made safe"});
        } else if (const char16_t c = forbiddenCharacter(cleaned)) {
            char text[8];
            std::snprintf(text, sizeof text, c < 0x20 ? "U+%04X" : "'%c'", c);
            problems.push_back({member, std::string("its path holds ") + text +
                                            ", which Windows does not allow in a name"});
        } else if (!cleaned.isEmpty() && collides(made, cleaned, method == kMethodLhd)) {
            problems.push_back({member,
                                "a file and a folder of one name (letter case aside); "
                                "one of them cannot be extracted"});
        } else if (method != kMethodLhd) {
            if (dataStart + static_cast<int64_t>(entry.packedSize) > file.size()) {
                problems.push_back({member, "truncated: its data run past the end of the archive"});
            } else {
                BinaryFile sink(platform::createForWriting(u"/dev/null"));
                const MemberResult result = decodeMember(reporter, file, sink, entry.originalSize,
                                                         entry.packedSize, method);
                // The stub's own verdict (an overrun alone is the CRC's to judge).
                const bool crcBad = entry.hasCrc && result.crc != entry.crc;
                if (result.damaged && !(result.overrunOnly && entry.hasCrc) && !crcBad)
                    problems.push_back({member, "its data cannot be decoded"});
                else if (crcBad)
                    problems.push_back({member, "CRC mismatch (the header says " + hex4(entry.crc) +
                                                    ", the data give " + hex4(result.crc) + ")"});
            }
        }
        if (!file.moveTo(dataStart + static_cast<int64_t>(entry.packedSize))) break;
    }
    return true;
}

}  // namespace qorn::tool
