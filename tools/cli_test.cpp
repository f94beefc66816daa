// qornsfx test: decode every member, keep nothing, check each CRC-16.
#include "decode/bit_reader.h"
#include "decode/decode_session.h"
#include "payload/archive_entry.h"
#include "platform/platform.h"
#include "tools/commands.h"

namespace qorn::tool {

int runTest(const Arguments& args) {
    SfxSettings settings;
    bool hasSettings;
    BinaryFile* file = openArchive(args, settings, hasSettings);
    if (!file) return 1;
    TerminalReporter reporter;
    makeCrcTable();
    resetProgress(nullptr, 0);
    // One sink for every member.
#ifdef _WIN32
    BinaryFile sink(platform::createForWriting(u"NUL"));
#else
    BinaryFile sink(platform::createForWriting(u"/dev/null"));
#endif
    ArchiveEntry entry;
    unsigned ok = 0, damaged = 0, skipped = 0;
    HeaderResult r;
    while ((r = readEntryHeader(*file, entry, reporter)) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        const int method = methodIndex(entry.method);
        const std::string path = shown(entry.path);
        if (method < 0) {
            std::printf("%-8s %.5s %s\n", "SKIPPED", entry.method, path.c_str());
            ++skipped;
        } else if (method != kMethodLhd) {
            MemberResult result =
                decodeMember(reporter, *file, sink, entry.originalSize, entry.packedSize, method);
            if (result.outOfMemory) failAllocation();
            const bool bad = (result.damaged && !(result.overrunOnly && entry.hasCrc)) ||
                             (entry.hasCrc && result.crc != entry.crc);
            std::printf("%-8s %.5s %s\n", bad ? "DAMAGED" : "OK", entry.method, path.c_str());
            ++(bad ? damaged : ok);
        }
        // A packed size that runs past the end of the file hides every later
        // member: the archive is damaged whatever kind this member is.
        if (!file->holds(dataStart, entry.packedSize) ||
            !file->moveTo(dataStart + static_cast<int64_t>(entry.packedSize))) {
            r = HeaderResult::Bad;
            break;
        }
    }
    delete file;
    std::printf("%u OK, %u damaged, %u skipped%s\n", ok, damaged, skipped,
                r == HeaderResult::Bad ? ", archive damaged" : "");
    return damaged || r == HeaderResult::Bad ? 1 : 0;
}

}  // namespace qorn::tool
