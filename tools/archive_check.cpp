// qornsfx make's check: the archive walked and decoded the way the stub will
// do it, before anything is written. Whatever would stop the stub halfway
// (or pass a member over) is found here, where its author can still mend it.
#include <cstdio>
#include <map>
#include <string>

#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "encode/host_files.h"
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

namespace {

void walkArchive(BinaryFile& file, std::vector<ArchiveProblem>& problems,
                 std::vector<ArchiveProblem>& notes) {
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
        } else if (!cleaned.isEmpty() && collides(made, cleaned, method == kMethodLhd)) {
            problems.push_back({member,
                                "a file and a folder of one name (letter case aside); "
                                "one of them cannot be extracted"});
        } else if (method != kMethodLhd) {
            if (dataStart + static_cast<int64_t>(entry.packedSize) > file.size()) {
                problems.push_back({member, "truncated: its data run past the end of the archive"});
            } else {
#ifdef _WIN32
                BinaryFile sink(platform::createForWriting(u"NUL"));
#else
                BinaryFile sink(platform::createForWriting(u"/dev/null"));
#endif
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
}

}  // namespace

bool checkArchive(const std::vector<uint8_t>& archive, const std::string& scratch,
                  std::vector<ArchiveProblem>& problems, std::vector<ArchiveProblem>& notes) {
    // The bytes go through a file, as the stub reads them.
    FILE* f = encode::host::openFile(scratch, "wb");
    bool written = f && std::fwrite(archive.data(), 1, archive.size(), f) == archive.size();
    if (f && std::fclose(f) != 0) written = false;
    if (!written) {
        encode::host::removeFile(scratch);
        return false;
    }
    BinaryFile* file = BinaryFile::openForReading(wide(scratch).c_str());
    if (!file) {
        encode::host::removeFile(scratch);
        return false;
    }
    walkArchive(*file, problems, notes);
    delete file;
    encode::host::removeFile(scratch);
    return true;
}

}  // namespace qorn::tool
