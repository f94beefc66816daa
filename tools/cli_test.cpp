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
    std::unique_ptr<DecoderContext> decoder(new DecoderContext());
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
    // One line per member, or with --json one object per member.
    const bool json = args.has("json");
    if (json)
        std::printf("{\"file\": %s,\n \"members\": [", jsonString(args.positional[0]).c_str());
    auto report = [&](const char* result) {
        if (json)
            std::printf("%s\n  {\"result\": \"%s\", \"method\": %s, \"path\": %s}",
                        ok + damaged + skipped ? "," : "", result,
                        jsonString(std::string(entry.method, 5)).c_str(),
                        jsonString(utf8(entry.path)).c_str());
        else
            std::printf("%-8s %.5s %s\n", result, entry.method, shown(entry.path).c_str());
    };
    while ((r = readEntryHeader(*file, entry, reporter)) == HeaderResult::Member) {
        const int64_t dataStart = file->position();
        const Method method = methodOf(entry.method);
        if (method == Method::Unknown) {
            report("SKIPPED");
            ++skipped;
        } else if (method != Method::Lhd) {
            MemberResult result;
            if (!ahead || !ahead->result(dataStart, result))
                result = decodeMember(*decoder, reporter, *file, sink, entry.originalSize,
                                      entry.packedSize, method);
            if (result.outOfMemory) failAllocation();
            const bool bad = (result.damaged && !(result.overrunOnly && entry.hasCrc)) ||
                             (entry.hasCrc && result.crc != entry.crc);
            report(bad ? "DAMAGED" : "OK");
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
    if (json)
        std::printf(
            "],\n \"ok\": %u, \"damaged\": %u, \"skipped\": %u, \"archive_damaged\": "
            "%s}\n",
            ok, damaged, skipped, r == HeaderResult::Bad ? "true" : "false");
    else
        std::printf("%u OK, %u damaged, %u skipped%s\n", ok, damaged, skipped,
                    r == HeaderResult::Bad ? ", archive damaged" : "");
    return damaged || r == HeaderResult::Bad ? 1 : 0;
}

}  // namespace qorn::tool
