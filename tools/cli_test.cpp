// qornsfx test: decode every member, keep nothing, check each CRC-16.
#include <memory>

#include "base/crc16.h"
#include "decode/decoder_context.h"
#include "extract/parallel_decode.h"
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
    std::unique_ptr<DecoderContext> decoder(new DecoderContext);
    // Members decoded on every core, shown in archive order.
    std::unique_ptr<ParallelDecoder> ahead;
    if (decodeThreads() > 1)
        ahead.reset(
            new ParallelDecoder(wide(args.positional.at(0)).c_str(), file->position(), false));
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
        const Method method = methodOf(entry.method);
        const std::string path = shown(entry.path);
        if (method == Method::Unknown) {
            std::printf("%-8s %.5s %s\n", "SKIPPED", entry.method, path.c_str());
            ++skipped;
        } else if (method != Method::Lhd) {
            MemberResult result;
            if (!ahead || !ahead->result(dataStart, result))
                result = decodeMember(*decoder, reporter, *file, sink, entry.originalSize,
                                      entry.packedSize, method);
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
